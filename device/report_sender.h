// The one way every motion report reaches the board: in Simulate mode the pause that stands in
// for the board's work, otherwise the write and the wait for the board's "OK".
#pragma once

#include "device/hid_library.h"
#include "device/timeline.h"

#include <cstdint>

class QLineEdit;

namespace app {
class OperatorMessages;
}

namespace device {

class clsWaitableTimer;

inline constexpr std::int64_t AckTimeoutMs = 180'000;
inline constexpr char CommunicationErrorMessage[] = " Communication Error";

class ReportSender {
public:
    // Text9 is the window's status field: OnRead writes every code there and the wait watches it.
    ReportSender(HidLibrary& hid, clsWaitableTimer& DelayTimer, Timeline& clock,
                 app::OperatorMessages& messages, QLineEdit* Text9);

    // Simulate ? DelayTimer.Wait(simulatorDelayMs) : WriteEx + WaitForAck. The caller writes "OA"
    // into Text9 first where a fresh acknowledgement is needed (GOTO, program lines).
    void Send(const Report& BufferOut, bool simulate, int simulatorDelayMs);

    // Returns when Text9 holds exactly "OK" or the time-out has passed; in the latter case after
    // the operator has closed " Communication Error". The window keeps running meanwhile, but
    // the wait itself sleeps in the event loop until Text9 changes or the deadline comes.
    void WaitForAck();

    // Tests shorten the time-out; the program keeps 180 s.
    void SetAckTimeoutMs(std::int64_t timeoutMs) { ackTimeoutMs_ = timeoutMs; }

private:
    HidLibrary& hid_;
    clsWaitableTimer& DelayTimer;
    Timeline& clock_;
    app::OperatorMessages& messages_;
    QLineEdit* Text9;
    std::int64_t ackTimeoutMs_ = AckTimeoutMs;
};

} // namespace device
