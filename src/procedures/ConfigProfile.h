// Configuration profiles: the configurable registers of one kind of encoder, kept in a JSON file,
// so that fifty encoders of a type get the same settings and every encoder's settings can be
// written down after commissioning.
//
//   {
//     "format": 1,
//     "profile": "t1 shop floor",
//     "encoder": {"type": 1, "layout": "legacy", "part_number": "VK766-0A18B*"},
//     "registers": {"POSITION_OFFSET": 0, "POSITION_FILTER": 3, "MT_ERR_TRESHOLD": 10,
//                   "SELF_CAL_ARC": 360, "SELF_CAL_TIMEOUT": 60}
//   }
//
// "layout" is "legacy" (types 1 to 4) or "new" (types 5, 6); "part_number" is a pattern where *
// stands for any run of characters and ? for one. A profile lists any of the five registers; the
// optional ones (MT_ERR_TRESHOLD, SELF_CAL_TIMEOUT) only fit an encoder that has them. Every field
// is checked before anything reaches the encoder: a bad value, an unknown name or a name given
// twice is an error naming its JSON path.
//
// The encoder is reached through the protocol layer's register operations on the identified
// encoder (its type, part number, layout and optional-register flags), as every other action.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace Procedures {

constexpr int kProfileFormat = 1;

struct TConfigProfile {
    std::string Name;
    int EncoderType = 0;
    std::string Layout; // "legacy" or "new"
    std::string PartNumberPattern;
    // In the fixed order POSITION_OFFSET, POSITION_FILTER, MT_ERR_TRESHOLD, SELF_CAL_ARC,
    // SELF_CAL_TIMEOUT; each at most once.
    std::vector<std::pair<std::string, uint32_t>> Registers;
};

// The registers a profile sets, in their fixed order, with their width in bytes.
struct TProfileRegister {
    const char* Name;
    uint8_t Bytes;
    bool Optional; // only some encoders have it
};
const std::vector<TProfileRegister>& ProfileRegisters();

// The layout name of an encoder type: "legacy" for 1 to 4, "new" for 5 and 6, "" otherwise.
std::string LayoutOfType(int encoderType);

// Whole-text match of `text` against `pattern` (* any run, ? one character).
bool PartNumberMatches(std::string_view pattern, std::string_view text);

// False with the reason in `error`, naming the JSON path ("encoder.type: missing",
// "registers.POSITION_FILTER: expected an integer 0..4294967295, got \"7a\""); `out` is only
// changed on success.
bool ParseProfile(std::string_view json, TConfigProfile& out, std::string& error);
bool ReadProfileFile(const std::string& path, TConfigProfile& out, std::string& error);

// Pretty JSON, keys in a fixed order, ending with a newline.
std::string ProfileJson(const TConfigProfile& profile);
// Written whole or not at all: to a temporary name beside the file, then renamed over it.
bool WriteProfileFile(const std::string& path, const TConfigProfile& profile, std::string& error);

// Whether the profile fits the identified encoder: type, layout, part number and the optional
// registers it lists. False with the reason in `why`.
bool ProfileFits(const TConfigProfile& profile, std::string& why);

// Reads the identified encoder's registers into a profile fitting exactly that encoder (its part
// number as the pattern, the optional registers it has); its name is the part number.
bool ReadProfileFromEncoder(TConfigProfile& out, std::string& error);

struct TRegisterOutcome {
    std::string Name;
    uint32_t Written = 0;
    bool ReadBackOk = false;
    uint32_t ReadBack = 0;
    bool Match() const { return Error.empty() && ReadBackOk && ReadBack == Written; }
    std::string Error; // a failed write or read-back
};

struct TProfileApplyResult {
    bool Ok = false;
    std::string Error; // what failed, naming the registers
    std::vector<TRegisterOutcome> Registers;
};

// Checks the fit first (nothing is written to an encoder it does not fit), then writes each
// register, reads it back and compares. Saves to NVRAM, with the pause the encoder needs after
// it, only when asked and every register matched.
TProfileApplyResult ApplyProfile(const TConfigProfile& profile, bool saveToNvram);

// What differs between a profile and what an encoder holds (`actual` as ReadProfileFromEncoder
// gives it), one line per difference; empty when the encoder holds the profile.
std::vector<std::string> ProfileDifferences(const TConfigProfile& wanted, const TConfigProfile& actual);

} // namespace Procedures
