// The board's two report decoders on any bytes: the status report the window reads (through a
// library that hands the input over 65 bytes at a time, a further report arriving while a
// message is open) and the motion report the virtual board reads.
//
// Cross-checks: a well-formed motion report encodes back to the very bytes it was read from;
// every message shown is a limit code's and comes with the controls locked and unlocked.
#include "device/board_command.h"
#include "device/status_report.h"
#include "encoding/motion_report.h"
#include "fuzz/fuzz_support.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace {

using fuzz::Check;

// Hands out the input as reports, one per Read.
class InputReports : public device::HidLibrary {
public:
    InputReports(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool Connect(device::NotifySink) override { return true; }
    bool Disconnect() override { return true; }
    device::DeviceHandle GetHandle(int, int) override { return 1; }
    void SetReadNotify(device::DeviceHandle, bool) override {}
    bool Read(device::DeviceHandle, device::Report& buffer) override {
        if (at_ >= size_) {
            return false;
        }
        buffer.fill(0);
        const std::size_t n = std::min(device::ReportSize, size_ - at_);
        std::memcpy(buffer.data(), data_ + at_, n);
        at_ += n;
        return true;
    }
    bool WriteEx(int, int, const device::Report&) override { return false; }
    int GetVendorID(device::DeviceHandle) override { return device::DeviceVendorId; }
    int GetProductID(device::DeviceHandle) override { return device::DeviceProductId; }

    bool More() const { return at_ < size_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// Text9 and the lock count; a message that is open lets the next report in, as events do.
class Fields : public device::StatusFields {
public:
    Fields(InputReports& hid, device::Report& buffer) : hid_(hid), buffer_(buffer) {}

    std::string Text9() override { return text9_; }
    void SetText9(const std::string& code) override {
        Check(code.size() == 2, "a status code is two characters");
        text9_ = code;
    }
    void SetLimitStop() override { ++limitStops_; }
    void DisableControls() override { ++locked_; }
    void EnableControls() override {
        Check(locked_ > 0, "controls unlocked only after being locked");
        --locked_;
    }
    void ShowMessage(std::string_view text) override {
        Check(locked_ > 0, "a message is shown with the controls locked");
        const bool known =
            std::any_of(device::LimitCodes.begin(), device::LimitCodes.end(),
                        [&](const device::LimitCode& limit) { return limit.message == text; });
        Check(known, "only a limit code's message is shown", std::string(text));
        ++messages_;
        if (hid_.More() && depth_ < 8) {
            ++depth_;
            device::HandleRead(hid_, 1, buffer_, *this);
            --depth_;
        }
    }

    int Locked() const { return locked_; }
    int LimitStops() const { return limitStops_; }
    int Messages() const { return messages_; }

private:
    InputReports& hid_;
    device::Report& buffer_;
    std::string text9_;
    int locked_ = 0;
    int limitStops_ = 0;
    int messages_ = 0;
    int depth_ = 0;
};

void DecodeMotionReports(const std::uint8_t* data, std::size_t size) {
    for (std::size_t at = 0; at < size; at += device::ReportSize) {
        device::Report report{};
        std::memcpy(report.data(), data + at, std::min(device::ReportSize, size - at));
        const device::BoardCommand command = device::DecodeBoardCommand(report);
        const double ms = device::MoveTimeMs(command);
        Check(std::isfinite(ms) && ms >= 0, "a move time is a finite duration");
        Check(!device::Describe(command).empty(), "every command has a log line");
        if (!command.wellFormed) {
            continue;
        }
        const auto encoded = encoding::MotionReport::Encode(command.fields);
        Check(encoded.has_value(), "a well-formed report's fields fit a report");
        Check(encoded->bytes() == report, "a well-formed report encodes back to its bytes");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    InputReports hid(data, size);
    device::Report buffer{};
    Fields fields(hid, buffer);
    while (hid.More()) {
        device::HandleRead(hid, 1, buffer, fields);
        Check(fields.Locked() == 0, "controls unlocked after every report");
        Check(device::StatusCodeOf(buffer) == fields.Text9(),
              "Text9 holds the code of the report read last");
    }
    Check(fields.LimitStops() == fields.Messages(), "each message raises LimitStop once");
    DecodeMotionReports(data, size);
    return 0;
}
