// The Configuration page's arithmetic on its own: edit parsing, the multiturn preset's 16 bits,
// the new zero of "Set zero here" and the faults that stop it.
#include "ConfigurationRules.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

using namespace Configuration;

TEST(ConfigurationRules, EditTextIsASigned32BitDecimalWithZeroForAnythingElse) {
    struct Row {
        const char* text;
        int32_t value;
    };
    const Row rows[] = {
        {"1234", 1234},
        {"-5", -5},
        {"  42 ", 42},
        {"+7", 7},
        {"abc", 0},
        {"", 0},
        {"12abc", 0},
        {"1.5", 0},
        {"0x10", 0},
        {"2147483647", 2147483647},
        {"-2147483648", INT32_MIN},
        {"2147483648", 0},
        {"4294967295", 0},
        {"1 2", 0},
    };
    for (const Row& row : rows)
        EXPECT_EQ(EditValue(QString::fromLatin1(row.text)), row.value) << '"' << row.text << '"';
}

TEST(ConfigurationRules, MultiturnPresetKeepsTheLow16Bits) {
    const std::pair<int32_t, uint16_t> rows[] = {{0, 0},     {70000, 4464}, {-1, 65535},   {65535, 65535},
                                                 {65536, 0}, {-65536, 0},   {INT32_MIN, 0}};
    for (const auto& [typed, preset] : rows)
        EXPECT_EQ(MultiturnPresetValue(typed), preset) << typed;
}

TEST(ConfigurationRules, NewZeroIsTwoCountsBeforeTheReadingWithinOneRevolution) {
    constexpr int32_t k19Bits = 524288;
    struct Row {
        int32_t offset;
        uint32_t reading;
        int32_t counts;
        int32_t zero;
    };
    const Row rows[] = {
        {100, 1, k19Bits, 99},
        {0, 0, k19Bits, 524286},           // one below zero wraps to the top of the turn
        {524287, 524287, k19Bits, 524284}, // past the top wraps down
        {0, 2, k19Bits, 0},
        {0, 1, k19Bits, 524287},
        {-10, 0, k19Bits, 524276},        // an offset typed as negative is taken as it stands
        {3 * k19Bits + 5, 0, k19Bits, 3}, // several turns away
        {-3 * k19Bits - 5, 0, k19Bits, 524281},
        {0, 0, 1, 0}, // one count per turn: everything is 0
        {INT32_MAX, 2, k19Bits, INT32_MAX % k19Bits},
        {INT32_MIN, 2, 2097152, 0},
    };
    for (const Row& row : rows) {
        const auto zero = NewZeroOffset(row.offset, row.reading, row.counts);
        ASSERT_TRUE(zero.has_value()) << row.offset << " + " << row.reading;
        EXPECT_EQ(*zero, row.zero) << row.offset << " + " << row.reading;
        EXPECT_GE(*zero, 0);
        EXPECT_LT(*zero, row.counts);
    }
}

TEST(ConfigurationRules, NewZeroOutsideSigned32BitsIsARangeError) {
    EXPECT_FALSE(NewZeroOffset(INT32_MAX, 3, 524288).has_value());
    EXPECT_FALSE(NewZeroOffset(0, 0xFFFFFFFFu, 524288).has_value());
    EXPECT_FALSE(NewZeroOffset(INT32_MIN, 0, 524288).has_value());
    EXPECT_FALSE(NewZeroOffset(100, 1, 0).has_value()) << "no revolution to reduce into";
}

TEST(ConfigurationRules, ReadingFaultsAreNamedInTheirOrderEachWithATrailingSeparator) {
    struct Row {
        bool timeout, errorBit, crc;
        int32_t errComm;
        const char* text;
    };
    const Row rows[] = {
        {false, false, false, 0, ""},
        {false, false, true, -1, "CRC, Comm, "},
        {true, false, true, 0, "Timeout, CRC, "},
        {false, true, false, 0, "Error bit, "},
        {false, false, false, -5, "Comm, "},
        {false, false, false, 1, "Comm, "},
        {true, true, true, -1, "Timeout, Error bit, CRC, Comm, "},
    };
    for (const Row& row : rows)
        EXPECT_EQ(ReadingFaultsText(row.timeout, row.errorBit, row.crc, row.errComm),
                  QString::fromLatin1(row.text));
}

} // namespace
