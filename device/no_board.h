// A library with nothing attached: every call fails quietly, no notification ever arrives.
// Stands in when the window is given no library, and is a base for test doubles.
#pragma once

#include "device/hid_library.h"

namespace device {

class NoBoard : public HidLibrary {
public:
    bool Connect(NotifySink) override { return false; }
    bool Disconnect() override { return false; }
    DeviceHandle GetHandle(int, int) override { return 0; }
    void SetReadNotify(DeviceHandle, bool) override {}
    bool Read(DeviceHandle, Report&) override { return false; }
    bool WriteEx(int, int, const Report&) override { return false; }
    int GetVendorID(DeviceHandle) override { return 0; }
    int GetProductID(DeviceHandle) override { return 0; }
};

} // namespace device
