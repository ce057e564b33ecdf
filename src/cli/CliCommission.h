// tarvo-cli's commission subcommand: a commissioning plan run on the connected encoder.
#pragma once

#include "CliCommand.h"

namespace cli {

extern const char* const kCommissionUsage;
int RunCommission(const Command& cmd);

} // namespace cli
