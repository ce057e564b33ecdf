// The power-cycling test's driver: one step at a time, so the window runs it from a timer and
// tarvo-cli from a plain loop, and both reach the same verdict from the same answers. The traffic
// is the front end's (TProcedureTraffic); the pauses between steps are the front end's to wait.
//
// Beyond the checks themselves, every step that could not be made is said and counted: a check
// whose reading failed is never compared ("Check failed: REASON [COUNT]"), a supply command the
// adapter refused is a failed cycle ("Supply command failed: CMD REASON [COUNT]", and the check
// after a refused "n" is not made, since the encoder may not have come on), and the run's verdict
// is a failure when anything failed or jumped.
#pragma once

#include "PowerCycling.h"
#include "ProcedureTraffic.h"

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace Procedures {

class TPowerCycleRun {
public:
    using TLogLine = std::function<void(const std::string&)>;

    // `state` carries PowerOnStatus from run to run (the front end keeps it); `log` receives
    // every line of the test's log as it happens.
    TPowerCycleRun(TPowerCycleState& state, TProcedureTraffic& traffic, TLogLine log, uint32_t seed);

    // What the front end may change between steps (the window's spin edits and check box).
    long long Remaining = 0; // cycles still to run; counts down
    int MinMs = 150;
    int MaxMs = 400;
    bool AtRest = false;
    Orodja::TNumberSeparators Separators{".", ","};
    // Also read the signal level at every good check, while the supply is still on (a
    // commissioning plan charts how it holds over the cycles). A level that could not be read is
    // a failed reading like a failed check, and is not a value.
    bool RecordSignalLevel = false;
    struct TLevel {
        long long Cycle; // the supply cycles made before this check
        double Value;
    };

    // The reference reading and the start line ("Cikliranje start Nx"); the pause before the first
    // step is the minimum delay. Done when the link was lost already.
    TNextStep Start();
    // One step: the end of the run at count 0, a powered phase (check, "f") or an unpowered one
    // ("n", count - 1). Then the pause before the next.
    TNextStep Step();
    // Ends the run before its next step (the front end's stop, a signal): the summary line.
    void Stop(TRunEnd why);

    TRunEnd End() const { return end_; }
    bool Running() const { return end_ == TRunEnd::Running; }
    int Checks() const { return checks_; }
    int Jumps() const { return jumps_; }
    int FailedReadings() const { return failedReadings_; }
    int FailedSupplyCommands() const { return failedSupplyCommands_; }
    // The reason of the failure that ended the run early (a lost link), else empty.
    const std::string& EndReason() const { return endReason_; }
    const std::vector<TLevel>& SignalLevels() const { return levels_; }
    // The run completed without a jump, a failed check or a failed supply command.
    bool Passed() const {
        return end_ == TRunEnd::Completed && jumps_ == 0 && failedReadings_ == 0 &&
               failedSupplyCommands_ == 0;
    }
    // "Checks: C, jumps: J, failed: F", F being failed checks and failed supply commands together.
    std::string SummaryLine() const;

private:
    void Finish(TRunEnd why, const std::string& reason = {});
    // A failed reading ("Check", "Signal level"): its line and count; true when it ends the run.
    bool ReadingFailed(const char* what, const TTrafficResult& result);
    bool SupplyFailed(const char* command, const TTrafficResult& result);

    TPowerCycleState& state_;
    TProcedureTraffic& traffic_;
    TLogLine log_;
    std::mt19937 random_;
    TRunEnd end_ = TRunEnd::Running;
    std::string endReason_;
    bool haveReference_ = false;
    bool skipNextCheck_ = false;
    int checks_ = 0;
    int jumps_ = 0;
    int failedReadings_ = 0;
    int failedSupplyCommands_ = 0;
    long long startRemaining_ = 0;
    std::vector<TLevel> levels_;
};

} // namespace Procedures
