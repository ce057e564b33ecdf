// tarvo-cli's long test procedures: debug-data recording, the power-cycling test and the
// position-noise statistics, built on src/procedures as the window's pages are.
#pragma once

#include <string>
#include <vector>

namespace cli {

// True for the subcommands RunProcedureSubcommand handles.
bool IsProcedureSubcommand(const std::string& name);
// Runs one of them with its arguments; returns the exit status (0, 1 failure or finding, 2 usage).
int RunProcedureSubcommand(const std::string& name, const std::vector<std::string>& args);

// One line per subcommand, for the main usage text.
extern const char* const kProcedureSubcommandsUsage;

} // namespace cli
