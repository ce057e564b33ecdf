// tarvo-cli's verdicts where a wrong "ok" would let a station pass a bad part: the supply
// switched off, against the simulated adapter and encoder with the faults injected.
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

} // namespace
