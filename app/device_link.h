// The window's device link: the HID library with its hook, the status field, the delay object
// and the send gateway. Connected at start-up, closed with the window.
#pragma once

#include "app/motion_state.h"
#include "app/move_gateway.h"
#include "app/operator_messages.h"
#include "app/window_status.h"
#include "device/hid_notify.h"
#include "device/report_sender.h"
#include "device/timeline.h"
#include "device/waitable_timer.h"

#include <QString>
#include <QWidget>

#include <memory>

class QLabel;
class QLineEdit;
class QWidget;

namespace app {

// What the board-state label says.
QString BoardPresenceText(device::BoardPresence presence);

class DeviceLink {
public:
    struct Uses {
        device::HidLibrary* hid = nullptr;    // none: a library with nothing attached
        device::Timeline* clock = nullptr;    // none: the steady clock
        OperatorMessages* messages = nullptr; // none: message boxes over `window`
        QWidget* window = nullptr;            // gets the notifications; parent of messages
        device::HidNotifyHandler* handler = nullptr;
        QLineEdit* Text9 = nullptr;
        WindowStatus::Procedures lock; // DisableControls / EnableControls
        MoveGateway::PacketEcho showPacket;
        MotionState* motion = nullptr; // LimitStop is raised and positions lose their trust here
        std::function<void()> trustChanged; // the displays show it
        QLabel* boardState = nullptr;       // "Board: connected", ...
    };

    explicit DeviceLink(Uses uses);
    ~DeviceLink();

    // Start-up, step 5: the library's notifications go to the window from now on.
    void Connect();
    // Start-up, step 6: the delay object, and with it the send gateway.
    void CreateDelayTimer();
    // The window closes: waits in progress return, nothing more is sent, notifications stop.
    void Close();

    device::HidLibrary& Hid() { return hid_; }
    device::Timeline& Clock() { return clock_; }
    OperatorMessages& Messages() { return messages_; }
    WindowStatus& Status() { return status_; }
    device::clsWaitableTimer* DelayTimer() { return DelayTimer_.get(); }
    device::ReportSender* Sender() { return sender_.get(); }
    MoveGateway* Gateway() { return gateway_.get(); }

    // The notification handlers' work, on the window's thread.
    void OnRead(device::DeviceHandle handle);
    void OnUnplugged(device::DeviceHandle handle);
    // After every notification: the board-state label, and once for each attachment of a board
    // closed to this user, a message with the fix.
    void ShowBoardPresence();

private:
    void limitReported();

    Uses uses_;
    std::unique_ptr<device::Timeline> ownClock_;
    std::unique_ptr<OperatorMessages> ownMessages_;
    device::HidLibrary& hid_;
    device::Timeline& clock_;
    OperatorMessages& messages_;
    WindowStatus status_;
    device::HIDDLLInterface hook_;
    device::Report BufferIn_{};
    DeviceEvents events_;
    std::unique_ptr<device::clsWaitableTimer> DelayTimer_;
    std::unique_ptr<device::ReportSender> sender_;
    std::unique_ptr<MoveGateway> gateway_;
    device::DeviceHandle toldNoPermission_ = 0; // the attachment the operator was told about
};

} // namespace app
