// results-sample: stores sample commissioning runs (SampleRun.h) in a results database, as the
// engine would, and prints each run's UUID. For the report's browser check and by hand.
//   results-sample --db PATH [--serial S] [--part P] [--count N] [--fail-step K] [--start ISO]
// --fail-step K fails step K (its figures over their limit) and skips the ones after it.
#include "ResultsStore.h"
#include "SampleRun.h"
#include "TimeText.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

int main(int argc, char** argv) {
    std::map<std::string, std::string> options;
    for (int i = 1; i + 1 < argc; i += 2)
        options[argv[i]] = argv[i + 1];
    if (argc % 2 == 0 || !options.count("--db")) {
        std::fprintf(stderr,
                     "usage: results-sample --db PATH [--serial S] [--part P] [--count N] [--fail-step K] "
                     "[--start ISO]\n");
        return 2;
    }
    const std::string serial = options.count("--serial") ? options["--serial"] : "SN-000123";
    const int count = options.count("--count") ? std::atoi(options["--count"].c_str()) : 1;
    const int failStep = options.count("--fail-step") ? std::atoi(options["--fail-step"].c_str()) : 0;
    int64_t start = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count();
    if (options.count("--start")) {
        const auto parsed = Results::ParseDateTime(options["--start"]);
        if (!parsed) {
            std::fprintf(stderr, "results-sample: bad --start\n");
            return 2;
        }
        start = *parsed;
    }
    Results::TResultsStore store;
    std::string error;
    if (!store.Open(options["--db"], error)) {
        std::fprintf(stderr, "results-sample: %s\n", error.c_str());
        return 1;
    }
    for (int n = 0; n < count; ++n) {
        auto run = results_test::SampleRun(Results::NewRunUuid(), serial, start + n * 60000);
        if (options.count("--part")) run.PartNumber = options["--part"];
        if (failStep > 0 && static_cast<size_t>(failStep) <= run.Steps.size()) {
            auto& failed = run.Steps[static_cast<size_t>(failStep) - 1];
            failed.Verdict = Procedures::kVerdictFail;
            failed.Message = "a figure is outside its limit";
            for (size_t i = static_cast<size_t>(failStep); i < run.Steps.size(); ++i) {
                run.Steps[i].Verdict = Procedures::kVerdictSkipped;
                run.Steps[i].Message = "an earlier step failed";
                run.Steps[i].Figures = "{}";
            }
            run.Verdict = Procedures::kVerdictFail;
            run.VerdictReason = failed.Name + ": " + failed.Message;
        }
        if (!store.BeginRun(run, error)) break;
        bool ok = true;
        for (const auto& step : run.Steps)
            if (!(ok = store.AddStep(run.Uuid, step, results_test::SeriesOf(run, step.Order), error))) break;
        if (!ok || !store.FinishRun(run.Uuid, run.Verdict, run.VerdictReason, run.EndMs, error)) break;
        std::printf("%s\n", run.Uuid.c_str());
    }
    if (!error.empty()) {
        std::fprintf(stderr, "results-sample: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
