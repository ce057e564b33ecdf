// The table of tarvo-cli's adapter and encoder subcommands: name, usage, options, runner. The
// subcommands themselves live one group per file (see CliSubcommands.h).
#include "CliEncoder.h"

#include "CliSubcommands.h"

namespace cli {

const char* const kEncoderSubcommandsUsage =
    "  find             find the adapter: port, version, firmware, serial, revision\n"
    "  power            on [--volts 3.3|5] | off | status: the encoder's supply\n"
    "  clock STEP       SPI clock step 1..8\n"
    "  identify         identify the encoder: type, resolution, layout, serial, firmware\n"
    "  read             position readings ([--count N] [--interval MS] [--detailed]\n"
    "                   [--keep-going])\n"
    "  reg              read ADDR LEN | write ADDR LEN VALUE: one encoder register\n"
    "  errmap           the encoder's error map, 512 values\n"
    "  debug            latch and read the encoder's debug data\n"
    "  selfcal          start [--arc A] [--timeout T] [--wait] | status: self-calibration\n"
    "  save             save the encoder's configuration to its NVRAM\n"
    "  factory-reset    restore the encoder's factory configuration\n"
    "  preset-mt VALUE  set the multiturn count (-32768..65535)\n"
    "  clear-status     clear the persistent status\n"
    "  config           save FILE | apply FILE [--save] | diff FILE: configuration profiles\n"
    "  write-status     the write-access status of the last write\n"
    "  reset            reset the adapter's Velcor protocol\n"
    "\n"
    "Common options: --port PATH (repeatable; tried in the order given; without it the K310-7K\n"
    "adapter's USB serial port (ttyACM on Linux, COM on Windows) is searched for), --json (one\n"
    "JSON object per result, with \"ok\"), --help. Options take their value as --name VALUE\n"
    "or --name=VALUE.\n";

namespace {

const std::vector<Subcommand>& Subcommands() {
    static const std::vector<Subcommand> list = {
        {"find", kFindUsage, {}, RunFind},
        {"power", kPowerUsage, {{"--volts", true}}, RunPower},
        {"clock", kClockUsage, {}, RunClock},
        {"identify", kIdentifyUsage, {}, RunIdentify},
        {"read",
         kReadUsage,
         {{"--count", true}, {"--interval", true}, {"--detailed", false}, {"--keep-going", false}},
         RunRead},
        {"reg", kRegUsage, {}, RunReg},
        {"errmap", kErrmapUsage, {}, RunErrmap},
        {"debug", kDebugUsage, {}, RunDebug},
        {"selfcal", kSelfcalUsage, {{"--arc", true}, {"--timeout", true}, {"--wait", false}}, RunSelfcal},
        {"save", kSaveUsage, {}, RunSave},
        {"factory-reset", kFactoryResetUsage, {}, RunFactoryReset},
        {"preset-mt", kPresetUsage, {}, RunPreset},
        {"clear-status", kClearStatusUsage, {}, RunClearStatus},
        {"config", kConfigUsage, {{"--save", false}, {"--name", true}}, RunConfig},
        {"write-status", kWriteStatusUsage, {}, RunWriteStatus},
        {"reset", kResetUsage, {}, RunReset},
    };
    return list;
}

} // namespace

bool IsEncoderSubcommand(const std::string& name) {
    return FindSubcommand(Subcommands(), name) != nullptr;
}

int RunEncoderSubcommand(const std::string& name, const std::vector<std::string>& args) {
    return RunSubcommand(Subcommands(), name, args);
}

} // namespace cli
