// The Configuration page's arithmetic on its own: edit parsing, the multiturn preset's 16 bits,
// the new zero of "Set zero here" and the readings that stop it.
#include "ConfigurationRules.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

using namespace Configuration;

TEST(ConfigurationRules, AWholeNumberIsAnOptionalSignAndDecimalDigitsBetweenBlanks) {
    struct Row {
        const char* text;
        std::optional<int64_t> value; // empty: not a whole number
    };
    const Row rows[] = {
        {"1234", 1234},
        {"-5", -5},
        {"  42 ", 42},
        {"\t42\r\n", 42}, // every code up to the blank is trimmed
        {"+7", 7},
        {"-0", 0},
        {"007", 7},
        {"2147483648", 2147483648},
        {"4294967295", 4294967295},
        {"-2147483649", -2147483649},
        {"99999999999999999999999", int64_t{1} << 62}, // a number, out of every range
        {"-99999999999999999999999", -(int64_t{1} << 62)},
        {"abc", std::nullopt},
        {"", std::nullopt},
        {"   ", std::nullopt},
        {"12O", std::nullopt}, // a letter O for a zero
        {"O", std::nullopt},
        {"12abc", std::nullopt},
        {"1.5", std::nullopt},
        {"1,000", std::nullopt},
        {"0x10", std::nullopt},
        {"1e3", std::nullopt},
        {"1 2", std::nullopt},
        {"+", std::nullopt},
        {"-", std::nullopt},
        {"--5", std::nullopt},
        {"+-5", std::nullopt},
        {"- 5", std::nullopt},
        {"5-", std::nullopt},
    };
    for (const Row& row : rows)
        EXPECT_EQ(WholeNumber(QString::fromLatin1(row.text)), row.value) << '"' << row.text << '"';
    // Digits of other scripts and blanks beyond code 32 are not taken for what they look like.
    EXPECT_EQ(WholeNumber(QStringLiteral("\u0661\u0662")), std::nullopt);
    EXPECT_EQ(WholeNumber(QStringLiteral("\u00A012")), std::nullopt);
    EXPECT_EQ(WholeNumber(QStringLiteral("\uFF11")), std::nullopt);
}

TEST(ConfigurationRules, AnEditIsSentOnlyAsAWholeNumberWithinItsRange) {
    struct Row {
        const char* text;
        EditRange range;
        std::optional<int64_t> value; // empty: refused
        const char* refusal;          // the range-check message when refused
    };
    const Row rows[] = {
        {"4294967295", kRegisterRange, 4294967295, ""},
        {"2147483648", kRegisterRange, 2147483648, ""},
        {"0", kRegisterRange, 0, ""},
        {" 1000 ", kRegisterRange, 1000, ""},
        {"4294967296", kRegisterRange, std::nullopt,
         "Range check error: Offset 4294967296 is out of range: a whole number from 0 to 4294967295 is "
         "expected."},
        {"-5", kRegisterRange, std::nullopt,
         "Range check error: Offset -5 is out of range: a whole number from 0 to 4294967295 is expected."},
        {"abc", kRegisterRange, std::nullopt,
         "Range check error: Offset \"abc\" is not a whole number from 0 to 4294967295."},
        {"", kRegisterRange, std::nullopt,
         "Range check error: Offset \"\" is not a whole number from 0 to 4294967295."},
        {"300", kArcRange, 300, ""},
        {"2147483647", kArcRange, 2147483647, ""},
        {"2147483648", kArcRange, std::nullopt,
         "Range check error: Offset 2147483648 is out of range: a whole number from 0 to 2147483647 is "
         "expected."},
        {"-1", kMultiturnPresetRange, -1, ""},
        {"70000", kMultiturnPresetRange, 70000, ""},
        {"-2147483648", kMultiturnPresetRange, INT32_MIN, ""},
        {"-2147483649", kMultiturnPresetRange, std::nullopt,
         "Range check error: Offset -2147483649 is out of range: a whole number from -2147483648 to "
         "2147483647 is expected."},
        {"12O", kMultiturnPresetRange, std::nullopt,
         "Range check error: Offset \"12O\" is not a whole number from -2147483648 to 2147483647."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        QString refusal = QStringLiteral("left over");
        EXPECT_EQ(EditValue(QString::fromLatin1(row.text), row.range, QStringLiteral("Offset"), refusal),
                  row.value);
        EXPECT_EQ(refusal, QString::fromLatin1(row.refusal));
    }
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
        uint32_t offset; // the register's value as read
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
        {3 * k19Bits + 5, 0, k19Bits, 3}, // several turns away
        {0, 0, 1, 0},                     // one count per turn: everything is 0
        // The whole unsigned range of the register: an offset of 2^31 or more is a number of
        // turns plus a remainder like any other, and 2^32 is whole turns of any 2^n counts, so
        // 4294967286 sits where -10 would.
        {4294967286u, 0, k19Bits, 524276},
        {4294967295u, 0, k19Bits, 524285},
        {4294967295u, 524287, k19Bits, 524284},
        {2147483647u, 3, k19Bits, 0},
        {2147483648u, 2, 2097152, 0},
        {2147483648u, 50000, k19Bits, 49998},
        {0, 0xFFFFFFFFu, k19Bits, 524285},
        {0xFFFFFFFFu, 0xFFFFFFFFu, k19Bits, 524284},
    };
    for (const Row& row : rows) {
        const auto zero = NewZeroOffset(row.offset, row.reading, row.counts);
        ASSERT_TRUE(zero.has_value()) << row.offset << " + " << row.reading;
        EXPECT_EQ(*zero, row.zero) << row.offset << " + " << row.reading;
        EXPECT_GE(*zero, 0);
        EXPECT_LT(*zero, row.counts);
    }
}

TEST(ConfigurationRules, NewZeroNeedsARevolutionOfAtLeastOneCount) {
    EXPECT_FALSE(NewZeroOffset(100, 1, 0).has_value());
    EXPECT_FALSE(NewZeroOffset(100, 1, -1).has_value());
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

TEST(ConfigurationRules, AReadingIsABaseForANewZeroOnlyWhenItsOwnReadSucceededCleanly) {
    struct Row {
        const char* name;
        bool read;
        bool timeout, errorBit, crc;
        int32_t errComm;
        const char* reason;
        const char* problems; // empty: the reading may be used
    };
    const Row rows[] = {
        {"clean", true, false, false, false, 0, "", ""},
        {"clean, an earlier reason left behind", true, false, false, false, 0, "Access denied", ""},
        {"the encoder's own error", true, false, true, false, 0, "", "Error bit, "},
        // A lost reply: named by its flags, its reason is in the log.
        {"lost reply after a bad frame", false, false, false, true, -1, "USB Comm Err -1", "CRC, Comm, "},
        // A complete reply that could not be decoded leaves the flags of the reading before.
        {"undecodable frame", false, false, false, false, 0, "Invalid position frame\r\nsCmd: ?06:000",
         "Invalid position frame\r\nsCmd: ?06:000"},
        {"wrong-length report after a bad frame", false, false, false, true, 0, "Nepravilna",
         "CRC, Nepravilna"},
        {"failed without a reason", false, false, false, false, 0, "", "Reading failed"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(ReadingProblemsText(row.read, row.timeout, row.errorBit, row.crc, row.errComm,
                                      QString::fromLatin1(row.reason)),
                  QString::fromLatin1(row.problems))
            << row.name;
}

TEST(ConfigurationRules, FirstLineEndsAtTheFirstLineBreak) {
    EXPECT_EQ(FirstLine(QStringLiteral("Access denied\r\nsCmd: R:0004:00000000")),
              QStringLiteral("Access denied"));
    EXPECT_EQ(FirstLine(QStringLiteral("one\ntwo")), QStringLiteral("one"));
    EXPECT_EQ(FirstLine(QStringLiteral("one line")), QStringLiteral("one line"));
    EXPECT_EQ(FirstLine(QString()), QString());
}

} // namespace
