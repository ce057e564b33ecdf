// tarvo-cli commission end to end against the simulator: a plan of every step to PASS, each step
// made to FAIL by the fault that belongs to it, a lost port in the middle, a signal, and plans
// that are refused before anything reaches the adapter.
#include "K310Simulator.h"
#include "RunProgram.h"
#include "SimDevice.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>
#include <unistd.h>

using testing_support::RunProgram;
namespace fs = std::filesystem;

namespace {

// Lines "step N/M NAME: VERDICT" in the order printed.
std::vector<std::string> StepVerdicts(const std::string& out) {
    std::vector<std::string> verdicts;
    size_t at = 0;
    while ((at = out.find("step ", at)) != std::string::npos) {
        const size_t end = out.find('\n', at);
        const std::string line = out.substr(at, end - at);
        const size_t colon = line.rfind(": ");
        if (colon != std::string::npos && line.find("  ") == std::string::npos)
            verdicts.push_back(line.substr(line.find(' ', 5) + 1));
        at = end == std::string::npos ? out.size() : end;
    }
    return verdicts;
}

class CliCommission : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "tarvo-commission-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        fs::create_directories(dir / "profiles");
        fs::copy_file(fs::path(TARVO_EXAMPLES_DIR) / "profiles" / "t1.json", dir / "profiles" / "t1.json");
    }
    void TearDown() override {
        StopInjector();
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    void StartSim(const char* preset = "t1") {
        sim::SimOptions options;
        options.preset = preset;
        options.powerOn = true;
        options.positionSt = 1000;
        simulator = std::make_unique<sim::K310Simulator>(options);
        std::string error;
        ASSERT_TRUE(simulator->Start(&error)) << error;
    }
    std::string Plan(const std::string& steps, const std::string& extra = {}) {
        const fs::path path = dir / "plan.json";
        std::ofstream(path) << R"({"format":1,"plan":"test","profile":"profiles/t1.json",)" << extra
                            << R"("steps":[)" << steps << "]}";
        return path.string();
    }
    testing_support::ProgramOutput Run(std::vector<std::string> args,
                                       const testing_support::ProgramStreams& streams = {}) {
        args.insert(args.begin(), "commission");
        // Runs are stored in the test's folder, never in the user's.
        if (std::find(args.begin(), args.end(), "--db") == args.end()) {
            args.push_back("--db");
            args.push_back((dir / "results.sqlite").string());
        }
        args.push_back("--port");
        args.push_back(simulator->SlavePath());
        auto r = RunProgram(TARVO_CLI_PATH, args, streams);
        StopInjector();
        return r;
    }
    int Frames() const {
        int frames = 0;
        simulator->Inspect([&](sim::SimDevice& d, double) { frames = d.PositionFrames(); });
        return frames;
    }
    // `fault` once the encoder has sent `afterFrames` position frames.
    void InjectAfter(int afterFrames, std::function<void()> fault) {
        stop = false;
        injector = std::thread([this, afterFrames, fault] {
            while (!stop && Frames() < afterFrames)
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            if (!stop) fault();
        });
    }
    void StopInjector() {
        stop = true;
        if (injector.joinable()) injector.join();
    }

    fs::path dir;
    std::unique_ptr<sim::K310Simulator> simulator;
    std::thread injector;
    std::atomic<bool> stop{false};
};

const char* const kEveryStep =
    R"({"step":"identify","type":1,"part_number":"VK766-*"},)"
    R"({"step":"apply-profile","save":true},)"
    R"({"step":"self-calibration","arc":360,"timeout":5},)"
    R"({"step":"noise","samples":300,"limits":{"six_sigma_max":10,"signal_level_min":600,"signal_level_max":4000}},)"
    R"({"step":"error-map","limits":{"peak_to_peak_max":1000}},)"
    R"({"step":"air-gap","readings":3,"limits":{"min":150,"max":350}},)"
    R"({"step":"signal-level","readings":3,"limits":{"min":600,"max":4000}},)"
    R"({"step":"power-cycling","count":3,"min_ms":10,"max_ms":20,"signal_level":true,)"
    R"("limits":{"signal_level_min":600,"signal_level_max":4000}},)"
    R"({"step":"diagnostics","limits":{"sensor_temperature_min":-20,"sensor_temperature_max":85}},)"
    R"({"step":"save"},)"
    R"({"step":"final-read","readings":2})";

} // namespace

TEST_F(CliCommission, APlanOfEveryStepPassesOnAHealthyEncoder) {
    StartSim();
    simulator->SetSelfCal(sim::SelfCalOutcome::Success, 0.6);
    const auto r = Run({"--plan", Plan(kEveryStep), "--operator", "Ana", "--station", "bench 3"});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(StepVerdicts(r.out),
              (std::vector<std::string>{"identify: PASS", "apply-profile: PASS", "self-calibration: PASS",
                                        "noise: PASS", "error-map: PASS", "air-gap: PASS",
                                        "signal-level: PASS", "power-cycling: PASS", "diagnostics: PASS",
                                        "save: PASS", "final-read: PASS"}))
        << r.out;
    EXPECT_NE(r.out.find("\nverdict: PASS\n"), std::string::npos) << r.out;
    // The profile reached the encoder and its NVRAM (the power cycles reload it): the filter value
    // is the profile's.
    uint32_t filter = 0;
    ASSERT_TRUE(simulator->PeekRegister(0x04, 4, filter));
    EXPECT_EQ(filter, 3u);
#ifdef TARVO_HAVE_RESULTS
    // The power cycles' signal level, one per check, kept for the report's chart.
    const auto levels = RunProgram("/usr/bin/sqlite3", {(dir / "results.sqlite").string(),
                                                        "SELECT data_json FROM series WHERE name = 'signal-levels';"});
    EXPECT_EQ(levels.out.rfind("{\"cycles\":[0,1,2],\"values\":[", 0), 0u) << levels.out << levels.err;
    EXPECT_NE(r.out.find("signal_level: {readings: 3, minimum: "), std::string::npos) << r.out;
#endif
}

TEST_F(CliCommission, EachStepFailsOnItsOwnFault) {
    struct Case {
        const char* name;
        std::string step; // the step under test, between identify and final-read
        std::function<void(sim::K310Simulator&)> fault; // before the run
        const char* why;                                // in the step's "why:" line
    };
    const std::vector<Case> cases = {
        {"identify", R"({"step":"identify","type":5})", {}, "encoder type 1, expected 5"},
        {"identify",
         R"({"step":"identify","part_number":"VK9*"})",
         {},
         "part number VK766-0A18B00010 does not match VK9*"},
        {"apply-profile", R"({"step":"apply-profile"})",
         [](sim::K310Simulator& s) { s.SetRegisterError(0x04, 96); }, "POSITION_FILTER"},
        {"self-calibration", R"({"step":"self-calibration","timeout":5})",
         [](sim::K310Simulator& s) { s.SetSelfCal(sim::SelfCalOutcome::OutOfRange, 0.3); },
         "Calibration out of range"},
        {"noise", R"({"step":"noise","samples":200,"limits":{"six_sigma_max":1}})",
         [](sim::K310Simulator& s) { s.SetNoise(20); }, "six sigma "},
        {"noise",
         R"({"step":"noise","samples":200,"limits":{"signal_level_min":5000}})",
         {},
         "signal level 1"},
        {"error-map", R"({"step":"error-map","limits":{"peak_to_peak_max":10}})", {}, "peak to peak "},
        {"air-gap", R"({"step":"air-gap","readings":2,"limits":{"max":100}})", {}, "air gap "},
        {"signal-level",
         R"({"step":"signal-level","readings":2,"limits":{"min":2000}})",
         {},
         " outside at least 2000"},
        {"power-cycling", R"({"step":"power-cycling","count":3,"min_ms":10,"max_ms":20})",
         [](sim::K310Simulator& s) { s.JumpAtNextPowerUp(20000); }, "jumps: 1"},
        {"power-cycling",
         R"({"step":"power-cycling","count":2,"min_ms":10,"max_ms":20,"signal_level":true,)"
         R"("limits":{"signal_level_min":5000}})",
         {},
         "signal level 1"},
        {"diagnostics", R"({"step":"diagnostics","limits":{"sensor_temperature_max":30}})",
         [](sim::K310Simulator& s) { s.SetTemperatures(45, 0); }, "sensor temperature 45 outside at most 30"},
        {"diagnostics",
         R"({"step":"diagnostics","limits":{"safety_rt_min":1}})",
         {},
         "this encoder has no lifetime diagnostics"},
        {"save", R"({"step":"save"})", [](sim::K310Simulator& s) { s.SetRegisterError(0x49, 96); },
         "save to NVRAM: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.step);
        StartSim();
        if (c.fault) c.fault(*simulator);
        const std::string first = std::string(c.name) == "identify" ? "" : R"({"step":"identify"},)";
        const auto r = Run({"--plan", Plan(first + c.step + R"(,{"step":"final-read"})")});
        EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
        const std::vector<std::string> verdicts = StepVerdicts(r.out);
        const size_t failed = first.empty() ? 0 : 1;
        ASSERT_EQ(verdicts.size(), failed + 2) << r.out;
        EXPECT_EQ(verdicts[failed], std::string(c.name) + ": FAIL") << r.out;
        EXPECT_EQ(verdicts.back(), "final-read: SKIPPED") << r.out;
        const size_t why = r.out.find("\n  why: ");
        ASSERT_NE(why, std::string::npos) << r.out;
        EXPECT_NE(r.out.substr(why, r.out.find('\n', why + 1) - why).find(c.why), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("\nverdict: FAIL\nwhy: " + std::string(c.name) + ": "), std::string::npos)
            << r.out;
        simulator.reset();
    }
}

// A signal level that cannot be read during the power cycles is a failed reading, never a value.
TEST_F(CliCommission, ASignalLevelThatCannotBeReadFailsThePowerCycles) {
    StartSim();
    // Identification reads the level too: the register fails from the power cycles' first check.
    InjectAfter(Frames() + 1, [this] { simulator->SetRegisterError(0x4E, 96); });
    const auto r = Run({"--plan", Plan(R"({"step":"identify"},)"
                                       R"({"step":"power-cycling","count":3,"min_ms":10,"max_ms":20,)"
                                       R"("signal_level":true})")});
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_EQ(StepVerdicts(r.out), (std::vector<std::string>{"identify: PASS", "power-cycling: FAIL"})) << r.out;
    EXPECT_NE(r.out.find("why: Checks: 3, jumps: 0, failed: 3"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("signal_level: {readings: 0}"), std::string::npos) << r.out;
}

TEST_F(CliCommission, AnErrorBitInTheFinalReadingFails) {
    StartSim();
    simulator->SetErrorBit(true);
    const auto r = Run({"--plan", Plan(R"({"step":"final-read","readings":2})")});
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("final-read: FAIL"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("why: error bit set in reading 1"), std::string::npos) << r.out;
}

TEST_F(CliCommission, ContinueOnFailRunsTheRestAndStillFails) {
    StartSim();
    const auto r = Run({"--plan", Plan(R"({"step":"signal-level","readings":1,"limits":{"min":9000}},)"
                                       R"({"step":"final-read"})",
                                       R"("continue-on-fail":true,)")});
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_EQ(StepVerdicts(r.out), (std::vector<std::string>{"signal-level: FAIL", "final-read: PASS"}))
        << r.out;
    EXPECT_NE(r.out.find("\nverdict: FAIL\nwhy: signal-level: "), std::string::npos) << r.out;
}

TEST_F(CliCommission, ALostPortEndsTheRunAndSaysSo) {
    StartSim();
    InjectAfter(100, [this] { simulator->Unplug(); });
    const auto r = Run(
        {"--plan", Plan(R"({"step":"noise","samples":2000},{"step":"error-map"},{"step":"final-read"})")});
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_EQ(StepVerdicts(r.out),
              (std::vector<std::string>{"noise: FAIL", "error-map: SKIPPED", "final-read: SKIPPED"}))
        << r.out;
    EXPECT_NE(r.out.find("why: the adapter's port was lost: noise acquisition: "), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\nverdict: FAIL\n"), std::string::npos) << r.out;
}

TEST_F(CliCommission, ASignalInterruptsTheRun) {
    StartSim();
    testing_support::ProgramStreams streams;
    streams.signals.push_back({"step 1/2 noise\n", 100, SIGINT});
    const auto r =
        Run({"--plan", Plan(R"({"step":"noise","samples":1000000},{"step":"final-read"})")}, streams);
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("\nverdict: INTERRUPTED\nwhy: interrupted by a signal\n"), std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("noise: PASS"), std::string::npos) << r.out;
}

TEST_F(CliCommission, ABadPlanOrProfileIsRefusedBeforeAnythingIsSent) {
    struct Case {
        std::string plan;    // the file's text
        std::string profile; // replaces profiles/t1.json when not empty
        const char* error;
    };
    const std::vector<Case> cases = {
        {"{", "", "plan.json: not JSON: parse error at line 1, column 2"},
        {R"({"plan":"p","steps":[{"step":"noise","limits":{"six_sigma_max":"7a"}}]})", "",
         "plan.json: steps[0].limits.six_sigma_max: expected a number, got \"7a\""},
        {R"({"plan":"p","profile":"profiles/none.json","steps":[{"step":"apply-profile"}]})", "",
         "profile: cannot open "},
        {R"({"plan":"p","profile":"profiles/t1.json","steps":[{"step":"apply-profile"}]})",
         R"({"format":1,"profile":"t1","encoder":{"type":1,"layout":"legacy","part_number":"*"},)"
         R"("registers":{"POSITION_FILTER":"7a"}})",
         "registers.POSITION_FILTER: expected an integer 0..4294967295, got \"7a\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.plan);
        StartSim();
        std::ofstream(dir / "plan.json") << c.plan;
        if (!c.profile.empty()) std::ofstream(dir / "profiles" / "t1.json") << c.profile;
        const auto r = Run({"--plan", (dir / "plan.json").string()});
        EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
        EXPECT_NE(r.err.find(c.error), std::string::npos) << r.err;
        EXPECT_EQ(simulator->CommandCount(), 0u) << "nothing reaches the adapter";
        simulator.reset();
    }
    StartSim();
    EXPECT_EQ(Run({}).exitCode, 2);
    EXPECT_EQ(Run({"--plan", (dir / "missing.json").string()}).exitCode, 2);
    EXPECT_EQ(Run({"--plan", Plan(R"({"step":"save"})"), "--volts", "12"}).exitCode, 2);
}

#ifdef TARVO_HAVE_RESULTS
// A run killed at any point leaves a sound database holding every step that had ended, the run
// marked INTERRUPTED once the store is opened again, and no report at all (never half of one).
TEST_F(CliCommission, AKilledRunKeepsEveryEndedStepAndLeavesNoHalfReport) {
    const std::string plan =
        Plan(R"({"step":"identify"},{"step":"apply-profile"},{"step":"noise","samples":3000},)"
             R"({"step":"error-map"},{"step":"final-read"})");
    struct KillPoint {
        const char* after; // on standard output
        int delayMs;
    };
    // At a step's start, right after a step's end, and in the middle of the long noise step (the
    // other steps are over too soon to aim a delay into them).
    const KillPoint points[] = {
        {"step 1/5 identify\n", 0},  {"step 1/5 identify: PASS\n", 0}, {"step 2/5 apply-profile: PASS\n", 1},
        {"step 3/5 noise\n", 15},    {"step 3/5 noise\n", 60},         {"step 3/5 noise: PASS\n", 0},
        {"step 4/5 error-map\n", 0},
    };
    int round = 0;
    for (const KillPoint& point : points) {
        SCOPED_TRACE(std::string(point.after) + " +" + std::to_string(point.delayMs) + " ms");
        StartSim();
        const fs::path db = dir / ("results-" + std::to_string(round) + ".sqlite");
        const fs::path reports = dir / ("reports-" + std::to_string(round++));
        testing_support::ProgramStreams streams;
        streams.signals.push_back({point.after, point.delayMs, SIGKILL});
        const auto r = Run({"--plan", plan, "--db", db.string(), "--report", reports.string()}, streams);
        ASSERT_EQ(r.killedBy, SIGKILL) << r.out << r.err;
        const size_t ended = StepVerdicts(r.out).size();

        // The store reopened: sound, the run interrupted, every step that had printed its end there.
        const auto list = RunProgram(TARVO_CLI_PATH, {"results", "list", "--db", db.string(), "--json"});
        ASSERT_EQ(list.exitCode, 0) << list.out << list.err;
        const size_t uuidAt = list.out.find("\"uuid\":\"");
        ASSERT_NE(uuidAt, std::string::npos) << list.out;
        const std::string uuid = list.out.substr(uuidAt + 8, 36);
        const auto show =
            RunProgram(TARVO_CLI_PATH, {"results", "show", uuid, "--db", db.string(), "--json"});
        ASSERT_EQ(show.exitCode, 0) << show.out << show.err;
        EXPECT_NE(show.out.find("\"verdict\":\"INTERRUPTED\""), std::string::npos) << show.out;
        size_t stored = 0;
        for (size_t at = 0; (at = show.out.find("\"order\":", at)) != std::string::npos; ++at)
            ++stored;
        EXPECT_GE(stored, ended) << r.out << show.out;
        const auto check = RunProgram("/usr/bin/sqlite3", {db.string(), "PRAGMA integrity_check;"});
        EXPECT_EQ(check.out, "ok\n") << check.err;
        std::error_code ec;
        EXPECT_TRUE(!fs::exists(reports, ec) || fs::is_empty(reports, ec)) << "no report, whole or half";
        simulator.reset();
    }
}
#endif
