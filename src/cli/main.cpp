// tarvo-cli: the headless front end of the protocol layer. Its output formats are parsed by
// scripts, so they change only by adding.
#include "CliEncoder.h"
#include "CliOutput.h"
#include "CliPort.h"
#include "CliProcedures.h"
#include "CliSendArguments.h"
#include "CliText.h"
#include "K310_BiSS_bidirectional.h"
#include "Orodja.h"
#include "Serial_driver.h"
#include "StandardDescriptors.h"
#include "SystemInfo.h"
#include "TarvoVersion.h"

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

const char* const kMainUsage =
    "usage: tarvo-cli SUBCOMMAND [OPTIONS]\n"
    "\n"
    "Talks to a K310-7K adapter (or the k310-sim simulator) from the command line.\n"
    "\n"
    "subcommands:\n"
    "  crc HEXTEXT      CRC-8 of the bytes a hex text spells, as two upper-case hex digits\n"
    "  send             one raw adapter transaction (see 'tarvo-cli send --help')\n"
    "%s"
    "%s"
    "\n"
    "'tarvo-cli SUBCOMMAND --help' tells more about each; 'tarvo-cli --version' prints the version.\n"
    "Exit status: 0 success, 1 failure reported by the device or the port, 2 bad usage.\n";

std::string MainUsage() {
    char buffer[8192];
    std::snprintf(buffer, sizeof buffer, kMainUsage, cli::kProcedureSubcommandsUsage,
                  cli::kEncoderSubcommandsUsage);
    return buffer;
}

const char* const kCrcUsage =
    "usage: tarvo-cli crc HEXTEXT\n"
    "\n"
    "Prints the frame CRC-8 (polynomial 0x97) over the bytes that HEXTEXT spells, as two\n"
    "upper-case hex digits. A lone last digit is the high half of its byte; a pair that is not\n"
    "hex counts as 00.\n";

const char* const kSendUsage =
    "usage: tarvo-cli send --port PATH [--min-reply N] [--pace MS] COMMAND\n"
    "\n"
    "Opens PATH with the adapter's line settings (115200 8N1), sends COMMAND exactly as given\n"
    "(no terminator is added) and collects the reply: until a CR arrives, or with --min-reply N\n"
    "until at least N bytes have arrived, at most 400 ms.\n"
    "  --pace MS   send one byte at a time, MS milliseconds (0..255) apart\n"
    "COMMAND accepts the escapes \\r \\n \\t \\0 \\\\ \\\" \\xHH.\n"
    "\n"
    "Output: 'result CODE' (0 complete, -1 time-out, -3 no port, -errno failed write) and\n"
    "'reply TEXT' with the reply escaped C-style (\\r, \\n, \\\\, \\xHH).\n"
    "Exit status: 0 when the result is 0, 1 otherwise, 2 for bad usage.\n";

bool IsHelp(const std::string& a) {
    return a == "--help" || a == "-h";
}

int Usage(const char* text, const std::string& problem = {}) {
    if (!problem.empty()) std::fprintf(stderr, "tarvo-cli: %s\n", problem.c_str());
    std::fputs(text, stderr);
    return kExitUsage;
}

int RunCrc(const std::vector<std::string>& args) {
    if (args.size() == 1 && IsHelp(args[0])) {
        std::fputs(kCrcUsage, stdout);
        return kExitOk;
    }
    if (args.size() != 1) return Usage(kCrcUsage, "crc takes exactly one HEXTEXT");
    std::printf("%02X\n", Orodja::HexFrameCrc8(args[0]));
    return kExitOk;
}

int RunSend(const std::vector<std::string>& args) {
    std::string problem;
    const auto parsed = cli::ParseSendArguments(args, &problem);
    if (!parsed) return Usage(kSendUsage, problem);
    if (parsed->help) {
        std::fputs(kSendUsage, stdout);
        return kExitOk;
    }

    std::string error;
    namespace shared = K310_BiSS_bidirectional;
    shared::PortHandle = cli::OpenAdapterPort(parsed->port, &error);
    if (!shared::PortHandle.IsValid()) {
        std::fprintf(stderr, "tarvo-cli: %s\n", error.c_str());
        return kExitFailure;
    }
    std::string reply;
    const int32_t result = Serial_driver::SendCommandPaced(shared::PortHandle, parsed->command, parsed->pace,
                                                           parsed->minReply, reply);
    std::printf("result %d\nreply %s\n", result, cli::EscapeBytes(reply).c_str());
    return result == 0 ? kExitOk : kExitFailure;
}

} // namespace

static int Dispatch(std::vector<std::string> args) {
    if (!args.empty()) args.erase(args.begin()); // the program's own name
    const std::string mainUsage = MainUsage();
    if (args.empty()) return Usage(mainUsage.c_str(), "a SUBCOMMAND is required");
    const std::string sub = args[0];
    args.erase(args.begin());
    if (IsHelp(sub)) {
        std::fputs(mainUsage.c_str(), stdout);
        return kExitOk;
    }
    if (sub == "--version") {
        std::printf("tarvo-cli %s\n", TARVO_VERSION);
        return kExitOk;
    }
    if (sub == "crc") return RunCrc(args);
    if (sub == "send") return RunSend(args);
    if (cli::IsEncoderSubcommand(sub)) return cli::RunEncoderSubcommand(sub, args);
    if (cli::IsProcedureSubcommand(sub)) return cli::RunProcedureSubcommand(sub, args);
    return Usage(mainUsage.c_str(), "unknown subcommand " + sub);
}

int main(int argc, char** argv) {
    // Before anything is opened: a closed standard stream would otherwise become the port.
    if (!platform::EnsureStandardDescriptors()) return kExitFailure;
    platform::PrintUtf8OnConsole();
    // UTF-8 from here on, also on Windows: a --dir with letters outside the ANSI code page arrives
    // intact.
    return cli::FinishOutput(Dispatch(platform::ProgramArguments(argc, argv)));
}
