// Configuration profiles: save the connected encoder's configurable registers to a file, apply a
// file to an encoder (refused when it does not fit, every register read back), and compare.
#include "CliSubcommands.h"

#include "CliOutput.h"
#include "CliText.h"
#include "ConfigProfile.h"
#include "K310_BiSS_bidirectional.h"

#include <cstdio>

namespace cli {

namespace shared = K310_BiSS_bidirectional;

const char* const kConfigUsage =
    "Usage: tarvo-cli config save FILE [--name NAME] | config apply FILE [--save] | config diff FILE\n"
    "       [--port PATH]... [--json]\n"
    "\n"
    "Configuration profiles: the encoder's configurable registers (POSITION_OFFSET,\n"
    "POSITION_FILTER, MT_ERR_TRESHOLD where the encoder has it, SELF_CAL_ARC, SELF_CAL_TIMEOUT where\n"
    "the encoder has it) in a JSON file, with the encoder they fit: type, register layout and a\n"
    "part-number pattern (* any run of characters, ? one character).\n"
    "\n"
    "  save FILE     reads the registers of the connected encoder and writes them as a profile for\n"
    "                exactly this part number (written to a temporary name, then renamed)\n"
    "  --name NAME   the profile's name (default: the part number)\n"
    "  apply FILE    writes the profile's registers, reads each back and compares; refuses a\n"
    "                profile whose type, layout or part-number pattern does not fit the encoder\n"
    "  --save        after apply, when every register read back as written: save to NVRAM\n"
    "  diff FILE     prints each difference between the profile and the encoder, one per line\n"
    "\n"
    "Exit status: 0 done (diff: no difference); 1 the encoder failed, the profile does not fit,\n"
    "a register read back otherwise than written, the file cannot be written, or (diff) anything\n"
    "differs; 2 a bad command line or a bad profile (not JSON, a missing or unknown field, a value\n"
    "of the wrong type or out of range: the message names its JSON path). Nothing is written to\n"
    "the encoder for a bad or unfitting profile.\n";

namespace {

// A profile that cannot be used: its reason, exit 2, before any traffic.
int BadProfile(const Command& cmd, const std::string& error) {
    if (cmd.json())
        std::printf("%s\n", JsonObject().Add("ok", false).Add("LastErrorText", error).Text().c_str());
    else
        std::fprintf(stderr, "tarvo-cli: %s\n", TerminalText(error).c_str());
    return kExitUsage;
}

JsonObject RegistersObject(const Procedures::TConfigProfile& profile) {
    JsonObject registers;
    for (const auto& [name, value] : profile.Registers)
        registers.Add(name, value);
    return registers;
}

JsonObject ProfileObject(const Procedures::TConfigProfile& profile) {
    return JsonObject()
        .Add("profile", profile.Name)
        .Add("type", int64_t{profile.EncoderType})
        .Add("layout", profile.Layout)
        .Add("part_number", profile.PartNumberPattern)
        .Add("registers", RegistersObject(profile));
}

int Save(const Command& cmd, const std::string& file) {
    int exit = 0;
    if (!Prepare(cmd, true, &exit)) return exit;
    Procedures::TConfigProfile profile;
    std::string error;
    if (!Procedures::ReadProfileFromEncoder(profile, error)) return cmd.Fail(error);
    if (const auto name = cmd.inv().options.find("--name"); name != cmd.inv().options.end())
        profile.Name = name->second;
    if (!Procedures::WriteProfileFile(file, profile, error)) return cmd.Fail(error);
    Lines lines{{"file", file}};
    for (const auto& [name, value] : profile.Registers)
        lines.emplace_back(name, std::to_string(value));
    return cmd.Succeed(JsonObject().Add("file", file).Append(ProfileObject(profile)), lines);
}

int Apply(const Command& cmd, const Procedures::TConfigProfile& profile, bool save) {
    int exit = 0;
    if (!Prepare(cmd, true, &exit)) return exit;
    const Procedures::TProfileApplyResult result = Procedures::ApplyProfile(profile, save);
    JsonObject registers;
    Lines lines;
    for (const auto& r : result.Registers) {
        JsonObject o;
        o.Add("written", r.Written);
        if (r.ReadBackOk)
            o.Add("readBack", r.ReadBack);
        else
            o.AddNull("readBack");
        o.Add("match", r.Match());
        if (!r.Error.empty()) o.Add("error", r.Error);
        registers.Add(r.Name, o);
        lines.emplace_back(r.Name, r.Match() ? std::to_string(r.Written) : r.Error);
    }
    if (!result.Ok) return cmd.Fail(result.Error, JsonObject().Add("registers", registers));
    lines.emplace_back("saved", save ? "yes" : "no");
    return cmd.Succeed(
        JsonObject().Add("profile", profile.Name).Add("registers", registers).Add("saved", save), lines);
}

int Diff(const Command& cmd, const Procedures::TConfigProfile& wanted) {
    int exit = 0;
    if (!Prepare(cmd, true, &exit)) return exit;
    Procedures::TConfigProfile actual;
    std::string error;
    if (!Procedures::ReadProfileFromEncoder(actual, error)) return cmd.Fail(error);
    const std::vector<std::string> differences = Procedures::ProfileDifferences(wanted, actual);
    if (cmd.json()) {
        std::printf("%s\n", JsonObject()
                                .Add("ok", differences.empty())
                                .Add("differences", differences)
                                .Add("encoder", ProfileObject(actual))
                                .Text()
                                .c_str());
    } else {
        for (const std::string& line : differences)
            std::printf("%s\n", TerminalText(line).c_str());
    }
    return differences.empty() ? kExitOk : kExitFailure;
}

} // namespace

int RunConfig(const Command& cmd) {
    const auto& pos = cmd.inv().positional;
    const auto& options = cmd.inv().options;
    const std::string action = pos.empty() ? "" : pos[0];
    if (action != "save" && action != "apply" && action != "diff")
        return cmd.Usage("config needs: save FILE, apply FILE or diff FILE");
    if (pos.size() != 2) return cmd.Usage("config " + action + " needs one FILE");
    if (options.count("--save") && action != "apply") return cmd.Usage("--save goes with config apply");
    if (options.count("--name") && action != "save") return cmd.Usage("--name goes with config save");
    const std::string& file = pos[1];
    if (action == "save") return Save(cmd, file);

    // The whole profile is checked before the adapter is even looked for.
    Procedures::TConfigProfile profile;
    std::string error;
    if (!Procedures::ReadProfileFile(file, profile, error)) return BadProfile(cmd, error);
    if (action == "apply") return Apply(cmd, profile, options.count("--save") > 0);
    return Diff(cmd, profile);
}

} // namespace cli
