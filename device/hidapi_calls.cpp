#include "device/hidapi_calls.h"

namespace device {

HidapiCalls RealHidapiCalls() {
    return {
        hid_init,      hid_enumerate, hid_free_enumeration, hid_open,
        hid_open_path, hid_write,     hid_read_timeout,     hid_close,
    };
}

} // namespace device
