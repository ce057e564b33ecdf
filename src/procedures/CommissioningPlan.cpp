#include "CommissioningPlan.h"

#include "Files.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace Procedures {

namespace {

using json = nlohmann::json;

struct TStepName {
    TPlanStepKind kind;
    const char* name;
};
constexpr TStepName kStepNames[] = {
    {TPlanStepKind::Identify, "identify"},
    {TPlanStepKind::ApplyProfile, "apply-profile"},
    {TPlanStepKind::SelfCalibration, "self-calibration"},
    {TPlanStepKind::Noise, "noise"},
    {TPlanStepKind::ErrorMap, "error-map"},
    {TPlanStepKind::AirGap, "air-gap"},
    {TPlanStepKind::SignalLevel, "signal-level"},
    {TPlanStepKind::PowerCycling, "power-cycling"},
    {TPlanStepKind::Diagnostics, "diagnostics"},
    {TPlanStepKind::Save, "save"},
    {TPlanStepKind::FinalRead, "final-read"},
};

// A problem in the plan, with the JSON path it was found at.
struct TPlanError {
    std::string text;
};

std::string Shown(const json& value) {
    std::string text = value.dump(-1, ' ', false, json::error_handler_t::replace);
    if (text.size() > 40) text = text.substr(0, 37) + "...";
    return text;
}

[[noreturn]] void Fail(const std::string& path, const std::string& what) {
    throw TPlanError{path + ": " + what};
}

// One JSON object being read: each key taken is remembered, so a key nobody reads (a typo, a
// limit the step does not know) is an error instead of a limit silently not checked.
class TObjectReader {
public:
    TObjectReader(const json& object, std::string path) : object_(object), path_(std::move(path)) {
        if (!object_.is_object())
            Fail(path_.empty() ? "(top level)" : path_, "expected an object, got " + Shown(object_));
    }

    std::string Path(const std::string& key) const { return path_.empty() ? key : path_ + "." + key; }
    bool Has(const std::string& key) const { return object_.contains(key); }

    const json* Find(const std::string& key) {
        taken_.insert(key);
        const auto it = object_.find(key);
        return it == object_.end() ? nullptr : &*it;
    }

    std::string Text(const std::string& key, bool required) {
        const json* v = Find(key);
        if (!v) {
            if (required) Fail(Path(key), "missing");
            return {};
        }
        if (!v->is_string()) Fail(Path(key), "expected a text, got " + Shown(*v));
        return v->get<std::string>();
    }

    bool Flag(const std::string& key, bool fallback) {
        const json* v = Find(key);
        if (!v) return fallback;
        if (!v->is_boolean()) Fail(Path(key), "expected true or false, got " + Shown(*v));
        return v->get<bool>();
    }

    std::optional<long long> Integer(const std::string& key, long long min, long long max) {
        const json* v = Find(key);
        if (!v) return std::nullopt;
        const std::string expected =
            "expected an integer " + std::to_string(min) + ".." + std::to_string(max) + ", got " + Shown(*v);
        if (v->is_number_unsigned()) {
            const auto n = v->get<unsigned long long>();
            if (n > static_cast<unsigned long long>(max) || static_cast<long long>(n) < min)
                Fail(Path(key), expected);
            return static_cast<long long>(n);
        }
        if (v->is_number_integer()) {
            const auto n = v->get<long long>();
            if (n < min || n > max) Fail(Path(key), expected);
            return n;
        }
        Fail(Path(key), expected);
    }

    std::optional<double> Number(const std::string& key) {
        const json* v = Find(key);
        if (!v) return std::nullopt;
        if (!v->is_number() || !std::isfinite(v->get<double>()))
            Fail(Path(key), "expected a number, got " + Shown(*v));
        return v->get<double>();
    }

    void CheckAllTaken() const {
        for (const auto& [key, value] : object_.items())
            if (!taken_.count(key)) Fail(Path(key), "unknown key");
    }

private:
    const json& object_;
    std::string path_;
    std::set<std::string> taken_;
};

TLimitRange Range(TObjectReader& limits, const std::string& minKey, const std::string& maxKey) {
    TLimitRange range;
    range.Min = limits.Number(minKey);
    range.Max = limits.Number(maxKey);
    if (range.Min && range.Max && *range.Min > *range.Max)
        Fail(limits.Path(minKey), "greater than " + maxKey);
    return range;
}

TPlanStep ReadStep(const json& value, const std::string& path, TCommissioningPlan& plan) {
    TObjectReader r(value, path);
    TPlanStep step;
    const std::string name = r.Text("step", true);
    bool known = false;
    for (const auto& s : kStepNames)
        if (name == s.name) {
            step.Kind = s.kind;
            known = true;
        }
    if (!known) {
        std::string names;
        for (const auto& s : kStepNames)
            names += std::string(names.empty() ? "" : ", ") + s.name;
        Fail(r.Path("step"), "unknown step \"" + name + "\" (one of " + names + ")");
    }
    step.ContinueOnFail = r.Flag("continue-on-fail", plan.ContinueOnFail);
    const json* limitsJson = r.Find("limits");
    static const json kNoLimits = json::object();
    TObjectReader limits(limitsJson ? *limitsJson : kNoLimits, r.Path("limits"));

    switch (step.Kind) {
    case TPlanStepKind::Identify:
        if (auto t = r.Integer("type", 1, 6)) step.ExpectedType = static_cast<int>(*t);
        step.PartNumberPattern = r.Text("part_number", false);
        break;
    case TPlanStepKind::ApplyProfile:
        step.SaveProfile = r.Flag("save", false);
        break;
    case TPlanStepKind::SelfCalibration:
        step.Arc = static_cast<uint16_t>(r.Integer("arc", 0, 65535).value_or(0));
        step.Timeout = static_cast<uint8_t>(r.Integer("timeout", 0, 255).value_or(0));
        break;
    case TPlanStepKind::Noise:
        step.Samples = static_cast<int>(r.Integer("samples", 1, 1000000).value_or(5000));
        step.SixSigmaMax = limits.Number("six_sigma_max");
        step.NoiseSignalLevel = Range(limits, "signal_level_min", "signal_level_max");
        break;
    case TPlanStepKind::ErrorMap:
        step.PeakToPeakMax = limits.Number("peak_to_peak_max");
        break;
    case TPlanStepKind::AirGap:
    case TPlanStepKind::SignalLevel:
        step.Samples = static_cast<int>(r.Integer("readings", 1, 100000).value_or(10));
        step.Range = Range(limits, "min", "max");
        if (!step.Range.Any()) Fail(r.Path("limits"), "needs min, max or both");
        break;
    case TPlanStepKind::PowerCycling:
        step.Count = static_cast<int>(r.Integer("count", 0, 100000).value_or(10));
        step.MinMs = static_cast<int>(r.Integer("min_ms", 10, 10000).value_or(150));
        step.MaxMs = static_cast<int>(r.Integer("max_ms", 10, 10000).value_or(400));
        if (step.MinMs > step.MaxMs) Fail(r.Path("min_ms"), "greater than max_ms");
        step.AtRest = r.Flag("at_rest", true);
        step.RecordSignalLevel = r.Flag("signal_level", false);
        step.Range = Range(limits, "signal_level_min", "signal_level_max");
        if (step.Range.Any() && !step.RecordSignalLevel)
            Fail(r.Path("limits"), "signal level limits need \"signal_level\": true");
        break;
    case TPlanStepKind::Diagnostics:
        step.SensorTemperature = Range(limits, "sensor_temperature_min", "sensor_temperature_max");
        step.OperatingTemperature = Range(limits, "operating_temperature_min", "operating_temperature_max");
        step.SafetyRtMin = limits.Number("safety_rt_min");
        step.SafetyPerMin = limits.Number("safety_per_min");
        break;
    case TPlanStepKind::Save:
        break;
    case TPlanStepKind::FinalRead:
        step.Samples = static_cast<int>(r.Integer("readings", 1, 100000).value_or(1));
        break;
    }
    if (limitsJson) limits.CheckAllTaken();
    r.CheckAllTaken();
    return step;
}

} // namespace

const char* PlanStepName(TPlanStepKind kind) {
    for (const auto& s : kStepNames)
        if (s.kind == kind) return s.name;
    return "";
}

bool TCommissioningPlan::AppliesProfile() const {
    for (const auto& s : Steps)
        if (s.Kind == TPlanStepKind::ApplyProfile) return true;
    return false;
}

bool ParsePlan(std::string_view text, TCommissioningPlan& plan, std::string& error) {
    json root;
    try {
        root = json::parse(text.begin(), text.end());
    } catch (const json::parse_error& e) {
        // nlohmann's message says where ("at line 3, column 7") after its own prefix.
        std::string what = e.what();
        const size_t colon = what.find("parse error");
        error = "not JSON: " + (colon == std::string::npos ? what : what.substr(colon));
        return false;
    }
    try {
        TCommissioningPlan read;
        TObjectReader r(root, "");
        r.Integer("format", 1, 1);
        read.Name = r.Text("plan", true);
        if (read.Name.empty()) Fail("plan", "empty");
        read.ProfilePath = r.Text("profile", false);
        read.ContinueOnFail = r.Flag("continue-on-fail", false);
        const json* steps = r.Find("steps");
        if (!steps) Fail("steps", "missing");
        if (!steps->is_array() || steps->empty())
            Fail("steps", "expected a list of steps, got " + Shown(*steps));
        for (size_t i = 0; i < steps->size(); ++i)
            read.Steps.push_back(ReadStep((*steps)[i], "steps[" + std::to_string(i) + "]", read));
        r.CheckAllTaken();
        if (read.AppliesProfile() && read.ProfilePath.empty())
            Fail("profile", "missing (the plan has an apply-profile step)");
        plan = std::move(read);
        return true;
    } catch (const TPlanError& e) {
        error = e.text;
        return false;
    } catch (const json::exception& e) {
        error = e.what();
        return false;
    }
}

bool LoadPlanWithProfile(const std::string& path, TCommissioningPlan& plan,
                         std::optional<TConfigProfile>& profile, std::string& error, std::string* planText) {
    namespace fs = std::filesystem;
    const fs::path planPath = platform::PathFromUtf8(path);
    std::ifstream in(planPath, std::ios::binary);
    if (!in) {
        error = "cannot open " + path;
        return false;
    }
    std::ostringstream buffer;
    buffer << in.rdbuf();
    if (in.bad()) {
        error = "cannot read " + path;
        return false;
    }
    const std::string text = buffer.str();
    TCommissioningPlan read;
    std::string problem;
    if (!ParsePlan(text, read, problem)) {
        error = path + ": " + problem;
        return false;
    }
    std::optional<TConfigProfile> readProfile;
    if (read.AppliesProfile()) {
        // Shown in the system's own separators: a Windows user reads C:\...\t1.json, not a mix.
        const fs::path profilePath =
            (planPath.parent_path() / platform::PathFromUtf8(read.ProfilePath)).make_preferred();
        const std::string shown = platform::Utf8FromPath(profilePath);
        std::error_code ec;
        if (!fs::exists(profilePath, ec)) {
            error = "profile: cannot open " + shown;
            return false;
        }
        TConfigProfile p;
        if (!ReadProfileFile(shown, p, problem)) {
            error = "profile: " + problem;
            return false;
        }
        readProfile = std::move(p);
    }
    plan = std::move(read);
    profile = std::move(readProfile);
    if (planText) *planText = text;
    return true;
}

} // namespace Procedures
