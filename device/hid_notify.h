// HIDDLLInterface: ties the HID library to the main window. The library's notifications become
// events of type HidNotifyMessage posted to the window, and a filter on the window turns each one
// into a call of the window's OnPlugged, OnUnplugged, OnChanged or OnRead.
//
// Posting is what keeps the handlers orderly: they run on the window's thread, one at a
// time, in the order the notifications arrived, and also inside the waits and modal messages
// (they run nested event loops, which deliver posted events).
#pragma once

#include "device/hid_library.h"

#include <QEvent>
#include <QObject>
#include <QPointer>

namespace device {

inline constexpr int HidNotifyMessage = 32968; // 0x80C8

class HidNotifyEvent final : public QEvent {
public:
    static constexpr QEvent::Type EventType = static_cast<QEvent::Type>(HidNotifyMessage);
    static_assert(HidNotifyMessage >= QEvent::User && HidNotifyMessage <= QEvent::MaxUser);

    HidNotifyEvent(int wParam, DeviceHandle lParam)
        : QEvent(EventType), wParam(wParam), lParam(lParam) {}

    const int wParam;
    const DeviceHandle lParam;
};

// What the main window offers the hook.
class HidNotifyHandler {
public:
    virtual ~HidNotifyHandler() = default;
    virtual void OnPlugged(DeviceHandle handle) = 0;
    virtual void OnUnplugged(DeviceHandle handle) = 0;
    virtual void OnChanged() = 0;
    virtual void OnRead(DeviceHandle handle) = 0;
};

// Dispatch on wParam 1..4; any other value calls nothing.
void HidWindowProc(const HidNotifyEvent& event, HidNotifyHandler& handler);

class HIDDLLInterface final : public QObject {
    Q_OBJECT
public:
    HIDDLLInterface(HidLibrary& hid, HidNotifyHandler& handler);
    // Disconnects when the window forgot to, so no backend thread outlives the window.
    ~HIDDLLInterface() override;

    // Connects the library with notifications posted to `window` and hooks the window.
    bool ConnectDevice(QObject* window);
    // Stops the notifications and removes the hook.
    bool DisconnectDevice();
    bool IsConnected() const { return connected_; }

protected:
    // Every event goes on to the window, notifications included.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    HidLibrary& hid_;
    HidNotifyHandler& handler_;
    QPointer<QObject> WindowHandle;
    bool connected_ = false;
};

} // namespace device
