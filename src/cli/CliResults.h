// tarvo-cli results: the commissioning runs in the results database, listed, shown, exported as
// CSV and made into reports. Needs no adapter.
#pragma once

#include <string>
#include <vector>

namespace cli {

// The main usage's line for it.
extern const char* const kResultsSubcommandUsage;
// Runs "results ACTION ..." with the arguments after "results"; returns the exit status.
int RunResults(const std::vector<std::string>& args);

} // namespace cli
