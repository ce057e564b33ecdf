#include "SimOptions.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace sim {

namespace {

bool ParseInt(std::string_view text, int64_t& out) {
    if (text.empty()) return false;
    const char* first = text.data();
    if (*first == '+') ++first;
    auto [ptr, ec] = std::from_chars(first, text.data() + text.size(), out);
    return ec == std::errc() && ptr == text.data() + text.size();
}

bool ParseDouble(std::string_view text, double& out) {
    if (text.empty()) return false;
    std::string copy(text);
    char* end = nullptr;
    out = std::strtod(copy.c_str(), &end);
    return end == copy.c_str() + copy.size() && std::isfinite(out);
}

bool ParseBool(std::string_view text, bool& out) {
    if (text == "1" || text == "on" || text == "true" || text == "yes" || text.empty()) {
        out = true;
        return true;
    }
    if (text == "0" || text == "off" || text == "false" || text == "no") {
        out = false;
        return true;
    }
    return false;
}

} // namespace

std::string PositionText(int64_t st, int64_t mt) {
    return mt == 0 ? std::to_string(st) : std::to_string(st) + ":" + std::to_string(mt);
}

std::string PositionProblem(const EncoderVariant& v, int64_t st, int64_t mt, const std::string& shown) {
    const int64_t last = v.SingleTurnCounts() - 1;
    const std::string preset = " for preset " + v.preset;
    if (st < 0 || st > last) {
        const std::string range = "0.." + std::to_string(last) + preset;
        if (mt == 0) return shown + " is outside " + range;
        return shown + ": the single-turn count " + std::to_string(st) + " is outside " + range;
    }
    if (!v.multiturn && mt != 0)
        return shown + ": preset " + v.preset +
               " is a single-turn encoder and counts no turns (turn count 0)";
    if (mt < v.MinTurns() || mt > v.MaxTurns())
        return shown + ": the turn count " + std::to_string(mt) + " is outside " +
               std::to_string(v.MinTurns()) + ".." + std::to_string(v.MaxTurns()) + preset;
    return {};
}

std::string NoiseProblem(const EncoderVariant& v, double counts, const std::string& shown) {
    if (counts >= 0 && counts <= v.SingleTurnCounts()) return {};
    return shown + " is outside 0.." + std::to_string(v.SingleTurnCounts()) + " for preset " + v.preset;
}

std::string NumberText(double value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.10g", value);
    return buffer;
}

bool CheckSimOptions(const SimOptions& o, OptionSpelling spelling, std::string& error) {
    EncoderVariant v;
    if (!FindPreset(o.preset, v)) {
        error = "unknown preset \"" + o.preset + "\"";
        return false;
    }
    auto shown = [&](const char* name, const std::string& value) {
        return spelling == OptionSpelling::Flag ? std::string("--") + name + " " + value
                                                : std::string(name) + "=" + value;
    };
    error = PositionProblem(v, o.positionSt, o.positionMt,
                            shown("position", PositionText(o.positionSt, o.positionMt)));
    if (error.empty()) error = NoiseProblem(v, o.noiseCounts, shown("noise", NumberText(o.noiseCounts)));
    return error.empty();
}

bool ParsePosition(std::string_view text, int64_t& st, int64_t& mt) {
    const auto colon = text.find(':');
    int64_t s = 0, m = 0;
    if (!ParseInt(text.substr(0, colon), s)) return false;
    if (colon != std::string_view::npos && !ParseInt(text.substr(colon + 1), m)) return false;
    st = s;
    mt = m;
    return true;
}

bool ApplySimOption(std::string_view name, std::string_view value, SimOptions& out, std::string& error) {
    auto bad = [&](const char* what) {
        error = std::string("bad value for ") + std::string(name) + ": \"" + std::string(value) + "\" (" +
                what + ")";
        return false;
    };
    if (name == "preset") {
        EncoderVariant v;
        if (!FindPreset(value, v)) {
            error = "unknown preset \"" + std::string(value) + "\" (presets:";
            for (const std::string& name : PresetNames())
                error += " " + name;
            error += ")";
            return false;
        }
        out.preset = std::string(value);
        return true;
    }
    if (name == "position") {
        // The range depends on the preset, judged by CheckSimOptions.
        if (!ParsePosition(value, out.positionSt, out.positionMt)) return bad("ST or ST:MT in counts");
        return true;
    }
    if (name == "rotate") {
        if (!ParseDouble(value, out.rotateDegPerS) || std::abs(out.rotateDegPerS) > kMaxRotateDegPerS)
            return bad("degrees per second, -360000..360000");
        return true;
    }
    if (name == "noise") {
        // Its upper bound is one turn of the preset, judged by CheckSimOptions.
        if (!ParseDouble(value, out.noiseCounts) || out.noiseCounts < 0) return bad("counts, 0 or more");
        return true;
    }
    if (name == "wire-timing") return ParseBool(value, out.wireTiming) || bad("0 or 1");
    if (name == "usb-frames") return ParseBool(value, out.usbFrames) || bad("0 or 1");
    if (name == "power-on") return ParseBool(value, out.powerOn) || bad("0 or 1");
    if (name == "time-scale") {
        if (!ParseDouble(value, out.timeScale) || out.timeScale < kMinTimeScale ||
            out.timeScale > kMaxTimeScale)
            return bad("a factor, 0.001..10000");
        return true;
    }
    if (name == "selfcal-seconds") {
        if (!ParseDouble(value, out.selfCalSeconds) || out.selfCalSeconds < 0 ||
            out.selfCalSeconds > kMaxSelfCalSeconds)
            return bad("seconds, 0..255");
        return true;
    }
    if (name == "adapter-version") {
        if (value.empty()) return bad("a version such as 1.09");
        // A bare number is the firmware version; anything else is the whole reply text.
        if (value.find_first_not_of("0123456789.") == std::string_view::npos)
            out.adapter.version = "K310-7K v" + std::string(value);
        else
            out.adapter.version = std::string(value);
        return true;
    }
    if (name == "encoder-serial") {
        out.encoderSerial = std::string(value);
        return true;
    }
    if (name == "part-number") {
        // The resolution and the code length are read from the first eleven characters.
        if (value.size() != 16) return bad("16 characters");
        out.partNumber = std::string(value);
        return true;
    }
    if (name == "adapter-serial") {
        out.adapter.serial = std::string(value);
        return true;
    }
    if (name == "adapter-revision") {
        int64_t r = 0;
        if (!ParseInt(value, r) || r < 0 || r > 999999) return bad("a revision number");
        out.adapter.revision = static_cast<int>(r);
        return true;
    }
    error = "unknown option \"" + std::string(name) + "\"";
    return false;
}

bool ParseSimOptions(std::string_view text, SimOptions& out, std::string& error) {
    SimOptions parsed;
    size_t start = 0;
    bool first = true;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        if (comma == std::string_view::npos) comma = text.size();
        const std::string_view item = text.substr(start, comma - start);
        if (first) {
            if (!item.empty() && item.find('=') == std::string_view::npos) {
                if (!ApplySimOption("preset", item, parsed, error)) return false;
                start = comma + 1;
                first = false;
                continue;
            }
            first = false;
        }
        if (!item.empty()) {
            const auto eq = item.find('=');
            const std::string_view name = item.substr(0, eq);
            const std::string_view value = eq == std::string_view::npos ? "" : item.substr(eq + 1);
            if (!ApplySimOption(name, value, parsed, error)) return false;
        }
        start = comma + 1;
    }
    if (!CheckSimOptions(parsed, OptionSpelling::Compact, error)) return false;
    out = parsed;
    return true;
}

} // namespace sim
