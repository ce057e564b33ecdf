// commission: a commissioning plan run on the connected encoder, step by step, to a verdict, a
// record in the results store and a report.
#include "CliCommission.h"

#include "CliOutput.h"
#include "CliProcedures.h"
#include "Clock.h"
#include "Commissioning.h"
#include "FiguresText.h"
#include "K310_BiSS_bidirectional.h"
#include "StandardDescriptors.h"
#include "SystemInfo.h"
#include "TerminationRequests.h"
#include "VelcorTraffic.h"
#ifdef TARVO_HAVE_RESULTS
#include "ResultsStore.h"
#include "RunRecorder.h"
#endif

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <filesystem>

namespace cli {

namespace {

namespace fs = std::filesystem;
namespace shared = K310_BiSS_bidirectional;
using json = nlohmann::ordered_json;

std::string Option(const Command& cmd, const char* name, const std::string& fallback = {}) {
    const auto it = cmd.inv().options.find(name);
    return it == cmd.inv().options.end() ? fallback : it->second;
}

// What the terminal shows while a step runs: the step, a bar of its progress, redrawn in place.
class TProgressLine {
public:
    explicit TProgressLine(bool terminal) : terminal_(terminal) {}

    void Show(const std::string& step, double fraction) {
        if (!terminal_) return;
        constexpr int kWidth = 24;
        const int filled = static_cast<int>(fraction * kWidth + 0.5);
        std::string bar(static_cast<size_t>(std::clamp(filled, 0, kWidth)), '#');
        bar.resize(kWidth, '.');
        const int percent = static_cast<int>(fraction * 100 + 0.5);
        if (step == last_ && percent == lastPercent_) return;
        last_ = step, lastPercent_ = percent;
        std::printf("\r\033[K%s [%s] %3d %%", TerminalText(step).c_str(), bar.c_str(), percent);
        std::fflush(stdout);
        shown_ = true;
    }
    void Clear() {
        if (terminal_ && shown_) std::printf("\r\033[K");
        shown_ = false;
        last_.clear();
        lastPercent_ = -1;
    }

private:
    bool terminal_;
    bool shown_ = false;
    std::string last_;
    int lastPercent_ = -1;
};

} // namespace

const char* const kCommissionUsage =
    "Usage: tarvo-cli commission --plan PLAN.json [--operator NAME] [--station NAME] [--db PATH]\n"
    "                           [--report DIR] [--volts 3.3|5] [--port PATH]... [--json]\n"
    "\n"
    "Runs a commissioning plan on the connected encoder: identifies it, then runs the plan's\n"
    "steps in order (identify, apply-profile, self-calibration, noise, error-map, air-gap,\n"
    "signal-level, power-cycling, diagnostics, save, final-read), each held against the plan's\n"
    "limits. A step runs only when the ones before it passed, unless the plan says\n"
    "\"continue-on-fail\"; the others are SKIPPED. A failed reading is never a sample; a lost port\n"
    "ends the run. The profile a plan names is read relative to the plan's folder.\n"
    "Output: one line per step when it starts ('step N/M NAME', a progress bar on a terminal),\n"
    "then 'step N/M NAME: PASS|FAIL|SKIPPED' with its 'figures:', 'limits:' and 'why:' lines, and\n"
    "at the end 'verdict: PASS|FAIL|INTERRUPTED' (with 'why:'), 'run: UUID', 'database: PATH'\n"
    "and 'report: FILE'. With --json one object with the run and its steps.\n"
    "Each step is committed to the results database when it ends (--db PATH; default\n"
    "results.sqlite in the user's data folder), so a crash loses at most the step in progress and\n"
    "the run is marked INTERRUPTED; the report, one self-contained HTML file named from the\n"
    "serial number and the start, goes into DIR (--report; default: 'reports' beside the\n"
    "database). A database or report that cannot be written fails the run.\n"
    "  --operator NAME  who runs it (default: the user's name)\n"
    "  --station NAME   the test station (default: the computer's name)\n"
    "  --volts 3.3|5    the encoder's supply, switched on before the run (default 5)\n"
    "A bad plan or profile (not JSON, an unknown step or key, a value of the wrong type or out of\n"
    "range) is named by its JSON path and exits 2 before anything is sent. Ctrl+C ends the run\n"
    "as INTERRUPTED. Exit status: 0 only for PASS, 1 otherwise, 2 for bad usage.\n";

int RunCommission(const Command& cmd) {
    if (!cmd.inv().positional.empty()) return cmd.Usage("commission takes no arguments");
    const auto voltage = VoltageCommand(cmd);
    if (!voltage) return cmd.Usage("--volts is 3.3 or 5");
    const std::string planArg = Option(cmd, "--plan");
    if (planArg.empty()) return cmd.Usage("--plan PLAN.json is needed");
    // The plan and its profile are checked whole before anything is sent, as in the window.
    Procedures::TCommissioningPlan plan;
    Procedures::TVelcorTraffic traffic;
    std::string error, planText;
    if (!Procedures::LoadPlanWithProfile(planArg, plan, traffic.Profile, error, &planText))
        return cmd.Usage(error);

    Procedures::TCommissioningRunRecord record;
    record.Operator = Option(cmd, "--operator", platform::UserName());
    record.Station = Option(cmd, "--station", platform::ComputerName());
    Procedures::RecordProfile(record, traffic.Profile);

#ifdef TARVO_HAVE_RESULTS
    // The store first: a run that could not be recorded is not started.
    fs::path dbPath = platform::PathFromUtf8(Option(cmd, "--db"));
    if (dbPath.empty()) dbPath = Results::DefaultResultsPath();
    if (dbPath.empty()) return cmd.Usage("no data folder is known for the results database: give --db PATH");
    Results::TRunRecorder recorder;
    if (!recorder.Open(dbPath,
                       cmd.inv().options.count("--report") ? platform::PathFromUtf8(Option(cmd, "--report"))
                                                           : fs::path(),
                       error))
        return cmd.Fail(error);
    recorder.Prepare(record, planText);
#else
    if (cmd.inv().options.count("--db") || cmd.inv().options.count("--report"))
        return cmd.Usage("this build keeps no results database and writes no reports");
#endif

    // From here a signal ends the run at its next step instead of the program at once.
    platform::CatchTerminationRequests();
    AdapterDiscovery::Result found;
    int exit = 0;
    if (!Prepare(cmd, false, &exit, &found)) return exit;
    record.AdapterPort = found.port.path;
    record.AdapterSerial = found.SerijskaK310;
    record.AdapterVersion = found.K310Version;
    // The encoder is commissioned powered, whatever the adapter was left at.
    std::string problem;
    if (!SupplyOn(*voltage, &problem)) return cmd.Fail(problem);

    const bool plain = !cmd.json();
    const size_t total = plan.Steps.size();
    TProgressLine bar(plain && platform::StandardOutputIsTerminal());
    bool outputLost = false;
    auto print = [&](const std::string& text) {
        if (!plain || outputLost) return;
        bar.Clear();
        std::printf("%s\n", TerminalText(text).c_str());
        if (!FlushOutput()) outputLost = true;
    };
    auto stepEnded = [&](const Procedures::TCommissioningStepRecord& step,
                         const std::vector<Procedures::TCommissioningSeries>& series) {
#ifdef TARVO_HAVE_RESULTS
        recorder.StepEnded(record.Uuid, step, series);
#else
        (void)series;
#endif
        print("step " + std::to_string(step.Order) + "/" + std::to_string(total) + " " + step.Name + ": " +
              step.Verdict);
        if (step.Verdict == Procedures::kVerdictSkipped) return;
        // As a person reads them; --json and the database keep the JSON.
        if (step.Figures != "{}") print("  figures: " + Procedures::ReadableFigures(step.Figures));
        if (step.Limits != "{}") print("  limits: " + Procedures::ReadableFigures(step.Limits));
        if (!step.Message.empty()) print("  why: " + step.Message);
    };
    auto progress = [&](const std::string& line) { print("step " + line); };

    Procedures::TCommissioningRun run(plan, traffic, record, stepEnded, progress);
#ifdef TARVO_HAVE_RESULTS
    // The engine says when the run has its identity, always before its first step is recorded.
    run.Started = [&] { recorder.Begin(record); };
#endif
    for (Procedures::TNextStep next = run.Start(); !next.Done; next = run.Step()) {
#ifdef TARVO_HAVE_RESULTS
        if (!recorder.Problem().empty()) {
            run.Stop(Results::StoreFailureReason(recorder.Problem()));
            break;
        }
#endif
        if (run.Running() && run.CurrentStep() < total)
            bar.Show(std::to_string(run.CurrentStep() + 1) + "/" + std::to_string(total) + " " +
                         Procedures::PlanStepName(plan.Steps[run.CurrentStep()].Kind),
                     run.StepProgress());
        if (outputLost) {
            run.Stop("the output could not be written");
            break;
        }
        if (next.WaitMs > 0 ? platform::SleepUnlessTerminated(static_cast<uint32_t>(next.WaitMs))
                            : platform::TerminationRequested()) {
            run.Stop("interrupted by a signal");
            break;
        }
    }
    bar.Clear();

#ifdef TARVO_HAVE_RESULTS
    recorder.Finish(record);
    const std::string storeError = recorder.Problem();
    const std::string reportPath = recorder.ReportPath();
#else
    const std::string storeError, reportPath;
#endif
    const bool passed = record.Verdict == Procedures::kVerdictPass && storeError.empty();
    if (cmd.json()) {
        json steps = json::array();
        for (const auto& s : record.Steps) {
            json step = {{"order", s.Order}, {"name", s.Name}, {"verdict", s.Verdict}};
            if (!s.Message.empty()) step["message"] = s.Message;
            step["figures"] = json::parse(s.Figures, nullptr, false);
            step["limits"] = json::parse(s.Limits, nullptr, false);
            steps.push_back(step);
        }
        json o = {{"ok", passed},
                  {"verdict", record.Verdict},
                  {"plan", record.PlanName},
                  {"station", record.Station},
                  {"operator", record.Operator},
                  {"port", record.AdapterPort},
                  {"EncoderType", record.EncoderType},
                  {"Dremo_PartNumber", record.PartNumber},
                  {"Dremo_Serial", record.SerialNumber},
                  {"steps", steps}};
        if (!record.VerdictReason.empty()) o["LastErrorText"] = record.VerdictReason;
        if (!record.Uuid.empty()) o["run"] = record.Uuid;
#ifdef TARVO_HAVE_RESULTS
        o["db"] = platform::Utf8FromPath(recorder.DatabasePath());
#endif
        if (!reportPath.empty()) o["report"] = reportPath;
        if (!storeError.empty()) o["storeError"] = storeError;
        std::printf("%s\n", o.dump(-1, ' ', false, json::error_handler_t::replace).c_str());
    } else {
        print("verdict: " + record.Verdict);
        if (!record.VerdictReason.empty()) print("why: " + record.VerdictReason);
        if (!record.Uuid.empty()) print("run: " + record.Uuid);
#ifdef TARVO_HAVE_RESULTS
        print("database: " + platform::Utf8FromPath(recorder.DatabasePath()));
#endif
        if (!reportPath.empty()) print("report: " + reportPath);
    }
    if (!storeError.empty()) std::fprintf(stderr, "tarvo-cli: %s\n", TerminalText(storeError).c_str());
    if (outputLost) return kExitFailure;
    return passed ? kExitOk : kExitFailure;
}

} // namespace cli
