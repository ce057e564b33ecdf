// A commissioning run as the engine records it, with every kind of step and every series, for the
// store's and the report's tests, the report's browser check and the store's benchmark. The
// numbers look like a healthy t1 encoder's; the serial number and the start are the caller's.
#pragma once

#include "CommissioningRecord.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace results_test {

inline std::string JsonNumbers(const std::vector<double>& values) {
    std::string out = "[";
    for (size_t i = 0; i < values.size(); ++i) {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%.4g", values[i]);
        out += (i ? "," : "") + std::string(buffer);
    }
    return out + "]";
}

// The error map's 512 points (arc seconds): a first and a third harmonic and a little ripple.
inline std::vector<double> ErrorMapValues() {
    std::vector<double> v;
    const double pi = 3.14159265358979323846;
    for (int i = 0; i < 512; ++i)
        v.push_back(11.5 * std::sin(2 * pi * i / 512) + 4.2 * std::sin(6 * pi * i / 512 + 0.6) +
                    0.8 * std::sin(2 * pi * 37 * i / 512));
    return v;
}

inline std::string NoiseHistogramJson() {
    std::vector<double> edges, counts;
    for (int i = 0; i <= 24; ++i)
        edges.push_back(-0.6 + 0.05 * i);
    for (int i = 0; i < 24; ++i) {
        const double centre = -0.575 + 0.05 * i;
        counts.push_back(
            std::round(2000 * 0.05 / (0.12 * 2.5066) * std::exp(-centre * centre / (2 * 0.0144))));
    }
    return "{\"edges\":" + JsonNumbers(edges) + ",\"counts\":" + JsonNumbers(counts) + "}";
}

inline std::string SignalLevelsJson() {
    std::vector<double> v;
    for (int i = 0; i < 20; ++i)
        v.push_back(505 + 6 * std::sin(i * 0.9) + (i % 3));
    return JsonNumbers(v);
}

inline const char* ProfileJson() {
    return "{\"format\":1,\"profile\":\"t1 shop floor\",\"encoder\":{\"type\":1,\"layout\":\"legacy\","
           "\"part_number\":\"VK766-0A18B*\"},\"registers\":{\"POSITION_OFFSET\":0,\"POSITION_FILTER\":3,"
           "\"MT_ERR_TRESHOLD\":10,\"SELF_CAL_ARC\":360,\"SELF_CAL_TIMEOUT\":60}}";
}

struct TSampleStep {
    const char* name;
    const char* figures;
    const char* limits;
};

// The steps of a full plan in their order, all passed.
inline std::vector<TSampleStep> SampleSteps() {
    return {
        {"identify", R"({"type":1,"layout":"legacy","resolution_bits":18,"multiturn_bits":16})",
         R"({"type":1,"part_number":"VK766-0A18B*"})"},
        {"apply-profile", R"({"registers_written":5,"read_back_mismatches":0})", "{}"},
        {"self-calibration", R"({"status":"successful, finished","duration_s":4.2})",
         R"({"arc":360,"timeout_s":60})"},
        {"noise", R"({"samples":2000,"six_sigma_counts":0.72,"signal_level":507})",
         R"({"six_sigma_max":2.0,"signal_level_min":400,"signal_level_max":700})"},
        {"error-map", R"({"peak_to_peak_arcsec":30.9,"points":512})", R"({"peak_to_peak_max":40})"},
        {"signal-level", R"({"signal_level":506})", R"({"min":400,"max":700})"},
        {"power-cycling", R"({"cycles":20,"jumps":0,"failed_checks":0})",
         R"({"count":20,"min_delay_ms":300,"max_delay_ms":600})"},
        {"diagnostics", R"({"sensor_temperature_c":31.5,"safety_margin":0.42})",
         R"({"sensor_temperature_max_c":70})"},
        {"final-read", R"({"position_deg":123.456,"status":"OK"})", "{}"},
    };
}

// The run's header, its steps and series; `stepCount` of SampleSteps (all when 0).
inline Procedures::TCommissioningRunRecord SampleRun(const std::string& uuid, const std::string& serial,
                                                     int64_t startMs, size_t stepCount = 0) {
    Procedures::TCommissioningRunRecord run;
    run.Uuid = uuid;
    run.PlanName = "full";
    run.PlanHash = "9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08";
    run.Station = "bench-3";
    run.Operator = "M. Novak";
    run.AdapterPort = "/dev/ttyACM0";
    run.AdapterSerial = "SN0042";
    run.AdapterVersion = "K310-7K v1.09";
    run.EncoderType = 1;
    run.Layout = "legacy";
    run.PartNumber = "VK766-0A18B-0100";
    run.SerialNumber = serial;
    run.Firmware = "2.07";
    run.ProfileName = "t1 shop floor";
    run.Profile = ProfileJson();
    run.StartMs = startMs;
    const auto steps = SampleSteps();
    const size_t n = stepCount ? std::min(stepCount, steps.size()) : steps.size();
    int64_t at = startMs;
    for (size_t i = 0; i < n; ++i) {
        Procedures::TCommissioningStepRecord step;
        step.Order = static_cast<int>(i) + 1;
        step.Name = steps[i].name;
        step.Verdict = Procedures::kVerdictPass;
        step.Figures = steps[i].figures;
        step.Limits = steps[i].limits;
        step.StartMs = at;
        at += 700 + 300 * static_cast<int64_t>(i);
        step.EndMs = at;
        run.Steps.push_back(step);
        const std::string name = step.Name;
        if (name == "apply-profile")
            run.Series.push_back(
                {step.Order, "profile-read-back",
                 "{\"registers\":{\"POSITION_OFFSET\":0,\"POSITION_FILTER\":3,\"MT_ERR_TRESHOLD\":10,"
                 "\"SELF_CAL_ARC\":360,\"SELF_CAL_TIMEOUT\":60}}"});
        else if (name == "noise")
            run.Series.push_back({step.Order, "noise-histogram", NoiseHistogramJson()});
        else if (name == "error-map")
            run.Series.push_back({step.Order, "error-map",
                                  "{\"unit\":\"arcsec\",\"values\":" + JsonNumbers(ErrorMapValues()) + "}"});
        else if (name == "power-cycling")
            run.Series.push_back({step.Order, "signal-levels", SignalLevelsJson()});
    }
    run.EndMs = at;
    run.Verdict = Procedures::kVerdictPass;
    return run;
}

// The series of one step of `run`.
inline std::vector<Procedures::TCommissioningSeries> SeriesOf(const Procedures::TCommissioningRunRecord& run,
                                                              int stepOrder) {
    std::vector<Procedures::TCommissioningSeries> out;
    for (const auto& s : run.Series)
        if (s.StepOrder == stepOrder) out.push_back(s);
    return out;
}

} // namespace results_test
