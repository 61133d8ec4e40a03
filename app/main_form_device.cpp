// MainForm's part of the device link: connecting at start-up, the four notification handlers,
// the delay object and the send gateway.
#include "app/main_form_device.h"
#include "device/no_board.h"

#include "device/simulator_delay.h"
#include "device/status_report.h"

#include <QLineEdit>

namespace app {
namespace {

device::HidLibrary& LibraryOf(const MainForm::Services& services) {
    static device::NoBoard noBoard; // nothing attached, nothing arrives
    return services.hid != nullptr ? *services.hid : noBoard;
}

std::unique_ptr<device::Timeline> OwnClockUnless(device::Timeline* given) {
    return given != nullptr ? nullptr : std::make_unique<device::SteadyTimeline>();
}

std::unique_ptr<OperatorMessages> OwnMessagesUnless(OperatorMessages* given, QWidget* parent) {
    return given != nullptr ? nullptr : std::make_unique<MessageBoxMessages>(parent);
}

} // namespace

MainForm::DeviceLink::DeviceLink(MainForm& form)
    : hid(LibraryOf(form.services_)), ownClock(OwnClockUnless(form.services_.clock)),
      clock(ownClock ? *ownClock : *form.services_.clock),
      ownMessages(OwnMessagesUnless(form.services_.messages, &form)),
      messages(ownMessages ? *ownMessages : *form.services_.messages),
      statusFields(form.ui_.Text(9), messages,
                   {[&form] { form.LimitStop = 1; }, [&form] { form.DisableControls(); },
                    [&form] { form.EnableControls(); }}),
      hook(hid, form) {}

void MainForm::connectDeviceLink() {
    if (!deviceLink_) {
        deviceLink_ = std::make_unique<DeviceLink>(*this);
    }
    deviceLink_->hook.ConnectDevice(this);
}

void MainForm::disconnectDeviceLink() {
    if (deviceLink_ && deviceLink_->hook.IsConnected()) {
        deviceLink_->hook.DisconnectDevice();
    }
}

void MainForm::createDelayTimer() {
    DelayTimer = std::make_unique<device::clsWaitableTimer>(deviceLink_->clock);
    deviceLink_->sender = std::make_unique<device::ReportSender>(
        deviceLink_->hid, *DelayTimer, deviceLink_->clock, deviceLink_->messages, ui_.Text(9));
}

void MainForm::OnPlugged(device::DeviceHandle handle) {
    device::HandlePlugged(deviceLink_->hid, handle);
}

void MainForm::OnUnplugged(device::DeviceHandle handle) {
    device::HandleUnplugged(deviceLink_->hid, handle);
}

void MainForm::OnChanged() {
    device::HandleChanged(deviceLink_->hid);
}

void MainForm::OnRead(device::DeviceHandle handle) {
    device::HandleRead(deviceLink_->hid, handle, BufferIn, deviceLink_->statusFields);
}

void MainForm::SendReport(const device::Report& BufferOut, bool simulate) {
    const int delayMs = device::SimulatorDelayMs(ui_.Text16->text().toStdString());
    deviceLink_->sender->Send(BufferOut, simulate, delayMs);
}

device::ReportSender& MainForm::Sender() {
    return *deviceLink_->sender;
}

} // namespace app
