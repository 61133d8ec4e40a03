#include "device/status_report.h"

namespace device {

std::string StatusCodeOf(const Report& BufferIn) {
    return {static_cast<char>(BufferIn[1]), static_cast<char>(BufferIn[2])};
}

void HandleRead(HidLibrary& hid, DeviceHandle handle, Report& BufferIn, StatusFields& fields) {
    if (!hid.Read(handle, BufferIn)) {
        return;
    }
    fields.SetText9(StatusCodeOf(BufferIn));
    for (const LimitCode& limit : LimitCodes) {
        // Read afresh each time: while a message is open a further report may replace the code,
        // and the remaining comparisons then act on the newer one.
        if (fields.Text9() != limit.code) {
            continue;
        }
        fields.SetLimitStop();
        fields.DisableControls();
        fields.ShowMessage(limit.message);
        fields.EnableControls();
    }
}

void HandlePlugged(HidLibrary& hid, DeviceHandle handle) {
    hid.GetVendorID(handle);
    hid.GetProductID(handle);
}

void HandleUnplugged(HidLibrary& hid, DeviceHandle handle) {
    hid.GetVendorID(handle);
    hid.GetProductID(handle);
}

void HandleChanged(HidLibrary& hid) {
    const DeviceHandle board = hid.GetHandle(DeviceVendorId, DeviceProductId);
    hid.SetReadNotify(board, true);
}

} // namespace device
