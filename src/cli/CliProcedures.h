// tarvo-cli's long test procedures: debug-data recording, the power-cycling test and the
// position-noise statistics, built on src/procedures as the window's pages are.
#pragma once

#include "CliCommand.h"

#include <optional>
#include <string>
#include <vector>

namespace cli {

// True for the subcommands RunProcedureSubcommand handles.
bool IsProcedureSubcommand(const std::string& name);
// Runs one of them with its arguments; returns the exit status (0, 1 failure or finding, 2 usage).
int RunProcedureSubcommand(const std::string& name, const std::vector<std::string>& args);

// The window's supply-on: voltage ("V5" or "V3"), "n", 200 ms for the encoder to start, the
// supply status. An unexpected answer to the voltage is a warning; false when "n" was not
// confirmed or the link is gone, with the reason in *problem.
bool SupplyOn(const std::string& voltage, std::string* problem, std::string* status = nullptr);
// The voltage command of --volts (3.3 or 5, default 5); nullopt for another value.
std::optional<std::string> VoltageCommand(const Command& p);

// One line per subcommand, for the main usage text.
extern const char* const kProcedureSubcommandsUsage;

} // namespace cli
