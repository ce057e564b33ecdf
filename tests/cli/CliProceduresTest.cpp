// tarvo-cli's test procedures run as a program against the in-process simulator: a recording
// read back field by field, power-cycling runs that must log exactly the jumps the simulator was
// told to make, and the noise statistics.
#include "DebugRecording.h"
#include "K310Simulator.h"
#include "RunProgram.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <unistd.h>

using testing_support::RunProgram;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += what.size())
        ++n;
    return n;
}

// Records of the debug-data file: fields separated by ";", a field in double quotes may hold
// ";", line breaks and doubled quotes. Each record ends with CR LF after its last ";".
std::vector<std::vector<std::string>> ReadRecords(const std::string& text) {
    std::vector<std::vector<std::string>> records;
    std::vector<std::string> fields;
    std::string field;
    bool quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"' && field.empty()) {
            quoted = true;
        } else if (c == ';') {
            fields.push_back(field);
            field.clear();
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            fields.push_back(field); // what follows the last ";": empty
            field.clear();
            records.push_back(fields);
            fields.clear();
            ++i;
        } else {
            field += c;
        }
    }
    return records;
}

class CliProcedure : public ::testing::Test {
protected:
    void Start(sim::SimOptions options) {
        simulator = std::make_unique<sim::K310Simulator>(options);
        std::string error;
        ASSERT_TRUE(simulator->Start(&error)) << error;
    }
    testing_support::ProgramOutput Run(std::vector<std::string> args) {
        args.push_back("--port");
        args.push_back(simulator->SlavePath());
        return RunProgram(TARVO_CLI_PATH, args);
    }
    std::unique_ptr<sim::K310Simulator> simulator;
};

using CliRecord = CliProcedure;

TEST_F(CliRecord, WritesTheWorkbenchFileWithDebugDataAndStatusNames) {
    sim::SimOptions options;
    options.preset = "t5"; // new map, signal level, decoded debug block
    options.powerOn = true;
    options.positionSt = 4321;
    Start(options);
    simulator->SetCondition(sim::kWarnTemperature | sim::kWarnSignalLow, true);
    std::string pattern = (fs::temp_directory_path() / "tarvo-cli-rec-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    const fs::path dir = pattern;

    const auto r = Run({"record", "--seconds", "1", "--interval", "20", "--dir", dir.string()});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    const auto out = Lines(r.out);
    ASSERT_EQ(out.size(), 5u) << r.out;
    ASSERT_EQ(out[0].rfind("path: ", 0), 0u);
    const fs::path path = out[0].substr(6);
    EXPECT_EQ(path.parent_path(), dir);
    EXPECT_EQ(path.filename().string().rfind("TEST_QX120-0R19B00060_TSR19B2026A0001234_20", 0), 0u) << path;
    EXPECT_EQ(path.extension(), ".csv");
    EXPECT_EQ(out[2], "failedReadings: 0");
    EXPECT_EQ(out[3], "Record duration: 1 sec.");
    EXPECT_EQ(out[4], "ended: completed");

    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    const auto records = ReadRecords(content.str());
    const int recorded = std::atoi(out[1].substr(9).c_str());
    ASSERT_EQ(out[1], "records: " + std::to_string(recorded));
    ASSERT_EQ(records.size(), static_cast<size_t>(recorded) + 1);
    EXPECT_GE(recorded, 2); // a second of readings, each with some forty transactions
    EXPECT_EQ(content.str().rfind(Procedures::RecordingHeader() + "\r\n", 0), 0u);

    // The simulator's latched samples, as the last record must carry them.
    std::array<int16_t, 56> samples{};
    simulator->Inspect([&](sim::SimDevice& d, double) { samples = d.DebugSamples(); });
    long previousTime = -1;
    for (size_t i = 1; i < records.size(); ++i) {
        const auto& f = records[i];
        ASSERT_EQ(f.size(), 76u) << "record " << i;
        EXPECT_EQ(f[75], "");
        const long time = std::atol(f[0].c_str());
        EXPECT_GT(time, previousTime);
        previousTime = time;
        EXPECT_EQ(f[3], "4321");
        EXPECT_NE(f[4].find("Warning Temperature\r\nWarning Signal Low\r\n"), std::string::npos) << f[4];
        EXPECT_FALSE(f[6].empty()); // the supply status, read on the first pass
        EXPECT_NE(f[7], "0");       // signal level
        EXPECT_EQ(f[5].size(), 16u);
        EXPECT_EQ(f[9].size(), 9u);
    }
    const auto& last = records.back();
    for (int s = 1; s <= 53; ++s) // the legacy-size block carries samples 1..53
        EXPECT_EQ(last[static_cast<size_t>(18 + s)], std::to_string(samples[static_cast<size_t>(s - 1)]))
            << s;

    // Every recording begins with the debug unlock: the access code to 0x49.
    bool unlocked = false;
    for (const auto& c : simulator->Received())
        unlocked = unlocked || c.command == "W:0001:00000049:000000A5";
    EXPECT_TRUE(unlocked);

    // A second recording in the same second gets a name of its own.
    const auto again = Run({"record", "--seconds", "0", "--dir", dir.string(), "--json"});
    ASSERT_EQ(again.exitCode, 0) << again.err;
    EXPECT_NE(again.out.find("\"records\":0"), std::string::npos) << again.out;
    EXPECT_EQ(again.out.find(path.string() + "\""), std::string::npos) << again.out;
    fs::remove_all(dir);
}

using CliPowercycle = CliProcedure;

// A turning shaft at ten times real speed; two jumps at chosen power-ups, and nothing else.
TEST_F(CliPowercycle, MovingRunLogsExactlyTheInjectedJumps) {
    sim::SimOptions options;
    options.preset = "t1mt"; // 19 bits, multiturn
    options.powerOn = true;
    options.rotateDegPerS = 2;
    options.timeScale = 10;
    Start(options);

    auto r = Run({"powercycle", "--count", "4", "--min", "10", "--max", "20"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 8u) << r.out;
    EXPECT_EQ(lines[0], "Cikliranje start 4x");
    EXPECT_EQ(lines[1], "Checks: 4, jumps: 0, failed: 0");
    EXPECT_EQ(lines[2], "Cikliranje stop");
    EXPECT_EQ(lines[3], "checks: 4");
    EXPECT_EQ(lines[4], "jumps: 0");
    EXPECT_EQ(lines[7], "ended: completed");
    EXPECT_TRUE(simulator->SupplyOn());

    // +100 degrees at the 4th power-up and -30 degrees at the 8th, set between the power-ups
    // before them, while the program runs. A cycle turns the shaft by a degree or so: the
    // jumps stand out whatever the machine's load.
    const uint32_t base = simulator->PowerCycles();
    const int64_t degree = (1 << 19) / 360;
    std::atomic<bool> done{false};
    std::thread injector([&] {
        bool first = false, second = false;
        while (!done) {
            const uint32_t cycles = simulator->PowerCycles() - base;
            if (!first && cycles == 3) {
                simulator->JumpAtNextPowerUp(100 * degree);
                first = true;
            }
            if (!second && cycles == 7) {
                simulator->JumpAtNextPowerUp(-30 * degree);
                second = true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    r = Run({"powercycle", "--count", "12", "--min", "20", "--max", "40", "--json"});
    done = true;
    injector.join();
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_EQ(simulator->PowerCycles() - base, 12u);
    EXPECT_NE(r.out.find("\"checks\":12,\"jumps\":2,\"failedReadings\":0"), std::string::npos) << r.out;
    EXPECT_EQ(Count(r.out, "Position jump"), 2u) << r.out;
    // Found at the check after the jump, with the cycles then still to run.
    const size_t beyond = r.out.find("\"Position jump > 70\xC2\xB0! (");
    const size_t reverse = r.out.find("\"Position jump reverse! (");
    ASSERT_NE(beyond, std::string::npos) << r.out;
    ASSERT_NE(reverse, std::string::npos) << r.out;
    EXPECT_LT(beyond, reverse);
    EXPECT_EQ(r.out.substr(r.out.find("]\"", beyond) - 2, 3), "[8]") << r.out;
    EXPECT_EQ(r.out.substr(r.out.find("]\"", reverse) - 2, 3), "[4]") << r.out;
    EXPECT_NE(r.out.find("\"Cikliranje stop\"]"), std::string::npos) << r.out;
}

TEST_F(CliPowercycle, AtRestRunLogsAJumpOfMoreThanTwoDegrees) {
    sim::SimOptions options;
    options.preset = "t1mt";
    options.powerOn = true;
    options.positionSt = 1000;
    Start(options);
    simulator->JumpAtNextPowerUp(-5 * (1 << 19) / 360); // at the first power-up of the run
    const auto r = Run({"powercycle", "--count", "3", "--min", "10", "--max", "10", "--at-rest"});
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 9u) << r.out;
    EXPECT_EQ(lines[0], "Cikliranje start 3x");
    // 1000 counts of 2^19 per turn are 0.6866 degrees; 7281 counts lower, -4.3128.
    EXPECT_EQ(lines[1], "Position jump < 2\xC2\xB0! (0.6866 -> -4.3128) [2]");
    EXPECT_EQ(lines[2], "Checks: 3, jumps: 1, failed: 0");
    EXPECT_EQ(lines[3], "Cikliranje stop");
    EXPECT_EQ(lines[5], "jumps: 1");
}

// Output that cannot be written ends a run as a failure: a log that went nowhere must not keep
// cycling the supply, and the encoder is still left powered.
TEST_F(CliPowercycle, AFailingStandardOutputEndsTheRun) {
    sim::SimOptions options;
    options.preset = "t1";
    options.powerOn = true;
    Start(options);
    testing_support::ProgramStreams full;
    full.outFile = "/dev/full";
    const std::string noSpace = "tarvo-cli: cannot write standard output: No space left on device\n";

    auto r = RunProgram(
        TARVO_CLI_PATH,
        {"powercycle", "--count", "1000", "--min", "10", "--max", "10", "--port", simulator->SlavePath()},
        full);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, noSpace);
    std::vector<std::string> supply;
    for (const auto& c : simulator->Received())
        if (c.command == "f" || c.command == "n") supply.push_back(c.command);
    EXPECT_EQ(supply, std::vector<std::string>({"n", "n"})) << "no cycle; switched on again at the end";

    r = RunProgram(TARVO_CLI_PATH, {"noise", "--samples", "10", "--port", simulator->SlavePath()}, full);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, noSpace);
}

using CliNoise = CliProcedure;

TEST_F(CliNoise, StatisticsOfAStillShaft) {
    sim::SimOptions options;
    options.preset = "t5";
    options.powerOn = true;
    options.positionSt = 1234;
    Start(options);
    auto r = Run({"noise", "--samples", "300"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 10u) << r.out;
    EXPECT_EQ(lines[9], "ended: completed");
    EXPECT_EQ(lines[0], "vzorcev:\t300");
    EXPECT_EQ(lines[1], "minn:\t1234,0");
    EXPECT_EQ(lines[2], "maxx:\t1234,0");
    EXPECT_EQ(lines[3], "raztros:\t0,0");
    EXPECT_EQ(lines[4], "povprecje:\t1234,0");
    EXPECT_EQ(lines[5], "6 sigma:\t0,0");
    EXPECT_EQ(lines[6].rfind("Sig Lvl:\t", 0), 0u);
    EXPECT_NE(lines[6], "Sig Lvl:\t0");
    EXPECT_EQ(lines[7], "");
    EXPECT_EQ(lines[8], lines[6].substr(9) + "\t0,0");

    simulator->SetNoise(3);
    r = Run({"noise", "--samples", "500", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(r.out.rfind("{\"ok\":true,\"samples\":500,\"minimum\":", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("\"signalLevelReadings\":5,"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("\"sixSigma\":0,"), std::string::npos) << r.out;
}

TEST_F(CliNoise, AnEarlyEndReportsTheReadingsTaken) {
    sim::SimOptions options;
    options.preset = "t5";
    options.powerOn = true;
    options.positionSt = 77;
    Start(options);
    // The adapter falls silent after 150 position frames.
    std::atomic<bool> done{false};
    std::thread silencer([&] {
        while (!done) {
            int frames = 0;
            simulator->Inspect([&](sim::SimDevice& d, double) { frames = d.PositionFrames(); });
            if (frames >= 150) {
                simulator->SilenceNext(1000);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    const auto r = Run({"noise", "--samples", "5000"});
    done = true;
    silencer.join();
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("USB Comm Err -1"), std::string::npos) << r.err;
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 11u) << r.out;
    EXPECT_EQ(lines[9].rfind("Acquisition ended early after ", 0), 0u) << r.out;
    EXPECT_EQ(lines[10], "ended: failed reading");
    int frames = 0;
    simulator->Inspect([&](sim::SimDevice& d, double) { frames = d.PositionFrames(); });
    EXPECT_EQ(lines[0], "vzorcev:\t" + std::to_string(frames)) << r.out;
    EXPECT_EQ(lines[1], "minn:\t77,0"); // no zeros of readings never taken
    EXPECT_EQ(lines[4], "povprecje:\t77,0");
    EXPECT_NE(lines[6], "Sig Lvl:\t0"); // the one hundredth reading taken, not divided by 50
}

TEST(CliProceduresUsage, BadUsageExitsTwoAndHelpOnEveryLevel) {
    const std::vector<std::vector<std::string>> bad = {
        {"record"},
        {"record", "--seconds", "x"},
        {"record", "--seconds", "1", "--interval", "10001"},
        {"record", "--seconds", "1", "--dir", "/dev/null"},
        {"powercycle"},
        {"powercycle", "--count", "100001"},
        {"powercycle", "--count", "5", "--min", "9"},
        {"powercycle", "--count", "5", "--volts", "12"},
        {"noise", "--samples", "0"},
        {"noise", "extra"},
        {"noise", "--bogus"},
    };
    for (const auto& args : bad) {
        const auto r = RunProgram(TARVO_CLI_PATH, args);
        EXPECT_EQ(r.exitCode, 2) << args[0] << " " << (args.size() > 1 ? args[1] : "");
        EXPECT_EQ(r.err.rfind("tarvo-cli: ", 0), 0u) << r.err;
        EXPECT_EQ(r.err.substr(r.err.find('\n') + 1), "Try 'tarvo-cli " + args[0] + " --help'.\n") << r.err;
    }
    for (const char* sub : {"record", "powercycle", "noise"}) {
        const auto r = RunProgram(TARVO_CLI_PATH, {sub, "--help"});
        EXPECT_EQ(r.exitCode, 0) << sub;
        EXPECT_EQ(r.out.rfind(std::string("Usage: tarvo-cli ") + sub, 0), 0u) << sub;
    }
    const auto main = RunProgram(TARVO_CLI_PATH, {"--help"});
    for (const char* sub : {"  record ", "  powercycle ", "  noise ", "  find "})
        EXPECT_NE(main.out.find(sub), std::string::npos) << sub;
}

} // namespace
