// The USB HID access library as the program sees it: the board is found by its vendor and
// product identifiers, reports are 65 bytes with the report identifier 0 at index 0, and the
// library announces plug, unplug, change and readable reports through a notification callback.
//
// Two backends sit behind this interface: hidapi for the real board and the in-process virtual
// board. Nothing above the device layer knows which one it talks to.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>

namespace device {

inline constexpr int DeviceVendorId = 6017;  // 0x1781
inline constexpr int DeviceProductId = 2130; // 0x0852

inline constexpr std::size_t ReportSize = 65; // index 0: report identifier, 1..64: data
using Report = std::array<std::uint8_t, ReportSize>;

using DeviceHandle = std::intptr_t;

// wParam values of a notification.
enum NotifyCode : int {
    NotifyPlugged = 1,   // lParam: device handle
    NotifyUnplugged = 2, // lParam: device handle
    NotifyChanged = 3,   // lParam unused
    NotifyRead = 4,      // lParam: device handle
};

// Called by a backend for every notification; may be called from a backend's own thread.
using NotifySink = std::function<void(int wParam, DeviceHandle lParam)>;

class HidLibrary {
public:
    virtual ~HidLibrary() = default;

    virtual bool Connect(NotifySink sink) = 0;
    virtual bool Disconnect() = 0;
    virtual DeviceHandle GetHandle(int vendorId, int productId) = 0;
    virtual void SetReadNotify(DeviceHandle handle, bool notify) = 0;
    // True when one input report was copied into the buffer.
    virtual bool Read(DeviceHandle handle, Report& buffer) = 0;
    // Sends index 0 (the report identifier) and the 64 data bytes to the board.
    virtual bool WriteEx(int vendorId, int productId, const Report& buffer) = 0;
    virtual int GetVendorID(DeviceHandle handle) = 0;
    virtual int GetProductID(DeviceHandle handle) = 0;
};

} // namespace device
