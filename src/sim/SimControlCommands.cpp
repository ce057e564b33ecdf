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
    return "Control commands (one per line; answers begin with \"ok\" or \"error\"):\n"
           "  position ST[:MT]        set the shaft (single-turn counts, turn count)\n"
           "  rotate DEG_PER_S        turn the shaft at this speed (0 stops it)\n"
           "  noise COUNTS            Gaussian noise of the reading (standard deviation)\n"
           "  temperature SEN EXT     sensor temperature in degC, external sensor raw value (1..2046)\n"
           "  power on|off            switch the encoder supply as the adapter's n / f would\n"
           "  silent N                the next N commands are lost: no reply, no effect\n"
           "  cut                     the next reply stops half-way, without its CR\n"
           "  badcrc [N]              the next N position frames carry a wrong CRC (default 1)\n"
           "  error on|off            encoder error (frame error bit, status words, persistent status)\n"
           "  warning on|off          encoder warning (frame warning bit, status words)\n"
           "  condition NAME on|off   one status condition: multiturn, signal-lost, system, power,\n"
           "                          configuration, magnetic-pattern, acceleration (errors);\n"
           "                          temperature, signal-low, signal-high, magnetic-pattern-warning,\n"
           "                          high-speed (warnings)\n"
           "  signal LEVEL            mean signal level (it varies over the turn around it)\n"
           "  errorreply [N]          answer the next N commands with an ERROR line (default 1)\n"
           "  target PREFIX|any       silent, cut, garbage and errorreply hit only commands that\n"
           "                          begin with PREFIX (? position reads, f supply off, R: reads)\n"
           "  regerror ADDR CODE|off  a register answers this Velcor error code (26 56 96 EE F6 F9 E6)\n"
           "  garbage N               N garbage bytes before the next reply\n"
           "  delay MS                extra delay before every reply (0: none)\n"
           "  jump COUNTS             the position jumps by COUNTS at the next supply-on\n"
           "  selfcal OUTCOME [SEC]   next self-calibrations: success, no-correction, timeout,\n"
           "                          out-of-range, numerical, radial, write-error; SEC = duration\n"
           "  unplug [MS]             close the terminal; with MS, come back on a new one after MS\n"
           "  replug                  come back on a new terminal now (prints its path)\n"
           "  timescale X             simulated seconds per real second\n"
           "  advance SECONDS         move simulated time forward\n"
           "  reg ADDR LEN            read a register as the host would (hex address)\n"
           "  state                   supply, position, counters, terminal path\n"
           "  log [N]                 the last N commands received (default 20)\n"
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
    auto usage = [&](const char* form) { return std::string("error usage: ") + form; };
    int64_t n = 0;
    double x = 0;
    bool on = false;

    if (c == "help") return std::string("ok\n") + ControlHelp();
    if (c == "position") {
        int64_t st = 0, mt = 0;
        if (w.size() != 2 || !ParsePosition(w[1], st, mt)) return usage("position ST[:MT]");
        SetPosition(st, mt);
        return "ok";
    }
    if (c == "rotate") {
        if (w.size() != 2 || !ToDouble(w[1], x)) return usage("rotate DEG_PER_S");
        SetRotation(x);
        return "ok";
    }
    if (c == "noise") {
        if (w.size() != 2 || !ToDouble(w[1], x) || x < 0) return usage("noise COUNTS");
        SetNoise(x);
        return "ok";
    }
    if (c == "temperature") {
        int64_t ext = 0;
        if (w.size() != 3 || !ToInt(w[1], n) || !ToInt(w[2], ext)) return usage("temperature SEN EXT");
        SetTemperatures(static_cast<int>(n), static_cast<int>(ext));
        return "ok";
    }
    if (c == "power") {
        if (w.size() != 2 || !ToOnOff(w[1], on)) return usage("power on|off");
        SetSupply(on);
        return "ok";
    }
    if (c == "silent") {
        if (w.size() != 2 || !ToInt(w[1], n) || n < 0) return usage("silent N");
        SilenceNext(static_cast<int>(n));
        return "ok";
    }
    if (c == "cut") {
        CutNextReply();
        return "ok";
    }
    if (c == "badcrc") {
        n = 1;
        if (w.size() > 2 || (w.size() == 2 && (!ToInt(w[1], n) || n < 0))) return usage("badcrc [N]");
        BadCrcNext(static_cast<int>(n));
        return "ok";
    }
    if (c == "error" || c == "warning") {
        if (w.size() != 2 || !ToOnOff(w[1], on)) return usage("error|warning on|off");
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
        if (w.size() != 2 || !ToDouble(w[1], x) || x < 0 || x > 50000)
            return usage("signal LEVEL (0..50000)");
        SetSignalLevel(x);
        return "ok";
    }
    if (c == "errorreply") {
        n = 1;
        if (w.size() > 2 || (w.size() == 2 && (!ToInt(w[1], n) || n < 0))) return usage("errorreply [N]");
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
        if (w.size() != 3 || !ToInt(w[1], addr, 16) || addr < 0) return usage("regerror ADDR CODE|off");
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
        if (w.size() != 2 || !ToInt(w[1], n) || n < 0 || n > 4096) return usage("garbage N (0..4096)");
        GarbageBeforeNextReply(static_cast<int>(n));
        return "ok";
    }
    if (c == "delay") {
        if (w.size() != 2 || !ToInt(w[1], n) || n < 0 || n > 600000) return usage("delay MS");
        SetExtraDelayMs(static_cast<int>(n));
        return "ok";
    }
    if (c == "jump") {
        if (w.size() != 2 || !ToInt(w[1], n)) return usage("jump COUNTS");
        JumpAtNextPowerUp(n);
        return "ok";
    }
    if (c == "selfcal") {
        SelfCalOutcome outcome;
        x = impl_->options.selfCalSeconds;
        if (w.size() < 2 || w.size() > 3 || !ParseSelfCalOutcome(w[1], outcome) ||
            (w.size() == 3 && (!ToDouble(w[2], x) || x < 0)))
            return usage(
                "selfcal success|no-correction|timeout|out-of-range|numerical|radial|write-error [SEC]");
        SetSelfCal(outcome, x);
        return "ok";
    }
    if (c == "unplug") {
        if (w.size() == 2) {
            if (!ToInt(w[1], n) || n < 0) return usage("unplug [MS]");
            UnplugFor(static_cast<int>(n));
            return "ok";
        }
        Unplug();
        return "ok";
    }
    if (c == "replug") {
        std::string error;
        if (!Replug(&error)) return "error " + error;
        return "ok " + SlavePath();
    }
    if (c == "timescale") {
        if (w.size() != 2 || !ToDouble(w[1], x) || x <= 0) return usage("timescale X");
        SetTimeScale(x);
        return "ok";
    }
    if (c == "advance") {
        if (w.size() != 2 || !ToDouble(w[1], x) || x < 0) return usage("advance SECONDS");
        AdvanceTime(x);
        return "ok";
    }
    if (c == "reg") {
        int64_t addr = 0, len = 0;
        if (w.size() != 3 || !ToInt(w[1], addr, 16) || !ToInt(w[2], len) || addr < 0)
            return usage("reg ADDR LEN");
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
        if (w.size() > 2 || (w.size() == 2 && (!ToInt(w[1], n) || n < 0))) return usage("log [N]");
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
