// Single registers: reg read and write, and the write-access status of the last write.
#include "CliSubcommands.h"

#include "CliOutput.h"
#include "CliText.h"
#include "K310_BiSS_bidirectional.h"
#include "K310_SPI_Velcor.h"

#include <cstdio>

namespace cli {

namespace shared = K310_BiSS_bidirectional;
namespace velcor = K310_SPI_Velcor;

const char* const kRegUsage =
    "Usage: tarvo-cli reg read ADDR LEN | reg write ADDR LEN VALUE  [--port PATH]... [--json]\n"
    "\n"
    "Reads or writes one encoder register as it is, without identifying the encoder. ADDR and\n"
    "VALUE are decimal or 0x-hex; LEN is the length in bytes (1..255). Prints the register's\n"
    "value (the last LEN of the four bytes read, most significant first) and RegisterData\n"
    "bytes 0..3 as 8 hex digits.\n";

int RunReg(const Command& cmd) {
    const auto& pos = cmd.inv().positional;
    const bool read = !pos.empty() && pos[0] == "read";
    const bool write = !pos.empty() && pos[0] == "write";
    if (!(read && pos.size() == 3) && !(write && pos.size() == 4))
        return cmd.Usage("reg needs: read ADDR LEN, or write ADDR LEN VALUE");
    const auto address = ParseNumber(pos[1], 0xFFFFFFFFull);
    const auto length = ParseNumber(pos[2], 255);
    if (!address) return cmd.Usage("ADDR is a number 0..0xFFFFFFFF");
    if (!length || *length == 0) return cmd.Usage("LEN is a number 1..255");
    std::optional<unsigned long long> value;
    if (write) {
        value = ParseNumber(pos[3], 0xFFFFFFFFull);
        if (!value) return cmd.Usage("VALUE is a number 0..0xFFFFFFFF");
    }
    int exit = 0;
    if (!Prepare(cmd, false, &exit)) return exit;
    const auto addr = static_cast<uint32_t>(*address);
    const auto len = static_cast<uint8_t>(*length);
    if (write) {
        if (!velcor::WriteRegister(addr, len, static_cast<uint32_t>(*value)))
            return cmd.Fail(shared::LastErrorText);
        return cmd.Succeed(JsonObject().Add("value", static_cast<uint64_t>(*value)),
                           {{"value", Dec(static_cast<long long>(*value))}});
    }
    if (!velcor::ReadRegister(addr, len)) return cmd.Fail(shared::LastErrorText);
    const auto& rd = shared::RegisterData;
    const uint32_t word = (uint32_t{rd[0]} << 24) | (uint32_t{rd[1]} << 16) | (uint32_t{rd[2]} << 8) | rd[3];
    const uint32_t registerValue = len >= 4 ? word : word & ((1u << (8 * len)) - 1);
    const std::string bytes = HexText(word, 8);
    return cmd.Succeed(JsonObject().Add("value", registerValue).Add("RegisterData", bytes),
                       {{"value", Dec(registerValue)}, {"RegisterData", bytes}});
}

const char* const kWriteStatusUsage =
    "Usage: tarvo-cli write-status [--port PATH]... [--json]\n"
    "\n"
    "Reads WRITE_ACCESS_STATUS and prints \"Write status: [0xHH] description\".\n";

int RunWriteStatus(const Command& cmd) {
    if (!cmd.inv().positional.empty()) return cmd.Usage("write-status takes no arguments");
    int exit = 0;
    if (!Prepare(cmd, false, &exit)) return exit;
    std::string text;
    velcor::WriteAccessStatusText(text);
    if (text.rfind("Write status: [0x", 0) != 0) return cmd.Fail(text);
    const auto flags = static_cast<uint32_t>(shared::RegisterData[3]);
    if (cmd.json()) return cmd.Succeed(JsonObject().Add("flags", flags).Add("text", text), {});
    std::printf("%s\n", TerminalText(text).c_str());
    return kExitOk;
}

} // namespace cli
