// The procedures' step machines driven by a scripted traffic: which step meets which failure is
// the script's, what the run makes of it (lines, counts, verdict, how it ended) is the engine's.
// The same machines run in the window and in tarvo-cli; their own tests drive them through the
// real simulator.
#include "NoiseTest.h"
#include "PowerCycleRun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

using namespace Procedures;

namespace {

// What the traffic answers. A failure kind is either a failure that leaves the link (an ERROR
// line, garbage, a bad CRC, a refused command: each arrives as a failed reading or command with
// its reason) or one that loses it.
enum class TFault { None, Fails, Lost };

class TScriptedTraffic : public TProcedureTraffic {
public:
    // The position of each successful reading, in order; the last repeats.
    std::vector<double> positions{100.0};
    double range = 360.0;
    // Faults by the index (0-based) of the reading, supply command or signal-level read.
    std::map<int, TFault> readingFaults, supplyFaults, levelFaults;
    bool hasSignalLevel = true;
    std::vector<std::string> traffic; // "read", "n", "f", "level"

    TReading TakeReading() override {
        const int index = readings_++;
        traffic.push_back("read");
        TReading r;
        Fill(r, Fault(readingFaults, index), "CRC error (ERROR command failed)");
        const double p = positions[std::min<size_t>(positionIndex_, positions.size() - 1)];
        if (r.Ok) {
            ++positionIndex_;
            r.Position = p;
            r.Range = range;
            r.SingleTurn = static_cast<uint32_t>(p);
            r.SingleTurnRange = static_cast<uint32_t>(range);
        }
        return r;
    }
    TTrafficResult SwitchSupply(bool on) override {
        traffic.push_back(on ? "n" : "f");
        TTrafficResult r;
        Fill(r, Fault(supplyFaults, supplies_++), "ERROR command failed");
        return r;
    }
    bool HasSignalLevel() const override { return hasSignalLevel; }
    TRegisterValue ReadSignalLevel() override {
        traffic.push_back("level");
        TRegisterValue v;
        Fill(v, Fault(levelFaults, levels_++), "Access denied");
        v.Value = 1200;
        return v;
    }

private:
    static TFault Fault(const std::map<int, TFault>& faults, int index) {
        const auto it = faults.find(index);
        return it == faults.end() ? TFault::None : it->second;
    }
    static void Fill(TTrafficResult& r, TFault fault, const char* reason) {
        r.Ok = fault == TFault::None;
        r.LinkLost = fault == TFault::Lost;
        if (fault == TFault::Fails) r.Reason = reason;
        if (fault == TFault::Lost) r.Reason = "USB Comm Err -5";
    }
    int readings_ = 0, supplies_ = 0, levels_ = 0;
    size_t positionIndex_ = 0;
};

struct TPowerCycleOutcome {
    std::vector<std::string> lines;
    TRunEnd end;
    int checks, jumps, failedReadings, failedSupply;
    bool passed;
    bool powerOnStatus;
};

TPowerCycleOutcome RunPowerCycle(TScriptedTraffic& traffic, long long count, bool atRest,
                                 bool powerOnStatus = true) {
    TPowerCycleState state;
    state.PowerOnStatus = powerOnStatus;
    TPowerCycleOutcome o{};
    TPowerCycleRun run(
        state, traffic, [&](const std::string& line) { o.lines.push_back(line); }, 1);
    run.Remaining = count;
    run.AtRest = atRest;
    int guard = 0;
    for (TNextStep next = run.Start(); !next.Done && guard < 10000; next = run.Step(), ++guard) {
        EXPECT_GE(next.WaitMs, run.MinMs);
    }
    o.end = run.End();
    o.checks = run.Checks();
    o.jumps = run.Jumps();
    o.failedReadings = run.FailedReadings();
    o.failedSupply = run.FailedSupplyCommands();
    o.passed = run.Passed();
    o.powerOnStatus = state.PowerOnStatus;
    return o;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines)
        text += line + "\n";
    return text;
}

TEST(PowerCycleRun, FaultsAtAChosenStepGiveTheirVerdicts) {
    // Readings: 0 is the reference, 1..3 the checks of a three-cycle run that starts powered.
    // Supply commands: f, n, f, n, f, n (0..5), then the front end's own switch-on (not here).
    struct Case {
        const char* name;
        std::map<int, TFault> readingFaults, supplyFaults;
        std::vector<std::string> expectLines; // between the start line and the summary
        TRunEnd end;
        int checks, failedReadings, failedSupply;
        const char* summary;
    };
    const std::vector<Case> cases = {
        {"clean", {}, {}, {}, TRunEnd::Completed, 3, 0, 0, "Checks: 3, jumps: 0, failed: 0"},
        {"a failed check is counted, never compared",
         {{2, TFault::Fails}},
         {},
         {"Check failed: CRC error (ERROR command failed) [2]"},
         TRunEnd::Completed,
         3,
         1,
         0,
         "Checks: 3, jumps: 0, failed: 1"},
        {"a failed reference: the first good check becomes it",
         {{0, TFault::Fails}},
         {},
         {"Check failed: CRC error (ERROR command failed) [3]"},
         TRunEnd::Completed,
         3,
         1,
         0,
         "Checks: 3, jumps: 0, failed: 1"},
        {"a refused f is a failed cycle, the run goes on",
         {},
         {{0, TFault::Fails}},
         {"Supply command failed: f ERROR command failed [3]"},
         TRunEnd::Completed,
         3,
         0,
         1,
         "Checks: 3, jumps: 0, failed: 1"},
        {"a refused n: no check in the phase after it",
         {},
         {{1, TFault::Fails}},
         {"Supply command failed: n ERROR command failed [3]"},
         TRunEnd::Completed,
         2,
         0,
         1,
         "Checks: 2, jumps: 0, failed: 1"},
        {"a lost link on a check ends the run",
         {{2, TFault::Lost}},
         {},
         {"Check failed: USB Comm Err -5 [2]"},
         TRunEnd::LostPort,
         2,
         1,
         0,
         "Checks: 2, jumps: 0, failed: 1"},
        {"a lost link on a supply command ends the run",
         {},
         {{3, TFault::Lost}},
         {"Supply command failed: n USB Comm Err -5 [2]"},
         TRunEnd::LostPort,
         2,
         0,
         1,
         "Checks: 2, jumps: 0, failed: 1"},
        {"a lost link on the reference ends the run at once",
         {{0, TFault::Lost}},
         {},
         {"Check failed: USB Comm Err -5 [3]"},
         TRunEnd::LostPort,
         0,
         1,
         0,
         "Checks: 0, jumps: 0, failed: 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TScriptedTraffic traffic;
        traffic.readingFaults = c.readingFaults;
        traffic.supplyFaults = c.supplyFaults;
        const auto o = RunPowerCycle(traffic, 3, true);
        std::vector<std::string> expected = {"Cikliranje start 3x"};
        expected.insert(expected.end(), c.expectLines.begin(), c.expectLines.end());
        expected.push_back(c.summary);
        if (c.end == TRunEnd::Completed) expected.push_back("Cikliranje stop");
        EXPECT_EQ(Joined(o.lines), Joined(expected));
        EXPECT_EQ(o.end, c.end);
        EXPECT_EQ(o.checks, c.checks);
        EXPECT_EQ(o.failedReadings, c.failedReadings);
        EXPECT_EQ(o.failedSupply, c.failedSupply);
        EXPECT_EQ(o.passed, c.end == TRunEnd::Completed && c.failedReadings == 0 && c.failedSupply == 0);
    }
}

TEST(PowerCycleRun, ARefusedSwitchOnSkipsExactlyTheNextCheck) {
    TScriptedTraffic traffic;
    traffic.supplyFaults = {{1, TFault::Fails}};
    RunPowerCycle(traffic, 3, true);
    EXPECT_EQ(traffic.traffic,
              std::vector<std::string>({"read", "read", "f", "n", "f", "n", "read", "f", "n"}));
}

TEST(PowerCycleRun, JumpsAcrossZeroAreNotJumps) {
    struct Case {
        const char* name;
        std::vector<double> positions;
        bool atRest;
        double range;
        int jumps;
    };
    const std::vector<Case> cases = {
        {"at rest on zero", {359.9959, 0.0014, 359.999, 0.001}, true, 360, 0},
        {"turning forwards across zero", {300, 350, 30, 70, 120}, false, 360, 0},
        {"turning backwards across zero", {60, 10, 330, 280}, false, 360, 0},
        {"a multiturn circle", {23592959.0, 1.0, 23592959.5}, true, 23592960.0, 0},
        {"a real jump across zero", {359.0, 5.0}, true, 360, 1},
        {"without a range, as plain numbers", {359.9959, 0.0014}, true, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TScriptedTraffic traffic;
        traffic.positions = c.positions;
        traffic.range = c.range;
        const auto o = RunPowerCycle(traffic, static_cast<long long>(c.positions.size()) - 1, c.atRest);
        EXPECT_EQ(o.jumps, c.jumps) << Joined(o.lines);
        EXPECT_EQ(o.passed, c.jumps == 0);
    }
}

TEST(PowerCycleRun, PowerOnStatusCarriesFromRunToRun) {
    // Unpowered at start-up: N - 1 checks, and afterwards powered.
    TScriptedTraffic traffic;
    const auto first = RunPowerCycle(traffic, 3, true, false);
    EXPECT_EQ(first.checks, 2);
    EXPECT_TRUE(first.powerOnStatus);
    // Stopped right after a powered step: the next run begins unpowered.
    TPowerCycleState state;
    state.PowerOnStatus = true;
    TScriptedTraffic again;
    std::vector<std::string> lines;
    TPowerCycleRun run(
        state, again, [&](const std::string& line) { lines.push_back(line); }, 1);
    run.Remaining = 5;
    run.Start();
    run.Step(); // check, f
    run.Stop(TRunEnd::Interrupted);
    EXPECT_FALSE(state.PowerOnStatus);
    EXPECT_EQ(run.End(), TRunEnd::Interrupted);
    EXPECT_FALSE(run.Passed());
    EXPECT_EQ(lines.back(), "Checks: 1, jumps: 0, failed: 0");
    EXPECT_TRUE(run.Step().Done) << "no step after a stop";
}

TEST(NoiseRun, AFailedReadingEndsTheAcquisitionWithoutBecomingASample) {
    struct Case {
        const char* name;
        std::map<int, TFault> readingFaults, levelFaults;
        int samples;
        TRunEnd end;
        int levels;
        const char* lastLine;
    };
    const std::vector<Case> cases = {
        {"clean", {}, {}, 300, TRunEnd::Completed, 3, "1200\t0,0"},
        {"a failed reading",
         {{150, TFault::Fails}},
         {},
         150,
         TRunEnd::FailedReading,
         1,
         "Acquisition ended early after 150 samples: reading 151: CRC error (ERROR command failed)"},
        {"a lost link",
         {{0, TFault::Lost}},
         {},
         0,
         TRunEnd::LostPort,
         0,
         "Acquisition ended early after 0 samples: reading 1: USB Comm Err -5"},
        {"a failed level read is no level, and no failure",
         {},
         {{1, TFault::Fails}},
         300,
         TRunEnd::Completed,
         2,
         "1200\t0,0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TScriptedTraffic traffic;
        traffic.readingFaults = c.readingFaults;
        traffic.levelFaults = c.levelFaults;
        std::vector<std::string> warnings;
        TNoiseRun run(traffic, 300, [&](const std::string& w) { warnings.push_back(w); });
        while (!run.Step().Done) {
        }
        EXPECT_EQ(run.End(), c.end);
        EXPECT_EQ(run.Passed(), c.end == TRunEnd::Completed);
        const auto s = run.Statistics();
        EXPECT_EQ(s.Samples, c.samples);
        EXPECT_EQ(s.SignalLevelReadings, c.levels);
        EXPECT_EQ(run.ReportLines().back(), c.lastLine);
        EXPECT_EQ(warnings.size(), c.levelFaults.size());
    }
}

TEST(NoiseRun, NoLevelMeasuredReadsNotAvailable) {
    TScriptedTraffic traffic;
    traffic.hasSignalLevel = false;
    TNoiseRun run(traffic, 200, [](const std::string&) {});
    while (!run.Step().Done) {
    }
    const auto lines = run.ReportLines();
    EXPECT_EQ(lines[6], "Sig Lvl:\tn/a");
    EXPECT_EQ(lines[8], "\t0,0");
    EXPECT_EQ(NoiseClipboardText(run.Statistics()), "\t0,0\r\n");
    EXPECT_EQ(std::count(traffic.traffic.begin(), traffic.traffic.end(), "level"), 0);
}

} // namespace
