// The position-noise test: statistics in population form over single-precision samples, the
// memo's lines with decimal commas, the clipboard line, the percent caption, and an acquisition
// that ends early.
#include "NoiseTest.h"

#include <gtest/gtest.h>

using Procedures::TNoiseAcquisition;

namespace {

// A whole run: `position(i)` for reading i (1-based), signal level `level` on every reading.
template <class Position>
TNoiseAcquisition Acquire(int readings, Position position, uint16_t level, int planned = 5000) {
    TNoiseAcquisition acquisition(planned);
    for (int i = 1; i <= readings && !acquisition.Complete(); ++i)
        acquisition.AddReading(position(i), level);
    return acquisition;
}

std::vector<std::string> Lines(std::initializer_list<const char*> lines) {
    return {lines.begin(), lines.end()};
}

TEST(NoiseStatistics, AllSamplesEqual) {
    const auto run = Acquire(
        5000, [](int) { return 1000u; }, 1200);
    ASSERT_TRUE(run.Complete());
    EXPECT_EQ(Procedures::NoiseReportLines(run.Statistics()),
              Lines({"vzorcev:\t5000", "minn:\t1000,0", "maxx:\t1000,0", "raztros:\t0,0",
                     "povprecje:\t1000,0", "6 sigma:\t0,0", "Sig Lvl:\t1200", "", "1200\t0,0"}));
    EXPECT_EQ(Procedures::NoiseClipboardText(run.Statistics()), "1200\t0,0\r\n");
    EXPECT_EQ(Procedures::NoiseReportText(run.Statistics()),
              "vzorcev:\t5000\r\nminn:\t1000,0\r\nmaxx:\t1000,0\r\nraztros:\t0,0\r\npovprecje:\t1000,0\r\n"
              "6 sigma:\t0,0\r\nSig Lvl:\t1200\r\n\r\n1200\t0,0\r\n");
}

TEST(NoiseStatistics, AlternatingSamplesGiveOneCountOfDeviation) {
    const auto run = Acquire(
        5000, [](int i) { return i % 2 ? 1000u : 1002u; }, 1200);
    const auto s = run.Statistics();
    EXPECT_DOUBLE_EQ(s.Mean, 1001.0);
    EXPECT_DOUBLE_EQ(s.StandardDeviation, 1.0); // population form: divided by N
    const auto lines = Procedures::NoiseReportLines(s);
    EXPECT_EQ(lines[3], "raztros:\t2,0");
    EXPECT_EQ(lines[4], "povprecje:\t1001,0");
    EXPECT_EQ(lines[5], "6 sigma:\t6,0");
    EXPECT_EQ(Procedures::NoiseClipboardText(s), "1200\t6,0\r\n");
}

TEST(NoiseStatistics, SamplesAreSinglePrecision) {
    // 16777217 has no single-precision value of its own; it becomes 16777216.
    const auto s = Acquire(
                       10, [](int) { return 16777217u; }, 0, 10)
                       .Statistics();
    EXPECT_EQ(s.Minimum, 16777216.0f);
    EXPECT_EQ(Procedures::NoiseReportLines(s)[1], "minn:\t16777216,0");
}

TEST(NoiseAcquisition, EveryHundredthReadingReadsTheSignalLevel) {
    TNoiseAcquisition acquisition(5000);
    int due = 0;
    uint16_t level = 0;
    for (int i = 1; i <= 5000; ++i) {
        const bool isDue = acquisition.SignalLevelDue();
        EXPECT_EQ(isDue, i % 100 == 0) << i;
        due += isDue;
        // Only the due readings' levels count, whatever the others leave behind.
        level = isDue ? 1200 : static_cast<uint16_t>(i);
        acquisition.AddReading(1000, level);
        if (i == 1) {
            EXPECT_EQ(acquisition.Caption(), "0 %");
        } else if (i == 100) {
            EXPECT_EQ(acquisition.Caption(), "2 %");
        } else if (i == 125) {
            EXPECT_EQ(acquisition.Caption(), "3 %"); // 126 x 100 / 5000 = 2.52
        }
    }
    EXPECT_EQ(due, 50);
    EXPECT_TRUE(acquisition.Complete());
    EXPECT_EQ(acquisition.Caption(), "100 %");
    EXPECT_EQ(Procedures::NoiseReportLines(acquisition.Statistics())[6], "Sig Lvl:\t1200");
}

TEST(NoiseAcquisition, CaptionRoundsHalfToEven) {
    EXPECT_EQ(Procedures::NoisePercentCaption(125, 5000), "2 %"); // 2.5
    EXPECT_EQ(Procedures::NoisePercentCaption(175, 5000), "4 %"); // 3.5
    EXPECT_EQ(Procedures::NoisePercentCaption(5001, 5000), "100 %");
}

// A failed reading after 1234 samples: the figures cover those 1234 and the twelve hundredth
// readings among them, not 5000 samples of which 3766 are zeros nobody measured.
TEST(NoiseAcquisition, AnEarlyEndCoversTheSamplesTaken) {
    const auto run = Acquire(
        1234, [](int i) { return i % 2 ? 1000u : 1002u; }, 1200);
    EXPECT_FALSE(run.Complete());
    EXPECT_EQ(run.Taken(), 1234);
    const auto s = run.Statistics();
    EXPECT_EQ(s.Samples, 1234);
    EXPECT_EQ(s.SignalLevelReadings, 12);
    EXPECT_EQ(Procedures::NoiseReportLines(s),
              Lines({"vzorcev:\t1234", "minn:\t1000,0", "maxx:\t1002,0", "raztros:\t2,0",
                     "povprecje:\t1001,0", "6 sigma:\t6,0", "Sig Lvl:\t1200", "", "1200\t6,0"}));

    // Ended before the hundredth reading: no signal level measured, which is not a level of 0.
    const auto shortRun = Acquire(
                              99, [](int) { return 7u; }, 1200)
                              .Statistics();
    EXPECT_EQ(shortRun.SignalLevelReadings, 0);
    EXPECT_EQ(Procedures::NoiseReportLines(shortRun)[6], "Sig Lvl:\tn/a");
    EXPECT_EQ(Procedures::NoiseReportLines(shortRun)[8], "\t0,0");
    EXPECT_EQ(Procedures::NoiseReportLines(shortRun)[1], "minn:\t7,0");

    // Not even one sample.
    EXPECT_EQ(Procedures::NoiseReportLines(TNoiseAcquisition(5000).Statistics()),
              Lines({"vzorcev:\t0", "minn:\t0,0", "maxx:\t0,0", "raztros:\t0,0", "povprecje:\t0,0",
                     "6 sigma:\t0,0", "Sig Lvl:\tn/a", "", "\t0,0"}));
}

// At rest on the zero crossing the samples straddle the end of the turn: unwrapped around the
// first one, the spread is the noise, not the whole turn; minimum, maximum and mean are shown on
// the turn again.
TEST(NoiseAcquisition, SamplesOnTheZeroCrossingAreUnwrapped) {
    constexpr uint32_t kTurn = 262144;
    struct Case {
        const char* name;
        std::vector<uint32_t> positions;
        double minimum, maximum, spread, mean;
    };
    const std::vector<Case> cases = {
        {"first below zero", {262143, 1, 262142, 2}, 262142, 2, 4, 0},
        {"first above zero", {1, 262143, 2, 262142}, 262142, 2, 4, 0},
        {"mean below zero", {262143, 262142, 0, 262141}, 262141, 0, 3, 262142.5},
        {"away from zero, as plain numbers", {1000, 1002, 1000, 1002}, 1000, 1002, 2, 1001},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TNoiseAcquisition acquisition(static_cast<int>(c.positions.size()));
        for (uint32_t p : c.positions)
            acquisition.AddReading(p, std::nullopt, kTurn);
        const auto s = acquisition.Statistics();
        EXPECT_EQ(s.Minimum, c.minimum);
        EXPECT_EQ(s.Maximum, c.maximum);
        EXPECT_EQ(s.Spread(), c.spread);
        EXPECT_DOUBLE_EQ(s.Mean, c.mean);
        EXPECT_LT(s.SixSigma(), 6 * 2.5);
    }
    // Without a known turn the samples stay as they came: the old, wrong spread.
    TNoiseAcquisition plain(2);
    plain.AddReading(262143, std::nullopt);
    plain.AddReading(1, std::nullopt);
    EXPECT_EQ(plain.Statistics().Spread(), 262142);
}

} // namespace
