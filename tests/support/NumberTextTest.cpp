// Number texts with caller-given separators: one rounding to the tighter of significant digits
// and decimals, thousands groups, exponent form, and the program-wide separator setting.
#include "NumberText.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

const Orodja::TNumberSeparators kEnglish{".", ","};

TEST(NumberText, RoundsOnceToTheTighterLimit) {
    struct Row {
        double value;
        int precision, decimals;
        const char* text;
    };
    const Row rows[] = {
        {810.0, 6, 3, "810.000"},
        {1234.5678, 6, 3, "1,234.570"}, // six significant digits leave two decimals
        {-1234.5678, 6, 3, "-1,234.570"},
        {12.34549, 6, 3, "12.345"}, // rounding to 12.3455 first would give 12.346
        {-12.34549, 6, 3, "-12.345"},
        {1.2345, 3, 5, "1.23000"}, // here the digits are the tighter limit
        {0.0, 6, 3, "0.000"},
        {0.0004, 6, 3, "0.000"},
        {-0.0004, 6, 3, "0.000"}, // no minus in front of a zero
        {0.0005, 6, 3, "0.001"},
        {0.9999996, 6, 3, "1.000"}, // the carry reaches the integer part
        {999999.4, 6, 3, "999,999.000"},
        {123456.789, 6, 3, "123,457.000"},
        {1234567.0, 6, 3, "1.23457E+6"}, // more than six integer digits
        {-98765432.1, 6, 3, "-9.87654E+7"},
        {1e6, 6, 3, "1E+6"},
        {999999.7, 6, 3, "1E+6"}, // rounds up to seven integer digits
        {187.26, 5, 0, "187"},
        {12345.6, 5, 0, "12,346"},
        {123456.0, 5, 0, "1.2346E+5"},
        {10.0, 15, 4, "10.0000"},
        {-1234567.891, 15, 4, "-1,234,567.8910"},
        {std::numeric_limits<double>::quiet_NaN(), 6, 3, "NAN"},
        {std::numeric_limits<double>::infinity(), 6, 3, "INF"},
        {-std::numeric_limits<double>::infinity(), 6, 3, "-INF"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(Orodja::FormatNumber(row.value, row.precision, row.decimals, kEnglish), row.text);
    }
}

TEST(NumberText, FixedFormHasNoGroups) {
    EXPECT_EQ(Orodja::FormatFixed(40.73, 5, 1, "."), "40.7");
    EXPECT_EQ(Orodja::FormatFixed(-87.66, 5, 1, "."), "-87.7");
    EXPECT_EQ(Orodja::FormatFixed(1234.56, 5, 1, "."), "1234.6");
    EXPECT_EQ(Orodja::FormatFixed(1001.0, 10, 1, ","), "1001,0");
    EXPECT_EQ(Orodja::FormatFixed(1199.5, 6, 0, ","), "1200");
}

TEST(NumberText, SeparatorsAreTheCallersAndNeverClash) {
    EXPECT_EQ(Orodja::FormatNumber(1234567.891, 15, 4, {",", "."}), "1.234.567,8910");
    // A narrow no-break space as the group mark (UTF-8), as some locales have it.
    EXPECT_EQ(Orodja::FormatNumber(1234.5, 6, 1, {",", "\xE2\x80\xAF"}), "1\xE2\x80\xAF"
                                                                         "234,5");
    // The decimal comma switched on in an English locale: the groups take the full stop.
    EXPECT_EQ(Orodja::FormatNumber(1234.5678, 6, 3, {",", ","}), "1.234,570");
    EXPECT_EQ(Orodja::FormatNumber(1234567.0, 6, 3, {",", "."}), "1,23457E+6");
}

TEST(NumberText, OneProgramWideSettingWithTheFrontEndsDefaults) {
    Orodja::ClearNumberSeparatorSetting();
    const Orodja::TNumberSeparators slovenian{",", "."};
    EXPECT_EQ(Orodja::NumberSeparatorsOr(slovenian).Decimal, ",");
    Orodja::SetDecimalSeparatorSetting(".");
    EXPECT_EQ(Orodja::NumberSeparatorsOr(slovenian).Decimal, ".");
    EXPECT_EQ(Orodja::NumberSeparatorsOr(slovenian).Thousand, ".");
    EXPECT_EQ(Orodja::FormatNumber(1234.5, 6, 1, Orodja::NumberSeparatorsOr(slovenian)), "1,234.5");
    Orodja::SetThousandSeparatorSetting("'");
    EXPECT_EQ(Orodja::NumberSeparatorSetting().Thousand, "'");
    Orodja::ClearNumberSeparatorSetting();
    EXPECT_EQ(Orodja::NumberSeparatorsOr(slovenian).Decimal, ",");
    EXPECT_EQ(Orodja::NumberSeparatorSetting().Decimal, "");
}

} // namespace
