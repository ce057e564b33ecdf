// Commissioning plans as read from JSON: what a good plan becomes, and that every mistake is named
// by its JSON path before anything runs.
#include "CommissioningPlan.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>

using namespace Procedures;

namespace {

std::string ShippedPlan(const char* name) {
    std::ifstream in(std::string(TARVO_EXAMPLES_DIR) + "/plans/" + name);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

TEST(CommissioningPlan, AWholePlanReadsWithItsParametersAndLimits) {
    const char* text = R"({
      "format": 1, "plan": "all", "profile": "p.json",
      "steps": [
        {"step": "identify", "type": 5, "part_number": "VK7*"},
        {"step": "apply-profile", "save": true},
        {"step": "self-calibration", "arc": 90, "timeout": 20, "continue-on-fail": true},
        {"step": "noise", "samples": 300, "limits": {"six_sigma_max": 12.5, "signal_level_min": 800}},
        {"step": "error-map", "limits": {"peak_to_peak_max": 400}},
        {"step": "air-gap", "readings": 4, "limits": {"min": 100, "max": 300}},
        {"step": "signal-level", "limits": {"max": 4000}},
        {"step": "power-cycling", "count": 7, "min_ms": 20, "max_ms": 30, "at_rest": false,
         "signal_level": true, "limits": {"signal_level_max": 3900}},
        {"step": "diagnostics", "limits": {"sensor_temperature_max": 70, "safety_rt_min": 5}},
        {"step": "save"},
        {"step": "final-read", "readings": 2}
      ]})";
    TCommissioningPlan plan;
    std::string error;
    ASSERT_TRUE(ParsePlan(text, plan, error)) << error;
    EXPECT_EQ(plan.Name, "all");
    EXPECT_EQ(plan.ProfilePath, "p.json");
    ASSERT_EQ(plan.Steps.size(), 11u);
    EXPECT_EQ(plan.Steps[0].ExpectedType, 5);
    EXPECT_EQ(plan.Steps[0].PartNumberPattern, "VK7*");
    EXPECT_TRUE(plan.Steps[1].SaveProfile);
    EXPECT_EQ(plan.Steps[2].Arc, 90);
    EXPECT_EQ(plan.Steps[2].Timeout, 20);
    EXPECT_TRUE(plan.Steps[2].ContinueOnFail);
    EXPECT_FALSE(plan.Steps[3].ContinueOnFail);
    EXPECT_EQ(plan.Steps[3].Samples, 300);
    EXPECT_EQ(plan.Steps[3].SixSigmaMax, 12.5);
    EXPECT_EQ(plan.Steps[3].NoiseSignalLevel.Min, 800);
    EXPECT_FALSE(plan.Steps[3].NoiseSignalLevel.Max);
    EXPECT_EQ(plan.Steps[4].PeakToPeakMax, 400);
    EXPECT_EQ(plan.Steps[5].Kind, TPlanStepKind::AirGap);
    EXPECT_EQ(plan.Steps[5].Samples, 4);
    EXPECT_EQ(plan.Steps[6].Samples, 10) << "signal-level's default readings";
    EXPECT_EQ(plan.Steps[7].Count, 7);
    EXPECT_FALSE(plan.Steps[7].AtRest);
    EXPECT_TRUE(plan.Steps[7].RecordSignalLevel);
    EXPECT_EQ(plan.Steps[7].Range.Max, 3900);
    EXPECT_FALSE(plan.Steps[4].RecordSignalLevel) << "off unless asked";
    EXPECT_EQ(plan.Steps[8].SensorTemperature.Max, 70);
    EXPECT_EQ(plan.Steps[8].SafetyRtMin, 5);
    EXPECT_EQ(plan.Steps[10].Samples, 2);
    const char* const names[] = {"identify",    "apply-profile", "self-calibration", "noise",
                                 "error-map",   "air-gap",       "signal-level",     "power-cycling",
                                 "diagnostics", "save",          "final-read"};
    ASSERT_EQ(plan.Steps.size(), std::size(names));
    for (size_t i = 0; i < plan.Steps.size(); ++i)
        EXPECT_STREQ(PlanStepName(plan.Steps[i].Kind), names[i]);
}

TEST(CommissioningPlan, ThePlanWideContinueOnFailIsEachStepsDefault) {
    TCommissioningPlan plan;
    std::string error;
    ASSERT_TRUE(ParsePlan(R"({"plan":"p","continue-on-fail":true,"steps":[{"step":"save"},
        {"step":"final-read","continue-on-fail":false}]})",
                          plan, error))
        << error;
    EXPECT_TRUE(plan.Steps[0].ContinueOnFail);
    EXPECT_FALSE(plan.Steps[1].ContinueOnFail);
}

TEST(CommissioningPlan, EveryMistakeIsNamedByItsPath) {
    struct Case {
        const char* json;
        const char* error;
    };
    const Case cases[] = {
        {"", "not JSON: parse error at line 1, column 1"},
        {"{\"plan\": \"p\",", "not JSON: parse error at line 1, column 14"},
        {"[1]", "(top level): expected an object, got [1]"},
        {R"({"steps":[{"step":"save"}]})", "plan: missing"},
        {R"({"plan":"","steps":[{"step":"save"}]})", "plan: empty"},
        {R"({"plan":7,"steps":[{"step":"save"}]})", "plan: expected a text, got 7"},
        {R"({"plan":"p"})", "steps: missing"},
        {R"({"plan":"p","steps":[]})", "steps: expected a list of steps, got []"},
        {R"({"plan":"p","steps":{"step":"save"}})",
         "steps: expected a list of steps, got {\"step\":\"save\"}"},
        {R"({"plan":"p","format":2,"steps":[{"step":"save"}]})", "format: expected an integer 1..1, got 2"},
        {R"({"plan":"p","steps":[{"step":"save"}],"colour":"red"})", "colour: unknown key"},
        {R"({"plan":"p","steps":[{"step":"calibrate"}]})",
         "steps[0].step: unknown step \"calibrate\" (one of identify, apply-profile, self-calibration, "
         "noise, "
         "error-map, air-gap, signal-level, power-cycling, diagnostics, save, final-read)"},
        {R"({"plan":"p","steps":[{"step":"save"},{"samples":3}]})", "steps[1].step: missing"},
        {R"({"plan":"p","steps":[{"step":"apply-profile"}]})",
         "profile: missing (the plan has an apply-profile step)"},
        {R"({"plan":"p","steps":[{"step":"noise","samples":"5000"}]})",
         "steps[0].samples: expected an integer 1..1000000, got \"5000\""},
        {R"({"plan":"p","steps":[{"step":"noise","samples":0}]})",
         "steps[0].samples: expected an integer 1..1000000, got 0"},
        {R"({"plan":"p","steps":[{"step":"noise","samples":2.5}]})",
         "steps[0].samples: expected an integer 1..1000000, got 2.5"},
        {R"({"plan":"p","steps":[{"step":"noise","limits":{"six_sigma_max":"7a"}}]})",
         "steps[0].limits.six_sigma_max: expected a number, got \"7a\""},
        {R"({"plan":"p","steps":[{"step":"noise","limits":{"six_sigma":7}}]})",
         "steps[0].limits.six_sigma: unknown key"},
        {R"({"plan":"p","steps":[{"step":"noise","limits":[7]}]})",
         "steps[0].limits: expected an object, got [7]"},
        {R"({"plan":"p","steps":[{"step":"save","limits":{"x":1}}]})", "steps[0].limits.x: unknown key"},
        {R"({"plan":"p","steps":[{"step":"signal-level"}]})", "steps[0].limits: needs min, max or both"},
        {R"({"plan":"p","steps":[{"step":"air-gap","limits":{"min":300,"max":100}}]})",
         "steps[0].limits.min: greater than max"},
        {R"({"plan":"p","steps":[{"step":"identify","type":9}]})",
         "steps[0].type: expected an integer 1..6, got 9"},
        {R"({"plan":"p","steps":[{"step":"self-calibration","timeout":256}]})",
         "steps[0].timeout: expected an integer 0..255, got 256"},
        {R"({"plan":"p","steps":[{"step":"self-calibration","arc":-1}]})",
         "steps[0].arc: expected an integer 0..65535, got -1"},
        {R"({"plan":"p","steps":[{"step":"power-cycling","min_ms":500,"max_ms":200}]})",
         "steps[0].min_ms: greater than max_ms"},
        {R"({"plan":"p","steps":[{"step":"power-cycling","limits":{"signal_level_min":600}}]})",
         "steps[0].limits: signal level limits need \"signal_level\": true"},
        {R"({"plan":"p","steps":[{"step":"power-cycling","signal_level":true,"limits":{"min":600}}]})",
         "steps[0].limits.min: unknown key"},
        {R"({"plan":"p","steps":[{"step":"power-cycling","at_rest":"yes"}]})",
         "steps[0].at_rest: expected true or false, got \"yes\""},
        {R"({"plan":"p","steps":[{"step":"final-read","continue-on-fail":1}]})",
         "steps[0].continue-on-fail: expected true or false, got 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.json);
        TCommissioningPlan plan;
        plan.Name = "untouched";
        std::string error;
        EXPECT_FALSE(ParsePlan(c.json, plan, error));
        // The parser's own explanation follows the place it names.
        if (std::string(c.error).rfind("not JSON", 0) == 0)
            EXPECT_EQ(error.substr(0, std::string(c.error).size()), c.error) << error;
        else
            EXPECT_EQ(error, c.error);
        EXPECT_EQ(plan.Name, "untouched") << "a bad plan leaves nothing behind";
    }
}

TEST(CommissioningPlan, TheShippedPlansRead) {
    for (const char* name : {"quick.json", "full.json"}) {
        SCOPED_TRACE(name);
        TCommissioningPlan plan;
        std::string error;
        EXPECT_TRUE(ParsePlan(ShippedPlan(name), plan, error)) << error;
        EXPECT_FALSE(plan.Steps.empty());
    }
}

// A plan names its profile relative to its own folder, wherever the program runs from; a refused
// plan leaves the plan and profile read before as they were.
TEST(CommissioningPlan, APlanFileLoadsWithTheProfileBesideIt) {
    TCommissioningPlan plan;
    std::optional<TConfigProfile> profile;
    std::string error, text;
    ASSERT_TRUE(LoadPlanWithProfile(std::string(TARVO_EXAMPLES_DIR) + "/plans/quick.json", plan, profile,
                                    error, &text))
        << error;
    EXPECT_EQ(plan.Name, "quick t1");
    ASSERT_TRUE(profile.has_value());
    EXPECT_EQ(profile->Name, "t1 example");
    EXPECT_EQ(text, ShippedPlan("quick.json")) << "the plan file's bytes, for its hash";

    const std::string missing = std::string(TARVO_EXAMPLES_DIR) + "/plans/missing.json";
    EXPECT_FALSE(LoadPlanWithProfile(missing, plan, profile, error));
    EXPECT_EQ(error, "cannot open " + missing);
    EXPECT_EQ(plan.Name, "quick t1");
    EXPECT_TRUE(profile.has_value());
}
