#include "encoding/binary_text.h"

#include <gtest/gtest.h>

#include <string>

using namespace encoding;

TEST(ConvDecToBin, WritesTheWholePartWithoutLeadingZeros) {
    struct Case {
        std::int64_t tenThousandths;
        const char* bits;
    };
    for (const Case c : {Case{0, ""},
                         {-30000, ""},
                         {-1, ""},
                         {9999, ""},
                         {29999, "10"},
                         {57500, "101"},
                         {570000, "111001"},
                         {655350000, "1111111111111111"},
                         {655360000, "10000000000000000"}}) {
        EXPECT_EQ(convDecToBin(FixedPoint4{c.tenThousandths}), c.bits) << c.tenThousandths;
    }
}

TEST(ConvDecToBin, WholeNumbersGiveTheSameTextAsTheFixedPointRoute) {
    EXPECT_EQ(convDecToBin(std::int64_t{-3}), "");
    for (std::int64_t v = 0; v < 70000; v += 7) {
        ASSERT_EQ(convDecToBin(v), convDecToBin(FixedPoint4{v * 10000})) << v;
    }
    const std::int64_t large = (std::int64_t{1} << 49) + 12345;
    EXPECT_EQ(convDecToBin(large), convDecToBin(FixedPoint4{large * 10000}));
}

TEST(ConvBinToLong, ReadsOnlyOnesAsSetBits) {
    EXPECT_EQ(convBinToLong("00111001"), 57);
    EXPECT_EQ(convBinToLong("11111111"), 255);
    EXPECT_EQ(convBinToLong(""), 0);
    EXPECT_EQ(convBinToLong("2"), 0);
    EXPECT_EQ(convBinToLong("10"), 2);
    EXPECT_EQ(convBinToLong("1x1"), 5);
    EXPECT_EQ(convBinToLong(std::string(40, '0') + "101"), 5);
    EXPECT_EQ(convBinToLong(std::string(31, '1')), 2147483647);
}

TEST(ConvBinToLong, RefusesValuesBeyondThirtyTwoBits) {
    EXPECT_EQ(convBinToLong("1" + std::string(31, '0')), std::nullopt);
    EXPECT_EQ(convBinToLong("1" + std::string(40, '0')), std::nullopt);
}

TEST(HexToBinary, GivesFourCharactersPerDigit) {
    EXPECT_EQ(HexToBinary("14D5"), "0001010011010101");
    EXPECT_EQ(HexToBinary("5"), "0101");
    EXPECT_EQ(HexToBinary(""), "");
    EXPECT_EQ(HexToBinary("g"), "0000");
    EXPECT_EQ(HexToBinary("ff"), "11111111");
    EXPECT_EQ(HexToBinary("aF09"), "1010111100001001");
}

TEST(PadToBits, PadsWithZerosOrLeavesThePreviousResultForATooLongText) {
    EXPECT_EQ(PadTo16Bits("", "x"), "0000000000000000");
    EXPECT_EQ(PadTo16Bits("111001", ""), "0000000000111001");
    EXPECT_EQ(PadTo24Bits("0001010011010101", ""), "000000000001010011010101");
    const std::string full24 = "101010101010101010101010";
    EXPECT_EQ(PadTo24Bits(full24, "previous"), full24);
    EXPECT_EQ(PadTo24Bits(full24 + "1", "previous"), "previous");
    EXPECT_EQ(PadTo16Bits(std::string(17, '1'), "0000000000111001"), "0000000000111001");
}
