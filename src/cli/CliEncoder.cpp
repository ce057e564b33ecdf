#include "CliEncoder.h"

#include "AdapterDiscovery.h"
#include "CliJson.h"
#include "CliText.h"
#include "Clock.h"
#include "K310_BiSS_bidirectional.h"
#include "K310_SPI_Velcor.h"
#include "Orodja.h"
#include "SerialPort.h"
#include "Serial_driver.h"
#include "Tarvo_konstante.h"

#include <cstdio>
#include <functional>
#include <map>
#include <optional>

namespace cli {

const char* const kEncoderSubcommandsUsage =
    "  find             find the adapter: port, version, firmware, serial, revision\n"
    "  power            on [--volts 3.3|5] | off | status: the encoder's supply\n"
    "  clock STEP       SPI clock step 1..8\n"
    "  identify         identify the encoder: type, resolution, layout, serial, firmware\n"
    "  read             position readings ([--count N] [--interval MS] [--detailed])\n"
    "  reg              read ADDR LEN | write ADDR LEN VALUE: one encoder register\n"
    "  errmap           the encoder's error map, 512 values\n"
    "  debug            latch and read the encoder's debug data\n"
    "  selfcal          start [--arc A] [--timeout T] [--wait] | status: self-calibration\n"
    "  save             save the encoder's configuration to its NVRAM\n"
    "  factory-reset    restore the encoder's factory configuration\n"
    "  preset-mt VALUE  set the multiturn count (-32768..65535)\n"
    "  clear-status     clear the persistent status\n"
    "  write-status     the write-access status of the last write\n"
    "  reset            reset the adapter's Velcor protocol\n"
    "\n"
    "Common options: --port PATH (repeatable; tried in the order given; without it the USB\n"
    "CDC ACM ports are searched), --json (one JSON object per result, with \"ok\"), --help.\n";

namespace {

namespace shared = K310_BiSS_bidirectional;
namespace velcor = K310_SPI_Velcor;
namespace layout = Tarvo_konstante;

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

struct OptionSpec {
    const char* name;
    bool takesValue;
};

struct Invocation {
    std::vector<std::string> ports;
    bool json = false;
    bool help = false;
    std::map<std::string, std::string> options; // name -> value ("" for flags)
    std::vector<std::string> positional;
};

// Parses the common options and those in `specs`; on a usage problem returns nullopt and puts
// the reason in *problem.
std::optional<Invocation> Parse(const std::vector<std::string>& args, const std::vector<OptionSpec>& specs,
                                std::string* problem) {
    Invocation inv;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            inv.help = true;
        } else if (a == "--json") {
            inv.json = true;
        } else if (a == "--port") {
            if (i + 1 >= args.size()) {
                *problem = "--port needs a PATH";
                return std::nullopt;
            }
            inv.ports.push_back(args[++i]);
        } else if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
            const OptionSpec* spec = nullptr;
            for (const OptionSpec& s : specs)
                if (a == s.name) spec = &s;
            if (!spec) {
                *problem = "unknown option " + a;
                return std::nullopt;
            }
            if (spec->takesValue) {
                if (i + 1 >= args.size()) {
                    *problem = a + " needs a value";
                    return std::nullopt;
                }
                inv.options[a] = args[++i];
            } else {
                inv.options[a] = "";
            }
        } else {
            inv.positional.push_back(a);
        }
    }
    return inv;
}

// A signed number in decimal (or unsigned 0x-hex), within [min, max].
std::optional<long long> ParseSigned(const std::string& text, long long min, long long max) {
    const bool negative = !text.empty() && text[0] == '-';
    const auto magnitude = ParseNumber(negative ? std::string_view(text).substr(1) : std::string_view(text),
                                       static_cast<unsigned long long>(negative ? -min : max));
    if (!magnitude) return std::nullopt;
    const long long value =
        negative ? -static_cast<long long>(*magnitude) : static_cast<long long>(*magnitude);
    if (value < min || value > max) return std::nullopt;
    return value;
}

class Command {
public:
    Command(const char* usage, Invocation inv) : usage_(usage), inv_(std::move(inv)) {}

    const Invocation& inv() const { return inv_; }
    bool json() const { return inv_.json; }

    int Usage(const std::string& problem) const {
        std::fprintf(stderr, "tarvo-cli: %s\n", problem.c_str());
        std::fputs(usage_, stderr);
        return kExitUsage;
    }

    // The failure: its reason on stderr, or in the JSON object.
    int Fail(const std::string& reason, JsonObject extra = {}) const {
        if (json()) {
            JsonObject out;
            out.Add("ok", false).Add("LastErrorText", reason).Add("ErrComm", shared::EncoderPosition.ErrComm);
            const std::string more = extra.Text();
            std::string text = out.Text();
            if (more.size() > 2) text = text.substr(0, text.size() - 1) + "," + more.substr(1);
            std::printf("%s\n", text.c_str());
        } else {
            std::fprintf(stderr, "tarvo-cli: %s\n", reason.c_str());
        }
        return kExitFailure;
    }

    // Prints a success: the JSON object, or "Name: value" lines.
    int Succeed(const JsonObject& object,
                const std::vector<std::pair<std::string, std::string>>& lines) const {
        if (json()) {
            JsonObject out;
            out.Add("ok", true);
            const std::string more = object.Text();
            std::string text = out.Text();
            if (more.size() > 2) text = text.substr(0, text.size() - 1) + "," + more.substr(1);
            std::printf("%s\n", text.c_str());
        } else {
            for (const auto& [name, value] : lines)
                std::printf("%s: %s\n", name.c_str(), value.c_str());
        }
        return kExitOk;
    }

    // Finds the adapter (the given ports, or the search) and makes it PortHandle.
    bool Connect(AdapterDiscovery::Result& found, std::string& reason) const {
        const AdapterDiscovery::CandidateSource source =
            inv_.ports.empty() ? AdapterDiscovery::CandidateSource(AdapterDiscovery::UsbAcmCandidates)
                               : AdapterDiscovery::CandidateSource(
                                     [] { return std::vector<AdapterDiscovery::Candidate>{}; });
        found = AdapterDiscovery::FindAdapter(inv_.ports, source);
        if (!found.found) {
            reason = "no K310-7K adapter found";
            if (found.tried.empty()) reason += " (no USB CDC ACM port; give one with --port PATH)";
            for (const auto& failure : found.openFailures)
                reason += "; cannot open " + failure.path + ": " + platform::ErrorText(failure.osError);
            return false;
        }
        shared::PortHandle = found.handle;
        return true;
    }

private:
    const char* usage_;
    Invocation inv_;
};

std::string Dec(long long v) {
    return std::to_string(v);
}

std::string HexText(unsigned long long v, int digits) {
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "%0*llX", digits, v);
    return buffer;
}

std::string YesNo(bool b) {
    return b ? "true" : "false";
}

// Connects and, when `identify` is set, identifies the encoder; on failure returns the exit
// status through *exit.
bool Prepare(const Command& cmd, bool identify, int* exit, AdapterDiscovery::Result* out = nullptr) {
    AdapterDiscovery::Result found;
    std::string reason;
    if (!cmd.Connect(found, reason)) {
        *exit = cmd.Fail(reason);
        return false;
    }
    if (out) *out = found;
    if (identify && !velcor::ReadEncoderSignature()) {
        *exit = cmd.Fail(shared::LastErrorText.empty() ? "identification failed" : shared::LastErrorText);
        return false;
    }
    return true;
}

// ---- find, power, clock ---------------------------------------------------------------------

const char* const kFindUsage =
    "usage: tarvo-cli find [--port PATH]... [--json]\n"
    "\n"
    "Finds the K310-7K adapter and prints its port, K310Version (the answer to \"v\"),\n"
    "K310VerzijaFW (major * 100 + minor), SerijskaK310 and K310RevizijaFW.\n";

int RunFind(const Command& cmd) {
    if (!cmd.inv().positional.empty()) return cmd.Usage("find takes no arguments");
    int exit = 0;
    AdapterDiscovery::Result found;
    if (!Prepare(cmd, false, &exit, &found)) return exit;
    JsonObject o;
    o.Add("port", found.port.path)
        .Add("K310Version", found.K310Version)
        .Add("K310VerzijaFW", int64_t{found.K310VerzijaFW})
        .Add("SerijskaK310", found.SerijskaK310)
        .Add("K310RevizijaFW", int64_t{found.K310RevizijaFW});
    return cmd.Succeed(o, {{"port", found.port.path},
                           {"K310Version", found.K310Version},
                           {"K310VerzijaFW", Dec(found.K310VerzijaFW)},
                           {"SerijskaK310", found.SerijskaK310},
                           {"K310RevizijaFW", Dec(found.K310RevizijaFW)}});
}

const char* const kPowerUsage =
    "usage: tarvo-cli power on [--volts 3.3|5] | off | status  [--port PATH]... [--json]\n"
    "\n"
    "on: selects the voltage (\"V3\" or \"V5\", default 5 V), switches the supply on (\"n\"),\n"
    "    waits 200 ms and prints the supply status (\"e\").\n"
    "off: switches the supply off (\"f\"). status: prints the supply status.\n";

int32_t Transaction(const std::string& command, std::string& reply) {
    reply.clear();
    return Serial_driver::SendCommand(shared::PortHandle, command, 0, reply);
}

int RunPower(const Command& cmd) {
    const auto& pos = cmd.inv().positional;
    if (pos.size() != 1 || (pos[0] != "on" && pos[0] != "off" && pos[0] != "status"))
        return cmd.Usage("power needs one of: on, off, status");
    const auto volts = cmd.inv().options.find("--volts");
    std::string voltage = "V5";
    if (volts != cmd.inv().options.end()) {
        if (pos[0] != "on") return cmd.Usage("--volts goes with power on");
        if (volts->second == "3.3" || volts->second == "3")
            voltage = "V3";
        else if (volts->second != "5")
            return cmd.Usage("--volts is 3.3 or 5");
    }
    int exit = 0;
    if (!Prepare(cmd, false, &exit)) return exit;
    auto& errComm = shared::EncoderPosition.ErrComm;
    std::string reply;

    if (pos[0] == "off") {
        errComm = Transaction("f", reply);
        if (errComm != 0) return cmd.Fail("USB Comm Err " + Dec(errComm));
        const std::string text = Orodja::KeepPrintable(reply);
        return cmd.Succeed(JsonObject().Add("reply", text), {{"power", "off"}, {"reply", text}});
    }
    std::vector<std::string> problems;
    std::string voltageReply, onReply;
    if (pos[0] == "on") {
        errComm = Transaction(voltage, reply);
        if (errComm < 0) return cmd.Fail("USB Comm Err " + Dec(errComm));
        voltageReply = Orodja::KeepPrintable(reply);
        if (reply.compare(0, voltage.size(), voltage) != 0)
            problems.push_back("Setting power supply (" + voltage + ") not successfull! (" + voltageReply +
                               ")");
        Transaction("n", reply);
        onReply = Orodja::KeepPrintable(reply);
        if (reply.compare(0, 2, "ON") != 0)
            problems.push_back("Setting power supply (n) not successfull! (" + onReply + ")");
        platform::SleepMs(200);
    }
    errComm = Transaction("e", reply);
    if (errComm != 0) problems.push_back("USB Comm Err " + Dec(errComm));
    const std::string status = Orodja::Trim(reply);
    if (!problems.empty()) {
        std::string reason;
        for (const auto& p : problems)
            reason += (reason.empty() ? "" : "\n") + p;
        return cmd.Fail(reason, JsonObject().Add("status", status));
    }
    JsonObject o;
    std::vector<std::pair<std::string, std::string>> lines;
    if (pos[0] == "on") {
        o.Add("command", voltage).Add("reply", voltageReply).Add("on", onReply);
        lines = {{"command", voltage}, {"reply", voltageReply}, {"on", onReply}};
    }
    o.Add("status", status);
    lines.push_back({"status", status});
    return cmd.Succeed(o, lines);
}

const char* const kClockUsage =
    "usage: tarvo-cli clock STEP [--port PATH]... [--json]\n"
    "\n"
    "Sets the SPI clock step (1 = 94 kHz ... 8 = 12 MHz) with \"M\" + STEP and prints the\n"
    "clock the adapter reports (\"m\").\n";

int RunClock(const Command& cmd) {
    const auto& pos = cmd.inv().positional;
    if (pos.size() != 1) return cmd.Usage("clock needs one STEP");
    const auto step = ParseNumber(pos[0], 8);
    if (!step || *step < 1) return cmd.Usage("STEP is 1..8");
    int exit = 0;
    if (!Prepare(cmd, false, &exit)) return exit;
    std::string reply;
    std::string frequency;
    bool reported = false;
    if (Transaction("M" + Dec(static_cast<long long>(*step)), reply) == 0 && Transaction("m", reply) == 0) {
        frequency = Orodja::Trim(reply);
        reported = true;
    }
    if (reply.empty() || !reported)
        return cmd.Fail("Setting frequency " + Dec(static_cast<long long>(*step)) + " not successfull.");
    return cmd.Succeed(JsonObject().Add("step", int64_t(*step)).Add("frequency", frequency),
                       {{"step", Dec(static_cast<long long>(*step))}, {"Frequency", frequency}});
}

// ---- identify, read -------------------------------------------------------------------------

const char* const kIdentifyUsage =
    "usage: tarvo-cli identify [--port PATH]... [--json]\n"
    "\n"
    "Identifies the encoder (\"j\" and the register probe) and prints the identification,\n"
    "the register layout, the optional registers found and the signature.\n";

int RunIdentify(const Command& cmd) {
    if (!cmd.inv().positional.empty()) return cmd.Usage("identify takes no arguments");
    int exit = 0;
    if (!Prepare(cmd, true, &exit)) return exit;
    const auto& sig = shared::EncoderSignature;
    const bool newLayout = velcor::EncoderType == 5 || velcor::EncoderType == 6;
    JsonObject o;
    std::vector<std::pair<std::string, std::string>> lines;
    auto num = [&](const char* name, long long v) {
        o.Add(name, int64_t{v});
        lines.push_back({name, Dec(v)});
    };
    auto flag = [&](const char* name, bool v) {
        o.Add(name, v);
        lines.push_back({name, YesNo(v)});
    };
    auto text = [&](const char* name, const std::string& v) {
        o.Add(name, v);
        lines.push_back({name, v});
    };
    num("EncoderType", velcor::EncoderType);
    num("VelcorVersion", velcor::VelcorVersion);
    num("SingleTurnBits", velcor::SingleTurnBits);
    num("SingleTurnCounts", velcor::SingleTurnCounts);
    num("MultiTurnBits", velcor::MultiTurnBits);
    num("SingleTurnMask", velcor::SingleTurnMask);
    text("Layout", newLayout ? "new" : "legacy");
    flag("HasMtErrThreshold", layout::HasMtErrThreshold);
    flag("HasPersistentStatus", layout::HasPersistentStatus);
    flag("HasSignalLevel", layout::HasSignalLevel);
    flag("HasSelfCalTimeout", layout::HasSelfCalTimeout);
    flag("HasFirmwareRevision", layout::HasFirmwareRevision);
    num("LenFwVersion", layout::LenFwVersion);
    num("LenFwVerSvn", layout::LenFwVerSvn);
    num("LenFwVerHash", layout::LenFwVerHash);
    text("Dremo_PartNumber", sig.Dremo_PartNumber);
    text("Dremo_Serial", sig.Dremo_Serial);
    text("Dremo_FWverStr", sig.Dremo_FWverStr);
    num("Dremo_FWverMajor", sig.Dremo_FWverMajor);
    num("Dremo_FWverMinor", sig.Dremo_FWverMinor);
    num("Dremo_FWverComm", sig.Dremo_FWverComm);
    num("Dremo_FWverSVN", sig.Dremo_FWverSVN);
    num("Dremo_FWverHash", sig.Dremo_FWverHash);
    return cmd.Succeed(o, lines);
}

const char* const kReadUsage =
    "usage: tarvo-cli read [--count N] [--interval MS] [--detailed] [--port PATH]... [--json]\n"
    "\n"
    "Identifies the encoder, then takes N readings (default 1), MS milliseconds apart\n"
    "(default 0): the position frame, or with --detailed the adapter's \"d\" report.\n"
    "One line per reading: RxData=... MT_value=... ST_value=... MTST_value=... ErrBit=0|1\n"
    "WarnBit=0|1 ErrCRC=0|1 Status=... ExtTemperature=... ErrComm=... (with --json one object\n"
    "per line). A failed reading goes to stderr (or its object has \"ok\": false); the\n"
    "readings stop when the link to the adapter is lost. Exit 1 when any reading failed.\n";

int RunRead(const Command& cmd) {
    if (!cmd.inv().positional.empty()) return cmd.Usage("read takes no arguments");
    const auto& opts = cmd.inv().options;
    unsigned long long count = 1, interval = 0;
    if (auto it = opts.find("--count"); it != opts.end()) {
        const auto n = ParseNumber(it->second, 1000000000ull);
        if (!n || *n == 0) return cmd.Usage("--count needs a number 1..1000000000");
        count = *n;
    }
    if (auto it = opts.find("--interval"); it != opts.end()) {
        const auto n = ParseNumber(it->second, 3600000ull);
        if (!n) return cmd.Usage("--interval needs milliseconds 0..3600000");
        interval = *n;
    }
    const bool detailed = opts.count("--detailed") > 0;
    int exit = 0;
    if (!Prepare(cmd, true, &exit)) return exit;
    bool anyFailed = false;
    const auto& p = shared::EncoderPosition;
    for (unsigned long long i = 0; i < count; ++i) {
        if (i > 0 && interval > 0) platform::SleepMs(static_cast<uint32_t>(interval));
        const bool ok = detailed ? velcor::ReadDetailedStatus() : velcor::ReadPosition();
        if (!ok) {
            anyFailed = true;
            if (cmd.json()) {
                std::printf("%s\n", JsonObject()
                                        .Add("ok", false)
                                        .Add("LastErrorText", shared::LastErrorText)
                                        .Add("RxData", p.RxData)
                                        .Add("ErrComm", p.ErrComm)
                                        .Text()
                                        .c_str());
            } else {
                std::fprintf(stderr, "tarvo-cli: reading %llu: %s\n", i + 1, shared::LastErrorText.c_str());
            }
            if (p.ErrComm < 0) break;
            continue;
        }
        if (cmd.json()) {
            std::printf("%s\n", JsonObject()
                                    .Add("ok", true)
                                    .Add("RxData", p.RxData)
                                    .Add("MT_value", p.MT_value)
                                    .Add("ST_value", p.ST_value)
                                    .Add("MTST_value", p.MTST_value)
                                    .Add("ErrBit", p.ErrBit)
                                    .Add("WarnBit", p.WarnBit)
                                    .Add("ErrCRC", p.ErrCRC)
                                    .Add("Status", uint32_t{p.Status})
                                    .Add("ExtTemperature", int32_t{p.ExtTemperature})
                                    .Add("ErrComm", p.ErrComm)
                                    .Text()
                                    .c_str());
        } else {
            std::printf("RxData=%s MT_value=%d ST_value=%u MTST_value=%lld ErrBit=%d WarnBit=%d ErrCRC=%d "
                        "Status=%u ExtTemperature=%d ErrComm=%d\n",
                        p.RxData.c_str(), p.MT_value, p.ST_value, static_cast<long long>(p.MTST_value),
                        p.ErrBit ? 1 : 0, p.WarnBit ? 1 : 0, p.ErrCRC ? 1 : 0, unsigned{p.Status},
                        int{p.ExtTemperature}, p.ErrComm);
        }
        std::fflush(stdout);
    }
    return anyFailed ? kExitFailure : kExitOk;
}

// ---- reg ------------------------------------------------------------------------------------

const char* const kRegUsage =
    "usage: tarvo-cli reg read ADDR LEN | reg write ADDR LEN VALUE  [--port PATH]... [--json]\n"
    "\n"
    "Reads or writes one encoder register as it is, without identifying the encoder. ADDR and\n"
    "VALUE are decimal or 0x-hex; LEN is the length in bytes (1..255). Prints the register's\n"
    "value (the last LEN of the four bytes read, most significant first) and RegisterData\n"
    "bytes 0..3 as 8 hex digits.\n";

int RunReg(const Command& cmd) {
    const auto& pos = cmd.inv().positional;
    const bool read = !pos.empty() && pos[0] == "read";
    const bool write = !pos.empty() && pos[0] == "write";
    if (!(read && pos.size() == 3) && !(write && pos.size() == 4))
        return cmd.Usage("reg needs: read ADDR LEN, or write ADDR LEN VALUE");
    const auto address = ParseNumber(pos[1], 0xFFFFFFFFull);
    const auto length = ParseNumber(pos[2], 255);
    if (!address) return cmd.Usage("ADDR is a number 0..0xFFFFFFFF");
    if (!length || *length == 0) return cmd.Usage("LEN is a number 1..255");
    std::optional<unsigned long long> value;
    if (write) {
        value = ParseNumber(pos[3], 0xFFFFFFFFull);
        if (!value) return cmd.Usage("VALUE is a number 0..0xFFFFFFFF");
    }
    int exit = 0;
    if (!Prepare(cmd, false, &exit)) return exit;
    const auto addr = static_cast<uint32_t>(*address);
    const auto len = static_cast<uint8_t>(*length);
    if (write) {
        if (!velcor::WriteRegister(addr, len, static_cast<uint32_t>(*value)))
            return cmd.Fail(shared::LastErrorText);
        return cmd.Succeed(JsonObject().Add("value", static_cast<uint64_t>(*value)),
                           {{"value", Dec(static_cast<long long>(*value))}});
    }
    if (!velcor::ReadRegister(addr, len)) return cmd.Fail(shared::LastErrorText);
    const auto& rd = shared::RegisterData;
    const uint32_t word = (uint32_t{rd[0]} << 24) | (uint32_t{rd[1]} << 16) | (uint32_t{rd[2]} << 8) | rd[3];
    const uint32_t registerValue = len >= 4 ? word : word & ((1u << (8 * len)) - 1);
    const std::string bytes = HexText(word, 8);
    return cmd.Succeed(JsonObject().Add("value", registerValue).Add("RegisterData", bytes),
                       {{"value", Dec(registerValue)}, {"RegisterData", bytes}});
}

// ---- errmap, debug --------------------------------------------------------------------------

const char* const kErrmapUsage =
    "usage: tarvo-cli errmap [--port PATH]... [--json]\n"
    "\n"
    "Identifies the encoder and reads its error map: 512 signed values, one per line\n"
    "(with --json the array \"ErrorMap\").\n";

int RunErrmap(const Command& cmd) {
    if (!cmd.inv().positional.empty()) return cmd.Usage("errmap takes no arguments");
    int exit = 0;
    if (!Prepare(cmd, true, &exit)) return exit;
    std::vector<int16_t> map;
    const bool ok = velcor::ReadErrorMap(map);
    const std::vector<int64_t> values(map.begin(), map.end());
    if (!ok) return cmd.Fail(shared::LastErrorText, JsonObject().Add("ErrorMap", values));
    if (cmd.json()) return cmd.Succeed(JsonObject().Add("ErrorMap", values), {});
    for (int16_t v : map)
        std::printf("%d\n", int{v});
    return kExitOk;
}

const char* const kDebugUsage =
    "usage: tarvo-cli debug [--port PATH]... [--json]\n"
    "\n"
    "Identifies the encoder, unlocks its debug registers, latches its debug data and prints\n"
    "the DebugData fields (Samples as 56 comma-separated values). A header warning goes to\n"
    "stderr.\n";

int RunDebug(const Command& cmd) {
    if (!cmd.inv().positional.empty()) return cmd.Usage("debug takes no arguments");
    int exit = 0;
    if (!Prepare(cmd, true, &exit)) return exit;
    if (!velcor::DebugUnlock() || !velcor::LatchDebugData()) return cmd.Fail(shared::LastErrorText);
    const auto& d = velcor::DebugData;
    std::vector<int64_t> samples(d.Samples.begin(), d.Samples.end());
    std::string sampleText;
    for (size_t i = 0; i < samples.size(); ++i)
        sampleText += (i ? "," : "") + Dec(samples[i]);
    const std::string warning = Orodja::Trim(shared::LastErrorText);
    if (!warning.empty() && !cmd.json()) std::fprintf(stderr, "tarvo-cli: %s\n", warning.c_str());
    JsonObject o;
    o.Add("Header", uint32_t{d.Header})
        .Add("Samples", samples)
        .Add("AbsPos", d.AbsPos)
        .Add("DecodSelect", uint32_t{d.DecodSelect})
        .Add("CodeA", uint32_t{d.CodeA})
        .Add("CodeB", uint32_t{d.CodeB})
        .Add("McuTemp", uint32_t{d.McuTemp})
        .Add("CycleTime", uint32_t{d.CycleTime})
        .Add("DebugStatus", uint32_t{d.DebugStatus})
        .Add("Vdda", uint32_t{d.Vdda})
        .Add("ResetCnt", uint32_t{d.ResetCnt})
        .Add("DcdTrs", uint32_t{d.DcdTrs})
        .Add("DcdWrn", uint32_t{d.DcdWrn})
        .Add("LastErrorText", warning);
    return cmd.Succeed(o, {{"Header", Dec(d.Header)},
                           {"Samples", sampleText},
                           {"AbsPos", Dec(d.AbsPos)},
                           {"DecodSelect", Dec(d.DecodSelect)},
                           {"CodeA", Orodja::ToBinaryText(16, d.CodeA)},
                           {"CodeB", Orodja::ToBinaryText(16, d.CodeB)},
                           {"McuTemp", Dec(d.McuTemp)},
                           {"CycleTime", Dec(d.CycleTime)},
                           {"DebugStatus", Dec(d.DebugStatus)},
                           {"Vdda", Dec(d.Vdda)},
                           {"ResetCnt", Dec(d.ResetCnt)},
                           {"DcdTrs", Dec(d.DcdTrs)},
                           {"DcdWrn", Dec(d.DcdWrn)}});
}

// ---- selfcal --------------------------------------------------------------------------------

const char* const kSelfcalUsage =
    "usage: tarvo-cli selfcal start [--arc A] [--timeout T] [--wait] | selfcal status\n"
    "                        [--port PATH]... [--json]\n"
    "\n"
    "start: writes the partial arc A (degrees, 1..65535) and the timeout T (seconds, 1..255)\n"
    "       when given, then starts the self-calibration. With --wait it follows the procedure\n"
    "       every 500 ms until its counter bits change (at most 1.2 times the timeout, 12 s\n"
    "       without one) and prints the final status.\n"
    "status: SelfCalStatus (binary, 8 digits per status byte) and the results.\n";

JsonObject SelfCalObject() {
    return JsonObject()
        .Add("SelfCalStatus", velcor::SelfCalStatus)
        .Add("SelfCalResultText", velcor::SelfCalResultText);
}

std::vector<std::pair<std::string, std::string>> SelfCalLines(int statusBytes) {
    std::vector<std::pair<std::string, std::string>> lines = {
        {"SelfCalStatus", Orodja::ToBinaryText(8 * statusBytes, velcor::SelfCalStatus)}};
    std::string rest = velcor::SelfCalResultText;
    for (size_t at; !rest.empty();) {
        at = rest.find("\r\n");
        const std::string line = rest.substr(0, at);
        rest = at == std::string::npos ? "" : rest.substr(at + 2);
        const size_t colon = line.find(": ");
        if (colon != std::string::npos) lines.push_back({line.substr(0, colon), line.substr(colon + 2)});
    }
    return lines;
}

int RunSelfcal(const Command& cmd) {
    const auto& pos = cmd.inv().positional;
    if (pos.size() != 1 || (pos[0] != "start" && pos[0] != "status"))
        return cmd.Usage("selfcal needs: start or status");
    const auto& opts = cmd.inv().options;
    const bool start = pos[0] == "start";
    unsigned long long arc = 0, timeout = 0;
    if (!start && (opts.count("--arc") || opts.count("--timeout") || opts.count("--wait")))
        return cmd.Usage("--arc, --timeout and --wait go with selfcal start");
    if (auto it = opts.find("--arc"); it != opts.end()) {
        const auto n = ParseNumber(it->second, 65535);
        if (!n || *n == 0) return cmd.Usage("--arc is 1..65535 degrees");
        arc = *n;
    }
    if (auto it = opts.find("--timeout"); it != opts.end()) {
        const auto n = ParseNumber(it->second, 255);
        if (!n || *n == 0) return cmd.Usage("--timeout is 1..255 seconds");
        timeout = *n;
    }
    int exit = 0;
    if (!Prepare(cmd, true, &exit)) return exit;
    const int statusBytes = layout::LenSelfCalStatus;
    if (!start) {
        if (!velcor::ReadSelfCalResults()) return cmd.Fail(shared::LastErrorText);
        return cmd.Succeed(SelfCalObject(), SelfCalLines(statusBytes));
    }
    // The counter bits (0 and 1) change when a procedure ends.
    if (!velcor::ReadSelfCalResults()) return cmd.Fail(shared::LastErrorText);
    const uint32_t counterAtStart = velcor::SelfCalStatus & 3;
    if (!velcor::StartSelfCalibration(static_cast<uint16_t>(arc), static_cast<uint8_t>(timeout)))
        return cmd.Fail(shared::LastErrorText);
    if (!opts.count("--wait")) return cmd.Succeed(SelfCalObject(), SelfCalLines(1));

    const uint32_t limitMs = timeout > 0 ? static_cast<uint32_t>(timeout * 1200) : 12000;
    const uint32_t begin = platform::TickCountMs();
    bool finished = false;
    while (!finished && platform::TickCountMs() - begin < limitMs) {
        platform::SleepMs(500);
        finished = velcor::ReadSelfCalResults() && (velcor::SelfCalStatus & 3) != counterAtStart;
    }
    if (!finished) {
        if (!velcor::ReadSelfCalResults()) return cmd.Fail(shared::LastErrorText);
        return cmd.Fail("self-calibration did not finish in time", SelfCalObject());
    }
    return cmd.Succeed(SelfCalObject().Add("finished", true), SelfCalLines(statusBytes));
}

// ---- one-shot commands ----------------------------------------------------------------------

const char* const kSaveUsage =
    "usage: tarvo-cli save [--port PATH]... [--json]\n\nSaves the encoder's configuration to its NVRAM.\n";
const char* const kFactoryResetUsage =
    "usage: tarvo-cli factory-reset [--port PATH]... [--json]\n\nRestores the encoder's factory "
    "configuration.\n";
const char* const kClearStatusUsage =
    "usage: tarvo-cli clear-status [--port PATH]... [--json]\n\nClears the encoder's persistent status.\n";
const char* const kPresetUsage =
    "usage: tarvo-cli preset-mt VALUE [--port PATH]... [--json]\n"
    "\n"
    "Sets the multiturn count to VALUE (-32768..65535; a negative count is written as its\n"
    "16-bit two's complement) and applies it.\n";
const char* const kWriteStatusUsage =
    "usage: tarvo-cli write-status [--port PATH]... [--json]\n"
    "\n"
    "Reads WRITE_ACCESS_STATUS and prints \"Write status: [0xHH] description\".\n";
const char* const kResetUsage =
    "usage: tarvo-cli reset [--port PATH]... [--json]\n\nResets the adapter's Velcor protocol (\"x\").\n";

int RunSimple(const Command& cmd, const std::function<bool()>& operation) {
    if (!cmd.inv().positional.empty()) return cmd.Usage("no arguments expected");
    int exit = 0;
    if (!Prepare(cmd, true, &exit)) return exit;
    if (!operation()) return cmd.Fail(shared::LastErrorText);
    return cmd.Succeed(JsonObject(), {{"result", "done"}});
}

int RunPreset(const Command& cmd) {
    const auto& pos = cmd.inv().positional;
    if (pos.size() != 1) return cmd.Usage("preset-mt needs one VALUE");
    const auto value = ParseSigned(pos[0], -32768, 65535);
    if (!value) return cmd.Usage("VALUE is -32768..65535");
    int exit = 0;
    if (!Prepare(cmd, true, &exit)) return exit;
    const auto word = static_cast<uint16_t>(*value);
    if (!velcor::PresetMultiturn(word)) return cmd.Fail(shared::LastErrorText);
    return cmd.Succeed(JsonObject().Add("MT_preset", uint32_t{word}), {{"MT_preset", Dec(word)}});
}

int RunWriteStatus(const Command& cmd) {
    if (!cmd.inv().positional.empty()) return cmd.Usage("write-status takes no arguments");
    int exit = 0;
    if (!Prepare(cmd, false, &exit)) return exit;
    std::string text;
    velcor::WriteAccessStatusText(text);
    if (text.rfind("Write status: [0x", 0) != 0) return cmd.Fail(text);
    const auto flags = static_cast<uint32_t>(shared::RegisterData[3]);
    if (cmd.json()) return cmd.Succeed(JsonObject().Add("flags", flags).Add("text", text), {});
    std::printf("%s\n", text.c_str());
    return kExitOk;
}

int RunReset(const Command& cmd) {
    if (!cmd.inv().positional.empty()) return cmd.Usage("reset takes no arguments");
    int exit = 0;
    if (!Prepare(cmd, false, &exit)) return exit;
    if (!velcor::ResetVelcorProtocol()) return cmd.Fail(shared::LastErrorText);
    if (cmd.json()) return cmd.Succeed(JsonObject().Add("LastErrorText", shared::LastErrorText), {});
    std::printf("%s\n", shared::LastErrorText.c_str());
    return kExitOk;
}

struct Subcommand {
    const char* name;
    const char* usage;
    std::vector<OptionSpec> options;
    std::function<int(const Command&)> run;
};

const std::vector<Subcommand>& Subcommands() {
    static const std::vector<Subcommand> list = {
        {"find", kFindUsage, {}, RunFind},
        {"power", kPowerUsage, {{"--volts", true}}, RunPower},
        {"clock", kClockUsage, {}, RunClock},
        {"identify", kIdentifyUsage, {}, RunIdentify},
        {"read", kReadUsage, {{"--count", true}, {"--interval", true}, {"--detailed", false}}, RunRead},
        {"reg", kRegUsage, {}, RunReg},
        {"errmap", kErrmapUsage, {}, RunErrmap},
        {"debug", kDebugUsage, {}, RunDebug},
        {"selfcal", kSelfcalUsage, {{"--arc", true}, {"--timeout", true}, {"--wait", false}}, RunSelfcal},
        {"save", kSaveUsage, {}, [](const Command& c) { return RunSimple(c, velcor::SaveToNvram); }},
        {"factory-reset",
         kFactoryResetUsage,
         {},
         [](const Command& c) { return RunSimple(c, velcor::FactoryReset); }},
        {"preset-mt", kPresetUsage, {}, RunPreset},
        {"clear-status",
         kClearStatusUsage,
         {},
         [](const Command& c) { return RunSimple(c, velcor::ClearPersistentStatus); }},
        {"write-status", kWriteStatusUsage, {}, RunWriteStatus},
        {"reset", kResetUsage, {}, RunReset},
    };
    return list;
}

} // namespace

bool IsEncoderSubcommand(const std::string& name) {
    for (const Subcommand& s : Subcommands())
        if (name == s.name) return true;
    return false;
}

int RunEncoderSubcommand(const std::string& name, const std::vector<std::string>& args) {
    for (const Subcommand& s : Subcommands()) {
        if (name != s.name) continue;
        std::string problem;
        const auto inv = Parse(args, s.options, &problem);
        if (!inv) {
            std::fprintf(stderr, "tarvo-cli: %s\n", problem.c_str());
            std::fputs(s.usage, stderr);
            return kExitUsage;
        }
        if (inv->help) {
            std::fputs(s.usage, stdout);
            return kExitOk;
        }
        return s.run(Command(s.usage, *inv));
    }
    return kExitUsage;
}

} // namespace cli
