#include "Commissioning.h"

#include "FiguresText.h"

#include "ConfigProfile.h"
#include "Tarvo_konstante.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>

namespace Procedures {

namespace {

using json = nlohmann::ordered_json;
namespace layout = Tarvo_konstante;

// How often a running self-calibration is asked how it goes: often enough that the run waits
// little beyond the procedure's end, seldom enough that the asking costs the encoder nothing. And
// how long it may take when the plan sets no timeout (the encoder's timeout ends it; this only
// ends the wait when the encoder never says so).
constexpr int kSelfCalPollMs = 100;
constexpr int kSelfCalWithoutTimeoutMs = 12000;
// The NVRAM needs this long after a save before the encoder is spoken to again.
constexpr int kNvramPauseMs = 150;

void PutRange(json& limits, const char* minKey, const char* maxKey, const TLimitRange& range) {
    if (range.Min) limits[minKey] = *range.Min;
    if (range.Max) limits[maxKey] = *range.Max;
}

std::string Dump(const json& j) {
    // Device texts may hold any byte: shown as U+FFFD rather than refused.
    return j.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string Num(double v) {
    return FigureNumber(v);
}

std::string Describe(const TLimitRange& range, const std::string& unit = {}) {
    const auto n = [&](double v) { return Num(v) + unit; };
    if (range.Min && range.Max) return n(*range.Min) + ".." + n(*range.Max);
    if (range.Min) return "at least " + n(*range.Min);
    if (range.Max) return "at most " + n(*range.Max);
    return "any";
}

} // namespace

std::vector<std::string> SelfCalFailedConditions(uint32_t status, int statusBytes) {
    struct Condition {
        uint32_t mask;
        const char* name;
    };
    // The failure bits of each status layout, named as the Self-Calibration page's panels name them.
    static constexpr Condition kOneByteFailures[] = {
        {0x04, "Timeout expired"},
        {0x08, "Calibration out of range"},
        {0x10, "Input Arc Length out of range"},
    };
    static constexpr uint32_t kFourByteFailure = 0x40;
    static constexpr Condition kFourByteConditions[] = {
        {0x100, "Timeout expired"},
        {0x200, "Encoder in Error state"},
        {0x1000, "Numerical error"},
        {0x2000, "Calibration out of range"},
        {0x8000, "Radial displacement too high"},
        {0x200000, "NVRAM Write error"},
    };
    std::vector<std::string> named;
    if (statusBytes == 1) {
        for (const Condition& c : kOneByteFailures)
            if (status & c.mask) named.push_back(c.name);
        return named;
    }
    if ((status & kFourByteFailure) == 0) return named;
    for (const Condition& c : kFourByteConditions)
        if (status & c.mask) named.push_back(c.name);
    if (named.empty()) named.push_back("status bit 6 (calibration failed) set");
    return named;
}

int64_t WallClockMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// What the step in progress keeps between Step() calls.
struct TCommissioningRun::TStepState {
    int64_t StartMs = 0;
    int Phase = 0;
    // self-calibration
    uint32_t CounterAtStart = 0;
    int WaitedMs = 0;
    // noise, power cycling
    std::unique_ptr<TNoiseRun> Noise;
    std::vector<std::string> Warnings;
    TPowerCycleState PowerState;
    std::unique_ptr<TPowerCycleRun> Power;
    std::vector<std::string> PowerLog;
    // signal level, air gap, final read
    int Taken = 0;
    std::vector<double> Values;
};

void RecordProfile(TCommissioningRunRecord& record, const std::optional<TConfigProfile>& profile) {
    record.ProfileName = profile ? profile->Name : std::string();
    record.Profile = profile ? ProfileJson(*profile) : std::string();
}

TCommissioningRun::TCommissioningRun(const TCommissioningPlan& plan, TCommissioningTraffic& traffic,
                                     TCommissioningRunRecord& record, TStepEnded stepEnded,
                                     TProgress progress, TWallClock clock, uint32_t seed)
    : plan_(plan), traffic_(traffic), record_(record), stepEnded_(std::move(stepEnded)),
      progress_(std::move(progress)), clock_(std::move(clock)), seed_(seed) {}

TCommissioningRun::~TCommissioningRun() = default;

TNextStep TCommissioningRun::Start() {
    running_ = true;
    index_ = 0;
    failedSoFar_ = false;
    linkLost_ = false;
    record_.PlanName = plan_.Name;
    record_.StartMs = clock_();
    record_.Steps.clear();
    record_.Series.clear();
    const TIdentity id = traffic_.Identify();
    if (!id.Ok) {
        if (Started) Started();
        // Nothing ran: every step is skipped, so the record shows the plan, and the run failed.
        SkipRest("the encoder could not be identified");
        Finish(kVerdictFail, "the encoder could not be identified: " + id.Reason);
        return {true, 0};
    }
    record_.EncoderType = id.EncoderType;
    record_.Layout = id.Layout;
    record_.PartNumber = id.PartNumber;
    record_.SerialNumber = id.SerialNumber;
    record_.Firmware = id.Firmware;
    if (Started) Started();
    BeginStep();
    return {false, 0};
}

void TCommissioningRun::BeginStep() {
    state_ = std::make_unique<TStepState>();
    state_->StartMs = clock_();
    if (progress_ && index_ < plan_.Steps.size())
        progress_(std::to_string(index_ + 1) + "/" + std::to_string(plan_.Steps.size()) + " " +
                  PlanStepName(plan_.Steps[index_].Kind));
}

double TCommissioningRun::StepProgress() const {
    if (!running_ || !state_ || index_ >= plan_.Steps.size()) return 0;
    const TPlanStep& step = plan_.Steps[index_];
    switch (step.Kind) {
    case TPlanStepKind::Noise:
        return state_->Noise ? double(state_->Noise->Acquisition().Taken()) / step.Samples : 0;
    case TPlanStepKind::PowerCycling:
        return state_->Power && step.Count > 0 ? 1.0 - double(state_->Power->Remaining) / step.Count : 0;
    case TPlanStepKind::SelfCalibration: {
        const int limit = step.Timeout ? step.Timeout * 1200 : kSelfCalWithoutTimeoutMs;
        return std::min(1.0, double(state_->WaitedMs) / limit);
    }
    case TPlanStepKind::AirGap:
    case TPlanStepKind::SignalLevel:
    case TPlanStepKind::FinalRead:
        return double(state_->Taken) / step.Samples;
    default:
        return 0;
    }
}

TNextStep TCommissioningRun::Step() {
    if (!running_) return {true, 0};
    return RunStep();
}

TNextStep TCommissioningRun::Next(int waitMs) {
    if (!running_) return {true, 0};
    return {false, waitMs};
}

void TCommissioningRun::EndStep(bool passed, const std::string& message, std::string figures,
                                std::string limits, std::vector<TCommissioningSeries> series) {
    TCommissioningStepRecord step;
    step.Order = static_cast<int>(index_) + 1;
    step.Name = PlanStepName(plan_.Steps[index_].Kind);
    step.Verdict = passed ? kVerdictPass : kVerdictFail;
    step.Message = message;
    step.Figures = std::move(figures);
    step.Limits = std::move(limits);
    step.StartMs = state_ ? state_->StartMs : clock_();
    step.EndMs = clock_();
    for (auto& s : series)
        s.StepOrder = step.Order;
    record_.Steps.push_back(step);
    record_.Series.insert(record_.Series.end(), series.begin(), series.end());
    if (stepEnded_) stepEnded_(step, series);
    if (!passed && record_.VerdictReason.empty()) record_.VerdictReason = step.Name + ": " + message;
    failedSoFar_ = failedSoFar_ || !passed;
    const bool stop = linkLost_ || (!passed && !plan_.Steps[index_].ContinueOnFail);
    ++index_;
    if (stop) {
        SkipRest(linkLost_ ? "the adapter's port was lost" : "an earlier step failed");
        Finish(kVerdictFail, record_.VerdictReason);
        return;
    }
    if (index_ >= plan_.Steps.size()) {
        Finish(failedSoFar_ ? kVerdictFail : kVerdictPass, record_.VerdictReason);
        return;
    }
    BeginStep();
}

void TCommissioningRun::SkipRest(const std::string& why) {
    for (; index_ < plan_.Steps.size(); ++index_) {
        TCommissioningStepRecord step;
        step.Order = static_cast<int>(index_) + 1;
        step.Name = PlanStepName(plan_.Steps[index_].Kind);
        step.Verdict = kVerdictSkipped;
        step.Message = why;
        step.StartMs = step.EndMs = clock_();
        record_.Steps.push_back(step);
        if (stepEnded_) stepEnded_(step, {});
    }
}

void TCommissioningRun::Finish(const char* verdict, const std::string& reason) {
    running_ = false;
    state_.reset();
    record_.Verdict = verdict;
    record_.VerdictReason = reason;
    record_.EndMs = clock_();
}

void TCommissioningRun::Stop(const std::string& why) {
    if (!running_) return;
    // The step in progress has no verdict: it is not recorded, nor are the ones after it.
    Finish(kVerdictInterrupted, why);
}

TNextStep TCommissioningRun::TrafficFailed(const std::string& what, const TTrafficResult& result,
                                           std::string figures, std::string limits,
                                           std::vector<TCommissioningSeries> series) {
    std::string message = what + ": " + (result.Reason.empty() ? "no reason given" : result.Reason);
    // A lost port leaves the encoder out of reach: the step failed and no later step can run.
    linkLost_ = result.LinkLost;
    if (linkLost_) message = "the adapter's port was lost: " + message;
    EndStep(false, message, std::move(figures), std::move(limits), std::move(series));
    return Next(0);
}

TNextStep TCommissioningRun::RunStep() {
    switch (plan_.Steps[index_].Kind) {
    case TPlanStepKind::Identify:
        return StepIdentify();
    case TPlanStepKind::ApplyProfile:
        return StepApplyProfile();
    case TPlanStepKind::SelfCalibration:
        return StepSelfCalibration();
    case TPlanStepKind::Noise:
        return StepNoise();
    case TPlanStepKind::ErrorMap:
        return StepErrorMap();
    case TPlanStepKind::AirGap:
        return StepLevels(true);
    case TPlanStepKind::SignalLevel:
        return StepLevels(false);
    case TPlanStepKind::PowerCycling:
        return StepPowerCycling();
    case TPlanStepKind::Diagnostics:
        return StepDiagnostics();
    case TPlanStepKind::Save:
        return StepSave();
    case TPlanStepKind::FinalRead:
        return StepFinalRead();
    }
    return {true, 0};
}

TNextStep TCommissioningRun::StepIdentify() {
    const TPlanStep& step = plan_.Steps[index_];
    const TIdentity id = traffic_.Identify();
    if (!id.Ok) return TrafficFailed("identification failed", id);
    json figures = {{"type", id.EncoderType},
                    {"layout", id.Layout},
                    {"part_number", id.PartNumber},
                    {"serial_number", id.SerialNumber},
                    {"firmware", id.Firmware}};
    json limits = json::object();
    std::string message;
    if (step.ExpectedType) {
        limits["type"] = *step.ExpectedType;
        if (id.EncoderType != *step.ExpectedType)
            message = "encoder type " + std::to_string(id.EncoderType) + ", expected " +
                      std::to_string(*step.ExpectedType);
    }
    if (!step.PartNumberPattern.empty()) {
        limits["part_number"] = step.PartNumberPattern;
        if (!PartNumberMatches(step.PartNumberPattern, id.PartNumber) && message.empty())
            message = "part number " + id.PartNumber + " does not match " + step.PartNumberPattern;
    }
    if (id.SerialNumber != record_.SerialNumber && message.empty())
        message = "another encoder (serial number " + id.SerialNumber + ", the run began with " +
                  record_.SerialNumber + ")";
    EndStep(message.empty(), message, Dump(figures), Dump(limits));
    return Next(0);
}

TNextStep TCommissioningRun::StepApplyProfile() {
    const TPlanStep& step = plan_.Steps[index_];
    const TProfileOutcome outcome = traffic_.ApplyProfile(step.SaveProfile);
    json registers = json::object();
    json readBack = json::object();
    std::string mismatch;
    for (const auto& r : outcome.Registers) {
        json one = {{"written", r.Written}};
        if (r.ReadBackOk) {
            one["read_back"] = r.ReadBack;
            readBack[r.Name] = r.ReadBack;
        } else {
            one["read_back"] = nullptr;
        }
        if (!r.Error.empty()) one["error"] = r.Error;
        registers[r.Name] = one;
        if (mismatch.empty() && r.ReadBackOk && r.ReadBack != r.Written)
            mismatch = r.Name + " read back " + std::to_string(r.ReadBack) + ", written " +
                       std::to_string(r.Written);
    }
    json figures = {{"profile", outcome.ProfileName}, {"registers", registers}};
    json limits = {{"read_back", "equal to written"}, {"saved_to_nvram", step.SaveProfile}};
    std::vector<TCommissioningSeries> series;
    if (!readBack.empty()) series.push_back({0, "profile-read-back", Dump(readBack)});
    if (!outcome.Ok && outcome.LinkLost)
        return TrafficFailed("the profile", outcome, Dump(figures), Dump(limits), series);
    std::string message;
    if (!outcome.Ok) message = outcome.Reason.empty() ? mismatch : outcome.Reason;
    if (message.empty() && !mismatch.empty()) message = mismatch;
    // A save has had the NVRAM's pause already.
    EndStep(message.empty(), message, Dump(figures), Dump(limits), series);
    return Next(0);
}

TNextStep TCommissioningRun::StepSelfCalibration() {
    const TPlanStep& step = plan_.Steps[index_];
    TStepState& s = *state_;
    json limits = {{"finished", true}, {"successful", true}};
    if (step.Arc) limits["arc"] = step.Arc;
    if (step.Timeout) limits["timeout_s"] = step.Timeout;
    if (s.Phase == 0) {
        // The counter bits (0 and 1) change when a procedure ends.
        const TSelfCalStatus before = traffic_.ReadSelfCalStatus();
        if (!before.Ok) return TrafficFailed("self-calibration status", before);
        s.CounterAtStart = before.Status & 3;
        const TTrafficResult started = traffic_.StartSelfCalibration(step.Arc, step.Timeout);
        if (!started.Ok) return TrafficFailed("self-calibration not started", started);
        s.Phase = 1;
        return Next(kSelfCalPollMs);
    }
    s.WaitedMs += kSelfCalPollMs;
    const TSelfCalStatus status = traffic_.ReadSelfCalStatus();
    const int limitMs = step.Timeout ? step.Timeout * 1200 : kSelfCalWithoutTimeoutMs;
    if (!status.Ok) {
        // A busy encoder may stay silent for a moment; only a lost port or the time limit ends it.
        if (status.LinkLost || s.WaitedMs >= limitMs) return TrafficFailed("self-calibration status", status);
        return Next(kSelfCalPollMs);
    }
    const bool finished = (status.Status & 3) != s.CounterAtStart;
    if (!finished && s.WaitedMs < limitMs) return Next(kSelfCalPollMs);
    json figures = {{"finished", finished}, {"status", status.Status}, {"result", status.ResultText}};
    std::vector<std::string> conditions;
    if (!finished) {
        conditions.push_back("did not finish in " + std::to_string(limitMs / 1000) + " s");
    } else {
        conditions = SelfCalFailedConditions(status.Status, status.StatusBytes);
        // An encoder in error after its calibration has no calibration to trust.
        const TReading after = traffic_.TakeReading();
        if (!after.Ok) {
            if (after.LinkLost) return TrafficFailed("position reading after the self-calibration", after);
            conditions.push_back("no position reading afterwards (" + after.Reason + ")");
        } else {
            figures["error_bit"] = after.ErrorBit;
            if (after.ErrorBit) conditions.push_back("error bit set in the position reading afterwards");
        }
    }
    figures["successful"] = finished && conditions.empty();
    std::string message;
    for (const auto& c : conditions)
        message += (message.empty() ? "" : ", ") + c;
    EndStep(conditions.empty(), message, Dump(figures), Dump(limits));
    return Next(0);
}

TNextStep TCommissioningRun::StepNoise() {
    const TPlanStep& step = plan_.Steps[index_];
    TStepState& s = *state_;
    if (!s.Noise)
        s.Noise = std::make_unique<TNoiseRun>(traffic_, step.Samples,
                                              [&s](const std::string& w) { s.Warnings.push_back(w); });
    TNoiseRun& run = *s.Noise;
    if (!run.Step().Done) return Next(0);
    const TNoiseStatistics stats = run.Statistics();
    json figures = {{"samples", stats.Samples},
                    {"six_sigma", stats.SixSigma()},
                    {"spread", stats.Spread()},
                    {"mean", stats.Mean},
                    {"standard_deviation", stats.StandardDeviation}};
    figures["signal_level"] = stats.SignalLevelMeasured() ? json(stats.SignalLevelMean) : json(nullptr);
    json limits = json::object();
    if (step.SixSigmaMax) limits["six_sigma_max"] = *step.SixSigmaMax;
    PutRange(limits, "signal_level_min", "signal_level_max", step.NoiseSignalLevel);

    // The histogram of the samples around their mean, in whole counts, at most 61 bins wide; the
    // edges are counts from the mean, one more than the bins.
    std::vector<TCommissioningSeries> series;
    if (stats.Samples > 0) {
        const auto& samples = run.Acquisition().Samples();
        double lo = samples.front(), hi = samples.front(), sum = 0;
        for (float v : samples)
            lo = std::min<double>(lo, v), hi = std::max<double>(hi, v), sum += v;
        const double mean = sum / samples.size();
        const double width = std::max(1.0, std::ceil((hi - lo + 1) / 61));
        const int bins = static_cast<int>(std::floor((hi - lo) / width)) + 1;
        std::vector<int> counts(static_cast<size_t>(bins), 0);
        for (float v : samples)
            ++counts[static_cast<size_t>(std::floor((v - lo) / width))];
        std::vector<double> edges;
        for (int i = 0; i <= bins; ++i)
            edges.push_back(std::nearbyint((lo - 0.5 + i * width - mean) * 1000) / 1000);
        series.push_back({0, "noise-histogram", Dump(json{{"counts", counts}, {"edges", edges}})});
    }
    if (!run.Passed()) {
        const std::string why = run.EndReason().empty() ? RunEndText(run.End()) : run.EndReason();
        if (run.End() == TRunEnd::LostPort) {
            TTrafficResult lost;
            lost.LinkLost = true;
            lost.Reason = why;
            return TrafficFailed("noise acquisition", lost, Dump(figures), Dump(limits), series);
        }
        EndStep(false, "acquisition ended early: " + why, Dump(figures), Dump(limits), series);
        return Next(0);
    }
    std::string message;
    if (step.SixSigmaMax && stats.SixSigma() > *step.SixSigmaMax)
        message = "six sigma " + Num(stats.SixSigma()) + " above " + Num(*step.SixSigmaMax);
    if (message.empty() && step.NoiseSignalLevel.Any()) {
        if (!stats.SignalLevelMeasured())
            message = "no signal level was measured";
        else if (!step.NoiseSignalLevel.Holds(stats.SignalLevelMean))
            message =
                "signal level " + Num(stats.SignalLevelMean) + " outside " + Describe(step.NoiseSignalLevel);
    }
    EndStep(message.empty(), message, Dump(figures), Dump(limits), series);
    return Next(0);
}

TNextStep TCommissioningRun::StepErrorMap() {
    const TPlanStep& step = plan_.Steps[index_];
    std::vector<int16_t> values;
    const TTrafficResult read = traffic_.ReadErrorMap(values);
    if (!read.Ok) return TrafficFailed("error map entry " + std::to_string(values.size()), read);
    json limits = json::object();
    if (step.PeakToPeakMax) limits["peak_to_peak_max"] = *step.PeakToPeakMax;
    if (values.empty()) {
        EndStep(false, "the error map is empty", "{}", Dump(limits));
        return Next(0);
    }
    const auto [lo, hi] = std::minmax_element(values.begin(), values.end());
    const int peakToPeak = int(*hi) - int(*lo);
    json figures = {
        {"entries", values.size()}, {"minimum", *lo}, {"maximum", *hi}, {"peak_to_peak", peakToPeak}};
    std::vector<TCommissioningSeries> series = {{0, "error-map", Dump(json(values))}};
    std::string message;
    if (step.PeakToPeakMax && peakToPeak > *step.PeakToPeakMax)
        message = "peak to peak " + std::to_string(peakToPeak) + " above " + Num(*step.PeakToPeakMax);
    EndStep(message.empty(), message, Dump(figures), Dump(limits), series);
    return Next(0);
}

TNextStep TCommissioningRun::StepLevels(bool airGap) {
    const TPlanStep& step = plan_.Steps[index_];
    TStepState& s = *state_;
    json limits = json::object();
    PutRange(limits, "min", "max", step.Range);
    const TAirGapCoefficients model = traffic_.AirGap();
    if (!traffic_.HasSignalLevel() || (airGap && model.K == 0 && model.N == 0)) {
        EndStep(false, airGap ? "this encoder has no air-gap model" : "this encoder has no signal level",
                "{}", Dump(limits));
        return Next(0);
    }
    const TRegisterValue level = traffic_.ReadSignalLevel();
    if (!level.Ok) return TrafficFailed("signal level", level);
    double value = level.Value;
    if (airGap) {
        // As the reading cycle computes it: in single precision, 0 for a level of 0.
        const auto v = static_cast<uint16_t>(level.Value);
        const float um = v > 0 ? std::log(static_cast<float>(v)) * model.K + model.N : 0.0f;
        // Hundredths of a micrometre are more than the model knows; the rest is float noise.
        value = std::nearbyint(double(um) * 100) / 100;
    }
    s.Values.push_back(value);
    if (++s.Taken < step.Samples) return Next(0);
    const auto [lo, hi] = std::minmax_element(s.Values.begin(), s.Values.end());
    double sum = 0;
    for (double v : s.Values)
        sum += v;
    const std::string unit = airGap ? " um" : "";
    json figures = {{"readings", s.Taken}, {"minimum", *lo}, {"maximum", *hi}, {"mean", sum / s.Taken}};
    if (airGap) figures["unit"] = "um";
    std::string message;
    if (!step.Range.Holds(*lo) || !step.Range.Holds(*hi))
        message = std::string(airGap ? "air gap " : "signal level ") +
                  Num(step.Range.Holds(*lo) ? *hi : *lo) + unit + " outside " + Describe(step.Range, unit);
    EndStep(message.empty(), message, Dump(figures), Dump(limits));
    return Next(0);
}

TNextStep TCommissioningRun::StepPowerCycling() {
    const TPlanStep& step = plan_.Steps[index_];
    TStepState& s = *state_;
    TNextStep next;
    if (!s.Power) {
        s.PowerState.PowerOnStatus = true; // the run goes on with the supply on: N cycles, N checks
        s.Power = std::make_unique<TPowerCycleRun>(
            s.PowerState, traffic_, [&s](const std::string& line) { s.PowerLog.push_back(line); },
            seed_ + static_cast<uint32_t>(index_));
        s.Power->Remaining = step.Count;
        s.Power->MinMs = step.MinMs;
        s.Power->MaxMs = step.MaxMs;
        s.Power->AtRest = step.AtRest;
        s.Power->RecordSignalLevel = step.RecordSignalLevel;
        if (step.RecordSignalLevel && !traffic_.HasSignalLevel()) {
            json limits = json::object();
            PutRange(limits, "signal_level_min", "signal_level_max", step.Range);
            EndStep(false, "this encoder has no signal level", "{}", Dump(limits));
            return Next(0);
        }
        next = s.Power->Start();
    } else {
        next = s.Power->Step();
    }
    if (!next.Done) return Next(next.WaitMs);
    TPowerCycleRun& run = *s.Power;
    json figures = {{"cycles", step.Count - run.Remaining},
                    {"checks", run.Checks()},
                    {"jumps", run.Jumps()},
                    {"failed_readings", run.FailedReadings()},
                    {"failed_supply_commands", run.FailedSupplyCommands()},
                    {"ended", RunEndText(run.End())}};
    json limits = {{"count", step.Count},    {"min_ms", step.MinMs}, {"max_ms", step.MaxMs},
                   {"at_rest", step.AtRest}, {"jumps", 0},           {"failed", 0}};
    std::vector<TCommissioningSeries> series;
    std::string levelProblem;
    if (step.RecordSignalLevel) {
        PutRange(limits, "signal_level_min", "signal_level_max", step.Range);
        const auto& levels = run.SignalLevels();
        json cycles = json::array(), values = json::array();
        double sum = 0;
        for (const auto& level : levels) {
            cycles.push_back(level.Cycle);
            values.push_back(level.Value);
            sum += level.Value;
        }
        json summary = {{"readings", levels.size()}};
        if (!levels.empty()) {
            const auto [lo, hi] = std::minmax_element(
                levels.begin(), levels.end(), [](const auto& a, const auto& b) { return a.Value < b.Value; });
            summary["minimum"] = lo->Value;
            summary["maximum"] = hi->Value;
            summary["mean"] = sum / static_cast<double>(levels.size());
            if (!step.Range.Holds(lo->Value) || !step.Range.Holds(hi->Value))
                levelProblem = "signal level " + Num(step.Range.Holds(lo->Value) ? hi->Value : lo->Value) +
                               " outside " + Describe(step.Range);
        }
        figures["signal_level"] = summary;
        series.push_back({0, "signal-levels", Dump(json{{"cycles", cycles}, {"values", values}})});
    }
    if (run.End() == TRunEnd::LostPort) {
        TTrafficResult lost;
        lost.LinkLost = true;
        lost.Reason = run.EndReason();
        return TrafficFailed("power cycling", lost, Dump(figures), Dump(limits), series);
    }
    std::string message;
    if (!run.Passed()) message = run.SummaryLine();
    if (!levelProblem.empty()) message += (message.empty() ? "" : "; ") + levelProblem;
    EndStep(message.empty(), message, Dump(figures), Dump(limits), series);
    return Next(0);
}

TNextStep TCommissioningRun::StepDiagnostics() {
    const TPlanStep& step = plan_.Steps[index_];
    json figures = json::object();
    json limits = json::object();
    PutRange(limits, "sensor_temperature_min", "sensor_temperature_max", step.SensorTemperature);
    PutRange(limits, "operating_temperature_min", "operating_temperature_max", step.OperatingTemperature);
    if (step.SafetyRtMin) limits["safety_rt_min"] = *step.SafetyRtMin;
    if (step.SafetyPerMin) limits["safety_per_min"] = *step.SafetyPerMin;

    std::vector<std::string> problems;
    const TRegisterValue temperature = traffic_.ReadRegisterValue(layout::RegSensorTemperature, 2);
    if (!temperature.Ok) return TrafficFailed("SENSOR_TEMP", temperature);
    const int sensor = static_cast<int16_t>(temperature.Value & 0xFFFF);
    figures["sensor_temperature"] = sensor;
    if (!step.SensorTemperature.Holds(sensor))
        problems.push_back("sensor temperature " + std::to_string(sensor) + " outside " +
                           Describe(step.SensorTemperature));

    const bool lifetime = traffic_.HasLifetimeDiagnostics();
    if (lifetime) {
        struct Register {
            uint32_t address;
            uint8_t length;
            const char* name;
            const char* key;
            int kind; // 0 unsigned, 1 signed 8-bit, 2 signed 16-bit
        };
        static constexpr Register kRegisters[] = {
            {layout::POWER_CYCLES, 4, "POWER_CYCLES", "power_cycles", 0},
            {layout::OPERATING_TIME, 4, "OPERATING_TIME", "operating_time_min", 0},
            {layout::OP_TEMP_MIN, 1, "OP_TEMP_MIN", "operating_temperature_min", 1},
            {layout::OP_TEMP_MAX, 2, "OP_TEMP_MAX", "operating_temperature_max", 2},
            {layout::SAFETY_RT, 2, "SAFETY_RT", "safety_rt", 2},
            {layout::SAFETY_PER, 2, "SAFETY_PER", "safety_per", 2},
        };
        for (const Register& r : kRegisters) {
            const TRegisterValue v = traffic_.ReadRegisterValue(r.address, r.length);
            if (!v.Ok) return TrafficFailed(r.name, v);
            long long value = v.Value;
            if (r.kind == 1) value = static_cast<int8_t>(v.Value & 0xFF);
            if (r.kind == 2) value = static_cast<int16_t>(v.Value & 0xFFFF);
            figures[r.key] = value;
        }
        const double opMin = figures["operating_temperature_min"].get<double>();
        const double opMax = figures["operating_temperature_max"].get<double>();
        if (!step.OperatingTemperature.Holds(opMin) || !step.OperatingTemperature.Holds(opMax))
            problems.push_back("operating temperatures " + Num(opMin) + ".." + Num(opMax) + " outside " +
                               Describe(step.OperatingTemperature));
        const double rt = figures["safety_rt"].get<double>();
        const double per = figures["safety_per"].get<double>();
        if (step.SafetyRtMin && rt < *step.SafetyRtMin)
            problems.push_back("safety margin RT " + Num(rt) + " below " + Num(*step.SafetyRtMin));
        if (step.SafetyPerMin && per < *step.SafetyPerMin)
            problems.push_back("safety margin PER " + Num(per) + " below " + Num(*step.SafetyPerMin));
    } else if (step.OperatingTemperature.Any() || step.SafetyRtMin || step.SafetyPerMin) {
        // A limit that cannot be checked is no limit met.
        problems.push_back("this encoder has no lifetime diagnostics to hold the limits against");
    }
    std::string message;
    for (const auto& p : problems)
        message += (message.empty() ? "" : "; ") + p;
    EndStep(problems.empty(), message, Dump(figures), Dump(limits));
    return Next(0);
}

TNextStep TCommissioningRun::StepSave() {
    const TTrafficResult saved = traffic_.SaveToNvram();
    if (!saved.Ok) return TrafficFailed("save to NVRAM", saved);
    EndStep(true, "", Dump(json{{"saved", true}}), "{}");
    return Next(kNvramPauseMs);
}

TNextStep TCommissioningRun::StepFinalRead() {
    const TPlanStep& step = plan_.Steps[index_];
    TStepState& s = *state_;
    const TReading reading = traffic_.TakeReading();
    if (!reading.Ok) return TrafficFailed("position reading " + std::to_string(s.Taken + 1), reading);
    json limits = {{"error_bit", false}};
    if (reading.ErrorBit) {
        json figures = {{"readings", s.Taken + 1}, {"position", reading.Position}, {"error_bit", true}};
        EndStep(false, "error bit set in reading " + std::to_string(s.Taken + 1), Dump(figures),
                Dump(limits));
        return Next(0);
    }
    if (++s.Taken < step.Samples) return Next(0);
    json figures = {{"readings", s.Taken},
                    {"position", reading.Position},
                    {"single_turn", reading.SingleTurn},
                    {"error_bit", false},
                    {"warning_bit", reading.WarningBit}};
    EndStep(true, "", Dump(figures), Dump(limits));
    return Next(0);
}

} // namespace Procedures
