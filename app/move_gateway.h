// The one way every move goes out. For each report of a move: "OA" into the status field (so a
// stale "OK" never passes for this report's acknowledgement), the "USB Packet Out" echo, then
// the Simulate delay or the write and the wait for "OK". A move too long for one report goes
// out as its parts one after another, each acknowledged before the next, and no further part
// goes out once a limit or emergency-stop report has come in; the displays are then set where
// the last part sent took the machine.
#pragma once

#include "device/hid_library.h"
#include "device/report_sender.h"
#include "device/status_report.h"
#include "encoding/motion_report.h"
#include "motion/planning.h"
#include "motion/run_stepper.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace app {

struct MotionState;

// What the board reported besides its acknowledgements, counted, so that a sender can tell
// what came in during its own wait.
struct DeviceEvents {
    std::uint64_t limitReports = 0;
    std::string lastLimitMessage;
};

class MoveGateway {
public:
    enum class Sent {
        Done,         // every report went out (or was simulated)
        LimitStopped, // a limit or emergency stop came in; the rest of the move was not sent
        Unplugged,    // the board went away during the move; nothing more was sent
        Closed,       // the window is closing; nothing more goes out
    };
    using PacketEcho = std::function<void(const encoding::MotionReport&)>;

    MoveGateway(device::ReportSender& sender, device::StatusFields& status, MotionState& motion,
                const DeviceEvents& events, PacketEcho showPacket,
                std::function<void()> trustChanged);

    // Sends every report of a planned move (it must have no error), whose end the machine
    // state already shows. `during` names the move for the operator ("line 12", "the GOTO").
    // `showPacket` replaces the usual echo for this move, for a run that shows its lines at a
    // readable pace. A move not sent to its end leaves the machine state where its last part
    // sent ended; the caller shows it.
    //
    // A move the board may not have made as sent leaves its axes not verified: a limit or
    // emergency-stop report during it, no acknowledgement, or the board unplugged meanwhile.
    Sent Send(const motion::MoveReport& move, bool simulate, int simulatorDelayMs,
              std::string_view during, const PacketEcho& showPacket = {});

    // One report on its own (a jog tick's), the same way.
    Sent SendReport(const encoding::MotionReport& report, bool simulate, int simulatorDelayMs,
                    std::string_view during, const PacketEcho& showPacket = {});

    // The report as it went out last: index 0 the report identifier, 1..64 the report.
    const device::Report& BufferOut() const { return BufferOut_; }

private:
    void showWhereSent(const motion::MoveReport& move, std::uint64_t lastSent);
    void distrust(const encoding::MotionFields& moved, std::string_view during,
                  const std::string& why);

    device::ReportSender& sender_;
    device::StatusFields& status_;
    MotionState& motion_;
    const DeviceEvents& events_;
    PacketEcho showPacket_;
    std::function<void()> trustChanged_;
    device::Report BufferOut_{};
};

} // namespace app
