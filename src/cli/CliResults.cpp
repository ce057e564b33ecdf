#include "CliResults.h"

#include "CliCommand.h"
#include "CliOutput.h"
#include "CommandLineOptions.h"
#include "FiguresText.h"
#include "Files.h"
#include "Report.h"
#include "ResultsStore.h"
#include "StandardDescriptors.h"
#include "TimeText.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <map>
#include <optional>

namespace cli {

const char* const kResultsSubcommandUsage =
    "  results          list | show RUN | export --csv | report RUN --out FILE: the commissioning\n"
    "                   runs in the results database\n";

namespace {

using nlohmann::json;
using Procedures::TCommissioningRunRecord;

const char* const kResultsUsage =
    "Usage: tarvo-cli results list [FILTERS] [--db PATH] [--json] | results show RUN [--db PATH] [--json]\n"
    "                         | results export --csv [FILTERS] [--db PATH]\n"
    "                         | results report RUN --out FILE [--db PATH]\n"
    "\n"
    "The commissioning runs in the results database (by default results.sqlite in the user's data\n"
    "folder: $XDG_DATA_HOME/tarvo-workbench or ~/.local/share/tarvo-workbench on Linux,\n"
    "%LOCALAPPDATA%\\tarvo-workbench on Windows). Needs no adapter.\n"
    "  list     the runs, newest first: UUID, start (local time), verdict, serial number, part\n"
    "           number, plan\n"
    "  show     one run whole: identity, adapter, plan, each step's figures, limits and verdict,\n"
    "           the series kept\n"
    "  export   one CSV row per run and step (RFC 4180, times in UTC) on standard output\n"
    "  report   the run's HTML report into FILE (written whole or not at all)\n"
    "RUN is a run's UUID or its first characters (at least 4), as long as only one run has them.\n"
    "FILTERS (list, export):\n"
    "  --serial S     only runs of the encoder with serial number S\n"
    "  --since DATE   only runs started then or later: YYYY-MM-DD (local midnight) or an ISO 8601\n"
    "                 time (YYYY-MM-DDTHH:MM[:SS], local, or with Z or +HH:MM)\n"
    "  --verdict V    only runs with verdict V: PASS, FAIL or INTERRUPTED\n"
    "  --limit N      at most N runs (the newest)\n"
    "Options:\n"
    "  --db PATH      the results database to read (never created by these commands)\n"
    "  --out FILE     report: the file to write (replaced when it exists)\n"
    "  --json         one JSON object with \"ok\" (list, show)\n"
    "Exit status: 0 success, 1 no such database or run (or it cannot be read), 2 bad usage.\n";

constexpr int kDefaultListLimit = 0;

// A device text for JSON: valid UTF-8 as it is, every other byte as its Latin-1 character, as
// tarvo-cli's other JSON output carries device bytes.
std::string JsonText(const std::string& bytes) {
    std::string out;
    size_t i = 0;
    while (i < bytes.size()) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        size_t n = 1;
        if (c >= 0xC2 && c <= 0xDF)
            n = 2;
        else if (c >= 0xE0 && c <= 0xEF)
            n = 3;
        else if (c >= 0xF0 && c <= 0xF4)
            n = 4;
        if (c < 0x80 ||
            (i + n <= bytes.size() && Results::IsValidUtf8(std::string_view(bytes).substr(i, n)))) {
            out.append(bytes, i, n);
            i += n;
        } else {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
            ++i;
        }
    }
    return out;
}

// A JSON text kept in the store as JSON again; anything that does not parse as a string.
json EmbeddedJson(const std::string& text) {
    json j = json::parse(text, nullptr, false);
    if (j.is_discarded()) return JsonText(text);
    return j;
}

std::string Dump(const json& j) {
    return j.dump(-1, ' ', false, json::error_handler_t::replace);
}

json RunHeaderJson(const TCommissioningRunRecord& run) {
    json j = json::object();
    j["uuid"] = run.Uuid;
    j["serial_number"] = JsonText(run.SerialNumber);
    j["part_number"] = JsonText(run.PartNumber);
    j["verdict"] = run.Verdict.empty() ? json(nullptr) : json(run.Verdict);
    j["verdict_reason"] = JsonText(run.VerdictReason);
    j["plan_name"] = JsonText(run.PlanName);
    j["plan_hash"] = run.PlanHash;
    j["station"] = JsonText(run.Station);
    j["operator"] = JsonText(run.Operator);
    j["adapter_port"] = JsonText(run.AdapterPort);
    j["adapter_serial"] = JsonText(run.AdapterSerial);
    j["adapter_version"] = JsonText(run.AdapterVersion);
    j["encoder_type"] = run.EncoderType;
    j["layout"] = JsonText(run.Layout);
    j["firmware"] = JsonText(run.Firmware);
    j["profile_name"] = JsonText(run.ProfileName);
    j["start"] = Results::IsoUtc(run.StartMs);
    j["start_ms"] = run.StartMs;
    j["end"] = run.EndMs ? json(Results::IsoUtc(run.EndMs)) : json(nullptr);
    j["end_ms"] = run.EndMs;
    return j;
}

struct TResultsOptions {
    std::string action;
    std::vector<std::string> positional;
    std::map<std::string, std::string> values;
    bool json = false;
    bool csv = false;
    bool help = false;
};

int Usage(const std::string& problem) {
    return UsageError("results", problem);
}

// Fails with `reason`: on stderr, or as the JSON object on stdout.
int Failure(bool asJson, const std::string& reason) {
    if (asJson)
        std::printf("%s\n", Dump(json{{"ok", false}, {"LastErrorText", JsonText(reason)}}).c_str());
    else
        std::fprintf(stderr, "tarvo-cli: %s\n", TerminalText(reason).c_str());
    return kExitFailure;
}

std::optional<Results::TRunFilter> Filter(const TResultsOptions& o, std::string& problem) {
    Results::TRunFilter filter;
    if (const auto it = o.values.find("--serial"); it != o.values.end()) filter.SerialNumber = it->second;
    if (const auto it = o.values.find("--since"); it != o.values.end()) {
        const auto since = Results::ParseDateTime(it->second);
        if (!since) {
            problem =
                "--since: expected a date YYYY-MM-DD or an ISO 8601 time YYYY-MM-DDTHH:MM[:SS][Z|+HH:MM], "
                "not \"" +
                it->second + "\"";
            return std::nullopt;
        }
        filter.SinceMs = *since;
    }
    if (const auto it = o.values.find("--verdict"); it != o.values.end()) {
        std::string v = it->second;
        std::transform(v.begin(), v.end(), v.begin(),
                       [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; });
        if (v != Procedures::kVerdictPass && v != Procedures::kVerdictFail &&
            v != Procedures::kVerdictInterrupted) {
            problem = "--verdict: expected PASS, FAIL or INTERRUPTED, not \"" + it->second + "\"";
            return std::nullopt;
        }
        filter.Verdict = v;
    }
    filter.Limit = kDefaultListLimit;
    if (const auto it = o.values.find("--limit"); it != o.values.end()) {
        const auto n = ParseSigned(it->second, 1, 1000000000);
        if (!n) {
            problem = "--limit: expected a whole number 1..1000000000, not \"" + it->second + "\"";
            return std::nullopt;
        }
        filter.Limit = static_cast<int>(*n);
    }
    return filter;
}

// Opens the store that must already be there: reading never makes an empty database.
bool OpenStore(const TResultsOptions& o, Results::TResultsStore& store, std::string& error) {
    std::filesystem::path path;
    if (const auto it = o.values.find("--db"); it != o.values.end())
        path = platform::PathFromUtf8(it->second);
    else
        path = Results::DefaultResultsPath();
    if (path.empty()) {
        error = "no results database: the system names no data folder for this user; give one with --db PATH";
        return false;
    }
    return store.Open(path, Results::OpenMode::MustExist, error);
}

std::string Column(std::string text, size_t width) {
    text = TerminalText(text);
    if (text.size() < width) text.append(width - text.size(), ' ');
    return text;
}

int List(const TResultsOptions& o) {
    if (!o.positional.empty()) return Usage("results list takes no RUN");
    std::string problem;
    const auto filter = Filter(o, problem);
    if (!filter) return Usage(problem);
    Results::TResultsStore store;
    std::string error;
    std::vector<TCommissioningRunRecord> runs;
    if (!OpenStore(o, store, error) || !store.ListRuns(*filter, runs, error)) return Failure(o.json, error);
    if (o.json) {
        json list = json::array();
        for (const TCommissioningRunRecord& run : runs)
            list.push_back(RunHeaderJson(run));
        std::printf("%s\n", Dump(json{{"ok", true}, {"runs", list}}).c_str());
        return kExitOk;
    }
    if (runs.empty()) return kExitOk;
    std::printf("%-36s  %-25s  %-11s  %-16s  %-20s  %s\n", "RUN", "START", "VERDICT", "SERIAL", "PART",
                "PLAN");
    for (const TCommissioningRunRecord& run : runs)
        std::printf("%s  %s  %s  %s  %s  %s\n", run.Uuid.c_str(),
                    Results::LocalWithOffset(run.StartMs).c_str(),
                    Column(run.Verdict.empty() ? "RUNNING" : run.Verdict, 11).c_str(),
                    Column(run.SerialNumber, 16).c_str(), Column(run.PartNumber, 20).c_str(),
                    TerminalText(run.PlanName).c_str());
    return kExitOk;
}

int Show(const TResultsOptions& o) {
    if (o.positional.size() != 1) return Usage("results show takes exactly one RUN");
    Results::TResultsStore store;
    std::string error;
    TCommissioningRunRecord run;
    if (!OpenStore(o, store, error) || !store.LoadRun(o.positional[0], run, error))
        return Failure(o.json, error);
    if (o.json) {
        json j = RunHeaderJson(run);
        j["profile"] = run.Profile.empty() ? json(nullptr) : EmbeddedJson(run.Profile);
        json steps = json::array();
        for (const auto& step : run.Steps)
            steps.push_back({{"order", step.Order},
                             {"name", JsonText(step.Name)},
                             {"verdict", step.Verdict},
                             {"message", JsonText(step.Message)},
                             {"figures", EmbeddedJson(step.Figures)},
                             {"limits", EmbeddedJson(step.Limits)},
                             {"start", Results::IsoUtc(step.StartMs)},
                             {"end", Results::IsoUtc(step.EndMs)}});
        j["steps"] = steps;
        json series = json::array();
        for (const auto& s : run.Series)
            series.push_back(
                {{"step", s.StepOrder}, {"name", JsonText(s.Name)}, {"data", EmbeddedJson(s.Data)}});
        j["series"] = series;
        json out = {{"ok", true}};
        out.update(j);
        std::printf("%s\n", Dump(out).c_str());
        return kExitOk;
    }
    const auto line = [](const char* name, const std::string& value) {
        std::printf("%s: %s\n", name, TerminalText(value).c_str());
    };
    line("Run", run.Uuid);
    line("Verdict", run.Verdict.empty() ? "RUNNING" : run.Verdict);
    if (!run.VerdictReason.empty()) line("Reason", run.VerdictReason);
    line("Serial number", run.SerialNumber);
    line("Part number", run.PartNumber);
    line("Encoder type", std::to_string(run.EncoderType));
    line("Layout", run.Layout);
    line("Firmware", run.Firmware);
    line("Adapter port", run.AdapterPort);
    line("Adapter serial", run.AdapterSerial);
    line("Adapter version", run.AdapterVersion);
    line("Station", run.Station);
    line("Operator", run.Operator);
    line("Plan", run.PlanName);
    line("Plan SHA-256", run.PlanHash);
    line("Profile", run.ProfileName);
    line("Start", Results::LocalWithOffset(run.StartMs));
    line("End", run.EndMs ? Results::LocalWithOffset(run.EndMs) : std::string());
    std::printf("Steps: %zu\n", run.Steps.size());
    for (const auto& step : run.Steps) {
        std::printf("  %d %s: %s (%.3f s)\n", step.Order, TerminalText(step.Name).c_str(),
                    step.Verdict.c_str(), static_cast<double>(step.EndMs - step.StartMs) / 1000.0);
        if (!step.Message.empty()) std::printf("    message: %s\n", TerminalText(step.Message).c_str());
        std::printf("    figures: %s\n", TerminalText(Procedures::ReadableFigures(step.Figures)).c_str());
        std::printf("    limits: %s\n", TerminalText(Procedures::ReadableFigures(step.Limits)).c_str());
    }
    for (const auto& s : run.Series) {
        const json data = json::parse(s.Data, nullptr, false);
        const size_t count = data.is_array() ? data.size() : 0;
        std::printf("Series: %s (step %d%s)\n", TerminalText(s.Name).c_str(), s.StepOrder,
                    count ? (", " + std::to_string(count) + " values").c_str() : "");
    }
    return kExitOk;
}

int Export(const TResultsOptions& o) {
    if (!o.csv) return Usage("results export needs --csv (the only format)");
    if (o.json) return Usage("results export writes CSV; --json does not apply");
    if (!o.positional.empty()) return Usage("results export takes no RUN; choose runs with the filters");
    std::string problem;
    const auto filter = Filter(o, problem);
    if (!filter) return Usage(problem);
    Results::TResultsStore store;
    std::string error;
    if (!OpenStore(o, store, error)) return Failure(false, error);
    // The rows end with CR LF as the format has it, on Windows too.
    std::cout.flush();
    platform::WriteStandardOutputAsIs();
    if (!store.ExportCsv(std::cout, *filter, error)) return Failure(false, error);
    return kExitOk;
}

int Report(const TResultsOptions& o) {
    if (o.positional.size() != 1) return Usage("results report takes exactly one RUN");
    const auto out = o.values.find("--out");
    if (out == o.values.end() || out->second.empty()) return Usage("results report needs --out FILE");
    if (o.json) return Usage("results report writes a file; --json does not apply");
    Results::TResultsStore store;
    std::string error;
    TCommissioningRunRecord run;
    if (!OpenStore(o, store, error) || !store.LoadRun(o.positional[0], run, error) ||
        !Results::WriteReportFile(run, out->second, error))
        return Failure(false, error);
    std::printf("Report: %s\n", TerminalText(out->second).c_str());
    return kExitOk;
}

} // namespace

int RunResults(const std::vector<std::string>& args) {
    using CommandLineOptions::TakesValue;
    std::string problem;
    const auto parsed = CommandLineOptions::Parse(args,
                                                  {{"--help", TakesValue::No},
                                                   {"--json", TakesValue::No},
                                                   {"--csv", TakesValue::No},
                                                   {"--db", TakesValue::Yes},
                                                   {"--serial", TakesValue::Yes},
                                                   {"--since", TakesValue::Yes},
                                                   {"--verdict", TakesValue::Yes},
                                                   {"--limit", TakesValue::Yes},
                                                   {"--out", TakesValue::Yes}},
                                                  &problem);
    if (!parsed) return Usage(problem);
    TResultsOptions o;
    for (const auto& option : parsed->options) {
        if (option.name == "--help")
            o.help = true;
        else if (option.name == "--json")
            o.json = true;
        else if (option.name == "--csv")
            o.csv = true;
        else
            o.values[option.name] = option.value;
    }
    if (o.help) {
        std::fputs(kResultsUsage, stdout);
        return kExitOk;
    }
    if (parsed->positional.empty()) return Usage("results needs an action: list, show, export or report");
    o.action = parsed->positional[0];
    o.positional.assign(parsed->positional.begin() + 1, parsed->positional.end());
    // Options that belong to other actions are mistakes, not things to ignore silently.
    const std::map<std::string, std::vector<std::string>> allowed = {
        {"list", {"--db", "--serial", "--since", "--verdict", "--limit"}},
        {"show", {"--db"}},
        {"export", {"--db", "--serial", "--since", "--verdict", "--limit"}},
        {"report", {"--db", "--out"}},
    };
    const auto action = allowed.find(o.action);
    if (action == allowed.end())
        return Usage("unknown results action " + o.action + " (list, show, export or report)");
    for (const auto& [name, value] : o.values)
        if (std::find(action->second.begin(), action->second.end(), name) == action->second.end())
            return Usage("results " + o.action + " takes no " + name);
    if (o.csv && o.action != "export") return Usage("results " + o.action + " takes no --csv");
    if (o.action == "list") return List(o);
    if (o.action == "show") return Show(o);
    if (o.action == "export") return Export(o);
    return Report(o);
}

} // namespace cli
