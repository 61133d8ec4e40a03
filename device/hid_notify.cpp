#include "device/hid_notify.h"

#include <QCoreApplication>

namespace device {

void HidWindowProc(const HidNotifyEvent& event, HidNotifyHandler& handler) {
    switch (event.wParam) {
    case NotifyPlugged:
        handler.OnPlugged(event.lParam);
        break;
    case NotifyUnplugged:
        handler.OnUnplugged(event.lParam);
        break;
    case NotifyChanged:
        handler.OnChanged();
        break;
    case NotifyRead:
        handler.OnRead(event.lParam);
        break;
    default:
        break;
    }
}

HIDDLLInterface::HIDDLLInterface(HidLibrary& hid, HidNotifyHandler& handler)
    : hid_(hid), handler_(handler) {}

HIDDLLInterface::~HIDDLLInterface() {
    if (connected_) {
        DisconnectDevice();
    }
}

bool HIDDLLInterface::ConnectDevice(QObject* window) {
    if (connected_) {
        DisconnectDevice();
    }
    WindowHandle = window;
    connected_ = true;
    // The sink may run on a backend thread: posting is the only thing it does.
    const bool connected = hid_.Connect([window](int wParam, DeviceHandle lParam) {
        QCoreApplication::postEvent(window, new HidNotifyEvent(wParam, lParam));
    });
    window->installEventFilter(this);
    // Nothing may be posted to a window that is gone.
    QObject::connect(window, &QObject::destroyed, this, [this] {
        if (connected_) {
            DisconnectDevice();
        }
    });
    return connected;
}

bool HIDDLLInterface::DisconnectDevice() {
    const bool disconnected = hid_.Disconnect();
    connected_ = false;
    if (WindowHandle) {
        WindowHandle->removeEventFilter(this);
        QObject::disconnect(WindowHandle, &QObject::destroyed, this, nullptr);
    }
    WindowHandle = nullptr;
    return disconnected;
}

bool HIDDLLInterface::eventFilter(QObject* watched, QEvent* event) {
    if (watched == WindowHandle && event->type() == HidNotifyEvent::EventType) {
        HidWindowProc(*static_cast<HidNotifyEvent*>(event), handler_);
    }
    return false;
}

} // namespace device
