// The Debug page's marks, code-word label, window and bars.
#include "DebugPage.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

using Procedures::TDebugSamples;

namespace {

TEST(DebugMarks, StepsFromDecodSelect) {
    struct Row {
        int codeLength;
        int decodSelect;
        std::vector<int> samples;
    };
    const Row rows[] = {
        {8, 3, {3, 9, 15, 21, 27, 33, 39, 45}},
        {8, 0, {1, 6, 12, 18, 24, 30, 36, 42}},
        {8, 10, {}},
        {8, 255, {}}, // not delivered
        {5, 1, {1, 11, 21, 31, 41}},
        {9, 1, {1, 7, 13, 19, 25, 31, 37, 43, 49}},
        {9, 9, {9, 15, 21, 27, 33, 39, 45, 51}}, // the ninth would be sample 57: left out
        {0, 3, {}},
        {3, 4, {4, 4, 4}}, // a length outside the table steps by 0
    };
    for (const Row& row : rows)
        EXPECT_EQ(Procedures::SelectedSampleNumbers(row.codeLength, static_cast<uint8_t>(row.decodSelect)),
                  row.samples)
            << "L " << row.codeLength << " DecodSelect " << row.decodSelect;
}

TEST(DebugCodeWords, EachDigitFollowedByTheSpacer) {
    const std::string s13(13, ' ');
    EXPECT_EQ(Procedures::CodeWordsLabel(5, 0x15, 0), "1" + s13 + "0" + s13 + "1" + s13 + "0" + s13 + "1" +
                                                          s13 + "\r\n" + "0" + s13 + "0" + s13 + "0" + s13 +
                                                          "0" + s13 + "0" + s13);
    const std::string s9(9, ' ');
    EXPECT_EQ(Procedures::CodeWordsLabel(8, 0x1FF, 0x100),
              "1" + s9 + "1" + s9 + "1" + s9 + "1" + s9 + "1" + s9 + "1" + s9 + "1" + s9 + "1" + s9 +
                  "\r\n0" + s9 + "0" + s9 + "0" + s9 + "0" + s9 + "0" + s9 + "0" + s9 + "0" + s9 + "0" + s9);
    EXPECT_EQ(Procedures::CodeWordsLabel(4, 0xA, 0x5), "1010\r\n0101"); // no spacer outside the table
    EXPECT_EQ(Procedures::CodeWordsLabel(0, 0xA, 0x5), "\r\n");
}

TEST(DebugWindow, TaperedEndsFlatMiddle) {
    const auto w = Procedures::TukeyWindow(48);
    ASSERT_EQ(w.size(), 48u);
    // N = 50: the tapers reach up to n < 22.05 and from n > 26.95.
    for (int n = 1; n <= 48; ++n) {
        const float v = w[static_cast<size_t>(n - 1)];
        EXPECT_GT(v, 0.0f) << n;
        EXPECT_LE(v, 1.0f) << n;
        if (n >= 23 && n <= 26) {
            EXPECT_EQ(v, 1.0f) << n;
        }
    }
    EXPECT_LT(w[0], 0.01f);
    EXPECT_LT(w[21], 1.0f);
    EXPECT_LT(w[26], 1.0f);
    // The first value, computed in single precision from alpha held as a float.
    const double a = 0.9f;
    EXPECT_EQ(w[0], float((1 + std::cos(std::numbers::pi * (2.0 / (a * 49) - 1))) / 2));
    for (float v : Procedures::TukeyWindow(10, 0.0f))
        EXPECT_EQ(v, 1.0f);
}

TEST(DebugBars, SpectrumAroundTheCodeFrequency) {
    TDebugSamples zeros{};
    const auto none = Procedures::SpectrumBars(8, zeros);
    EXPECT_EQ(none.Left, 0);
    EXPECT_EQ(none.Center, 0);
    EXPECT_EQ(none.Right, 0);
    EXPECT_EQ(Procedures::BarTop(47, 316, none.Center), 363);

    // Samples 2 to 49 a cosine of 8 cycles per 48 samples, rounded to integers.
    TDebugSamples cosine{};
    for (int s = 2; s <= 49; ++s)
        cosine[static_cast<size_t>(s - 1)] =
            static_cast<int16_t>(std::nearbyint(1000 * std::cos(2 * std::numbers::pi * 8 * (s - 2) / 48)));
    const auto bars = Procedures::SpectrumBars(8, cosine);
    EXPECT_EQ(bars.Left, 245);
    EXPECT_EQ(bars.Center, 539);
    EXPECT_EQ(bars.Right, 245);
    // Taller than the 316-pixel background is allowed: the top goes above it.
    EXPECT_EQ(Procedures::BarTop(47, 316, bars.Center), 47 + 316 - 539);

    // Sample 1 and samples beyond M + 1 play no part.
    cosine[0] = 30000;
    cosine[50] = -30000;
    const auto same = Procedures::SpectrumBars(8, cosine);
    EXPECT_EQ(same.Center, 539);
    EXPECT_EQ(same.Left, 245);
}

TEST(DebugLayout, Table) {
    struct Row {
        int l, spacer, step, m;
    };
    const Row rows[] = {{5, 13, 10, 49}, {6, 11, 8, 48}, {7, 10, 7, 49},
                        {8, 9, 6, 48},   {9, 8, 6, 54},  {4, 0, 0, 49}};
    for (const Row& row : rows) {
        const auto layout = Procedures::DebugLayoutFor(row.l);
        EXPECT_EQ(layout.SpacerBlanks, row.spacer) << row.l;
        EXPECT_EQ(layout.Step, row.step) << row.l;
        EXPECT_EQ(layout.BarSamples, row.m) << row.l;
    }
}

} // namespace
