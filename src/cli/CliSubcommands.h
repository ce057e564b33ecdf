// The adapter and encoder subcommands, one group per source file; CliEncoder.cpp puts them in
// its table. Each usage text is what '--help' prints; each Run function returns the exit status.
#pragma once

#include "CliCommand.h"

namespace cli {

// CliAdapter.cpp: the adapter itself
extern const char* const kFindUsage;
extern const char* const kPowerUsage;
extern const char* const kClockUsage;
extern const char* const kResetUsage;
int RunFind(const Command& cmd);
int RunPower(const Command& cmd);
int RunClock(const Command& cmd);
int RunReset(const Command& cmd);

// CliIdentify.cpp
extern const char* const kIdentifyUsage;
int RunIdentify(const Command& cmd);

// CliRead.cpp
extern const char* const kReadUsage;
int RunRead(const Command& cmd);

// CliRegister.cpp: single registers
extern const char* const kRegUsage;
extern const char* const kWriteStatusUsage;
int RunReg(const Command& cmd);
int RunWriteStatus(const Command& cmd);

// CliDiagnostics.cpp: error map and debug data
extern const char* const kErrmapUsage;
extern const char* const kDebugUsage;
int RunErrmap(const Command& cmd);
int RunDebug(const Command& cmd);

// CliSelfCal.cpp
extern const char* const kSelfcalUsage;
int RunSelfcal(const Command& cmd);

// CliConfiguration.cpp: the encoder's configuration commands
extern const char* const kSaveUsage;
extern const char* const kFactoryResetUsage;
extern const char* const kPresetUsage;
extern const char* const kClearStatusUsage;
int RunSave(const Command& cmd);
int RunFactoryReset(const Command& cmd);
int RunPreset(const Command& cmd);
int RunClearStatus(const Command& cmd);

// CliProfile.cpp: configuration profiles
extern const char* const kConfigUsage;
int RunConfig(const Command& cmd);

} // namespace cli
