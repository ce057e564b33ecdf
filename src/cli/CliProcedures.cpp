#include "CliProcedures.h"

#include "CliCommand.h"
#include "CliJson.h"
#include "CliOutput.h"
#include "CliText.h"
#include "Clock.h"
#include "DebugRecording.h"
#include "K310_BiSS_bidirectional.h"
#include "K310_SPI_Velcor.h"
#include "NoiseTest.h"
#include "Orodja.h"
#include "PowerCycling.h"
#include "StatusText.h"
#include "Tarvo_konstante.h"

#include <charconv>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <optional>
#include <random>

namespace cli {

const char* const kProcedureSubcommandsUsage =
    "  record           record debug data to a CSV file (--seconds S [--interval MS] [--dir DIR])\n"
    "  powercycle       power-cycling test (--count N [--min MS] [--max MS] [--at-rest])\n"
    "  noise            position-noise statistics ([--samples N])\n";

namespace {

namespace shared = K310_BiSS_bidirectional;
namespace velcor = K310_SPI_Velcor;
namespace layout = Tarvo_konstante;
namespace fs = std::filesystem;

// What every procedure's numbers on the command line look like.
const Orodja::TNumberSeparators kSeparators{".", ","};

// A number for JSON: the shortest text that reads back as the same double.
std::string JsonNumber(double value) {
    char buffer[64];
    const auto r = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, r.ptr);
}

std::string JsonArray(const std::vector<std::string>& texts) {
    std::string out = "[";
    for (size_t i = 0; i < texts.size(); ++i)
        out += (i ? "," : "") + JsonString(texts[i]);
    return out + "]";
}

// A problem that does not end the procedure: on stderr, as the window's log would show it.
void Warn(const std::string& text) {
    std::fprintf(stderr, "tarvo-cli: %s\n", TerminalText(text).c_str());
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

// The window's supply-on: voltage, "n", 200 ms for the encoder to start, the supply status.
// Unexpected replies are warnings, as the window's message boxes are; false only when the link
// to the adapter is gone.
bool SupplyOn(const std::string& voltage, std::string* status = nullptr) {
    std::string reply;
    shared::EncoderPosition.ErrComm = Transaction(voltage, reply);
    if (shared::EncoderPosition.ErrComm < 0) return false;
    if (reply.compare(0, voltage.size(), voltage) != 0)
        Warn("Setting power supply (" + voltage + ") not successfull! (" + Orodja::KeepPrintable(reply) +
             ")");
    Transaction("n", reply);
    if (reply.compare(0, 2, "ON") != 0)
        Warn("Setting power supply (n) not successfull! (" + Orodja::KeepPrintable(reply) + ")");
    platform::SleepMs(200);
    shared::EncoderPosition.ErrComm = Transaction("e", reply);
    if (status) *status = Orodja::Trim(reply);
    return shared::EncoderPosition.ErrComm >= 0;
}

std::optional<std::string> VoltageCommand(const Command& p) {
    const auto it = p.inv().options.find("--volts");
    if (it == p.inv().options.end() || it->second == "5") return "V5";
    if (it->second == "3.3" || it->second == "3") return "V3";
    return std::nullopt;
}

// Degrees per count, as the connection sets the scaling: 360 / counts per turn.
double DegreesPerCount() {
    return velcor::SingleTurnCounts > 0 ? 360.0 / velcor::SingleTurnCounts : 1.0;
}

// ---- record ---------------------------------------------------------------------------------

const char* const kRecordUsage =
    "usage: tarvo-cli record --seconds S [--interval MS] [--dir DIR] [--port PATH]... [--json]\n"
    "\n"
    "Identifies the encoder, unlocks its debug data and records for S seconds (0..31536000) the\n"
    "same debug-data file as the workbench: one record per reading, each reading also reading\n"
    "the temperature, the signal level and the debug data; the supply status on the first\n"
    "reading and every 1001st. Readings are MS milliseconds apart (0..10000, default 50).\n"
    "The file TEST_<part>_<serial>_<YYYYMMDDHHMMSS>.csv goes into DIR (default: the current\n"
    "directory); a name already taken gets _2, _3, ... before .csv.\n"
    "Output: 'path: FILE', 'records: N', 'failedReadings: N' and the duration line\n"
    "'Record duration: N sec.'. A failed reading goes to stderr and writes no record; the\n"
    "recording stops when the link to the adapter is lost. Exit 1 when any reading failed.\n";

int RunRecord(const Command& p) {
    if (!p.inv().positional.empty()) return p.Usage("record takes no arguments");
    const auto seconds = Number(p, "--seconds", 0, 31536000ull, std::nullopt);
    if (!seconds) return p.Usage("--seconds needs a number of seconds 0..31536000");
    const auto interval = Number(p, "--interval", 0, 10000, 50);
    if (!interval) return p.Usage("--interval needs milliseconds 0..10000");
    fs::path directory = ".";
    if (const auto it = p.inv().options.find("--dir"); it != p.inv().options.end()) directory = it->second;
    std::error_code ec;
    if (!fs::is_directory(directory, ec))
        return p.Usage("--dir " + directory.string() + " is not a directory");

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
        std::printf("path: %s\n", file.Path().string().c_str());
        if (!FlushOutput()) {
            file.Close();
            return kExitFailure;
        }
    }

    auto& pos = shared::EncoderPosition;
    std::string supply;
    int powerReadCounter = 0;
    int failed = 0;
    bool linkLost = false;
    for (unsigned long long reading = 1; file.Elapsed() < *seconds * 1000; ++reading) {
        if (reading > 1 && *interval >= 10) platform::SleepMs(static_cast<uint32_t>(*interval));
        if (file.Elapsed() >= *seconds * 1000) break;
        shared::LastErrorText.clear();
        if (!velcor::ReadPosition()) {
            ++failed;
            Warn("reading " + std::to_string(reading) + ": " + shared::LastErrorText);
            if (pos.ErrComm < 0) {
                linkLost = true;
                break;
            }
            continue;
        }
        if (!velcor::ReadSensorTemperature()) Warn(shared::LastErrorText);
        if (layout::HasSignalLevel && !velcor::ReadSignalLevel()) Warn(shared::LastErrorText);
        const std::string status = Procedures::StatusConditionText(pos.Status, layout::LenPersistentStatus);
        if (!velcor::LatchDebugData()) Warn(shared::LastErrorText);
        if (powerReadCounter != 0) {
            --powerReadCounter;
        } else {
            std::string reply;
            pos.ErrComm = Transaction("e", reply);
            supply = Orodja::Trim(reply);
            powerReadCounter = 1000;
        }
        Procedures::TRecordSources sources;
        sources.Position = pos;
        sources.StatusText = status;
        sources.Supply = supply;
        sources.Debug = velcor::DebugData;
        if (!file.Write(sources)) {
            file.Close();
            return p.Fail(file.ErrorText(), JsonObject().Add("path", file.Path().string()));
        }
    }
    if (!file.Close()) return p.Fail(file.ErrorText(), JsonObject().Add("path", file.Path().string()));
    const std::string duration = Procedures::DurationLine(file.Elapsed());
    const bool ok = failed == 0;
    if (p.json()) {
        JsonObject o;
        o.Add("ok", ok)
            .Add("path", file.Path().string())
            .Add("records", int64_t{file.Records()})
            .Add("failedReadings", int64_t{failed})
            .Add("durationMs", uint64_t{file.Elapsed()})
            .Add("duration", duration);
        if (linkLost) o.Add("LastErrorText", shared::LastErrorText);
        std::printf("%s\n", o.Text().c_str());
    } else {
        std::printf("records: %d\nfailedReadings: %d\n%s\n", file.Records(), failed, duration.c_str());
    }
    return ok ? kExitOk : kExitFailure;
}

// ---- powercycle -----------------------------------------------------------------------------

const char* const kPowercycleUsage =
    "usage: tarvo-cli powercycle --count N [--min MS] [--max MS] [--at-rest] [--volts 3.3|5]\n"
    "                           [--port PATH]... [--json]\n"
    "\n"
    "The power-cycling test in degrees. Switches the supply on (\"V5\" or \"V3\", \"n\"), identifies\n"
    "the encoder and takes a reference reading, then N times (0..100000): a reading checked\n"
    "against the previous one, supply off (\"f\"), supply on (\"n\"), with a random pause of MIN\n"
    "up to but not including MAX milliseconds (10..10000, default 150 and 400) before every\n"
    "step. Moving (default): every reading must lie ahead of the previous one in the direction\n"
    "the first check found, by no more than 70 degrees. --at-rest: within 2 degrees.\n"
    "Output: the workbench's log lines (\"Cikliranje start Nx\", \"Position jump ...\",\n"
    "\"Cikliranje stop\") and 'checks: N', 'jumps: N', 'failedReadings: N'; with --json one\n"
    "object with these and \"lines\". Exit 1 when any jump was logged or a reading failed.\n";

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

    int exit = 0;
    if (!Prepare(p, false, &exit)) return exit;
    if (!SupplyOn(*voltage)) return p.Fail("USB Comm Err " + std::to_string(shared::EncoderPosition.ErrComm));
    if (!velcor::ReadEncoderSignature())
        return p.Fail(shared::LastErrorText.empty() ? "identification failed" : shared::LastErrorText);
    const double scale = DegreesPerCount();
    auto& pos = shared::EncoderPosition;

    std::vector<std::string> log;
    bool outputLost = false; // a log nobody can read ends the run
    auto logLine = [&](const std::string& line) {
        log.push_back(line);
        if (!p.json()) {
            std::printf("%s\n", line.c_str());
            if (!FlushOutput()) outputLost = true;
        }
    };

    platform::SleepMs(200);
    if (!velcor::ReadPosition()) return p.Fail(shared::LastErrorText);
    double position = static_cast<double>(pos.MTST_value) * scale;
    Procedures::TPowerCycleState state;
    state.PowerOnStatus = true; // the run starts with the supply on: N cycles, N checks
    Procedures::StartPowerCycleRun(state, position);
    long long remaining = static_cast<long long>(*count);
    logLine(Procedures::PowerCycleStartLine(remaining));

    std::mt19937 generator(
        static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    int pause = static_cast<int>(*minMs);
    int checks = 0, jumps = 0, failed = 0;
    std::string lost;
    while (!outputLost) {
        platform::SleepMs(static_cast<uint32_t>(pause));
        const auto step = Procedures::NextPowerCycleStep(remaining, state.PowerOnStatus);
        if (step == Procedures::TPowerCycleStep::Stop) {
            logLine(Procedures::kPowerCycleStopLine);
            break;
        }
        pause = Procedures::RandomDelayMs(static_cast<int>(*minMs), static_cast<int>(*maxMs), generator);
        std::string reply;
        if (step == Procedures::TPowerCycleStep::CheckAndSwitchOff) {
            // A failed reading leaves the position as it was, so it shows no jump.
            if (velcor::ReadPosition()) {
                position = static_cast<double>(pos.MTST_value) * scale;
            } else {
                ++failed;
                Warn(shared::LastErrorText);
                if (pos.ErrComm < 0) {
                    lost = shared::LastErrorText;
                    break;
                }
            }
            ++checks;
            for (const std::string& line :
                 Procedures::PowerCycleCheck(state, atRest, position, remaining, kSeparators)) {
                logLine(line);
                ++jumps;
            }
            Transaction("f", reply);
            state.PowerOnStatus = false;
        } else {
            Transaction("n", reply);
            state.PowerOnStatus = true;
            --remaining;
        }
    }
    // However the run ended, the encoder is left powered, as the window leaves it.
    if (lost.empty()) SupplyOn(*voltage);
    if (outputLost) return kExitFailure;

    const bool ok = jumps == 0 && failed == 0;
    if (p.json()) {
        JsonObject o;
        o.Add("ok", ok)
            .Add("checks", int64_t{checks})
            .Add("jumps", int64_t{jumps})
            .Add("failedReadings", int64_t{failed})
            .AddRaw("lines", JsonArray(log));
        if (!lost.empty()) o.Add("LastErrorText", lost);
        std::printf("%s\n", o.Text().c_str());
    } else {
        std::printf("checks: %d\njumps: %d\nfailedReadings: %d\n", checks, jumps, failed);
    }
    return ok ? kExitOk : kExitFailure;
}

// ---- noise ----------------------------------------------------------------------------------

const char* const kNoiseUsage =
    "usage: tarvo-cli noise [--samples N] [--port PATH]... [--json]\n"
    "\n"
    "Position-noise statistics with the shaft at rest: identifies the encoder, takes N readings\n"
    "(1..1000000, default 5000) of the single-turn position, with the signal level read on every\n"
    "100th, and prints the workbench's result lines: vzorcev, minn, maxx, raztros, povprecje,\n"
    "6 sigma (counts, one decimal, decimal comma), Sig Lvl, an empty line and the clipboard line\n"
    "(signal level TAB six sigma). With --json the figures by name. A failed reading ends the\n"
    "acquisition; the figures then cover the readings taken, and the exit status is 1.\n";

int RunNoise(const Command& p) {
    if (!p.inv().positional.empty()) return p.Usage("noise takes no arguments");
    const auto samples = Number(p, "--samples", 1, 1000000, Procedures::kNoiseSampleCount);
    if (!samples) return p.Usage("--samples needs a number 1..1000000");
    int exit = 0;
    if (!Prepare(p, true, &exit)) return exit;

    auto& pos = shared::EncoderPosition;
    Procedures::TNoiseAcquisition acquisition(static_cast<int>(*samples));
    std::string ended;
    while (!acquisition.Complete()) {
        const bool due = acquisition.SignalLevelDue();
        shared::LastErrorText.clear();
        if (!velcor::ReadPosition()) {
            ended = "reading " + std::to_string(acquisition.Taken() + 1) + ": " + shared::LastErrorText;
            Warn(ended);
            break;
        }
        if (due && layout::HasSignalLevel && !velcor::ReadSignalLevel()) Warn(shared::LastErrorText);
        acquisition.AddReading(pos.ST_value, pos.SignalLevel);
    }
    const Procedures::TNoiseStatistics s = acquisition.Statistics();
    const bool ok = ended.empty();
    if (p.json()) {
        JsonObject o;
        o.Add("ok", ok)
            .Add("samples", int64_t{s.Samples})
            .AddRaw("minimum", JsonNumber(s.Minimum))
            .AddRaw("maximum", JsonNumber(s.Maximum))
            .AddRaw("spread", JsonNumber(s.Spread()))
            .AddRaw("mean", JsonNumber(s.Mean))
            .AddRaw("standardDeviation", JsonNumber(s.StandardDeviation))
            .AddRaw("sixSigma", JsonNumber(s.SixSigma()))
            .Add("signalLevelReadings", int64_t{s.SignalLevelReadings})
            .AddRaw("signalLevel", JsonNumber(s.SignalLevelMean))
            .Add("clipboard", Procedures::NoiseClipboardText(s));
        if (!ok) o.Add("LastErrorText", ended);
        std::printf("%s\n", o.Text().c_str());
    } else {
        for (const std::string& line : Procedures::NoiseReportLines(s))
            std::printf("%s\n", line.c_str());
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
    };
    return list;
}

} // namespace

bool IsProcedureSubcommand(const std::string& name) {
    return FindSubcommand(Subcommands(), name) != nullptr;
}

int RunProcedureSubcommand(const std::string& name, const std::vector<std::string>& args) {
    return RunSubcommand(Subcommands(), name, args);
}

} // namespace cli
