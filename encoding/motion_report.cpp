#include "encoding/motion_report.h"

#include <charconv>

namespace encoding {
namespace {

void putBigEndian(MotionReport::Bytes& bytes, std::size_t at, std::size_t width,
                  std::uint32_t value) {
    for (std::size_t i = width; i-- > 0;) {
        bytes[at + i] = static_cast<std::uint8_t>(value & 0xFFU);
        value >>= 8;
    }
}

std::uint32_t getBigEndian(std::span<const std::uint8_t, kReportSize> bytes, std::size_t at,
                           std::size_t width) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < width; ++i) {
        value = (value << 8) | bytes[at + i];
    }
    return value;
}

} // namespace

bool FitsReport(const MotionFields& f) {
    return f.xSteps <= kMaxXYSteps && f.ySteps <= kMaxXYSteps && f.zSteps <= kMaxZSteps &&
           f.stepPeriod <= kMaxStepPeriod;
}

std::optional<MotionReport> MotionReport::Encode(const MotionFields& f) {
    if (!FitsReport(f)) {
        return std::nullopt;
    }
    MotionReport report;
    Bytes& b = report.bytes_;
    b[1] = static_cast<std::uint8_t>((f.limitsDisabled ? 0x10U : 0U) | (f.rapid ? 0x08U : 0U) |
                                     (f.zDirection ? 0x04U : 0U) | (f.yDirection ? 0x02U : 0U) |
                                     (f.xDirection ? 0x01U : 0U));
    putBigEndian(b, 2, 3, f.xSteps);
    putBigEndian(b, 5, 3, f.ySteps);
    putBigEndian(b, 8, 2, f.zSteps);
    putBigEndian(b, 10, 2, f.stepPeriod);
    return report;
}

MotionFields MotionReport::Decode(std::span<const std::uint8_t, kReportSize> bytes) {
    MotionFields f;
    const std::uint8_t flags = bytes[1];
    f.limitsDisabled = (flags & 0x10U) != 0;
    f.rapid = (flags & 0x08U) != 0;
    f.zDirection = (flags & 0x04U) != 0;
    f.yDirection = (flags & 0x02U) != 0;
    f.xDirection = (flags & 0x01U) != 0;
    f.xSteps = getBigEndian(bytes, 2, 3);
    f.ySteps = getBigEndian(bytes, 5, 3);
    f.zSteps = getBigEndian(bytes, 8, 2);
    f.stepPeriod = getBigEndian(bytes, 10, 2);
    return f;
}

std::string MotionReport::Packet() const {
    char text[33]; // eleven bytes of at most three digits
    std::size_t n = 0;
    for (std::size_t i = 1; i <= 11; ++i) {
        const unsigned v = bytes_[i];
        if (v >= 100) {
            text[n++] = static_cast<char>('0' + v / 100);
        }
        if (v >= 10) {
            text[n++] = static_cast<char>('0' + v / 10 % 10);
        }
        text[n++] = static_cast<char>('0' + v % 10);
    }
    return std::string(text, n);
}

char* WriteReportJson(char* out, std::span<const std::uint8_t, kReportSize> bytes) {
    *out++ = '[';
    for (std::size_t i = 0; i < 12; ++i) {
        if (i > 0) {
            *out++ = ',';
            *out++ = ' ';
        }
        out = std::to_chars(out, out + 3, bytes[i]).ptr;
    }
    *out++ = ']';
    return out;
}

} // namespace encoding
