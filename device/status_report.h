// The board's status report and what the window does with it.
//
// Input report layout (65 bytes, as it lies in BufferIn):
//   index 0       report identifier, 0
//   index 1, 2    the two-character status code, one 8-bit character each (Latin-1 here)
//   index 3..64   not used
// "OK" acknowledges a finished command; eight codes announce a tripped limit switch or the
// emergency stop; any other pair is kept in Text9 and otherwise ignored.
#pragma once

#include "device/hid_library.h"

#include <array>
#include <string>
#include <string_view>

namespace device {

inline constexpr std::string_view AckCode = "OK";

struct LimitCode {
    std::string_view code;
    std::string_view message;
};

// Compared in this order; the order matters when a report arrives while a message is open.
inline constexpr std::array<LimitCode, 8> LimitCodes{{
    {"XL", "Xlimit Reached, Terminating Run sequence"},
    {"YL", "Ylimit Reached, Terminating Run sequence"},
    {"ZL", "Zlimit Reached, Terminating Run sequence"},
    {"XY", "Xlimit and Ylimit Reached, Terminating Run sequence"},
    {"XZ", "Xlimit and Zlimit Reached, Terminating Run sequence"},
    {"YZ", "Ylimit and Zlimit Reached, Terminating Run sequence"},
    {"XA", "Xlimit, Ylimit and Zlimit Reached, Terminating Run sequence"},
    {"ES", "Emergency Stop Activated, Terminating Run sequence"},
}};

// The two characters of bytes 1 and 2, one char per byte.
std::string StatusCodeOf(const Report& BufferIn);

// The window fields and procedures a status report touches. The window implements it over its
// controls; tests record the calls.
class StatusFields {
public:
    virtual ~StatusFields() = default;
    // Text9 as it is now: a report handled inside a message may have changed it.
    virtual std::string Text9() = 0;
    virtual void SetText9(const std::string& code) = 0;
    virtual void SetLimitStop() = 0;
    virtual void DisableControls() = 0;
    virtual void EnableControls() = 0;
    // Returns when the operator has closed the message; events keep running meanwhile.
    virtual void ShowMessage(std::string_view text) = 0;
};

// OnRead: takes one report of the board into BufferIn, stores its code in Text9 and, for each
// limit code that Text9 matches when its turn comes, raises LimitStop and shows the message with
// the operation controls locked. A read that yields nothing changes nothing.
void HandleRead(HidLibrary& hid, DeviceHandle handle, Report& BufferIn, StatusFields& fields);

// OnPlugged and OnUnplugged: the identifiers are asked for and nothing depends on the answer.
void HandlePlugged(HidLibrary& hid, DeviceHandle handle);
void HandleUnplugged(HidLibrary& hid, DeviceHandle handle);

// OnChanged: switches on read notification for the board, so a board plugged in after start-up
// (or again after an unplug) reports without a restart.
void HandleChanged(HidLibrary& hid);

} // namespace device
