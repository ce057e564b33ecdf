// A commissioning plan: its name, the profile it applies and its ordered steps with their
// parameters and limits, read from JSON. Every problem names its JSON path
// ("steps[3].limits.six_sigma_max: expected a number, got \"x\""), and the whole plan is checked
// before any step runs, so a typo never stops a run half way.
#pragma once

#include "ConfigProfile.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Procedures {

enum class TPlanStepKind {
    Identify,
    ApplyProfile,
    SelfCalibration,
    Noise,
    ErrorMap,
    AirGap,
    SignalLevel,
    PowerCycling,
    Diagnostics,
    Save,
    FinalRead,
};

// The step's name in a plan ("identify", "apply-profile", ...).
const char* PlanStepName(TPlanStepKind kind);

// A closed range; either end may be open.
struct TLimitRange {
    std::optional<double> Min;
    std::optional<double> Max;
    bool Any() const { return Min || Max; }
    bool Holds(double value) const { return (!Min || value >= *Min) && (!Max || value <= *Max); }
};

struct TPlanStep {
    TPlanStepKind Kind = TPlanStepKind::Identify;
    bool ContinueOnFail = false; // a failure of this step does not stop the steps after it
    // identify
    std::optional<int> ExpectedType;
    std::string PartNumberPattern; // * and ?; empty: any
    // apply-profile
    bool SaveProfile = false;
    // self-calibration
    uint16_t Arc = 0;    // 0: leave SELF_CAL_ARC as it is
    uint8_t Timeout = 0; // 0: leave SELF_CAL_TIMEOUT as it is
    // noise, signal-level, air-gap, final-read: readings to take
    int Samples = 0;
    // noise
    std::optional<double> SixSigmaMax;
    TLimitRange NoiseSignalLevel;
    // error-map
    std::optional<double> PeakToPeakMax;
    // signal-level (raw) and air-gap (um); power-cycling's signal levels
    TLimitRange Range;
    // power-cycling
    int Count = 0;
    int MinMs = 150;
    int MaxMs = 400;
    bool AtRest = true;
    bool RecordSignalLevel = false; // the signal level at every check, charted; limits in Range
    // diagnostics
    TLimitRange SensorTemperature;
    TLimitRange OperatingTemperature; // the lifetime minimum and maximum must both lie within
    std::optional<double> SafetyRtMin;
    std::optional<double> SafetyPerMin;
};

struct TCommissioningPlan {
    std::string Name;
    std::string ProfilePath; // as written in the plan; relative to the plan's folder
    bool ContinueOnFail = false;
    std::vector<TPlanStep> Steps;
    bool AppliesProfile() const;
};

// Reads a plan from its JSON text; false with `error` naming the JSON path of the first problem.
bool ParsePlan(std::string_view json, TCommissioningPlan& plan, std::string& error);

// Reads a plan file (`path` in UTF-8) and, when it applies one, the profile it names, relative to
// the plan's folder: both are checked whole before anything reaches the encoder, by the window and
// the command line alike. False with `error` naming the file and the problem ("cannot open PATH",
// "PATH: steps[0].step: missing", "profile: cannot open PATH", "profile: registers.X: ..."); `plan`
// and `profile` are only changed on success (`profile` empty for a plan that applies none).
// `planText`, when given, receives the plan file's bytes.
bool LoadPlanWithProfile(const std::string& path, TCommissioningPlan& plan,
                         std::optional<TConfigProfile>& profile, std::string& error,
                         std::string* planText = nullptr);

} // namespace Procedures
