#include "CommandLineOptions.h"

namespace CommandLineOptions {

std::optional<Parsed> Parse(const std::vector<std::string>& args, const std::vector<Spec>& specs,
                            std::string* problem) {
    Parsed parsed;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-' || (arg[1] != '-' && arg != "-h")) {
            // A lone "-" and negative numbers are arguments, not options.
            parsed.positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        const std::string given = arg == "-h" ? "--help" : arg;
        const auto eq = given.find('=');
        const std::string name = given.substr(0, eq);
        const Spec* spec = nullptr;
        for (const Spec& s : specs)
            if (s.name == name) spec = &s;
        if (!spec) {
            *problem = "unknown option " + name;
            return std::nullopt;
        }
        Option option{name, {}, false};
        if (eq != std::string::npos) {
            if (spec->takesValue == TakesValue::No) {
                *problem = name + " takes no value";
                return std::nullopt;
            }
            option.value = given.substr(eq + 1);
            option.hasValue = true;
        } else if (spec->takesValue == TakesValue::Yes) {
            if (i + 1 >= args.size() || args[i + 1].rfind("--", 0) == 0) {
                *problem = name + " needs a value";
                return std::nullopt;
            }
            option.value = args[++i];
            option.hasValue = true;
        }
        parsed.options.push_back(std::move(option));
        // Whoever asks for help gets it, whatever follows; a problem before it still counts.
        if (name == "--help") break;
    }
    return parsed;
}

std::string TryHelpLine(const std::string& program, const std::string& subcommand) {
    return "Try '" + program + (subcommand.empty() ? "" : " " + subcommand) + " --help'.";
}

} // namespace CommandLineOptions
