#include "encoding/motion_report.h"

#include "encoding/binary_text.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

using namespace encoding;

namespace {

MotionReport encode(const MotionFields& f) {
    const std::optional<MotionReport> r = MotionReport::Encode(f);
    EXPECT_TRUE(r.has_value());
    return r.value_or(*MotionReport::Encode({}));
}

std::vector<int> firstTwelve(const MotionReport& r) {
    return std::vector<int>(r.bytes().begin(), r.bytes().begin() + 12);
}

// The field bytes by way of the binary texts: padded text, 8-character groups, one byte each.
std::vector<int> bytesByText(const std::string& binary, std::size_t width) {
    const std::string padded = width == 16 ? PadTo16Bits(binary, "") : PadTo24Bits(binary, "");
    std::vector<int> bytes;
    for (std::size_t at = 0; at < padded.size(); at += 8) {
        bytes.push_back(convBinToLong(padded.substr(at, 8)).value_or(-1));
    }
    return bytes;
}

std::string hexText(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%X", value);
    return text;
}

std::vector<int> slice(const MotionReport& r, std::size_t from, std::size_t width) {
    return std::vector<int>(r.bytes().begin() + static_cast<std::ptrdiff_t>(from),
                            r.bytes().begin() + static_cast<std::ptrdiff_t>(from + width / 8));
}

} // namespace

TEST(MotionReport, LaysOutTheGotoExample) {
    MotionFields f;
    f.rapid = true;
    f.xDirection = true;
    f.yDirection = true;
    f.xSteps = 5333;
    f.ySteps = 2666;
    f.stepPeriod = 57;
    const MotionReport r = encode(f);
    EXPECT_EQ(firstTwelve(r), (std::vector<int>{0, 11, 0, 20, 213, 0, 10, 106, 0, 0, 0, 57}));
    for (std::size_t i = 12; i < kReportSize; ++i) {
        ASSERT_EQ(r.bytes()[i], 0) << i;
    }
    EXPECT_EQ(r.Packet(), "1102021301010600057");
    EXPECT_EQ(r.fields(), f);
}

TEST(MotionReport, LaysOutAJogPress) {
    MotionFields f;
    f.rapid = true;
    f.xDirection = true;
    f.xSteps = 53;
    f.stepPeriod = 57;
    EXPECT_EQ(encode(f).Packet(), "9005300000057");
}

TEST(MotionReport, FlagByteCarriesEachBitInItsPlace) {
    struct Case {
        bool limitsDisabled, rapid, z, y, x;
        int flag;
    };
    for (const Case c : {Case{false, false, false, false, false, 0},
                         {false, false, false, false, true, 1},
                         {false, false, false, true, false, 2},
                         {false, false, true, false, false, 4},
                         {false, true, false, false, false, 8},
                         {true, false, false, false, false, 16},
                         {true, true, true, true, true, 31}}) {
        MotionFields f;
        f.limitsDisabled = c.limitsDisabled;
        f.rapid = c.rapid;
        f.zDirection = c.z;
        f.yDirection = c.y;
        f.xDirection = c.x;
        const MotionReport r = encode(f);
        EXPECT_EQ(r.flagByte(), c.flag);
        EXPECT_EQ(r.fields(), f);
    }
}

TEST(MotionReport, RefusesEveryValueWiderThanItsField) {
    MotionFields full;
    full.xSteps = kMaxXYSteps;
    full.ySteps = kMaxXYSteps;
    full.zSteps = kMaxZSteps;
    full.stepPeriod = kMaxStepPeriod;
    EXPECT_EQ(encode(full).fields(), full);
    for (std::uint32_t MotionFields::*field : {&MotionFields::xSteps, &MotionFields::ySteps,
                                               &MotionFields::zSteps, &MotionFields::stepPeriod}) {
        MotionFields tooWide = full;
        ++(tooWide.*field);
        EXPECT_FALSE(MotionReport::Encode(tooWide).has_value());
        EXPECT_FALSE(FitsReport(tooWide));
    }
}

TEST(MotionReport, SixteenBitFieldsEqualTheTextRouteOverTheWholeRange) {
    for (std::uint32_t v = 0; v <= 0xFFFF; ++v) {
        MotionFields f;
        f.zSteps = v;
        f.stepPeriod = v;
        const MotionReport r = encode(f);
        ASSERT_EQ(slice(r, 8, 16), bytesByText(HexToBinary(hexText(v)), 16)) << v;
        ASSERT_EQ(slice(r, 10, 16), bytesByText(convDecToBin(std::int64_t{v}), 16)) << v;
    }
}

TEST(MotionReport, TwentyFourBitFieldsEqualTheTextRouteOnASample) {
    std::vector<std::uint32_t> sample{0, 1, 255, 256, 65535, 65536, kMaxXYSteps - 1, kMaxXYSteps};
    for (std::uint32_t v = 0; v <= kMaxXYSteps; v += 257) {
        sample.push_back(v);
    }
    for (const std::uint32_t v : sample) {
        MotionFields f;
        f.xSteps = v;
        f.ySteps = kMaxXYSteps - v;
        const MotionReport r = encode(f);
        ASSERT_EQ(slice(r, 2, 24), bytesByText(HexToBinary(hexText(v)), 24)) << v;
        ASSERT_EQ(slice(r, 5, 24), bytesByText(HexToBinary(hexText(kMaxXYSteps - v)), 24)) << v;
    }
}

TEST(ReportJson, WritesBytesZeroToElevenAsTheDryRunShowsThem) {
    MotionReport::Bytes bytes{0, 11, 0, 20, 213, 0, 10, 106, 0, 0, 0, 57};
    bytes[12] = 1; // no part of the text
    std::string text(kReportJsonMaxSize, '#');
    text.resize(static_cast<std::size_t>(WriteReportJson(text.data(), bytes) - text.data()));
    EXPECT_EQ(text, "[0, 11, 0, 20, 213, 0, 10, 106, 0, 0, 0, 57]");
    bytes.fill(255);
    text.assign(kReportJsonMaxSize, '#');
    EXPECT_EQ(WriteReportJson(text.data(), bytes), text.data() + kReportJsonMaxSize);
    EXPECT_EQ(text, "[255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255]");
}
