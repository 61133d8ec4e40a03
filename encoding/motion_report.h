// The motion command report: the only message the board receives. One report is one relative
// move: a direction and a step count per axis, one step period for the whole move, two mode
// flags. The board keeps no position; it simply steps.
//
// Wire contract (65 bytes, the layout of BufferOut):
//
//   byte 0        report number, always 0
//   byte 1        flag byte: bit 4 limit switches disabled, bit 3 rapid, bit 2 Z direction,
//                 bit 1 Y direction, bit 0 X direction; bits 7..5 always 0
//   bytes 2..4    X step count, 24 bits
//   bytes 5..7    Y step count, 24 bits
//   bytes 8..9    Z step count, 16 bits
//   bytes 10..11  step period, 16 bits (a larger value is a slower move)
//   bytes 12..64  always 0
//
// Multi-byte fields are unsigned, most significant byte first. Direction bits are as sent, that
// is after the Inverse settings: for X and Y 1 is the positive direction, for Z 0 is (up).
//
// A value that does not fit its field (a count of 2^24 or more for X or Y, 2^16 or more for Z or
// the period) is never cut, wrapped or padded with stale bits: Encode refuses the whole report.
// The planner splits such moves into several reports beforehand and refuses such periods.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace encoding {

inline constexpr std::size_t kReportSize = 65;
inline constexpr std::uint32_t kMaxXYSteps = 0xFFFFFF; // 16,777,215
inline constexpr std::uint32_t kMaxZSteps = 0xFFFF;    // 65,535
inline constexpr std::uint32_t kMaxStepPeriod = 0xFFFF;

// The values a report carries, before they are laid out in bytes.
struct MotionFields {
    bool limitsDisabled = false; // the Dlimits setting
    bool rapid = false;
    bool xDirection = false; // as sent, after inversion
    bool yDirection = false;
    bool zDirection = false;
    std::uint32_t xSteps = 0;
    std::uint32_t ySteps = 0;
    std::uint32_t zSteps = 0;
    std::uint32_t stepPeriod = 0;

    bool operator==(const MotionFields&) const = default;
};

// True when every value fits its field.
bool FitsReport(const MotionFields& fields);

// One report, laid out as sent. Only Encode makes one, so every report holds fitting fields.
class MotionReport {
public:
    using Bytes = std::array<std::uint8_t, kReportSize>;

    // No report when a value does not fit its field (see FitsReport).
    static std::optional<MotionReport> Encode(const MotionFields& fields);

    // Reads the fields back from report bytes, as the board does. Bytes 0 and 12..64 are ignored.
    static MotionFields Decode(std::span<const std::uint8_t, kReportSize> bytes);

    const Bytes& bytes() const { return bytes_; }
    std::uint8_t flagByte() const { return bytes_[1]; }
    MotionFields fields() const { return Decode(bytes_); }

    // The "USB Packet Out" echo: the decimal texts of bytes 1 to 11 joined with nothing between
    // them (0, 11, 0, 20, 213, 0, 10, 106, 0, 0, 0, 57 shows as "1102021301010600057").
    std::string Packet() const;

    bool operator==(const MotionReport&) const = default;

private:
    MotionReport() = default;
    Bytes bytes_{};
};

// The longest text WriteReportJson writes: twelve three-digit numbers, eleven ", ", brackets.
inline constexpr std::size_t kReportJsonMaxSize = 12 * 3 + 11 * 2 + 2;

// Bytes 0 to 11 of a report as a JSON array of decimal numbers separated by ", ", as the dry run
// and the virtual board's record show a report: "[0, 11, 0, 20, 213, 0, 10, 106, 0, 0, 0, 57]".
// Writes at most kReportJsonMaxSize characters, no terminator, and returns the end.
char* WriteReportJson(char* out, std::span<const std::uint8_t, kReportSize> bytes);

} // namespace encoding
