#include "CliProcedures.h"

#include "CliCommand.h"
#include "CliCommission.h"
#include "CliJson.h"
#include "CliOutput.h"
#include "CliText.h"
#include "Clock.h"
#include "DebugRecording.h"
#include "Files.h"
#include "K310_BiSS_bidirectional.h"
#include "K310_SPI_Velcor.h"
#include "NoiseTest.h"
#include "Orodja.h"
#include "PowerCycleRun.h"
#include "RecordingPass.h"
#include "Serial_driver.h"
#include "SupplySwitch.h"
#include "Tarvo_konstante.h"
#include "TerminationRequests.h"
#include "VelcorTraffic.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <optional>
#include <random>

namespace cli {

const char* const kProcedureSubcommandsUsage =
    "  record           record debug data to a CSV file (--seconds S [--interval MS] [--dir DIR])\n"
    "  powercycle       power-cycling test (--count N [--min MS] [--max MS] [--at-rest])\n"
    "  noise            position-noise statistics ([--samples N])\n"
    "  commission       run a commissioning plan (--plan PLAN.json [--operator NAME] [--station NAME])\n";

namespace {

namespace shared = K310_BiSS_bidirectional;
namespace velcor = K310_SPI_Velcor;
namespace layout = Tarvo_konstante;
namespace fs = std::filesystem;

// What every procedure's numbers on the command line look like.
const Orodja::TNumberSeparators kSeparators{".", ","};

// A problem that does not end the procedure: on stderr, as the window's log would show it.
void Warn(const std::string& text) {
    std::fprintf(stderr, "tarvo-cli: %s\n", TerminalText(K310_SPI_Velcor::WithReplyAsSent(text)).c_str());
}

// An unsigned option within [min, max], or `fallback` when not given.
std::optional<unsigned long long> Number(const Command& p, const char* name, unsigned long long min,
                                         unsigned long long max, std::optional<unsigned long long> fallback) {
    const auto it = p.inv().options.find(name);
    if (it == p.inv().options.end()) return fallback;
    const auto n = ParseNumber(it->second, max);
    if (!n || *n < min) return std::nullopt;
    return n;
}

std::string FailureReason(const char* fallback) {
    return shared::LastErrorText.empty() ? std::string(fallback)
                                         : Procedures::OneLineReason(shared::LastErrorText);
}

// tarvo-cli's traffic for the procedures: the protocol calls themselves.
using TCliTraffic = Procedures::TVelcorTraffic;

// ---- record ---------------------------------------------------------------------------------

const char* const kRecordUsage =
    "Usage: tarvo-cli record --seconds S [--interval MS] [--dir DIR] [--port PATH]... [--json]\n"
    "\n"
    "Identifies the encoder, unlocks its debug data and records for S seconds (0..31536000) the\n"
    "same debug-data file as the workbench: one record per reading, each reading also reading\n"
    "the temperature, the signal level and the debug data; the supply status on the first\n"
    "reading and every 1001st. Readings are MS milliseconds apart (0..10000, default 50).\n"
    "The file TEST_<part>_<serial>_<YYYYMMDDHHMMSS>.csv goes into DIR (default: the current\n"
    "directory; made with its parents when it is not there); a name already taken gets _2, _3,\n"
    "... before .csv.\n"
    "Output: 'path: FILE', 'records: N', 'failedReadings: N', the duration line\n"
    "'Record duration: N sec.' and 'ended: completed|lost port|interrupted|write failed'.\n"
    "A failed reading (no reply, an ERROR or garbage reply, a bad CRC) goes to stderr, writes no\n"
    "record and is counted; the recording goes on. A lost port or a file that cannot be written\n"
    "(or was deleted) ends it; the file then ends on its last whole record. Ctrl+C ends it early.\n"
    "Exit 1 when any reading failed or the recording did not complete.\n";

int RunRecord(const Command& p) {
    if (!p.inv().positional.empty()) return p.Usage("record takes no arguments");
    const auto seconds = Number(p, "--seconds", 0, 31536000ull, std::nullopt);
    if (!seconds) return p.Usage("--seconds needs a number of seconds 0..31536000");
    const auto interval = Number(p, "--interval", 0, 10000, 50);
    if (!interval) return p.Usage("--interval needs milliseconds 0..10000");
    fs::path directory = ".";
    if (const auto it = p.inv().options.find("--dir"); it != p.inv().options.end())
        directory = platform::PathFromUtf8(it->second);
    std::error_code ec;
    const std::string shown = platform::Utf8FromPath(directory);
    if (fs::exists(directory, ec) && !fs::is_directory(directory, ec))
        return p.Usage("--dir " + shown + " exists and is not a folder");
    // A folder that is not there yet is made, with its parents, as a user who names one expects.
    if (!fs::is_directory(directory, ec) && !fs::create_directories(directory, ec) && ec)
        return p.Fail("cannot create the folder " + shown + ": " + ec.message());

    // From here a signal ends the run at its next step instead of the program at once.
    platform::CatchTerminationRequests();
    int exit = 0;
    if (!Prepare(p, true, &exit)) return exit;
    // A recording always begins with the debug unlock; its failure is only reported.
    if (!velcor::DebugUnlock()) Warn(shared::LastErrorText);

    const std::time_t now = std::time(nullptr);
    const std::tm local = platform::LocalTime(now);
    const auto& sig = shared::EncoderSignature;
    Procedures::TDebugRecordFile file;
    if (!file.Create(fs::absolute(directory, ec).lexically_normal(),
                     Procedures::RecordingFileName(sig.Dremo_PartNumber, sig.Dremo_Serial, local)))
        return p.Fail(file.ErrorText());
    if (!p.json()) {
        std::printf("path: %s\n", platform::Utf8FromPath(file.Path()).c_str());
        if (!FlushOutput()) {
            file.Close();
            return kExitFailure;
        }
    }

    TCliTraffic traffic;
    Procedures::TRecordingPass pass(traffic, file, Warn);
    int failed = 0;
    Procedures::TRunEnd ended = Procedures::TRunEnd::Completed;
    std::string endReason;
    for (unsigned long long reading = 1; file.Elapsed() < *seconds * 1000; ++reading) {
        if (reading > 1 && *interval > 0 &&
            platform::SleepUnlessTerminated(static_cast<uint32_t>(*interval))) {
            ended = Procedures::TRunEnd::Interrupted;
            break;
        }
        if (platform::TerminationRequested()) {
            ended = Procedures::TRunEnd::Interrupted;
            break;
        }
        if (file.Elapsed() >= *seconds * 1000) break;
        const auto outcome = pass.Pass();
        if (!outcome.Reading.Ok) {
            ++failed;
            Warn("reading " + std::to_string(reading) + ": " + outcome.Reading.Reason);
            // No record to write means no write to notice a vanished file: look now.
            if (!outcome.LinkLost && !file.Check()) {
                ended = Procedures::TRunEnd::WriteFailed;
                endReason = file.ErrorText();
                break;
            }
        }
        if (outcome.WriteFailed) {
            ended = Procedures::TRunEnd::WriteFailed;
            endReason = file.ErrorText();
            break;
        }
        if (outcome.LinkLost) {
            ended = Procedures::TRunEnd::LostPort;
            endReason = outcome.Reading.Ok ? FailureReason("link lost") : outcome.Reading.Reason;
            break;
        }
    }
    if (file.IsOpen() && !file.Close() && ended != Procedures::TRunEnd::WriteFailed) {
        ended = Procedures::TRunEnd::WriteFailed;
        endReason = file.ErrorText();
    }
    if (ended == Procedures::TRunEnd::WriteFailed) Warn(endReason);
    const std::string duration = Procedures::DurationLine(file.Elapsed());
    const bool ok = failed == 0 && ended == Procedures::TRunEnd::Completed;
    if (p.json()) {
        JsonObject o;
        o.Add("ok", ok)
            .Add("path", platform::Utf8FromPath(file.Path()))
            .Add("records", int64_t{file.Records()})
            .Add("failedReadings", int64_t{failed})
            .Add("durationMs", uint64_t{file.Elapsed()})
            .Add("duration", duration)
            .Add("ended", Procedures::RunEndText(ended));
        if (!endReason.empty()) o.Add("LastErrorText", endReason);
        std::printf("%s\n", o.Text().c_str());
    } else {
        std::printf("records: %d\nfailedReadings: %d\n%s\nended: %s\n", file.Records(), failed,
                    duration.c_str(), Procedures::RunEndText(ended));
    }
    return ok ? kExitOk : kExitFailure;
}

// ---- powercycle -----------------------------------------------------------------------------

const char* const kPowercycleUsage =
    "Usage: tarvo-cli powercycle --count N [--min MS] [--max MS] [--at-rest] [--volts 3.3|5]\n"
    "                           [--port PATH]... [--json]\n"
    "\n"
    "The power-cycling test in degrees. Switches the supply on (\"V5\" or \"V3\", \"n\"), identifies\n"
    "the encoder and takes a reference reading, then N times (0..100000): a reading checked\n"
    "against the previous one, supply off (\"f\"), supply on (\"n\"), with a random pause of MIN\n"
    "up to but not including MAX milliseconds (10..10000, default 150 and 400) before every\n"
    "step. Moving (default): every reading must lie ahead of the previous one in the direction\n"
    "the first check found, by no more than 70 degrees. --at-rest: within 2 degrees. Positions\n"
    "are compared the shortest way round, so crossing zero is no jump.\n"
    "A reading that fails is never compared (\"Check failed: REASON [COUNT]\"); a supply command\n"
    "the adapter refuses is a failed cycle (\"Supply command failed: CMD REASON [COUNT]\"); a\n"
    "reply that does not come is one failure, a lost port ends the run. The supply is left on.\n"
    "Output: the workbench's log lines (\"Cikliranje start Nx\", \"Position jump ...\",\n"
    "\"Checks: C, jumps: J, failed: F\", \"Cikliranje stop\") and 'checks: N', 'jumps: N',\n"
    "'failedReadings: N', 'failedSupplyCommands: N', 'ended: completed|lost port|interrupted';\n"
    "with --json one object with these and \"lines\". Ctrl+C ends the run early. Exit 1 when\n"
    "anything jumped or failed, or the run did not complete.\n";

int RunPowercycle(const Command& p) {
    if (!p.inv().positional.empty()) return p.Usage("powercycle takes no arguments");
    const auto count = Number(p, "--count", 0, 100000, std::nullopt);
    if (!count) return p.Usage("--count needs a number of cycles 0..100000");
    const auto minMs = Number(p, "--min", 10, 10000, 150);
    const auto maxMs = Number(p, "--max", 10, 10000, 400);
    if (!minMs || !maxMs) return p.Usage("--min and --max are milliseconds 10..10000");
    const auto voltage = VoltageCommand(p);
    if (!voltage) return p.Usage("--volts is 3.3 or 5");
    const bool atRest = p.inv().options.count("--at-rest") > 0;

    // From here a signal ends the run at its next step instead of the program at once.
    platform::CatchTerminationRequests();
    int exit = 0;
    if (!Prepare(p, false, &exit)) return exit;
    std::string problem;
    if (!SupplyOn(*voltage, &problem)) return p.Fail(problem);
    if (!velcor::ReadEncoderSignature())
        return p.Fail(shared::LastErrorText.empty() ? "identification failed" : shared::LastErrorText);

    std::vector<std::string> log;
    bool outputLost = false; // a log nobody can read ends the run
    auto logLine = [&](const std::string& line) {
        log.push_back(line);
        if (!p.json() && !outputLost) {
            std::printf("%s\n", line.c_str());
            if (!FlushOutput()) outputLost = true;
        }
    };

    platform::SleepMs(200);
    TCliTraffic traffic;
    Procedures::TPowerCycleState state;
    state.PowerOnStatus = true; // the run starts with the supply on: N cycles, N checks
    Procedures::TPowerCycleRun run(
        state, traffic, logLine,
        static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    run.Remaining = static_cast<long long>(*count);
    run.MinMs = static_cast<int>(*minMs);
    run.MaxMs = static_cast<int>(*maxMs);
    run.AtRest = atRest;
    run.Separators = kSeparators;
    for (Procedures::TNextStep next = run.Start(); !next.Done; next = run.Step()) {
        if (outputLost || platform::SleepUnlessTerminated(static_cast<uint32_t>(next.WaitMs))) {
            run.Stop(Procedures::TRunEnd::Interrupted);
            break;
        }
    }
    // However the run ended, the encoder is left powered, as the window leaves it, unless the
    // adapter is gone.
    bool supplyLeftOn = true;
    if (run.End() != Procedures::TRunEnd::LostPort && !SupplyOn(*voltage, &problem)) {
        supplyLeftOn = false;
        Warn("the supply could not be switched back on: " + problem);
    }
    if (outputLost) return kExitFailure;

    const bool ok = run.Passed() && supplyLeftOn;
    if (p.json()) {
        JsonObject o;
        o.Add("ok", ok)
            .Add("checks", int64_t{run.Checks()})
            .Add("jumps", int64_t{run.Jumps()})
            .Add("failedReadings", int64_t{run.FailedReadings()})
            .Add("failedSupplyCommands", int64_t{run.FailedSupplyCommands()})
            .Add("ended", Procedures::RunEndText(run.End()))
            .Add("lines", log);
        if (!run.EndReason().empty()) o.Add("LastErrorText", run.EndReason());
        if (!supplyLeftOn) o.Add("supplyLeftOn", false);
        std::printf("%s\n", o.Text().c_str());
    } else {
        std::printf("checks: %d\njumps: %d\nfailedReadings: %d\nfailedSupplyCommands: %d\nended: %s\n",
                    run.Checks(), run.Jumps(), run.FailedReadings(), run.FailedSupplyCommands(),
                    Procedures::RunEndText(run.End()));
    }
    return ok ? kExitOk : kExitFailure;
}

// ---- noise ----------------------------------------------------------------------------------

const char* const kNoiseUsage =
    "Usage: tarvo-cli noise [--samples N] [--port PATH]... [--json]\n"
    "\n"
    "Position-noise statistics with the shaft at rest: identifies the encoder, takes N readings\n"
    "(1..1000000, default 5000) of the single-turn position, with the signal level read on every\n"
    "100th, and prints the workbench's result lines: vzorcev, minn, maxx, raztros, povprecje,\n"
    "6 sigma (counts, one decimal, decimal comma), Sig Lvl (n/a when none was measured), an empty\n"
    "line and the clipboard line (signal level TAB six sigma), then 'ended: ...'. Positions are\n"
    "taken round the circle: a shaft at rest on zero is not spread over the whole turn. With\n"
    "--json the figures by name. A failed reading (no reply, an ERROR or garbage reply, a bad CRC)\n"
    "ends the acquisition without becoming a sample; the figures then cover the readings taken,\n"
    "a line says why it ended early, and the exit status is 1. Ctrl+C ends it the same way.\n";

int RunNoise(const Command& p) {
    if (!p.inv().positional.empty()) return p.Usage("noise takes no arguments");
    const auto samples = Number(p, "--samples", 1, 1000000, Procedures::kNoiseSampleCount);
    if (!samples) return p.Usage("--samples needs a number 1..1000000");
    // From here a signal ends the run at its next step instead of the program at once.
    platform::CatchTerminationRequests();
    int exit = 0;
    if (!Prepare(p, true, &exit)) return exit;

    TCliTraffic traffic;
    Procedures::TNoiseRun run(traffic, static_cast<int>(*samples), Warn);
    while (!run.Step().Done) {
        if (platform::TerminationRequested()) run.Stop(Procedures::TRunEnd::Interrupted);
    }
    if (!run.EndReason().empty()) Warn(run.EndReason());
    const Procedures::TNoiseStatistics s = run.Statistics();
    const bool ok = run.Passed();
    if (p.json()) {
        JsonObject o;
        o.Add("ok", ok)
            .Add("samples", int64_t{s.Samples})
            .Add("minimum", double(s.Minimum))
            .Add("maximum", double(s.Maximum))
            .Add("spread", double(s.Spread()))
            .Add("mean", double(s.Mean))
            .Add("standardDeviation", double(s.StandardDeviation))
            .Add("sixSigma", double(s.SixSigma()))
            .Add("signalLevelReadings", int64_t{s.SignalLevelReadings});
        if (s.SignalLevelMeasured())
            o.Add("signalLevel", s.SignalLevelMean);
        else
            o.AddNull("signalLevel");
        o.Add("clipboard", Procedures::NoiseClipboardText(s)).Add("ended", Procedures::RunEndText(run.End()));
        if (!ok) o.Add("LastErrorText", run.EndReason());
        std::printf("%s\n", o.Text().c_str());
    } else {
        for (const std::string& line : run.ReportLines())
            std::printf("%s\n", line.c_str());
        std::printf("ended: %s\n", Procedures::RunEndText(run.End()));
    }
    return ok ? kExitOk : kExitFailure;
}

const std::vector<Subcommand>& Subcommands() {
    static const std::vector<Subcommand> list = {
        {"record", kRecordUsage, {{"--seconds", true}, {"--interval", true}, {"--dir", true}}, RunRecord},
        {"powercycle",
         kPowercycleUsage,
         {{"--count", true}, {"--min", true}, {"--max", true}, {"--at-rest", false}, {"--volts", true}},
         RunPowercycle},
        {"noise", kNoiseUsage, {{"--samples", true}}, RunNoise},
        {"commission",
         kCommissionUsage,
         {{"--plan", true},
          {"--operator", true},
          {"--station", true},
          {"--db", true},
          {"--report", true},
          {"--volts", true}},
         RunCommission},
    };
    return list;
}

} // namespace

// The window's supply-on: voltage, "n", 200 ms for the encoder to start, the supply status. An
// unexpected answer to the voltage is a warning, as the window's message box is; false when "n"
// was not confirmed or the link is gone, with the reason in *problem.
bool SupplyOn(const std::string& voltage, std::string* problem, std::string* status) {
    std::string reply;
    shared::EncoderPosition.ErrComm = Transaction(voltage, reply);
    if (shared::EncoderPosition.ErrComm < 0) {
        *problem = "USB Comm Err " + std::to_string(shared::EncoderPosition.ErrComm);
        return false;
    }
    if (reply.compare(0, voltage.size(), voltage) != 0)
        Warn("Setting power supply (" + voltage + ") not successfull! (" + Orodja::KeepPrintable(reply) +
             ")");
    shared::LastErrorText.clear();
    if (!SupplySwitch::SwitchOn()) {
        *problem = "Supply command failed: n " + FailureReason("no reply");
        return false;
    }
    platform::SleepMs(200);
    shared::EncoderPosition.ErrComm = Transaction("e", reply);
    if (status) *status = Orodja::Trim(reply);
    if (shared::EncoderPosition.ErrComm < 0) {
        *problem = "USB Comm Err " + std::to_string(shared::EncoderPosition.ErrComm);
        return false;
    }
    return true;
}

std::optional<std::string> VoltageCommand(const Command& p) {
    const auto it = p.inv().options.find("--volts");
    if (it == p.inv().options.end() || it->second == "5") return "V5";
    if (it->second == "3.3" || it->second == "3") return "V3";
    return std::nullopt;
}

bool IsProcedureSubcommand(const std::string& name) {
    return FindSubcommand(Subcommands(), name) != nullptr;
}

int RunProcedureSubcommand(const std::string& name, const std::vector<std::string>& args) {
    return RunSubcommand(Subcommands(), name, args);
}

} // namespace cli
