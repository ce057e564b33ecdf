// A commissioning run: a plan's steps, one after the other, on one encoder, each ending in a
// verdict with its figures and limits, and the run in PASS, FAIL or INTERRUPTED. It is a step
// machine like the other procedures: the window calls Step() from a timer, tarvo-cli from a loop,
// so both reach the same verdicts from the same answers.
//
// The failure rules are the procedures' own: a failed reading is never a sample, a step whose
// traffic failed has failed and says why, and a lost port ends the run at once with a verdict
// saying so. A step runs only when the ones before it passed, unless the plan (or the step) says
// continue-on-fail; the steps not run are recorded as SKIPPED, so the record always shows the
// whole plan.
#pragma once

#include "AirGapModel.h"
#include "CommissioningPlan.h"
#include "CommissioningRecord.h"
#include "NoiseTest.h"
#include "PowerCycleRun.h"
#include "RecordingPass.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Procedures {

struct TIdentity : TTrafficResult {
    int EncoderType = 0;
    std::string Layout; // "legacy" or "new"
    std::string PartNumber;
    std::string SerialNumber;
    std::string Firmware;
    uint32_t FirmwareMajor = 0;
};

struct TProfileRegisterCheck {
    std::string Name;
    uint32_t Written = 0;
    bool ReadBackOk = false;
    uint32_t ReadBack = 0;
    std::string Error;
};

struct TProfileOutcome : TTrafficResult {
    std::string ProfileName;
    std::vector<TProfileRegisterCheck> Registers;
};

struct TSelfCalStatus : TTrafficResult {
    uint32_t Status = 0;
    int StatusBytes = 1; // 1 or 4
    std::string ResultText;
};

// What a commissioning run needs from the adapter and the encoder beyond the other procedures.
class TCommissioningTraffic : public TRecordingTraffic {
public:
    virtual TIdentity Identify() = 0;
    // Writes the run's profile, reads each register back and, when all match, saves to NVRAM if
    // asked. Ok only when everything was written and read back equal (and saved).
    virtual TProfileOutcome ApplyProfile(bool saveToNvram) = 0;
    // Writes the arc and the timeout (each only when not 0) and starts the self-calibration.
    virtual TTrafficResult StartSelfCalibration(uint16_t arc, uint8_t timeout) = 0;
    virtual TSelfCalStatus ReadSelfCalStatus() = 0;
    virtual TTrafficResult ReadErrorMap(std::vector<int16_t>& values) = 0;
    virtual TRegisterValue ReadRegisterValue(uint32_t address, uint8_t length) = 0;
    virtual TTrafficResult SaveToNvram() = 0;
    // The air-gap model's coefficients for the identified encoder (K 0: no model).
    virtual TAirGapCoefficients AirGap() const = 0;
    // The lifetime registers (power cycles, operating time and temperatures, safety margins).
    virtual bool HasLifetimeDiagnostics() const = 0;
};

// Why a finished self-calibration is no good result, named as the Self-Calibration page names its
// conditions; empty for a good one. One-byte status: bits 2-4; four-byte status: bit 6 and the
// conditions it comes with.
std::vector<std::string> SelfCalFailedConditions(uint32_t status, int statusBytes);

// The profile a run applies, into its record (name and JSON as written); nothing for none.
void RecordProfile(TCommissioningRunRecord& record, const std::optional<TConfigProfile>& profile);

// Milliseconds since 1970-01-01 UTC, for the record's times; the front end may replace it.
using TWallClock = std::function<int64_t()>;
int64_t WallClockMs();

class TCommissioningRun {
public:
    // A step has ended (its record and the series it keeps), or the whole run has.
    using TStepEnded =
        std::function<void(const TCommissioningStepRecord&, const std::vector<TCommissioningSeries>&)>;
    // A line for the log: what is going on now ("noise: 1200 of 5000").
    using TProgress = std::function<void(const std::string&)>;

    TCommissioningRun(const TCommissioningPlan& plan, TCommissioningTraffic& traffic,
                      TCommissioningRunRecord& record, TStepEnded stepEnded, TProgress progress = {},
                      TWallClock clock = WallClockMs, uint32_t seed = 1);
    ~TCommissioningRun();

    // Called once the record has its identity (or the identification failed), before any step is
    // recorded: the front end keeps the run's header from here on.
    std::function<void()> Started;

    // Fills the record's identity (the encoder is identified first, whatever the plan's steps)
    // and the start time; Done at once when the encoder cannot be identified.
    TNextStep Start();
    TNextStep Step();
    // Ends the run before its next step (the program closing, a signal): the step in progress is
    // not recorded, the run is INTERRUPTED.
    void Stop(const std::string& why);

    bool Running() const { return running_; }
    const TCommissioningRunRecord& Record() const { return record_; }
    // The index of the step in progress (0-based), the plan's size when done.
    size_t CurrentStep() const { return index_; }
    // The step in progress as a fraction 0..1, where it knows one.
    double StepProgress() const;

private:
    struct TStepState;
    void BeginStep();
    void EndStep(bool passed, const std::string& message, std::string figures, std::string limits,
                 std::vector<TCommissioningSeries> series = {});
    void SkipRest(const std::string& why);
    void Finish(const char* verdict, const std::string& reason);
    TNextStep RunStep();
    TNextStep Next(int waitMs);

    TNextStep StepIdentify();
    TNextStep StepApplyProfile();
    TNextStep StepSelfCalibration();
    TNextStep StepNoise();
    TNextStep StepErrorMap();
    TNextStep StepLevels(bool airGap);
    TNextStep StepPowerCycling();
    TNextStep StepDiagnostics();
    TNextStep StepSave();
    TNextStep StepFinalRead();
    // A failed exchange of the current step: the step fails with `what` and the reason; a lost
    // port ends the run.
    TNextStep TrafficFailed(const std::string& what, const TTrafficResult& result, std::string figures = "{}",
                            std::string limits = "{}", std::vector<TCommissioningSeries> series = {});

    const TCommissioningPlan& plan_;
    TCommissioningTraffic& traffic_;
    TCommissioningRunRecord& record_;
    TStepEnded stepEnded_;
    TProgress progress_;
    TWallClock clock_;
    uint32_t seed_;
    bool running_ = false;
    bool failedSoFar_ = false;
    bool linkLost_ = false;
    size_t index_ = 0;
    std::unique_ptr<TStepState> state_;
};

} // namespace Procedures
