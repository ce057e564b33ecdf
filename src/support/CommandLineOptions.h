// The command-line forms the three programs share: "--name value" and "--name=value" for an
// option that takes a value, "--name" for a flag, "-h" for "--help", "--" before arguments that
// begin with a dash. Each program keeps its own options and judges their values itself.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace CommandLineOptions {

enum class TakesValue {
    No,       // a flag: "--json"; "--json=1" is refused
    Yes,      // "--count 3" or "--count=3"
    Optional, // "--wire-timing" or "--wire-timing=0", never the next argument
};

struct Spec {
    std::string name; // with its dashes: "--count"
    TakesValue takesValue = TakesValue::No;
};

struct Option {
    std::string name;
    std::string value;
    bool hasValue = false;
};

struct Parsed {
    std::vector<Option> options; // in the order given
    std::vector<std::string> positional;
};

// The options of `args` (the program's own name and subcommand already taken off) by `specs`.
// A value given after a blank may not begin with "--": there the value was left out. On a usage
// problem returns nullopt with the problem in *problem ("unknown option --x", "--count needs a
// value", "--json takes no value"). "--help" ends the reading: what follows it is not judged.
std::optional<Parsed> Parse(const std::vector<std::string>& args, const std::vector<Spec>& specs,
                            std::string* problem);

// The line that follows a usage error: "Try 'PROGRAM --help'." or "Try 'PROGRAM SUB --help'.".
std::string TryHelpLine(const std::string& program, const std::string& subcommand = {});

} // namespace CommandLineOptions
