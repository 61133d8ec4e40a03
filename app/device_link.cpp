#include "app/device_link.h"

#include "device/no_board.h"
#include "device/status_report.h"
#include "device/steady_timeline.h"

#include <QLabel>

namespace app {
namespace {

device::HidLibrary& libraryOf(device::HidLibrary* given) {
    static device::NoBoard noBoard; // nothing attached, nothing arrives
    return given != nullptr ? *given : noBoard;
}

} // namespace

DeviceLink::DeviceLink(Uses uses)
    : uses_(std::move(uses)),
      ownClock_(uses_.clock ? nullptr : std::make_unique<device::SteadyTimeline>()),
      ownMessages_(uses_.messages ? nullptr : std::make_unique<MessageBoxMessages>(uses_.window)),
      hid_(libraryOf(uses_.hid)), clock_(ownClock_ ? *ownClock_ : *uses_.clock),
      messages_(ownMessages_ ? *ownMessages_ : *uses_.messages),
      status_(uses_.Text9, messages_,
              WindowStatus::Procedures{[this] { limitReported(); }, uses_.lock.disableControls,
                                       uses_.lock.enableControls}),
      hook_(hid_, *uses_.handler) {}

DeviceLink::~DeviceLink() = default;

void DeviceLink::Connect() {
    hook_.ConnectDevice(uses_.window);
    ShowBoardPresence();
}

QString BoardPresenceText(device::BoardPresence presence) {
    switch (presence) {
    case device::BoardPresence::Connected:
        return QStringLiteral("Board: connected");
    case device::BoardPresence::NoPermission:
        return QStringLiteral("Board: found, no permission");
    case device::BoardPresence::Virtual:
        return QStringLiteral("Virtual board");
    case device::BoardPresence::NotFound:
        break;
    }
    return QStringLiteral("Board: not found");
}

void DeviceLink::ShowBoardPresence() {
    const device::BoardPresence presence = hid_.Presence();
    if (uses_.boardState != nullptr) {
        uses_.boardState->setText(BoardPresenceText(presence));
    }
    if (presence != device::BoardPresence::NoPermission) {
        return;
    }
    const device::DeviceHandle board =
        hid_.GetHandle(device::DeviceVendorId, device::DeviceProductId);
    if (board == toldNoPermission_) {
        return; // said once for this attachment; the label keeps saying it
    }
    toldNoPermission_ = board;
    messages_.Show(QStringLiteral(
        "The board is plugged in, but this user may not open it, so no move can reach it. "
        "To fix it, install the board's udev rule that comes with Quorvane (install the quorvane "
        "package, or run scripts/setup.sh as root in its source folder), then unplug the board "
        "and plug it in again."));
}

void DeviceLink::CreateDelayTimer() {
    DelayTimer_ = std::make_unique<device::clsWaitableTimer>(clock_);
    sender_ = std::make_unique<device::ReportSender>(hid_, *DelayTimer_, clock_, status_, status_);
    gateway_ = std::make_unique<MoveGateway>(*sender_, status_, *uses_.motion, events_,
                                             uses_.showPacket, uses_.trustChanged);
}

void DeviceLink::Close() {
    if (sender_) {
        sender_->Abort();
    } else if (DelayTimer_) {
        DelayTimer_->Abort();
    }
    if (hook_.IsConnected()) {
        hook_.DisconnectDevice();
    }
}

void DeviceLink::limitReported() {
    uses_.motion->flags.LimitStop = 1;
    ++events_.limitReports;
    const std::string code = status_.Text9();
    for (const device::LimitCode& limit : device::LimitCodes) {
        if (limit.code == code) {
            events_.lastLimitMessage = std::string(limit.message);
        }
    }
}

void DeviceLink::OnUnplugged(device::DeviceHandle handle) {
    device::HandleUnplugged(hid_, handle);
    if (sender_) {
        sender_->BoardUnplugged();
    }
}

void DeviceLink::OnRead(device::DeviceHandle handle) {
    device::HandleRead(hid_, handle, BufferIn_, status_);
}

} // namespace app
