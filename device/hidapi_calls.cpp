#include "device/hidapi_calls.h"

#include <cerrno>
#if !defined(_WIN32)
#include <unistd.h>
#endif

namespace device {
namespace {

hid_device* OpenPathTellingWhy(const char* path) {
    hid_device* device = hid_open_path(path);
#if !defined(_WIN32)
    // hidapi keeps its reason as text; the device file itself says whether it is permissions.
    if (device == nullptr && path != nullptr) {
        const int openError = errno;
        errno = ::access(path, R_OK | W_OK) == 0 ? openError : errno;
    }
#endif
    return device;
}

} // namespace

HidapiCalls RealHidapiCalls() {
    return {
        hid_init,           hid_enumerate, hid_free_enumeration, hid_open,
        OpenPathTellingWhy, hid_write,     hid_read_timeout,     hid_close,
    };
}

} // namespace device
