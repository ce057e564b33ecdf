// tarvo-cli's verdicts where a wrong "ok" would let a station pass a bad part: the supply
// switched off, and the self-calibration started and followed to its result, against the
// simulated adapter and encoder with the faults injected.
#include "K310Simulator.h"
#include "RunProgram.h"
#include "SimOptions.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using testing_support::ProgramOutput;
using testing_support::RunProgram;

namespace {

std::unique_ptr<sim::K310Simulator> StartSimulator(const std::string& spec) {
    sim::SimOptions options;
    std::string error;
    EXPECT_TRUE(sim::ParseSimOptions(spec, options, error)) << error;
    auto simulator = std::make_unique<sim::K310Simulator>(options);
    EXPECT_TRUE(simulator->Start(&error)) << error;
    return simulator;
}

ProgramOutput RunCli(const sim::K310Simulator& simulator, std::vector<std::string> args) {
    args.push_back("--port");
    args.push_back(simulator.SlavePath());
    return RunProgram(TARVO_CLI_PATH, args);
}

bool Received(const sim::K310Simulator& simulator, const std::string& command) {
    for (const auto& r : simulator.Received())
        if (r.command == command) return true;
    return false;
}

// Whether the simulator received the start of a self-calibration (0x41 to COMMAND, at the
// address of either register layout).
bool StartSent(const sim::K310Simulator& simulator) {
    for (const auto& r : simulator.Received())
        if (r.command == "W:0001:000000BD:00000041" || r.command == "W:0001:00000049:00000041") return true;
    return false;
}

std::string EscapedForJson(std::string text) {
    for (size_t at = 0; (at = text.find_first_of("\r\n", at)) != std::string::npos; at += 2)
        text.replace(at, 1, text[at] == '\r' ? "\\r" : "\\n");
    return text;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

template <class Pred> bool WaitUntil(Pred done, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// ---------------------------------------------------------------- supply off

// Runs `power off` with a fault injected after the adapter search (which asks "v", "r" and "o"),
// so that the fault meets "f". Every reply comes 100 ms late, which keeps that gap open; should
// the injection still miss "f" (`landed` says whether it met it), the run is repeated.
ProgramOutput PowerOffWithFault(sim::K310Simulator& simulator, const std::function<void()>& inject,
                                const std::function<bool(const sim::ReceivedCommand&)>& landed) {
    ProgramOutput out;
    for (int attempt = 0; attempt < 5; ++attempt) {
        simulator.SetSupply(true);
        simulator.ClearReceived();
        simulator.SetExtraDelayMs(100);
        std::thread cli([&] { out = RunCli(simulator, {"power", "off", "--json"}); });
        const bool searched = WaitUntil([&] { return Received(simulator, "o"); }, 5000);
        if (searched) inject();
        cli.join();
        simulator.SetExtraDelayMs(0);
        simulator.ErrorReplyNext(0);
        simulator.SilenceNext(0);
        // A search that failed (a machine so busy that "v" went unanswered) is tried again too.
        const auto received = simulator.Received();
        if (searched && !received.empty() && received.back().command == "f" && landed(received.back()))
            return out;
    }
    ADD_FAILURE() << "the fault never met \"f\": " << out.out << out.err;
    return out;
}

TEST(CliPower, OffFailsUnlessTheAdapterSwitchedTheSupplyOff) {
    auto simulator = StartSimulator("t1,power-on=1");

    // Refused: the supply is still on, and the adapter said so.
    auto r = PowerOffWithFault(
        *simulator, [&] { simulator->ErrorReplyNext(1); },
        [](const sim::ReceivedCommand& f) { return f.reply == "ERROR command failed\r"; });
    EXPECT_EQ(r.exitCode, 1) << r.out;
    EXPECT_EQ(r.out,
              "{\"ok\":false,\"LastErrorText\":\"Setting power supply (f) not successfull! (ERROR command "
              "failed)\",\"ErrComm\":0,\"reply\":\"ERROR command failed\"}\n");
    EXPECT_TRUE(simulator->SupplyOn());

    // Unanswered: nobody knows whether the supply went off.
    r = PowerOffWithFault(
        *simulator, [&] { simulator->SilenceNext(1); },
        [](const sim::ReceivedCommand& f) { return !f.answered; });
    EXPECT_EQ(r.exitCode, 1) << r.out;
    EXPECT_TRUE(Contains(r.out,
                         "\"ok\":false,\"LastErrorText\":\"Setting power supply (f) not successfull! (USB "
                         "Comm Err -1)\",\"ErrComm\":-1"))
        << r.out;

    // Switched off.
    simulator->SetSupply(true);
    r = RunCli(*simulator, {"power", "off", "--json"});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "{\"ok\":true,\"reply\":\"OFF\"}\n");
    EXPECT_FALSE(simulator->SupplyOn());
    r = RunCli(*simulator, {"power", "off"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "power: off\nreply: OFF\n");
}

// ---------------------------------------------------------------- self-calibration start

TEST(CliSelfCal, ARefusedArcOrTimeoutStopsBeforeTheStart) {
    struct Row {
        const char* preset;
        const char* fault; // a control command, or none
        std::vector<std::string> args;
        std::string reason; // how the failure's reason begins
    };
    const Row rows[] = {
        {"t6",
         "regerror C4 56",
         {"--arc", "720"},
         "SELF_CAL_ARC (0xC4) not written, self-calibration not started: Parameter out of range\r\nsCmd: "
         "W:0002:000000C4:000002D0"},
        // An encoder without the timeout register refuses a timeout.
        {"bare",
         "",
         {"--arc", "180", "--timeout", "5"},
         "SELF_CAL_TIMEOUT (0x21) not written, self-calibration not started: "
         "Invalid register address\r\nsCmd: W:0001:00000021:00000005"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.preset);
        auto simulator = StartSimulator(std::string(row.preset) + ",power-on=1");
        if (*row.fault) {
            ASSERT_EQ(simulator->Control(row.fault), "ok");
        }
        for (bool json : {true, false}) {
            simulator->ClearReceived();
            std::vector<std::string> args = {"selfcal", "start"};
            args.insert(args.end(), row.args.begin(), row.args.end());
            if (json) args.push_back("--json");
            const auto r = RunCli(*simulator, args);
            EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
            const std::string text = json ? r.out : r.err;
            const std::string expected =
                json ? "{\"ok\":false,\"LastErrorText\":\"" + EscapedForJson(row.reason)
                     : "tarvo-cli: " + row.reason;
            EXPECT_EQ(text.rfind(expected, 0), 0u) << text;
            EXPECT_FALSE(StartSent(*simulator)) << "no start after a refused setting";
        }
        bool running = true;
        simulator->Inspect([&](sim::SimDevice& d, double) { running = d.SelfCalRunning(); });
        EXPECT_FALSE(running);
    }
}

// Without --wait the output says what happened: a start, not the status of the last calibration.
TEST(CliSelfCal, AStartWithoutWaitingReportsTheStart) {
    auto simulator = StartSimulator("t6,power-on=1,selfcal-seconds=0");
    auto r = RunCli(*simulator, {"selfcal", "start", "--arc", "180", "--json"});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "{\"ok\":true,\"started\":true}\n");
    EXPECT_TRUE(StartSent(*simulator));
    uint32_t arc = 0;
    ASSERT_TRUE(simulator->PeekRegister(0xC4, 2, arc));
    EXPECT_EQ(arc, 180u);

    r = RunCli(*simulator, {"selfcal", "start"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "self-calibration started\n");
}

// ---------------------------------------------------------------- self-calibration to its end

// The verdict of --wait: the counter must change, the result be good by its layout's rule, and a
// reading afterwards carry no error bit. The encoder's time runs ten times as fast.
TEST(CliSelfCal, WaitingSucceedsOnlyOnAGoodResultOfAnEncoderWithoutError) {
    struct Row {
        const char* preset; // t1: one-byte status, t6: four-byte status
        const char* outcome;
        bool encoderError;
        std::vector<std::string> named; // empty: success
    };
    const Row rows[] = {
        {"t6", "success", false, {}},
        {"t1", "no-correction", false, {}},
        {"t6", "out-of-range", false, {"Calibration out of range"}},
        {"t6", "numerical", false, {"Numerical error"}},
        {"t6", "write-error", false, {"NVRAM Write error"}},
        {"t6", "timeout", false, {"Timeout expired"}},
        {"t1", "timeout", false, {"Timeout expired"}},
        {"t1", "numerical", false, {"Calibration out of range"}},
        // A good calibration of an encoder in error: its reading says so.
        {"t1", "success", true, {"error bit set in the position reading afterwards"}},
        {"t6",
         "success",
         true,
         {"Encoder in Error state", "error bit set in the position reading afterwards"}},
    };
    for (const Row& row : rows) {
        const std::string name =
            std::string(row.preset) + " " + row.outcome + (row.encoderError ? " in error" : "");
        SCOPED_TRACE(name);
        auto simulator = StartSimulator(std::string(row.preset) + ",power-on=1,time-scale=10");
        ASSERT_EQ(simulator->Control(std::string("selfcal ") + row.outcome + " 1"), "ok");
        if (row.encoderError) simulator->SetErrorBit(true);

        const auto r =
            RunCli(*simulator, {"selfcal", "start", "--arc", "180", "--timeout", "2", "--wait", "--json"});

        EXPECT_TRUE(StartSent(*simulator));
        EXPECT_TRUE(Contains(r.out, "\"finished\":true")) << r.out;
        if (row.named.empty()) {
            EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
            EXPECT_EQ(r.out.rfind("{\"ok\":true,\"SelfCalStatus\":", 0), 0u) << r.out;
            EXPECT_TRUE(Contains(r.out, "\"good\":true,\"ErrBit\":false}")) << r.out;
            continue;
        }
        EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
        EXPECT_EQ(r.out.rfind("{\"ok\":false,\"LastErrorText\":\"self-calibration failed: ", 0), 0u) << r.out;
        std::string conditions;
        for (const auto& n : row.named)
            conditions += (conditions.empty() ? "[\"" : ",\"") + n + "\"";
        EXPECT_TRUE(Contains(r.out, "\"conditions\":" + conditions + "]}")) << r.out;
        EXPECT_TRUE(Contains(r.out, row.encoderError ? "\"ErrBit\":true" : "\"ErrBit\":false")) << r.out;
    }
}

// A calibration still running when the wait is over is no success, and the JSON object says it
// did not finish.
TEST(CliSelfCal, ACalibrationThatNeverEndsIsNoSuccess) {
    // The encoder's time runs a hundred times slower: its 1 s timeout is never over.
    auto simulator = StartSimulator("t1,power-on=1,time-scale=0.01");
    const auto r =
        RunCli(*simulator, {"selfcal", "start", "--arc", "180", "--timeout", "1", "--wait", "--json"});
    EXPECT_EQ(r.exitCode, 1) << r.out;
    EXPECT_EQ(r.out.rfind("{\"ok\":false,\"LastErrorText\":\"self-calibration did not finish in time\",", 0),
              0u)
        << r.out;
    EXPECT_TRUE(Contains(r.out, ",\"finished\":false}")) << r.out;
}

// A lost port ends the wait at once, not after 1.2 times the timeout (here 306 s): the run gets
// 30 s, after which `timeout` ends it with status 124.
TEST(CliSelfCal, ALostPortEndsTheWaitAtOnce) {
    auto simulator = StartSimulator("t6,power-on=1,selfcal-seconds=250");
    ProgramOutput r;
    std::thread cli([&] {
        r = RunProgram("/usr/bin/timeout",
                       {"30", TARVO_CLI_PATH, "selfcal", "start", "--arc", "180", "--timeout", "255",
                        "--wait", "--json", "--port", simulator->SlavePath()});
    });
    bool running = false;
    const bool started = WaitUntil(
        [&] {
            simulator->Inspect([&](sim::SimDevice& d, double) { running = d.SelfCalRunning(); });
            return running;
        },
        10000);
    simulator->Unplug();
    cli.join();
    ASSERT_TRUE(started) << r.out << r.err;
    EXPECT_NE(r.exitCode, 124) << "still waiting 30 s after the port was lost";
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_EQ(r.out.rfind("{\"ok\":false,\"LastErrorText\":\"the adapter's port was lost while the "
                          "self-calibration ran: USB Comm Err -",
                          0),
              0u)
        << r.out;
    EXPECT_TRUE(Contains(r.out, "\"finished\":false}")) << r.out;
}

} // namespace
