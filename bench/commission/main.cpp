// A commissioning run with a short plan against the simulated adapter with wire timing: its wall
// time as a share of what its steps cannot do without (the wire time of every exchange, the waits
// the steps must make: the power-cycling pauses drawn, the NVRAM's 150 ms after a save, the
// self-calibration's own duration). The engine is the one both front ends use, driven by a plain
// loop as tarvo-cli drives it. Prints figures and ratios; it asserts nothing.
//
//   bench_commission [runs [simulator options]]    default 3 runs,
//   "t1,power-on=1,wire-timing=1,selfcal-seconds=1"
#include "Clock.h"
#include "Commissioning.h"
#include "ConfigProfile.h"
#include "K310Simulator.h"
#include "K310_BiSS_bidirectional.h"
#include "SerialPort.h"
#include "SimOptions.h"
#include "VelcorTraffic.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

const char* const kPlan = R"({"format":1,"plan":"bench","profile":"t1.json","steps":[
  {"step":"identify","type":1},
  {"step":"apply-profile"},
  {"step":"self-calibration","arc":360,"timeout":10},
  {"step":"noise","samples":500,"limits":{"six_sigma_max":10}},
  {"step":"error-map","limits":{"peak_to_peak_max":1000}},
  {"step":"signal-level","readings":10,"limits":{"min":600}},
  {"step":"power-cycling","count":5,"min_ms":150,"max_ms":400,"signal_level":true},
  {"step":"diagnostics"},
  {"step":"save"},
  {"step":"final-read","readings":3}]})";

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 3;
    const char* options = argc > 2 ? argv[2] : "t1,power-on=1,wire-timing=1,selfcal-seconds=1";
    if (runs < 1 || runs > 100) {
        std::fprintf(stderr, "usage: bench_commission [runs (1..100) [simulator options]]\n");
        return 2;
    }
    sim::SimOptions simOptions;
    std::string error;
    if (!sim::ParseSimOptions(options, simOptions, error)) {
        std::fprintf(stderr, "simulator options: %s\n", error.c_str());
        return 2;
    }
    sim::K310Simulator simulator(simOptions);
    if (!simulator.Start(&error)) {
        std::fprintf(stderr, "simulator: %s\n", error.c_str());
        return 1;
    }
    K310_BiSS_bidirectional::PortHandle = platform::OpenPort(simulator.SlavePath());
    if (K310_BiSS_bidirectional::PortHandle == platform::kNoPort) {
        std::fprintf(stderr, "cannot open %s\n", simulator.SlavePath().c_str());
        return 1;
    }

    Procedures::TCommissioningPlan plan;
    if (!Procedures::ParsePlan(kPlan, plan, error)) {
        std::fprintf(stderr, "plan: %s\n", error.c_str());
        return 1;
    }
    Procedures::TConfigProfile profile;
    if (!Procedures::ReadProfileFile(std::string(TARVO_EXAMPLES_DIR) + "/profiles/t1.json", profile, error)) {
        std::fprintf(stderr, "profile: %s\n", error.c_str());
        return 1;
    }
    Procedures::TVelcorTraffic traffic;
    traffic.Profile = profile;

    std::printf("plan: %zu steps; simulator %s\n", plan.Steps.size(), options);
    std::vector<double> ratios;
    for (int run = 0; run < runs; ++run) {
        simulator.ClearReceived();
        Procedures::TCommissioningRunRecord record;
        Procedures::TCommissioningRun commissioning(plan, traffic, record, {});
        double waits = 0;
        const double t0 = Now();
        for (Procedures::TNextStep next = commissioning.Start(); !next.Done; next = commissioning.Step()) {
            // The self-calibration's polls are the engine's own; its bound is the procedure's
            // duration, added below.
            const bool selfCal =
                commissioning.Running() && commissioning.CurrentStep() < plan.Steps.size() &&
                plan.Steps[commissioning.CurrentStep()].Kind == Procedures::TPlanStepKind::SelfCalibration;
            if (!selfCal) waits += next.WaitMs / 1000.0;
            if (next.WaitMs > 0) platform::SleepMs(static_cast<uint32_t>(next.WaitMs));
        }
        const double total = Now() - t0;
        if (record.Verdict != Procedures::kVerdictPass) {
            std::fprintf(stderr, "the run did not pass: %s\n", record.VerdictReason.c_str());
            return 1;
        }
        double wireBytes = 0;
        const auto received = simulator.Received();
        for (const auto& r : received)
            wireBytes += double(r.command.size() + 1 + r.reply.size());
        const double wire = wireBytes * 10.0 / 115200.0;
        const double bound = wire + waits + simOptions.selfCalSeconds;
        ratios.push_back(total / bound);
        std::printf("run %d: %.3f s; bound %.3f s = wire %.3f s (%zu exchanges) + waits %.3f s + "
                    "self-calibration %.1f s; ratio %.3f\n",
                    run + 1, total, bound, wire, received.size(), waits, simOptions.selfCalSeconds,
                    total / bound);
        for (const auto& s : record.Steps)
            std::printf("  %-17s %6lld ms\n", s.Name.c_str(), static_cast<long long>(s.EndMs - s.StartMs));
    }
    std::sort(ratios.begin(), ratios.end());
    std::printf("run time / sum of the steps' own bounds: median %.3f, worst %.3f (target <= 1.05)\n",
                ratios[ratios.size() / 2], ratios.back());
    return 0;
}
