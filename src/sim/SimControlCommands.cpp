// The simulator's text control commands, as k310-sim reads them on its standard input and as
// tests send them through Control().
#include "K310SimulatorServer.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace sim {

const char* K310Simulator::ControlHelp() {
    // The heading stands alone on its line and the list is indented under it, so that help2man
    // makes a subsection of it (a heading with quotes in it breaks the man page).
    return "Control commands:\n"
           "  One per line; each answer begins with \"ok\", or with \"error\" and the reason. A value\n"
           "  outside the range given here is an error and changes nothing.\n"
           "\n"
           "  position ST[:MT]        set the shaft: single-turn counts from 0 to one less than the\n"
           "                          counts per turn, turn count -32768..32767 (multiturn presets; 0\n"
           "                          on the others)\n"
           "  rotate DEG_PER_S        turn the shaft at this speed, -360000..360000 (0 stops it)\n"
           "  noise COUNTS            Gaussian noise of the reading (standard deviation, 0 up to the\n"
           "                          counts per turn)\n"
           "  temperature SEN EXT     sensor temperature in degC (-40..125), external sensor raw value\n"
           "                          (1..2046)\n"
           "  power on|off            switch the encoder supply as the adapter's n / f would\n"
           "  silent N                the next N commands (0..1000000) are lost: no reply, no effect\n"
           "  cut                     the next reply stops half-way, without its CR\n"
           "  badcrc [N]              the next N position frames (0..1000000, default 1) carry a wrong\n"
           "                          CRC\n"
           "  error on|off            encoder error (frame error bit, status words, persistent status)\n"
           "  warning on|off          encoder warning (frame warning bit, status words)\n"
           "  condition NAME on|off   one status condition: multiturn, signal-lost, system, power,\n"
           "                          configuration, magnetic-pattern, acceleration (errors);\n"
           "                          temperature, signal-low, signal-high, magnetic-pattern-warning,\n"
           "                          high-speed (warnings)\n"
           "  signal LEVEL            mean signal level, 0..50000 (it varies over the turn around it)\n"
           "  errorreply [N]          answer the next N commands (0..1000000, default 1) with an ERROR\n"
           "                          line\n"
           "  target PREFIX|any       silent, cut, garbage and errorreply hit only commands that\n"
           "                          begin with PREFIX (? position reads, f supply off, R: reads)\n"
           "  regerror ADDR CODE|off  register ADDR (hex, 0..FFFFFFFF) answers this Velcor error code\n"
           "                          (26 56 96 EE F6 F9 E6)\n"
           "  garbage N               N garbage bytes (0..4096) before the next reply\n"
           "  delay MS                extra delay before every reply, 0..600000 ms (0: none)\n"
           "  jump COUNTS             the position jumps by COUNTS at the next supply-on, by less than\n"
           "                          the whole counting range either way (one turn; 65536 turns on\n"
           "                          multiturn presets)\n"
           "  selfcal OUTCOME [SEC]   next self-calibrations: success, no-correction, timeout,\n"
           "                          out-of-range, numerical, radial, write-error; SEC = duration,\n"
           "                          0..255 seconds\n"
           "  unplug [MS]             close the terminal; with MS (0..600000), come back on a new one\n"
           "                          after MS\n"
           "  replug                  come back on a new terminal now (prints its path)\n"
           "  timescale X             simulated seconds per real second, 0.001..10000\n"
           "  advance SECONDS         move simulated time forward, 0..31536000 (a year)\n"
           "  reg ADDR LEN            read a register as the host would (ADDR hex 0..FFFFFFFF, LEN 1..4\n"
           "                          bytes)\n"
           "  state                   supply, position, counters, terminal path\n"
           "  log [N]                 the last N commands received (0..200000, default 20)\n"
           "  help                    this text\n";
}

namespace {

bool ToInt(const std::string& t, int64_t& v, int base = 10) {
    if (t.empty()) return false;
    char* end = nullptr;
    errno = 0;
    v = std::strtoll(t.c_str(), &end, base);
    return errno == 0 && end && *end == '\0';
}

bool ToDouble(const std::string& t, double& v) {
    if (t.empty()) return false;
    char* end = nullptr;
    v = std::strtod(t.c_str(), &end);
    return end && *end == '\0' && std::isfinite(v);
}

// A whole number within [lo, hi]: beyond it a value has no meaning for the simulated device.
bool IntIn(const std::string& t, int64_t lo, int64_t hi, int64_t& v, int base = 10) {
    return ToInt(t, v, base) && v >= lo && v <= hi;
}

bool DoubleIn(const std::string& t, double lo, double hi, double& v) {
    return ToDouble(t, v) && v >= lo && v <= hi;
}

// Commands or frames that a fault hits: more than any procedure sends in one go.
constexpr int64_t kMaxFaultCount = 1'000'000;
// A reply delay or an unplugged spell: ten minutes, far beyond any wait of the host.
constexpr int64_t kMaxDelayMs = 600'000;
constexpr int64_t kMaxGarbageBytes = 4096;
// The sensor's range, which also fits the one-byte lowest-temperature register.
constexpr int64_t kMinSensorC = -40, kMaxSensorC = 125;
// The external sensor's 11-bit raw value without its two open- and short-circuit codes.
constexpr int64_t kMinExternalRaw = 1, kMaxExternalRaw = 2046;
// Kept below the register's 65535 with the variation over the turn on top.
constexpr double kMaxSignalLevel = 50000.0;
constexpr double kMaxAdvanceSeconds = 31'536'000.0; // a year
// What the "R:" and "W:" commands carry: eight hex digits of address; registers of 1, 2 or 4 bytes.
constexpr int64_t kMaxRegisterAddress = 0xFFFFFFFF;
constexpr int64_t kMaxRegisterLength = 4;

bool ToOnOff(const std::string& t, bool& v) {
    if (t == "on" || t == "1") return v = true, true;
    if (t == "off" || t == "0") return v = false, true;
    return false;
}

std::string Printable(const std::string& s) {
    std::string out;
    for (unsigned char c : s) {
        if (c == '\r')
            out += "\\r";
        else if (c < 32 || c > 126) {
            char b[8];
            std::snprintf(b, sizeof b, "\\x%02X", c);
            out += b;
        } else
            out += static_cast<char>(c);
    }
    return out;
}

} // namespace

std::string K310Simulator::Control(const std::string& line) {
    std::istringstream words(line);
    std::vector<std::string> w;
    for (std::string s; words >> s;)
        w.push_back(s);
    if (w.empty()) return "ok";
    const std::string& c = w[0];
    auto usage = [&](const std::string& form) { return "error usage: " + form; };
    int64_t n = 0;
    double x = 0;
    bool on = false;
    const EncoderVariant variant = Variant();

    if (c == "help") {
        if (w.size() != 1) return usage("help");
        return std::string("ok\n") + ControlHelp();
    }
    if (c == "position") {
        int64_t st = 0, mt = 0;
        if (w.size() != 2 || !ParsePosition(w[1], st, mt)) return usage("position ST[:MT]");
        const std::string problem = PositionProblem(variant, st, mt, "position " + w[1]);
        if (!problem.empty()) return "error " + problem;
        SetPosition(st, mt);
        return "ok";
    }
    if (c == "rotate") {
        if (w.size() != 2 || !DoubleIn(w[1], -kMaxRotateDegPerS, kMaxRotateDegPerS, x))
            return usage("rotate DEG_PER_S (-360000..360000)");
        SetRotation(x);
        return "ok";
    }
    if (c == "noise") {
        if (w.size() != 2 || !ToDouble(w[1], x)) return usage("noise COUNTS");
        const std::string problem = NoiseProblem(variant, x, "noise " + w[1]);
        if (!problem.empty()) return "error " + problem;
        SetNoise(x);
        return "ok";
    }
    if (c == "temperature") {
        int64_t ext = 0;
        if (w.size() != 3 || !IntIn(w[1], kMinSensorC, kMaxSensorC, n) ||
            !IntIn(w[2], kMinExternalRaw, kMaxExternalRaw, ext))
            return usage("temperature SEN EXT (SEN -40..125 degC, EXT 1..2046)");
        SetTemperatures(static_cast<int>(n), static_cast<int>(ext));
        return "ok";
    }
    if (c == "power") {
        if (w.size() != 2 || !ToOnOff(w[1], on)) return usage("power on|off");
        SetSupply(on);
        return "ok";
    }
    if (c == "silent") {
        if (w.size() != 2 || !IntIn(w[1], 0, kMaxFaultCount, n)) return usage("silent N (0..1000000)");
        SilenceNext(static_cast<int>(n));
        return "ok";
    }
    if (c == "cut") {
        if (w.size() != 1) return usage("cut");
        CutNextReply();
        return "ok";
    }
    if (c == "badcrc") {
        n = 1;
        if (w.size() > 2 || (w.size() == 2 && !IntIn(w[1], 0, kMaxFaultCount, n)))
            return usage("badcrc [N] (0..1000000)");
        BadCrcNext(static_cast<int>(n));
        return "ok";
    }
    if (c == "error" || c == "warning") {
        if (w.size() != 2 || !ToOnOff(w[1], on)) return usage(c + " on|off");
        c == "error" ? SetErrorBit(on) : SetWarningBit(on);
        return "ok";
    }
    if (c == "condition") {
        static const std::pair<const char*, uint32_t> names[] = {
            {"multiturn", kErrMultiturn},
            {"signal-lost", kErrSignalLost},
            {"system", kErrSystem},
            {"power", kErrPower},
            {"configuration", kErrConfiguration},
            {"magnetic-pattern", kErrMagneticPattern},
            {"acceleration", kErrAcceleration},
            {"temperature", kWarnTemperature},
            {"signal-low", kWarnSignalLow},
            {"signal-high", kWarnSignalHigh},
            {"magnetic-pattern-warning", kWarnMagneticPattern},
            {"high-speed", kWarnHighSpeed},
        };
        if (w.size() != 3 || !ToOnOff(w[2], on)) return usage("condition NAME on|off");
        for (const auto& [name, mask] : names) {
            if (w[1] == name) {
                SetCondition(mask, on);
                return "ok";
            }
        }
        return "error unknown condition \"" + w[1] + "\"";
    }
    if (c == "signal") {
        if (w.size() != 2 || !DoubleIn(w[1], 0, kMaxSignalLevel, x)) return usage("signal LEVEL (0..50000)");
        SetSignalLevel(x);
        return "ok";
    }
    if (c == "errorreply") {
        n = 1;
        if (w.size() > 2 || (w.size() == 2 && !IntIn(w[1], 0, kMaxFaultCount, n)))
            return usage("errorreply [N] (0..1000000)");
        ErrorReplyNext(static_cast<int>(n));
        return "ok";
    }
    if (c == "target") {
        if (w.size() != 2) return usage("target PREFIX|any");
        SetFaultTarget(w[1] == "any" ? std::string() : w[1]);
        return "ok";
    }
    if (c == "regerror") {
        int64_t addr = 0, code = 0;
        if (w.size() != 3 || !IntIn(w[1], 0, kMaxRegisterAddress, addr, 16))
            return usage("regerror ADDR CODE|off (ADDR hex 0..FFFFFFFF)");
        if (w[2] != "off") {
            static const int known[] = {0x26, 0x56, 0x96, 0xEE, 0xF6, 0xF9, 0xE6};
            if (!ToInt(w[2], code, 16) ||
                std::find(std::begin(known), std::end(known), code) == std::end(known))
                return "error code must be one of 26 56 96 EE F6 F9 E6";
        }
        SetRegisterError(static_cast<uint32_t>(addr), static_cast<int>(code));
        return "ok";
    }
    if (c == "garbage") {
        if (w.size() != 2 || !IntIn(w[1], 0, kMaxGarbageBytes, n)) return usage("garbage N (0..4096)");
        GarbageBeforeNextReply(static_cast<int>(n));
        return "ok";
    }
    if (c == "delay") {
        if (w.size() != 2 || !IntIn(w[1], 0, kMaxDelayMs, n)) return usage("delay MS (0..600000)");
        SetExtraDelayMs(static_cast<int>(n));
        return "ok";
    }
    if (c == "jump") {
        // Less than the whole counting range: a jump by all of it lands where it started.
        const int64_t most = (int64_t{variant.SingleTurnCounts()} << variant.TurnBits()) - 1;
        if (w.size() != 2 || !IntIn(w[1], -most, most, n))
            return usage("jump COUNTS (" + std::to_string(-most) + ".." + std::to_string(most) +
                         " for preset " + variant.preset + ")");
        JumpAtNextPowerUp(n);
        return "ok";
    }
    if (c == "selfcal") {
        SelfCalOutcome outcome;
        x = impl_->options.selfCalSeconds;
        if (w.size() < 2 || w.size() > 3 || !ParseSelfCalOutcome(w[1], outcome) ||
            (w.size() == 3 && !DoubleIn(w[2], 0, kMaxSelfCalSeconds, x)))
            return usage("selfcal success|no-correction|timeout|out-of-range|numerical|radial|write-error "
                         "[SEC] (0..255)");
        SetSelfCal(outcome, x);
        return "ok";
    }
    if (c == "unplug") {
        if (w.size() > 2 || (w.size() == 2 && !IntIn(w[1], 0, kMaxDelayMs, n)))
            return usage("unplug [MS] (0..600000)");
        if (w.size() == 2)
            UnplugFor(static_cast<int>(n));
        else
            Unplug();
        return "ok";
    }
    if (c == "replug") {
        if (w.size() != 1) return usage("replug");
        std::string error;
        if (!Replug(&error)) return "error " + error;
        return "ok " + SlavePath();
    }
    if (c == "timescale") {
        if (w.size() != 2 || !DoubleIn(w[1], kMinTimeScale, kMaxTimeScale, x))
            return usage("timescale X (0.001..10000)");
        SetTimeScale(x);
        return "ok";
    }
    if (c == "advance") {
        if (w.size() != 2 || !DoubleIn(w[1], 0, kMaxAdvanceSeconds, x))
            return usage("advance SECONDS (0..31536000)");
        AdvanceTime(x);
        return "ok";
    }
    if (c == "reg") {
        int64_t addr = 0, len = 0;
        if (w.size() != 3 || !IntIn(w[1], 0, kMaxRegisterAddress, addr, 16) ||
            !IntIn(w[2], 1, kMaxRegisterLength, len))
            return usage("reg ADDR LEN (ADDR hex 0..FFFFFFFF, LEN 1..4)");
        uint32_t value = 0;
        int code = 0x26;
        {
            std::lock_guard lock(impl_->m);
            if (impl_->device)
                code = impl_->device->PeekRegister(static_cast<uint32_t>(addr), static_cast<int>(len), value,
                                                   impl_->clock.Now());
        }
        char buf[48];
        if (code != 0)
            std::snprintf(buf, sizeof buf, "error 0x%02x", code);
        else
            std::snprintf(buf, sizeof buf, "ok 0x%08X %u", value, value);
        return buf;
    }
    if (c == "state") {
        if (w.size() != 1) return usage("state");
        std::lock_guard lock(impl_->m);
        if (!impl_->device) return "error not started";
        auto& dev = *impl_->device;
        int64_t turns = 0, st = 0;
        dev.EncoderPosition(impl_->clock.Now(), turns, st);
        std::ostringstream s;
        s << "ok preset=" << dev.Variant().preset << " supply=" << (dev.SupplyOn() ? "on" : "off")
          << " volts=" << (dev.FiveVolts() ? "5.0" : "3.3") << " clock-step=" << dev.ClockStep()
          << " turns=" << turns << " st=" << st << " power-cycles=" << dev.PowerCycles()
          << " commands=" << impl_->commandCount << " debug=" << (dev.DebugUnlocked() ? "unlocked" : "locked")
          << " selfcal=" << (dev.SelfCalRunning() ? "running" : "idle")
          << " path=" << (impl_->path.empty() ? "-" : impl_->path);
        return s.str();
    }
    if (c == "log") {
        n = 20;
        if (w.size() > 2 || (w.size() == 2 && !IntIn(w[1], 0, static_cast<int64_t>(kLogLimit), n)))
            return usage("log [N] (0..200000)");
        std::lock_guard lock(impl_->m);
        const auto& log = impl_->log;
        std::string outText = "ok";
        const size_t first = log.size() > static_cast<size_t>(n) ? log.size() - static_cast<size_t>(n) : 0;
        for (size_t i = first; i < log.size(); ++i)
            outText += "\n" + Printable(log[i].command) + " -> " +
                       (log[i].answered ? Printable(log[i].reply) : std::string("(no reply)"));
        return outText;
    }
    return "error unknown control command \"" + c + "\" (try help)";
}

} // namespace sim
