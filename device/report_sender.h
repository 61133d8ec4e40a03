// The one way every motion report reaches the board: in Simulate mode the pause that stands in
// for the board's work, otherwise the write and the wait for the board's "OK".
#pragma once

#include "device/ack_source.h"
#include "device/hid_library.h"
#include "device/timeline.h"

#include <QObject>

#include <cstdint>

namespace device {

class clsWaitableTimer;

inline constexpr std::int64_t AckTimeoutMs = 180'000;
inline constexpr char CommunicationErrorMessage[] = " Communication Error";

class ReportSender final : public QObject {
    Q_OBJECT
public:
    enum class Outcome {
        Done,      // acknowledged, or the Simulate delay has passed
        TimedOut,  // no "OK" in time; the operator has closed " Communication Error"
        Aborted,   // the window is closing: nothing was or will be sent
        Unplugged, // the board went away during the wait: no "OK" can come for this report
    };

    ReportSender(HidLibrary& hid, clsWaitableTimer& DelayTimer, Timeline& clock, AckSource& status,
                 OperatorNotice& notice);

    // Simulate ? DelayTimer.Wait(simulatorDelayMs) : WriteEx + WaitForAck. The caller writes "OA"
    // into the status field first where a fresh acknowledgement is needed.
    Outcome Send(const Report& BufferOut, bool simulate, int simulatorDelayMs);

    // Returns when the status field holds exactly "OK" or the time-out has passed; in the
    // latter case after the operator has closed " Communication Error". The window keeps
    // running meanwhile, but the wait itself sleeps until the field changes or the deadline.
    Outcome WaitForAck();

    // The window closes: waits in progress (the delay's too) return at once and nothing more
    // is sent, so a closing program never keeps driving the machine.
    void Abort();
    bool Aborted() const { return aborted_; }

    // The board was unplugged: a wait in progress returns at once. The board keeps nothing
    // across an unplug, so the move it was making is lost; the caller must not carry on as if
    // it had been done. Later sends go out as usual (the board may be back).
    void BoardUnplugged();

    // Tests may shorten the time-out; the program keeps 180 s.
    void SetAckTimeoutMs(std::int64_t timeoutMs) { ackTimeoutMs_ = timeoutMs; }

signals:
    void Aborting();
    void Unplugging();

private:
    HidLibrary& hid_;
    clsWaitableTimer& delay_;
    Timeline& clock_;
    AckSource& status_;
    OperatorNotice& notice_;
    std::int64_t ackTimeoutMs_ = AckTimeoutMs;
    bool aborted_ = false;
    int waiting_ = 0;        // acknowledgement waits in progress
    bool unplugged_ = false; // the board went away during the wait in progress
};

} // namespace device
