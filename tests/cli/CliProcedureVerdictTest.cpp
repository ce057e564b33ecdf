// tarvo-cli's verdicts when the adapter misbehaves in the middle of a run: each fault aimed at a
// chosen step (a position read, a supply command) of noise, powercycle and record, through the
// real program and the simulator. A failure must never come out as a pass, and the summary says
// how the run ended.
#include "K310Simulator.h"
#include "RunProgram.h"
#include "SimDevice.h"
#include "StepFaults.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>
#include <unistd.h>

using testing_support::RunProgram;
namespace fs = std::filesystem;

namespace {

using Fault = testing_support::TStepFault;
using testing_support::StepFaultName;

std::string Field(const std::string& out, const std::string& name) {
    const std::string key = "\n" + name + ": ";
    const size_t at = ("\n" + out).find(key);
    if (at == std::string::npos) return "(none)";
    const size_t from = at + key.size() - 1;
    return out.substr(from, out.find('\n', from) - from);
}

class CliVerdict : public ::testing::Test {
protected:
    void Start(const char* preset, int64_t st = 1000, double noise = 0) {
        sim::SimOptions options;
        options.preset = preset;
        options.powerOn = true;
        options.positionSt = st;
        simulator = std::make_unique<sim::K310Simulator>(options);
        std::string error;
        ASSERT_TRUE(simulator->Start(&error)) << error;
        if (noise > 0) simulator->SetNoise(noise);
    }
    int Frames() const {
        int frames = 0;
        simulator->Inspect([&](sim::SimDevice& d, double) { frames = d.PositionFrames(); });
        return frames;
    }
    // The fault, aimed at its step, once the encoder has sent `afterFrames` position frames.
    void InjectAfter(int afterFrames, Fault fault) {
        injector = std::thread([this, afterFrames, fault] {
            while (!stop && Frames() < afterFrames)
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            if (stop) return;
            testing_support::InjectStepFault(*simulator, fault);
        });
    }
    testing_support::ProgramOutput Run(std::vector<std::string> args) {
        path = simulator->SlavePath();
        args.push_back("--port");
        args.push_back(path);
        auto r = RunProgram(TARVO_CLI_PATH, args);
        stop = true;
        if (injector.joinable()) injector.join();
        return r;
    }
    void TearDown() override {
        stop = true;
        if (injector.joinable()) injector.join();
    }

    std::unique_ptr<sim::K310Simulator> simulator;
    std::thread injector;
    std::atomic<bool> stop{false};
    std::string path;
};

TEST_F(CliVerdict, NoiseEndsAtTheFirstFailedReadingAndFails) {
    struct Case {
        Fault fault;
        const char* ended;
        const char* reason; // in the early-end line
    };
    const std::vector<Case> cases = {
        {Fault::ErrorReply, "failed reading", "CRC error (ERROR command failed)"},
        {Fault::Garbage, "failed reading", "CRC error ("},
        {Fault::BadCrc, "failed reading", "CRC error ("},
        {Fault::Silent, "failed reading", "USB Comm Err -1"},
        {Fault::Unplug, "lost port", "USB Comm Err -"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(StepFaultName(c.fault));
        Start("t5", 1000);
        InjectAfter(250, c.fault);
        const auto r = Run({"noise", "--samples", "600"});
        EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
        EXPECT_EQ(Field(r.out, "ended"), c.ended) << r.out;
        const size_t early = r.out.find("Acquisition ended early after ");
        ASSERT_NE(early, std::string::npos) << r.out;
        EXPECT_NE(r.out.find(c.reason, early), std::string::npos) << r.out;
        // The failed reading is no sample: the figures are the still shaft's.
        EXPECT_NE(r.out.find("raztros:\t0,0"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("minn:\t1000,0"), std::string::npos) << r.out;
        TearDown();
        stop = false;
    }
}

TEST_F(CliVerdict, NoiseJsonSaysNotOkAndHowItEnded) {
    Start("t5", 1000);
    InjectAfter(120, Fault::ErrorReply);
    const auto r = Run({"noise", "--samples", "600", "--json"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out.rfind("{\"ok\":false,", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("\"spread\":0,"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"ended\":\"failed reading\""), std::string::npos) << r.out;
}

TEST_F(CliVerdict, PowercycleCountsEveryFailureAndGoesOn) {
    struct Case {
        Fault fault;
        const char* ended;
        int checks, failedReadings, failedSupply;
        const char* line;
    };
    const std::vector<Case> cases = {
        // Multiturn frames that are no frame at all are refused by the protocol itself.
        {Fault::ErrorReply, "completed", 5, 1, 0,
         "Check failed: Invalid position frame sCmd: ?06:000 RCV: ERROR command failed ["},
        {Fault::Garbage, "completed", 5, 1, 0, "Check failed: Invalid position frame sCmd: ?06:000 RCV: "},
        {Fault::BadCrc, "completed", 5, 1, 0, "Check failed: CRC error ("},
        {Fault::Silent, "completed", 5, 1, 0, "Check failed: USB Comm Err -1 ["},
        {Fault::SupplyOffError, "completed", 5, 0, 1, "Supply command failed: f ERROR command failed ["},
        {Fault::SupplyOnError, "completed", 4, 0, 1, "Supply command failed: n ERROR command failed ["},
        // Whichever step meets the lost port (a reading or a supply command), it ends the run.
        {Fault::Unplug, "lost port", -1, -1, -1, " USB Comm Err -"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(StepFaultName(c.fault));
        Start("t1mt", 1000);
        InjectAfter(3, c.fault); // the reference and two checks
        const auto r = Run({"powercycle", "--count", "5", "--min", "10", "--max", "11", "--at-rest"});
        EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
        EXPECT_EQ(Field(r.out, "ended"), c.ended) << r.out;
        EXPECT_EQ(Field(r.out, "jumps"), "0") << r.out;
        if (c.checks >= 0) {
            EXPECT_EQ(Field(r.out, "checks"), std::to_string(c.checks)) << r.out;
            EXPECT_EQ(Field(r.out, "failedReadings"), std::to_string(c.failedReadings)) << r.out;
            EXPECT_EQ(Field(r.out, "failedSupplyCommands"), std::to_string(c.failedSupply)) << r.out;
            EXPECT_NE(r.out.find("\nCikliranje stop\n"), std::string::npos) << r.out;
            EXPECT_TRUE(simulator->SupplyOn()) << "the supply is left on";
        }
        EXPECT_NE(r.out.find(c.line), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("Checks: "), std::string::npos) << r.out;
        TearDown();
        stop = false;
    }
}

// At rest on the zero crossing with a little noise, readings fall on both sides of zero: that is
// no jump, and the noise statistic is the noise, not the whole turn.
TEST_F(CliVerdict, TheZeroCrossingIsNoJumpAndNoSpread) {
    Start("t1mt", 0, 2);
    auto r = Run({"powercycle", "--count", "8", "--min", "10", "--max", "11", "--at-rest"});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(Field(r.out, "jumps"), "0") << r.out;
    stop = false;
    r = Run({"noise", "--samples", "400", "--json"});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    const size_t at = r.out.find("\"spread\":");
    ASSERT_NE(at, std::string::npos) << r.out;
    EXPECT_LT(std::atof(r.out.c_str() + at + 9), 40) << r.out;
}

TEST_F(CliVerdict, RecordWritesNoRecordOfAFailedReading) {
    struct Case {
        Fault fault;
        const char* ended;
    };
    const std::vector<Case> cases = {
        {Fault::ErrorReply, "completed"}, {Fault::BadCrc, "completed"}, {Fault::Garbage, "completed"},
        {Fault::Silent, "completed"},     {Fault::Unplug, "lost port"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(StepFaultName(c.fault));
        Start("t5", 1000);
        std::string pattern = (fs::temp_directory_path() / "tarvo-cli-verdict-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        InjectAfter(10, c.fault);
        const auto r = Run({"record", "--seconds", "2", "--interval", "10", "--dir", pattern});
        EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
        EXPECT_EQ(Field(r.out, "ended"), c.ended) << r.out;
        if (c.fault != Fault::Unplug) {
            EXPECT_EQ(Field(r.out, "failedReadings"), "1") << r.out;
        }
        const fs::path file = Field(r.out, "path");
        std::ifstream in(file, std::ios::binary);
        std::stringstream content;
        content << in.rdbuf();
        const std::string text = content.str();
        EXPECT_EQ(text.find("ERROR"), std::string::npos) << "no record of the ERROR reply";
        ASSERT_GE(text.size(), 2u);
        EXPECT_EQ(text.substr(text.size() - 2), "\r\n") << "the file ends on a whole record";
        // Records: lines that begin with a digit (the time column); the still shaft at 1000.
        std::istringstream lines(text);
        int records = 0;
        for (std::string line; std::getline(lines, line);) {
            if (line.empty() || line[0] < '0' || line[0] > '9') continue;
            ++records;
            std::vector<std::string> fields;
            std::istringstream f(line);
            for (std::string field; std::getline(f, field, ';');)
                fields.push_back(field);
            ASSERT_GE(fields.size(), 4u) << line;
            EXPECT_EQ(fields[3], "1000") << line;
        }
        EXPECT_EQ(Field(r.out, "records"), std::to_string(records));
        EXPECT_GE(records, 5);
        fs::remove_all(pattern);
        TearDown();
        stop = false;
    }
}

} // namespace

namespace {

// Ctrl+C, a kill or a closed terminal ends a long run at its next step: the supply is switched
// back on, the summary printed with the figures so far, and the verdict is a failure. A second
// signal ends the program at once.
TEST_F(CliVerdict, ASignalEndsTheRunAtTheNextStepWithTheSupplyOn) {
    struct Case {
        std::vector<std::string> args;
        const char* startedWhen; // output that shows the run is under way
        const char* says;        // what the summary says of the early end
    };
    std::string dir = (fs::temp_directory_path() / "tarvo-cli-signal-XXXXXX").string();
    ASSERT_NE(::mkdtemp(dir.data()), nullptr);
    const std::vector<Case> cases = {
        {{"powercycle", "--count", "1000", "--min", "20", "--max", "30", "--at-rest"},
         "Cikliranje start",
         "\nchecks: "},
        {{"record", "--seconds", "100", "--interval", "20", "--dir", dir}, "path: ", "\nrecords: "},
        {{"noise", "--samples", "1000000"}, "", "Acquisition ended early after "},
    };
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.args[0] + " signal " + std::to_string(signal));
            Start("t1mt", 1000);
            testing_support::ProgramStreams streams;
            streams.signals = {{c.startedWhen, 300, signal}};
            auto args = c.args;
            args.insert(args.end(), {"--port", simulator->SlavePath()});
            const auto r = RunProgram(TARVO_CLI_PATH, args, streams);
            EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
            EXPECT_EQ(Field(r.out, "ended"), "interrupted") << r.out;
            EXPECT_NE(r.out.find(c.says), std::string::npos) << r.out;
            EXPECT_TRUE(simulator->SupplyOn());
        }
    }
    // A second signal does not wait for the supply to come back on. Slow replies keep the program
    // at it long enough for the second signal to find it there.
    Start("t1mt", 1000);
    simulator->SetExtraDelayMs(150);
    testing_support::ProgramStreams streams;
    streams.signals = {{"Cikliranje start", 100, SIGINT}, {"Checks: ", 0, SIGINT}};
    const auto r = RunProgram(
        TARVO_CLI_PATH,
        {"powercycle", "--count", "1000", "--min", "20", "--max", "30", "--port", simulator->SlavePath()},
        streams);
    EXPECT_EQ(r.killedBy, SIGINT) << r.out;
    fs::remove_all(dir);
}

} // namespace

namespace {

// A short pause between readings is a pause too: 9 ms apart, a second holds at most 112 readings,
// where the pass alone (the in-process simulator answers at once) would take several hundred.
TEST_F(CliVerdict, RecordKeepsAShortIntervalBetweenReadings) {
    Start("t1", 1000);
    std::string dir = (fs::temp_directory_path() / "tarvo-cli-interval-XXXXXX").string();
    ASSERT_NE(::mkdtemp(dir.data()), nullptr);
    const auto r = Run({"record", "--seconds", "1", "--interval", "9", "--dir", dir});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    const int records = std::atoi(Field(r.out, "records").c_str());
    EXPECT_GT(records, 0) << r.out;
    EXPECT_LE(records, 1000 / 9 + 1) << r.out;
    fs::remove_all(dir);
}

} // namespace
