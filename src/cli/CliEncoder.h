// tarvo-cli's subcommands that talk to the adapter and the encoder through the protocol layer.
#pragma once

#include <string>
#include <vector>

namespace cli {

// True for the subcommands RunEncoderSubcommand handles.
bool IsEncoderSubcommand(const std::string& name);
// Runs one of them with its arguments; returns the exit status (0, 1 device failure, 2 usage).
int RunEncoderSubcommand(const std::string& name, const std::vector<std::string>& args);

// One line per subcommand, for the main usage text.
extern const char* const kEncoderSubcommandsUsage;

} // namespace cli
