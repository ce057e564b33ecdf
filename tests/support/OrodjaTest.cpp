#include "Orodja.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace Orodja;

namespace {

struct TextCase {
    std::string in;
    std::string out;
};

TEST(Orodja, ToBinaryTextShowsTheLowestBits) {
    struct Case {
        int32_t width;
        int64_t value;
        std::string out;
    };
    const std::vector<Case> cases = {
        {8, 5, "00000101"}, {3, 13, "101"},  {0, 12345, ""},           {-3, 1, ""},
        {4, -1, "1111"},    {1, 0, "0"},     {64, -1, std::string(64, '1')},
        {66, INT64_MIN, "00" + std::string("1") + std::string(63, '0')},
    };
    for (const auto& c : cases) EXPECT_EQ(ToBinaryText(c.width, c.value), c.out) << c.width << " " << c.value;
}

TEST(Orodja, RemoveSpacesTrimsAndDropsInnerBlanks) {
    const std::vector<TextCase> cases = {
        {"  0x9: 12 34\r", "0x9:1234"}, {"", ""}, {"\r\n", ""}, {"\t a b \x01", "ab"}, {"a\tb", "a\tb"},
    };
    for (const auto& c : cases) EXPECT_EQ(RemoveSpaces(c.in), c.out) << c.in;
}

TEST(Orodja, KeepPrintableDropsControlAndHighBytes) {
    const std::vector<TextCase> cases = {
        {"ON\r", "ON"},
        {"\r\n", ""},
        {" K310-7K v1.09 \r", "K310-7K v1.09"},
        {"a\x7F" "b\xC3\xA9" "c\td", "abcd"},
        {"x y", "x y"},
    };
    for (const auto& c : cases) EXPECT_EQ(KeepPrintable(c.in), c.out) << c.in;
}

TEST(Orodja, KeepAlphanumericKeepsLettersAndDigitsOnly) {
    const std::vector<TextCase> cases = {
        {" 12-AB_c\r", "12ABc"}, {"", ""}, {"SN: 0042\r\n", "SN0042"}, {"\xE9z9", "z9"},
    };
    for (const auto& c : cases) EXPECT_EQ(KeepAlphanumeric(c.in), c.out) << c.in;
}

TEST(Orodja, ZeroPaddedPadsOnlyForWidthsOneToFour) {
    struct Case {
        int32_t value, width;
        std::string out;
    };
    const std::vector<Case> cases = {
        {7, 3, "007"}, {1234, 3, "1234"}, {12, 5, "12"}, {12, 0, "12"}, {5, 4, "0005"}, {5, 1, "5"}, {0, 2, "00"},
    };
    for (const auto& c : cases) EXPECT_EQ(ZeroPadded(c.value, c.width), c.out) << c.value << "/" << c.width;
}

TEST(Crc, Crc8CheckValues) {
    struct Case {
        std::string bytes;
        uint8_t crc;
    };
    const std::vector<Case> cases = {
        {"123456789", 0x94}, {"\x12\x34\x56", 0x16}, {"abc", 0x60}, {"", 0x00},
        {"\x01", 0x97},      {"\x02", 0xB9},         {"\x80", 0xA2}, {"\xFF", 0x3C},
    };
    for (const auto& c : cases) EXPECT_EQ(Crc8(c.bytes), c.crc) << c.bytes;
}

TEST(Crc, HexFrameCrc8CheckValues) {
    struct Case {
        std::string hex;
        uint8_t crc;
    };
    const std::vector<Case> cases = {
        {"123456", 0x16}, {"ABCD", 0x3C}, {"abcd", 0x3C}, {"12345", 0x4A}, {"123", 0x77},
        {"1", 0xBA},      {"", 0x00},     {"00", 0x00},   {"48D143", 0x91},
        // A pair that is not hex counts as 0x00 and the rest is still taken.
        {"G11234", Crc8(std::string("\x00\x12\x34", 3))},
    };
    for (const auto& c : cases) EXPECT_EQ(HexFrameCrc8(c.hex), c.crc) << c.hex;
}

} // namespace
