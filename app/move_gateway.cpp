#include "app/move_gateway.h"

namespace app {

MoveGateway::MoveGateway(device::ReportSender& sender, device::StatusFields& status,
                         const motion::RunFlags& flags, PacketEcho showPacket)
    : sender_(sender), status_(status), flags_(flags), showPacket_(std::move(showPacket)) {}

MoveGateway::Sent MoveGateway::Send(const motion::MoveReport& move, bool simulate,
                                    int simulatorDelayMs, const PacketEcho& showPacket) {
    for (std::uint64_t part = 0; part < move.reportCount; ++part) {
        // Check point: a limit or emergency stop during one part keeps the next one back. The
        // first part is the caller's to check, where its own sequence reads LimitStop.
        if (part > 0 && flags_.LimitStop == 1) {
            return Sent::LimitStopped;
        }
        const std::optional<encoding::MotionReport> report = move.Report(part);
        if (!report) {
            return Sent::Done; // a refused move has no reports; the planner never sends one
        }
        if (SendReport(*report, simulate, simulatorDelayMs, showPacket) == Sent::Closed) {
            return Sent::Closed;
        }
    }
    return Sent::Done;
}

MoveGateway::Sent MoveGateway::SendReport(const encoding::MotionReport& report, bool simulate,
                                          int simulatorDelayMs, const PacketEcho& showPacket) {
    BufferOut_ = report.bytes();
    status_.SetText9("OA");
    (showPacket ? showPacket : showPacket_)(report);
    return sender_.Send(BufferOut_, simulate, simulatorDelayMs) ==
                   device::ReportSender::Outcome::Aborted
               ? Sent::Closed
               : Sent::Done;
}

} // namespace app
