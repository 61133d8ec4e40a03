// The USB HID access library as the program sees it: the board is found by its vendor and
// product identifiers, reports are 65 bytes with the report identifier 0 at index 0, and the
// library announces plug, unplug, change and readable reports through a notification sink.
//
// Two backends sit behind this interface: hidapi for the real board and the in-process virtual
// board. Nothing above the device layer knows which one it talks to.
//
// Results are mostly not examined by the program: a missing board shows up only as a missing
// acknowledgement. Every call must therefore fail quietly (false, 0) rather than throw.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>

namespace device {

inline constexpr int DeviceVendorId = 6017;  // 0x1781
inline constexpr int DeviceProductId = 2130; // 0x0852

inline constexpr std::size_t ReportSize = 65; // index 0: report identifier, 1..64: data
using Report = std::array<std::uint8_t, ReportSize>;

// Identifies one attachment of a board; 0 means "no board". A board that is unplugged and
// plugged in again gets a new handle.
using DeviceHandle = std::intptr_t;

// What the operator is told about the board: whether one is there, and whether this user may
// open it. A board that is plugged in but closed to the user would otherwise look exactly like
// no board at all until the first move times out.
enum class BoardPresence {
    NotFound,
    Connected,
    NoPermission, // present, but opening it was refused (device file permissions)
    Virtual,      // the in-process board
};

// wParam values of a notification.
enum NotifyCode : int {
    NotifyPlugged = 1,   // lParam: device handle
    NotifyUnplugged = 2, // lParam: device handle
    NotifyChanged = 3,   // lParam unused (0)
    NotifyRead = 4,      // lParam: device handle
};

// Receives every notification. A backend may call it from its own threads, so the sink must
// only hand the notification over (the window's sink posts an event) and never call back into
// the library or touch a widget.
using NotifySink = std::function<void(int wParam, DeviceHandle lParam)>;

class HidLibrary {
public:
    virtual ~HidLibrary() = default;

    // Notifications go to the sink from now on. A board already attached is announced with a
    // changed notification, because read notification is only switched on from that handler.
    virtual bool Connect(NotifySink sink) = 0;
    // Notifications stop; once this returns the sink is no longer called. Writes stop too: a
    // closing program must not keep driving the machine.
    virtual bool Disconnect() = 0;
    // The handle of an attached board with these identifiers, 0 when there is none.
    virtual DeviceHandle GetHandle(int vendorId, int productId) = 0;
    // Input reports of that board are announced (NotifyRead) while `notify` is true.
    virtual void SetReadNotify(DeviceHandle handle, bool notify) = 0;
    // True when one input report was taken from the board's queue and copied into the buffer;
    // the buffer is left alone otherwise.
    virtual bool Read(DeviceHandle handle, Report& buffer) = 0;
    // Sends index 0 (the report identifier) and the 64 data bytes as one output report to the
    // board with these identifiers; no handle and no read notification are needed.
    virtual bool WriteEx(int vendorId, int productId, const Report& buffer) = 0;
    virtual int GetVendorID(DeviceHandle handle) = 0;
    virtual int GetProductID(DeviceHandle handle) = 0;
    // Known once the changed notification's handler has switched read notification on.
    virtual BoardPresence Presence() {
        return GetHandle(DeviceVendorId, DeviceProductId) != 0 ? BoardPresence::Connected
                                                               : BoardPresence::NotFound;
    }
};

} // namespace device
