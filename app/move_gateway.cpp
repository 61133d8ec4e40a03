#include "app/move_gateway.h"

#include "app/motion_state.h"
#include "encoding/thousandths.h"

namespace app {

MoveGateway::MoveGateway(device::ReportSender& sender, device::StatusFields& status,
                         MotionState& motion, const DeviceEvents& events, PacketEcho showPacket,
                         std::function<void()> trustChanged)
    : sender_(sender), status_(status), motion_(motion), events_(events),
      showPacket_(std::move(showPacket)), trustChanged_(std::move(trustChanged)) {}

MoveGateway::Sent MoveGateway::Send(const motion::MoveReport& move, bool simulate,
                                    int simulatorDelayMs, std::string_view during,
                                    const PacketEcho& showPacket) {
    for (std::uint64_t part = 0; part < move.reportCount; ++part) {
        // Check point: a limit or emergency stop during one part keeps the next one back. The
        // first part is the caller's to check, where its own sequence reads LimitStop.
        if (part > 0 && motion_.flags.LimitStop == 1) {
            showWhereSent(move, part - 1);
            return Sent::LimitStopped;
        }
        const std::optional<encoding::MotionReport> report = move.Report(part);
        if (!report) {
            return Sent::Done; // a refused move has no reports; the planner never sends one
        }
        if (const Sent sent = SendReport(*report, simulate, simulatorDelayMs, during, showPacket);
            sent != Sent::Done) {
            showWhereSent(move, part);
            return sent;
        }
    }
    return Sent::Done;
}

// The displays of a move cut short after `lastSent`: where that part took the machine, not
// the move's end, so that they keep saying what the board was sent.
void MoveGateway::showWhereSent(const motion::MoveReport& move, std::uint64_t lastSent) {
    const auto shown = move.ShownAfterPart(lastSent);
    if (!shown) {
        return; // the last part went out, or one thousandth holds more than a part
    }
    for (const motion::Axis a : motion::kAxes) {
        if (const std::optional<std::int64_t> thousandths = (*shown)[motion::index(a)]) {
            motion::AxisState& axis = motion_.machine[a];
            axis.positionText = encoding::FormatThousandths(*thousandths);
            axis.positionMm = static_cast<double>(*thousandths) / 1000.0;
        }
    }
}

MoveGateway::Sent MoveGateway::SendReport(const encoding::MotionReport& report, bool simulate,
                                          int simulatorDelayMs, std::string_view during,
                                          const PacketEcho& showPacket) {
    BufferOut_ = report.bytes();
    status_.SetText9("OA");
    (showPacket ? showPacket : showPacket_)(report);
    const std::uint64_t limitsBefore = events_.limitReports;
    const auto outcome = sender_.Send(BufferOut_, simulate, simulatorDelayMs);
    if (simulate || outcome == device::ReportSender::Outcome::Aborted) {
        return outcome == device::ReportSender::Outcome::Aborted ? Sent::Closed : Sent::Done;
    }
    if (outcome == device::ReportSender::Outcome::Unplugged) {
        distrust(report.fields(), during, "the board was unplugged during the move.");
        status_.ShowMessage("The board was unplugged during " + std::string(during) +
                            ": that move may not have been made. Nothing more is sent; zero "
                            "the axes once you know where the machine stands.");
        return Sent::Unplugged;
    }
    if (outcome == device::ReportSender::Outcome::TimedOut) {
        distrust(report.fields(), during,
                 "the board did not acknowledge the move (Communication Error).");
    }
    if (events_.limitReports != limitsBefore) {
        distrust(report.fields(), during,
                 "the board reported \"" + events_.lastLimitMessage + "\".");
    }
    return Sent::Done;
}

void MoveGateway::distrust(const encoding::MotionFields& moved, std::string_view during,
                           const std::string& why) {
    const std::uint32_t steps[3] = {moved.xSteps, moved.ySteps, moved.zSteps};
    for (std::size_t a = 0; a < 3; ++a) {
        // The first reason stays: it says since when the axis is not to be trusted.
        if (steps[a] != 0 && motion_.unverified[a].empty()) {
            motion_.unverified[a] = "Not verified since " + std::string(during) + ": " + why +
                                    " Zero this axis once you know where it stands.";
        }
    }
    if (trustChanged_) {
        trustChanged_();
    }
}

} // namespace app
