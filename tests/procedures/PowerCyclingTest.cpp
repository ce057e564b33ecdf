// The power-cycling test's logic: pauses, step order, the jump checks and their log lines.
#include "PowerCycling.h"

#include <gtest/gtest.h>

#include <random>

using Procedures::TPowerCycleState;
using Procedures::TPowerCycleStep;

namespace {

const Orodja::TNumberSeparators kEnglish{".", ","};

TEST(PowerCycleDelay, FromTheMinimumUpToButNotIncludingTheMaximum) {
    std::mt19937 generator(12345);
    struct Row {
        int min, max, low, high; // every pause in [low, high], both reached
    };
    const Row rows[] = {{150, 400, 150, 399}, {400, 150, 150, 399}, {10, 11, 10, 10}, {200, 200, 200, 200}};
    for (const Row& row : rows) {
        int seenLow = row.high, seenHigh = row.low;
        for (int i = 0; i < 5000; ++i) {
            const int pause = Procedures::RandomDelayMs(row.min, row.max, generator);
            ASSERT_GE(pause, row.low) << row.min << ".." << row.max;
            ASSERT_LE(pause, row.high) << row.min << ".." << row.max;
            seenLow = std::min(seenLow, pause);
            seenHigh = std::max(seenHigh, pause);
        }
        EXPECT_EQ(seenLow, row.low) << row.min << ".." << row.max;
        EXPECT_EQ(seenHigh, row.high) << row.min << ".." << row.max;
    }
}

// How many checks a run of count N makes, stepping as the timer does.
int ChecksOfARun(long long count, bool powerOnStatus) {
    int checks = 0;
    for (int guard = 0; guard < 1000; ++guard) {
        switch (Procedures::NextPowerCycleStep(count, powerOnStatus)) {
        case TPowerCycleStep::Stop:
            return checks;
        case TPowerCycleStep::CheckAndSwitchOff:
            ++checks;
            powerOnStatus = false;
            break;
        case TPowerCycleStep::SwitchOnAndCount:
            powerOnStatus = true;
            --count;
            break;
        }
    }
    return -1;
}

TEST(PowerCycleSteps, ARunThatStartsPoweredChecksEveryCycle) {
    EXPECT_EQ(ChecksOfARun(3, true), 3);
    EXPECT_EQ(ChecksOfARun(3, false), 2); // the first run after program start
    EXPECT_EQ(ChecksOfARun(0, true), 0);
    EXPECT_EQ(Procedures::NextPowerCycleStep(0, false), TPowerCycleStep::Stop);
}

TEST(PowerCycleChecks, AtRestMoreThanTwoEitherWay) {
    struct Row {
        double oldPosition, newPosition;
        const char* line; // "" for none
    };
    const Row rows[] = {
        {10, 7.9, "Position jump < 2\xC2\xB0! (10.0000 -> 7.9000) [4999]"},
        {10, 8.0, ""},
        {10, 12.0, ""},
        {10, 12.00001, "Position jump > 2\xC2\xB0! (10.0000 -> 12.0000) [4999]"},
        {-1, -1234.56789, "Position jump < 2\xC2\xB0! (-1.0000 -> -1,234.5679) [4999]"},
    };
    for (const Row& row : rows) {
        TPowerCycleState state;
        Procedures::StartPowerCycleRun(state, row.oldPosition);
        const auto lines = Procedures::PowerCycleCheck(state, true, row.newPosition, 4999, kEnglish);
        if (*row.line == 0) {
            EXPECT_TRUE(lines.empty()) << row.newPosition;
        } else {
            ASSERT_EQ(lines.size(), 1u) << row.newPosition;
            EXPECT_EQ(lines[0], row.line);
        }
        EXPECT_EQ(state.EncPosDegOldMTtest, row.newPosition);
    }
}

TEST(PowerCycleChecks, MovingFindsTheDirectionThenReverseAndBeyondSeventy) {
    TPowerCycleState state;
    state.CikliranjeSmer = -1;
    state.CikliranjeSmerInit = false;
    Procedures::StartPowerCycleRun(state, 10);
    EXPECT_TRUE(state.CikliranjeSmerInit);

    EXPECT_TRUE(Procedures::PowerCycleCheck(state, false, 50, 3, kEnglish).empty());
    EXPECT_EQ(state.CikliranjeSmer, 1.0);
    EXPECT_FALSE(state.CikliranjeSmerInit);

    auto lines = Procedures::PowerCycleCheck(state, false, 45, 2, kEnglish);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "Position jump reverse! (50.0000 -> 45.0000) [2]");

    lines = Procedures::PowerCycleCheck(state, false, 120, 1, kEnglish);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "Position jump > 70\xC2\xB0! (45.0000 -> 120.0000) [1]");

    EXPECT_TRUE(Procedures::PowerCycleCheck(state, false, 190, 0, kEnglish).empty()); // exactly 70
}

TEST(PowerCycleChecks, MovingBackwardsCountsInTheDirectionOfRotation) {
    TPowerCycleState state;
    Procedures::StartPowerCycleRun(state, 200);
    EXPECT_TRUE(Procedures::PowerCycleCheck(state, false, 200, 9, kEnglish).empty()); // no rise: -1
    EXPECT_EQ(state.CikliranjeSmer, -1.0);
    EXPECT_TRUE(Procedures::PowerCycleCheck(state, false, 150, 8, kEnglish).empty());
    EXPECT_TRUE(Procedures::PowerCycleCheck(state, false, 100, 8, kEnglish).empty());
    const auto lines = Procedures::PowerCycleCheck(state, false, 20, 7, kEnglish);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "Position jump > 70\xC2\xB0! (100.0000 -> 20.0000) [7]");
    const auto back = Procedures::PowerCycleCheck(state, false, 21, 6, kEnglish);
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].rfind("Position jump reverse! (", 0), 0u);
}

TEST(PowerCycleChecks, DifferencesAreTakenTheShortestWayRound) {
    struct Row {
        double oldPosition, newPosition, range, difference;
    };
    const Row rows[] = {
        {359.9959, 0.0014, 360, 0.0055},
        {0.0014, 359.9959, 360, -0.0055},
        {350, 10, 360, 20},
        {10, 350, 360, -20},
        {10, 7.9, 360, -2.1},
        {0, 180, 360, -180},  // half a turn either way: one of the two, consistently
        {720.5, 0.5, 360, 0}, // a whole turn apart is the same place
        // Multiturn: 2^18 counts x 2^16 turns at 1 count per unit, across the end of the range.
        {17179869183.0, 2.0, 17179869184.0, 3},
        // The user's resolution scales the circle: counts of 0.5 units.
        {131071.5, 0.5, 131072.0, 1},
        {10, 350, 0, 340}, // no range: plain numbers
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.oldPosition) + " -> " + std::to_string(row.newPosition));
        EXPECT_NEAR(Procedures::CircularDifference(row.oldPosition, row.newPosition, row.range),
                    row.difference, 1e-9);
    }
    // At rest on zero: no jump either way; turning across zero in the found direction: none.
    EXPECT_TRUE(Procedures::AtRestJumps(359.9959, 0.0014, 360).empty());
    EXPECT_TRUE(Procedures::AtRestJumps(0.0014, 359.9959, 360).empty());
    TPowerCycleState state;
    Procedures::StartPowerCycleRun(state, 300);
    EXPECT_TRUE(Procedures::PowerCycleCheck(state, false, 350, 3, kEnglish, 360).empty());
    EXPECT_TRUE(Procedures::PowerCycleCheck(state, false, 20, 2, kEnglish, 360).empty());
    const auto lines = Procedures::PowerCycleCheck(state, false, 10, 1, kEnglish, 360);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "Position jump reverse! (20.0000 -> 10.0000) [1]");
    Procedures::StartPowerCycleRun(state, 10);
    EXPECT_TRUE(Procedures::PowerCycleCheck(state, false, 340, 3, kEnglish, 360).empty()); // direction -1
    EXPECT_EQ(state.CikliranjeSmer, -1.0);
}

TEST(PowerCycleLines, StartLineAndTheCallersSeparators) {
    EXPECT_EQ(Procedures::PowerCycleStartLine(5000), "Cikliranje start 5000x");
    EXPECT_STREQ(Procedures::kPowerCycleStopLine, "Cikliranje stop");
    EXPECT_EQ(
        Procedures::PositionJumpLine(Procedures::TPositionJump::RiseAtRest, 1234.5, 1240.25, 12, {",", "."}),
        "Position jump > 2\xC2\xB0! (1.234,5000 -> 1.240,2500) [12]");
    EXPECT_EQ(Procedures::PowerCyclePosition(123456789.123456, kEnglish), "123,456,789.1235");
}

} // namespace
