#include "ConfigProfile.h"

#include "Clock.h"
#include "Files.h"
#include "K310_BiSS_bidirectional.h"
#include "K310_SPI_Velcor.h"
#include "Serial_driver.h"
#include "Tarvo_konstante.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace Procedures {

namespace shared = K310_BiSS_bidirectional;
namespace velcor = K310_SPI_Velcor;
namespace konst = Tarvo_konstante;
using Json = nlohmann::ordered_json;

namespace {

// The pause the encoder needs after a save to NVRAM before it answers again, as the
// Configuration page makes it.
constexpr uint32_t kNvramPauseMs = 150;
// Far above any profile; a larger file is something else given by mistake.
constexpr std::uintmax_t kMaxProfileBytes = 1 << 20;

uint32_t MaxOf(uint8_t bytes) {
    return bytes >= 4 ? 0xFFFFFFFFu : (1u << (8 * bytes)) - 1;
}

const TProfileRegister* FindRegister(std::string_view name) {
    for (const auto& r : ProfileRegisters())
        if (name == r.Name) return &r;
    return nullptr;
}

// The register's address in the identified encoder's layout.
uint32_t AddressOf(std::string_view name) {
    if (name == "POSITION_OFFSET") return konst::RegPositionOffset;
    if (name == "POSITION_FILTER") return konst::RegPositionFilter;
    if (name == "MT_ERR_TRESHOLD") return konst::RegMtErrThreshold;
    if (name == "SELF_CAL_ARC") return konst::RegSelfCalArc;
    return konst::RegSelfCalTimeout;
}

bool EncoderHas(std::string_view name) {
    if (name == "MT_ERR_TRESHOLD") return konst::HasMtErrThreshold;
    if (name == "SELF_CAL_TIMEOUT") return konst::HasSelfCalTimeout;
    return true;
}

std::string RegisterNames() {
    std::string names;
    for (const auto& r : ProfileRegisters())
        names += (names.empty() ? "" : ", ") + std::string(r.Name);
    return names;
}

// A value as the user wrote it, for an error message.
std::string Shown(const Json& v) {
    if (v.is_object()) return "an object";
    if (v.is_array()) return "an array";
    return v.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string Joined(const std::string& path, const std::string& key) {
    return path.empty() ? key : path + "." + key;
}

// Fields are checked one after the other; the first fault ends the check with its message.
struct Checker {
    std::string error;

    bool Fail(const std::string& path, const std::string& what) {
        error = path + ": " + what;
        return false;
    }
    const Json* Need(const Json& object, const std::string& path, const char* key) {
        const auto it = object.find(key);
        if (it == object.end()) {
            Fail(Joined(path, key), "missing");
            return nullptr;
        }
        return &*it;
    }
    bool OnlyKnown(const Json& object, const std::string& path, std::initializer_list<const char*> keys) {
        for (const auto& item : object.items()) {
            const std::string& key = item.key();
            if (std::none_of(keys.begin(), keys.end(), [&](const char* k) { return key == k; })) {
                std::string known;
                for (const char* k : keys)
                    known += (known.empty() ? "" : ", ") + std::string(k);
                return Fail(Joined(path, key), "unknown field (expected " + known + ")");
            }
        }
        return true;
    }
    bool Object(const Json& v, const std::string& path) {
        return v.is_object() || Fail(path, "expected an object, got " + Shown(v));
    }
    bool Integer(const Json& v, const std::string& path, uint64_t min, uint64_t max, uint64_t& out) {
        // "-0" is read as a signed zero; it is still zero.
        if (v.is_number_integer() && !v.is_number_unsigned() && v.get<int64_t>() == 0) {
            out = 0;
        } else if (v.is_number_unsigned()) {
            out = v.get<uint64_t>();
        } else {
            out = max + 1;
        }
        if (out >= min && out <= max) return true;
        return Fail(path, "expected an integer " + std::to_string(min) + ".." + std::to_string(max) +
                              ", got " + Shown(v));
    }
    bool Text(const Json& v, const std::string& path, std::string& out) {
        if (!v.is_string()) return Fail(path, "expected a string, got " + Shown(v));
        out = v.get<std::string>();
        return true;
    }
};

// nlohmann keeps the last of two equal keys without a word; a profile naming a register twice
// is a mistake whichever value was meant, so the parse watches the keys of every object.
struct DuplicateWatch {
    struct Frame {
        std::string path;
        std::set<std::string> keys;
        std::string lastKey;
        bool array = false;
    };
    std::vector<Frame> frames;
    std::string duplicate; // the path of the first key given twice

    bool operator()(int, Json::parse_event_t event, Json& parsed) {
        using E = Json::parse_event_t;
        switch (event) {
        case E::object_start:
        case E::array_start: {
            std::string path;
            if (!frames.empty())
                path = frames.back().array ? frames.back().path + "[]"
                                           : Joined(frames.back().path, frames.back().lastKey);
            frames.push_back({path, {}, {}, event == E::array_start});
            break;
        }
        case E::object_end:
        case E::array_end:
            if (!frames.empty()) frames.pop_back();
            break;
        case E::key: {
            auto& f = frames.back();
            f.lastKey = parsed.get<std::string>();
            if (!f.keys.insert(f.lastKey).second && duplicate.empty()) duplicate = Joined(f.path, f.lastKey);
            break;
        }
        case E::value:
            break;
        }
        return true;
    }
};

// Line and column (both from 1) of the byte before `byte` (nlohmann counts bytes from 1 and
// points just past the character it stumbled on).
std::string WhereInText(std::string_view text, size_t byte) {
    const size_t at = std::min(byte > 0 ? byte - 1 : 0, text.size());
    size_t line = 1, column = 1;
    for (size_t i = 0; i < at; ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

// nlohmann's own reason without its prefix ("[json.exception.parse_error.101] parse error at
// line 1, column 5: ").
std::string ParseReason(const std::string& what) {
    const size_t column = what.find("column ");
    const size_t colon = what.find(": ", column == std::string::npos ? 0 : column);
    return colon == std::string::npos ? what : what.substr(colon + 2);
}

uint32_t RegisterValue(uint8_t bytes) {
    const auto& d = shared::RegisterData;
    const uint32_t all = (uint32_t{d[0]} << 24) | (uint32_t{d[1]} << 16) | (uint32_t{d[2]} << 8) | d[3];
    return all & MaxOf(bytes);
}

bool PortLost() {
    const int32_t result = shared::EncoderPosition.ErrComm;
    return result < 0 && result != Serial_driver::kReplyTimedOut;
}

std::string OneLine(std::string text) {
    for (char& c : text)
        if (c == '\r' || c == '\n') c = ' ';
    std::string out;
    for (char c : text)
        if (!(c == ' ' && !out.empty() && out.back() == ' ')) out += c;
    return out;
}

} // namespace

const std::vector<TProfileRegister>& ProfileRegisters() {
    static const std::vector<TProfileRegister> registers = {
        {"POSITION_OFFSET", 4, false}, {"POSITION_FILTER", 4, false}, {"MT_ERR_TRESHOLD", 1, true},
        {"SELF_CAL_ARC", 2, false},    {"SELF_CAL_TIMEOUT", 1, true},
    };
    return registers;
}

std::string LayoutOfType(int encoderType) {
    if (encoderType >= 1 && encoderType <= 4) return "legacy";
    if (encoderType >= 5 && encoderType <= 6) return "new";
    return "";
}

bool PartNumberMatches(std::string_view pattern, std::string_view text) {
    // Iterative glob: on a mismatch, let the last * take one more character.
    size_t p = 0, t = 0, star = std::string_view::npos, mark = 0;
    while (t < text.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == text[t])) {
            ++p, ++t;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            mark = t;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            t = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

bool ParseProfile(std::string_view json, TConfigProfile& out, std::string& error) {
    Json root;
    DuplicateWatch watch;
    try {
        root = Json::parse(json.begin(), json.end(), std::ref(watch));
    } catch (const nlohmann::json::parse_error& e) {
        error = "not JSON (" + WhereInText(json, e.byte) + "): " + ParseReason(e.what());
        return false;
    }
    if (!watch.duplicate.empty()) {
        error = watch.duplicate + ": given twice";
        return false;
    }
    Checker c;
    TConfigProfile p;
    auto fail = [&] {
        error = c.error;
        return false;
    };
    if (!root.is_object()) {
        error = "the profile: expected a JSON object, got " + Shown(root);
        return false;
    }
    if (!c.OnlyKnown(root, "", {"format", "profile", "encoder", "registers"})) return fail();
    uint64_t number = 0;
    const Json* v = c.Need(root, "", "format");
    if (!v) return fail();
    if (!(v->is_number_unsigned() && v->get<uint64_t>() == kProfileFormat)) {
        error = "format: expected " + std::to_string(kProfileFormat) +
                " (the profile format this program reads), got " + Shown(*v);
        return false;
    }
    if (!(v = c.Need(root, "", "profile")) || !c.Text(*v, "profile", p.Name)) return fail();

    const Json* encoder = c.Need(root, "", "encoder");
    if (!encoder || !c.Object(*encoder, "encoder")) return fail();
    if (!c.OnlyKnown(*encoder, "encoder", {"type", "layout", "part_number"})) return fail();
    if (!(v = c.Need(*encoder, "encoder", "type")) || !c.Integer(*v, "encoder.type", 1, 6, number))
        return fail();
    p.EncoderType = static_cast<int>(number);
    if (!(v = c.Need(*encoder, "encoder", "layout")) || !c.Text(*v, "encoder.layout", p.Layout))
        return fail();
    if (p.Layout != "legacy" && p.Layout != "new") {
        error = "encoder.layout: expected \"legacy\" or \"new\", got " + Shown(*v);
        return false;
    }
    if (p.Layout != LayoutOfType(p.EncoderType)) {
        error = "encoder.layout: encoder type " + std::to_string(p.EncoderType) + " has the \"" +
                LayoutOfType(p.EncoderType) + "\" layout, got " + Shown(*v);
        return false;
    }
    if (!(v = c.Need(*encoder, "encoder", "part_number")) ||
        !c.Text(*v, "encoder.part_number", p.PartNumberPattern))
        return fail();
    if (p.PartNumberPattern.empty()) {
        error = "encoder.part_number: expected a part number or a pattern (* and ? as wildcards), got \"\"";
        return false;
    }

    const Json* registers = c.Need(root, "", "registers");
    if (!registers || !c.Object(*registers, "registers")) return fail();
    for (const auto& [name, value] : registers->items()) {
        const TProfileRegister* r = FindRegister(name);
        if (!r) {
            error = "registers." + name + ": no such register (a profile sets " + RegisterNames() + ")";
            return false;
        }
        if (!c.Integer(value, "registers." + name, 0, MaxOf(r->Bytes), number)) return fail();
    }
    for (const auto& r : ProfileRegisters()) {
        const auto it = registers->find(r.Name);
        if (it != registers->end()) p.Registers.emplace_back(r.Name, it->get<uint32_t>());
    }
    if (p.Registers.empty()) {
        error = "registers: lists no register (a profile sets " + RegisterNames() + ")";
        return false;
    }
    out = std::move(p);
    return true;
}

bool ReadProfileFile(const std::string& path, TConfigProfile& out, std::string& error) {
    const auto file = platform::PathFromUtf8(path);
    std::error_code ec;
    const auto size = std::filesystem::file_size(file, ec);
    if (ec) {
        error = "cannot read " + path + ": " + ec.message();
        return false;
    }
    if (size > kMaxProfileBytes) {
        error = "cannot read " + path + ": " + std::to_string(size) + " bytes, too large for a profile";
        return false;
    }
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in.good() && !in.eof()) {
        error = "cannot read " + path;
        return false;
    }
    std::string why;
    if (!ParseProfile(text.str(), out, why)) {
        error = path + ": " + why;
        return false;
    }
    return true;
}

std::string ProfileJson(const TConfigProfile& profile) {
    Json registers = Json::object();
    for (const auto& [name, value] : profile.Registers)
        registers[name] = value;
    Json root = Json::object();
    root["format"] = kProfileFormat;
    root["profile"] = profile.Name;
    root["encoder"] = Json::object();
    root["encoder"]["type"] = profile.EncoderType;
    root["encoder"]["layout"] = profile.Layout;
    root["encoder"]["part_number"] = profile.PartNumberPattern;
    root["registers"] = std::move(registers);
    return root.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

bool WriteProfileFile(const std::string& path, const TConfigProfile& profile, std::string& error) {
    const std::string text = ProfileJson(profile);
    const auto final = platform::PathFromUtf8(path);
    platform::TNewFile file;
    std::filesystem::path temporary;
    std::string why;
    // A temporary name left behind by a crash is left alone; the next free one is taken.
    for (int attempt = 0; attempt < 100 && !file.IsOpen(); ++attempt) {
        temporary = platform::PathFromUtf8(path + ".part" + (attempt ? std::to_string(attempt) : ""));
        const auto created = file.Create(temporary, why);
        if (created == platform::NewFileResult::Failed) {
            error = "cannot write " + path + ": " + why;
            return false;
        }
    }
    if (!file.IsOpen()) {
        error = "cannot write " + path + ": no free temporary name beside it";
        return false;
    }
    const bool written = file.Write(text.data(), text.size(), why) == text.size();
    std::string closeWhy;
    const bool closed = file.Close(closeWhy);
    std::string renameWhy;
    const bool renamed = written && closed && platform::RenameReplacing(temporary, final, renameWhy);
    if (!renamed) {
        error = "cannot write " + path + ": " + (!written ? why : !closed ? closeWhy : renameWhy);
        std::string ignored;
        platform::RemoveFile(temporary, ignored);
        return false;
    }
    return true;
}

bool ProfileFits(const TConfigProfile& profile, std::string& why) {
    const int type = velcor::EncoderType;
    const std::string& partNumber = shared::EncoderSignature.Dremo_PartNumber;
    if (type == 0) {
        why = "no encoder identified";
        return false;
    }
    if (type != profile.EncoderType) {
        why = "the encoder is type " + std::to_string(type) + ", the profile is for type " +
              std::to_string(profile.EncoderType);
        return false;
    }
    if (LayoutOfType(type) != profile.Layout) {
        why = "the encoder has the " + LayoutOfType(type) + " register layout, the profile is for the " +
              profile.Layout + " one";
        return false;
    }
    if (!PartNumberMatches(profile.PartNumberPattern, partNumber)) {
        why = "the encoder's part number " + partNumber + " does not match the profile's " +
              profile.PartNumberPattern;
        return false;
    }
    for (const auto& [name, value] : profile.Registers) {
        if (!EncoderHas(name)) {
            why = "the encoder has no " + name + " register";
            return false;
        }
    }
    return true;
}

bool ReadProfileFromEncoder(TConfigProfile& out, std::string& error) {
    if (velcor::EncoderType == 0) {
        error = "no encoder identified";
        return false;
    }
    TConfigProfile p;
    p.PartNumberPattern = shared::EncoderSignature.Dremo_PartNumber;
    p.Name = p.PartNumberPattern;
    p.EncoderType = velcor::EncoderType;
    p.Layout = LayoutOfType(p.EncoderType);
    for (const auto& r : ProfileRegisters()) {
        if (!EncoderHas(r.Name)) continue;
        if (!velcor::ReadRegister(AddressOf(r.Name), r.Bytes)) {
            error = std::string(r.Name) + ": read failed: " + OneLine(shared::LastErrorText);
            return false;
        }
        p.Registers.emplace_back(r.Name, RegisterValue(r.Bytes));
    }
    out = std::move(p);
    return true;
}

TProfileApplyResult ApplyProfile(const TConfigProfile& profile, bool saveToNvram) {
    TProfileApplyResult result;
    std::string why;
    if (!ProfileFits(profile, why)) {
        result.Error = "the profile does not fit: " + why;
        return result;
    }
    std::string failed;
    for (const auto& [name, value] : profile.Registers) {
        const TProfileRegister* r = FindRegister(name);
        if (!r) {
            // A profile made in code past ParseProfile; nothing of it is written.
            result.Registers.clear();
            result.Error = name + ": no such register";
            return result;
        }
    }
    for (const auto& [name, value] : profile.Registers) {
        const TProfileRegister* r = FindRegister(name);
        TRegisterOutcome o;
        o.Name = name;
        o.Written = value;
        if (!velcor::WriteRegister(AddressOf(name), r->Bytes, value)) {
            o.Error = "write failed: " + OneLine(shared::LastErrorText);
        } else if (velcor::ReadRegister(AddressOf(name), r->Bytes)) {
            o.ReadBackOk = true;
            o.ReadBack = RegisterValue(r->Bytes);
            if (o.ReadBack != value)
                o.Error = "wrote " + std::to_string(value) + ", read back " + std::to_string(o.ReadBack);
        } else {
            o.Error = "read-back failed: " + OneLine(shared::LastErrorText);
        }
        if (!o.Error.empty()) failed += (failed.empty() ? "" : "; ") + name + ": " + o.Error;
        result.Registers.push_back(o);
        // Without the port every further register would only wait out its time-out.
        if (PortLost()) {
            failed += failed.empty() ? "port lost" : "; port lost";
            break;
        }
    }
    if (!failed.empty()) {
        result.Error = failed;
        return result;
    }
    if (saveToNvram) {
        const bool saved = velcor::SaveToNvram();
        const std::string reason = OneLine(shared::LastErrorText);
        platform::SleepMs(kNvramPauseMs);
        if (!saved) {
            result.Error = "save to NVRAM failed: " + reason;
            return result;
        }
    }
    result.Ok = true;
    return result;
}

std::vector<std::string> ProfileDifferences(const TConfigProfile& wanted, const TConfigProfile& actual) {
    std::vector<std::string> lines;
    if (wanted.EncoderType != actual.EncoderType)
        lines.push_back("encoder.type: profile " + std::to_string(wanted.EncoderType) + ", encoder " +
                        std::to_string(actual.EncoderType));
    if (wanted.Layout != actual.Layout)
        lines.push_back("encoder.layout: profile " + wanted.Layout + ", encoder " + actual.Layout);
    if (!PartNumberMatches(wanted.PartNumberPattern, actual.PartNumberPattern))
        lines.push_back("encoder.part_number: profile " + wanted.PartNumberPattern + ", encoder " +
                        actual.PartNumberPattern);
    for (const auto& wantedRegister : wanted.Registers) {
        const std::string& name = wantedRegister.first;
        const uint32_t value = wantedRegister.second;
        const auto it = std::find_if(actual.Registers.begin(), actual.Registers.end(),
                                     [&](const auto& r) { return r.first == name; });
        if (it == actual.Registers.end())
            lines.push_back("registers." + name + ": profile " + std::to_string(value) +
                            ", the encoder has none");
        else if (it->second != value)
            lines.push_back("registers." + name + ": profile " + std::to_string(value) + ", encoder " +
                            std::to_string(it->second));
    }
    return lines;
}

} // namespace Procedures
