// The reading's arithmetic and texts on their own: number formatting with the program-wide
// separators, status-word names of both maps, temperature estimates, the air-gap model and its
// calibration, the air-gap point rule and the export's file names.
#include "NumberFormat.h"
#include "ReadingRules.h"

#include <QString>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

// English separators for every case, and the user's own back afterwards.
class EnglishSeparators : public ::testing::Test {
protected:
    void SetUp() override {
        Orodja::SetDecimalSeparator(QLatin1Char('.'));
        Orodja::SetThousandSeparator(QLatin1Char(','));
    }
    void TearDown() override { Orodja::ResetNumberSeparators(); }
};

using NumberFormat = EnglishSeparators;

TEST_F(NumberFormat, SixSignificantDigitsThenThreeDecimalsWithGroups) {
    struct Row {
        double value;
        const char* text;
    };
    const Row rows[] = {
        {810.0, "810.000"},
        {1234.5678, "1,234.570"}, // six significant digits leave two decimals, padded to three
        {-1234.5678, "-1,234.570"},
        {0.0, "0.000"},
        {0.0004, "0.000"},
        {-0.0004, "0.000"}, // no minus in front of a zero
        {0.0005, "0.001"},
        {0.12345678, "0.123"},
        {0.9999996, "1.000"}, // the rounding carries into the integer part
        {12.34549, "12.345"}, // one rounding: to 12.3455 first and then to 12.346 would be two
        {999999.4, "999,999.000"},
        {123456.789, "123,457.000"},
        {1234567.0, "1.23457E+6"}, // more than six integer digits
        {-98765432.1, "-9.87654E+7"},
        {1e6, "1E+6"},
        {999999.7, "1E+6"}, // rounds up to seven integer digits
        {std::numeric_limits<double>::quiet_NaN(), "NAN"},
        {-std::numeric_limits<double>::infinity(), "-INF"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(Orodja::FormatNumber(row.value, 6, 3), QString::fromLatin1(row.text));
    }
}

TEST_F(NumberFormat, OtherPrecisionsAndFixedForm) {
    EXPECT_EQ(Orodja::FormatNumber(187.26, 5, 0), QStringLiteral("187"));
    EXPECT_EQ(Orodja::FormatNumber(-0.3f, 5, 0), QStringLiteral("0"));
    EXPECT_EQ(Orodja::FormatNumber(12345.6, 5, 0), QStringLiteral("12,346"));
    EXPECT_EQ(Orodja::FormatNumber(123456.0, 5, 0), QStringLiteral("1.2346E+5"));
    EXPECT_EQ(Orodja::FormatFixed(40.73, 5, 1), QStringLiteral("40.7"));
    EXPECT_EQ(Orodja::FormatFixed(-87.66, 5, 1), QStringLiteral("-87.7"));
    EXPECT_EQ(Orodja::FormatFixed(1234.56, 5, 1), QStringLiteral("1234.6")); // no groups
}

TEST_F(NumberFormat, SeparatorsAreOneSettingForTheWholeProgram) {
    Orodja::SetDecimalSeparator(QLatin1Char(','));
    Orodja::SetThousandSeparator(QLatin1Char('.'));
    EXPECT_EQ(Orodja::FormatNumber(1234.5678, 6, 3), QStringLiteral("1.234,570"));
    EXPECT_EQ(Orodja::FormatFixed(40.73, 5, 1), QStringLiteral("40,7"));
    EXPECT_EQ(Orodja::FormatNumber(1234567.0, 6, 3), QStringLiteral("1,23457E+6"));
    EXPECT_EQ(Reading::PositionUnitText(810.0, QStringLiteral("deg")), QStringLiteral("810,000 deg"));

    // A decimal comma in an English locale: the groups must not look like decimals.
    Orodja::SetThousandSeparator(QLatin1Char(','));
    EXPECT_EQ(Orodja::FormatNumber(1234.5678, 6, 3), QStringLiteral("1.234,570"));

    Orodja::SetDecimalSeparator(QLatin1Char('.'));
    EXPECT_EQ(Orodja::FormatNumber(1234.5678, 6, 3), QStringLiteral("1,234.570"));
}

TEST(StatusText, LegacyMapNamesBitsAndPairs) {
    struct Row {
        uint16_t status;
        const char* text;
    };
    const Row rows[] = {
        {0x0000, ""},
        {0x0202, "Error Magnetic pattern\r\n"},
        {0x0200, ""}, // bits 9, 8, 1, 0 name nothing alone
        {0x0103, "Warning Magnetic Pattern\r\nWarning High Speed\r\n"},
        {0x0301, "Error Acceleration\r\nWarning High Speed\r\n"},
        {0x8008, "Error Multiturn\r\nError Poiwer\r\n"},
        {0x00F4, "Warning Signal High\r\nWarning Signal Low\r\nError Signal Lost\r\nWarning "
                 "Temperature\r\nError System\r\n"},
        {0x7C00, "Error Signal Clipping\r\nWarning Signal High 2\r\nError Sensor\r\nError SSync\r\nError "
                 "Configuration\r\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.status);
        EXPECT_EQ(Reading::StatusText(row.status, 2), QString::fromLatin1(row.text));
    }
    // Every pair of the legacy map at once, in table order.
    EXPECT_EQ(Reading::StatusText(0x0303, 2),
              QStringLiteral("Error Magnetic pattern\r\nWarning Magnetic Pattern\r\nError Acceleration\r\n"
                             "Warning High Speed\r\n"));
}

TEST(StatusText, NewMapNamesEveryBitInOrder) {
    EXPECT_EQ(Reading::StatusText(0x8001, 4), QStringLiteral("Warning 8000\r\nError 0001\r\n"));
    EXPECT_EQ(Reading::StatusText(0x0202, 4), QStringLiteral("Error Multiturn\r\nError 0002\r\n"));
    const QString all = Reading::StatusText(0xFFFF, 4);
    EXPECT_EQ(all.count(QStringLiteral("\r\n")), 16);
    EXPECT_TRUE(
        all.startsWith(QStringLiteral("Warning 8000\r\nWarning Temperature\r\nWarning Signal Low\r\n")));
    EXPECT_TRUE(
        all.endsWith(QStringLiteral("Error Power\r\nError Configuration\r\nError 0002\r\nError 0001\r\n")));
}

TEST(StatusText, UnknownRegisterLengthNamesNothing) {
    for (int length : {0, 1, 3, 8})
        EXPECT_EQ(Reading::StatusText(0xFFFF, length), QString()) << length;
}

TEST(Temperature, EstimatesOnlyInsideTheDividerRange) {
    const auto mid = Reading::ExtTemperatureEstimates(1023);
    ASSERT_TRUE(mid.has_value());
    EXPECT_NEAR(mid->Thermistor, 40.73, 0.01);
    EXPECT_NEAR(mid->Polynomial, 41.2, 0.05);
    for (int16_t raw : {int16_t(0), int16_t(2047), int16_t(2048), int16_t(-5), int16_t(32767)})
        EXPECT_FALSE(Reading::ExtTemperatureEstimates(raw).has_value()) << raw;
    // The ends of the range stay finite: no division by zero, no logarithm of zero.
    for (int16_t raw : {int16_t(1), int16_t(2046)}) {
        const auto t = Reading::ExtTemperatureEstimates(raw);
        ASSERT_TRUE(t.has_value());
        EXPECT_TRUE(std::isfinite(t->Thermistor) && std::isfinite(t->Polynomial)) << raw;
    }
    // A hotter thermistor pulls the divider lower.
    EXPECT_GT(Reading::ExtTemperatureEstimates(500)->Thermistor,
              Reading::ExtTemperatureEstimates(1500)->Thermistor);
}

TEST_F(EnglishSeparators, TemperatureLabelTexts) {
    EXPECT_EQ(Reading::TemperatureText(1023, 35),
              QString::fromUtf8("Temperature EXT: 1023 (40.7 / 41.2 °C)\r\nTemperature SEN: 35"));
    EXPECT_EQ(Reading::TemperatureText(0, -12), QStringLiteral("Temperature SEN: -12"));
    EXPECT_EQ(Reading::TemperatureText(2047, 40), QStringLiteral("Temperature SEN: 40"));
}

TEST_F(EnglishSeparators, AirGapModelAndOffsetCalibration) {
    const float k = -71.619728f, n = 682.0f;
    const float gap = Reading::AirGapFromSignalLevel(1000, k, n);
    EXPECT_NEAR(gap, 187.3f, 0.05f);
    EXPECT_EQ(Reading::SignalLevelText(1000, gap), QStringLiteral("Signal level: 1000 / 187 um"));

    // Level 0 has no logarithm: the gap is 0 whatever the model.
    EXPECT_EQ(Reading::AirGapFromSignalLevel(0, k, n), 0.0f);
    EXPECT_EQ(Reading::SignalLevelText(0, 0.0f), QStringLiteral("Signal level: 0 / 0 um"));
    EXPECT_EQ(Reading::AirGapFromSignalLevel(1, k, n), n);
    EXPECT_EQ(Reading::AirGapFromSignalLevel(1000, 0.0f, 0.0f), 0.0f);

    const float calibrated = Reading::CalibratedAirGapN(n, gap);
    EXPECT_EQ(Reading::AirGapNMessage(calibrated), QStringLiteral("AirGap N = 495"));
    const float after = Reading::AirGapFromSignalLevel(1000, k, calibrated);
    EXPECT_NEAR(after, 0.0f, 1e-3f);
    EXPECT_EQ(Reading::SignalLevelText(1000, after), QStringLiteral("Signal level: 1000 / 0 um"));
}

TEST(AirGapNMessage, RoundsHalvesToEven) {
    EXPECT_EQ(Reading::AirGapNMessage(494.5f), QStringLiteral("AirGap N = 494"));
    EXPECT_EQ(Reading::AirGapNMessage(495.5f), QStringLiteral("AirGap N = 496"));
    EXPECT_EQ(Reading::AirGapNMessage(-2.5f), QStringLiteral("AirGap N = -2"));
    EXPECT_EQ(Reading::AirGapNMessage(-0.2f), QStringLiteral("AirGap N = 0"));
}

TEST(AirGapPoint, DueOnlyAfterAMoveOfMoreThanATenth) {
    const double none = std::numeric_limits<double>::quiet_NaN();
    EXPECT_TRUE(Reading::AirGapPointDue(10.0, none)); // the first point of a fresh curve
    EXPECT_FALSE(Reading::AirGapPointDue(10.0, 10.0));
    EXPECT_FALSE(Reading::AirGapPointDue(10.05, 10.0));
    EXPECT_FALSE(Reading::AirGapPointDue(10.1, 10.0));
    EXPECT_TRUE(Reading::AirGapPointDue(10.2, 10.0));
    EXPECT_TRUE(Reading::AirGapPointDue(9.8, 10.0)); // either direction
    EXPECT_TRUE(Reading::AirGapPointDue(370.0, 10.0));
}

TEST(ExportNames, ProposalAndForcedExtension) {
    EXPECT_EQ(Reading::ExportProposedName("AB12.3"), QStringLiteral("Air gap AB12"));
    EXPECT_EQ(Reading::ExportProposedName("AB123"), QStringLiteral("Air gap AB123"));
    EXPECT_EQ(Reading::ExportProposedName("A.B.C"), QStringLiteral("Air gap A.B"));
    EXPECT_EQ(Reading::ExportProposedName(""), QStringLiteral("Air gap "));
    // A serial is printable text from the encoder; it must not lead the file elsewhere.
    EXPECT_EQ(Reading::ExportProposedName("AB/12"), QStringLiteral("Air gap AB_12"));
    EXPECT_EQ(Reading::ExportProposedName("a\\b:c*"), QStringLiteral("Air gap a_b_c_"));

    EXPECT_EQ(Reading::WithPngExtension(QStringLiteral("/tmp/test")), QStringLiteral("/tmp/test.png"));
    EXPECT_EQ(Reading::WithPngExtension(QStringLiteral("/tmp/test.jpg")), QStringLiteral("/tmp/test.png"));
    EXPECT_EQ(Reading::WithPngExtension(QStringLiteral("/tmp/test.png")), QStringLiteral("/tmp/test.png"));
    EXPECT_EQ(Reading::WithPngExtension(QStringLiteral("/tmp/a.b/test")),
              QStringLiteral("/tmp/a.b/test.png"));
    EXPECT_EQ(Reading::WithPngExtension(QStringLiteral("/tmp/Air gap AB12.3")),
              QStringLiteral("/tmp/Air gap AB12.png"));
}

} // namespace
