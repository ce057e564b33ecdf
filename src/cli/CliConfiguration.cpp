// The encoder's configuration commands: save to NVRAM, factory reset, multiturn preset,
// clearing the persistent status.
#include "CliSubcommands.h"

#include "K310_BiSS_bidirectional.h"
#include "K310_SPI_Velcor.h"

#include <functional>

namespace cli {

namespace shared = K310_BiSS_bidirectional;
namespace velcor = K310_SPI_Velcor;

const char* const kSaveUsage =
    "Usage: tarvo-cli save [--port PATH]... [--json]\n\nSaves the encoder's configuration to its NVRAM.\n";
const char* const kFactoryResetUsage =
    "Usage: tarvo-cli factory-reset [--port PATH]... [--json]\n\nRestores the encoder's factory "
    "configuration.\n";
const char* const kClearStatusUsage =
    "Usage: tarvo-cli clear-status [--port PATH]... [--json]\n\nClears the encoder's persistent status.\n";
const char* const kPresetUsage =
    "Usage: tarvo-cli preset-mt VALUE [--port PATH]... [--json]\n"
    "\n"
    "Sets the multiturn count to VALUE (-32768..65535; a negative count is written as its\n"
    "16-bit two's complement) and applies it.\n";

namespace {

int RunSimple(const Command& cmd, const std::function<bool()>& operation) {
    if (!cmd.inv().positional.empty()) return cmd.Usage("no arguments expected");
    int exit = 0;
    if (!Prepare(cmd, true, &exit)) return exit;
    if (!operation()) return cmd.Fail(shared::LastErrorText);
    return cmd.Succeed(JsonObject(), {{"result", "done"}});
}

} // namespace

int RunSave(const Command& cmd) {
    return RunSimple(cmd, velcor::SaveToNvram);
}

int RunFactoryReset(const Command& cmd) {
    return RunSimple(cmd, velcor::FactoryReset);
}

int RunClearStatus(const Command& cmd) {
    return RunSimple(cmd, velcor::ClearPersistentStatus);
}

int RunPreset(const Command& cmd) {
    const auto& pos = cmd.inv().positional;
    if (pos.size() != 1) return cmd.Usage("preset-mt needs one VALUE");
    const auto value = ParseSigned(pos[0], -32768, 65535);
    if (!value) return cmd.Usage("VALUE is -32768..65535");
    int exit = 0;
    if (!Prepare(cmd, true, &exit)) return exit;
    const auto word = static_cast<uint16_t>(*value);
    if (!velcor::PresetMultiturn(word)) return cmd.Fail(shared::LastErrorText);
    return cmd.Succeed(JsonObject().Add("MT_preset", uint32_t{word}), {{"MT_preset", Dec(word)}});
}

} // namespace cli
