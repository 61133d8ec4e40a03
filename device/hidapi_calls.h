// The few hidapi functions the real-board backend calls, gathered in one table so that its
// tests can put a fake board behind it instead of the library.
#pragma once

#include <hidapi.h>

#include <cstddef>

namespace device {

struct HidapiCalls {
    int (*init)();
    hid_device_info* (*enumerate)(unsigned short vendorId, unsigned short productId);
    void (*free_enumeration)(hid_device_info* devices);
    hid_device* (*open)(unsigned short vendorId, unsigned short productId, const wchar_t* serial);
    hid_device* (*open_path)(const char* path); // on failure errno says why
    int (*write)(hid_device* device, const unsigned char* data, std::size_t length);
    int (*read_timeout)(hid_device* device, unsigned char* data, std::size_t length,
                        int milliseconds);
    void (*close)(hid_device* device);
};

// The table of the real library. Its open_path leaves errno at EACCES or EPERM when the device
// is there but this user may not open it, which hidapi does not promise by itself.
HidapiCalls RealHidapiCalls();

} // namespace device
