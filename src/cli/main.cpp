// tarvo-cli: the headless front end of the protocol layer. Its output formats are parsed by
// scripts, so they change only by adding.
#include "CliCommand.h"
#include "CliEncoder.h"
#include "CliJson.h"
#include "CliOutput.h"
#include "CliPort.h"
#include "CliProcedures.h"
#ifdef TARVO_HAVE_RESULTS
#include "CliResults.h"
#endif
#include "CliSendArguments.h"
#include "CliText.h"
#include "CommandLineOptions.h"
#include "K310_BiSS_bidirectional.h"
#include "Orodja.h"
#include "Serial_driver.h"
#include "StandardDescriptors.h"
#include "SystemInfo.h"
#include "TarvoVersion.h"
#include "TerminationRequests.h"

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
    "Usage: tarvo-cli SUBCOMMAND [OPTIONS]\n"
    "  or:  tarvo-cli SUBCOMMAND --help\n"
    "  or:  tarvo-cli --help | --version\n"
    "\n"
    "Talks to a K310-7K adapter (or the k310-sim simulator) from the command line.\n"
    "\n"
    "Subcommands:\n"
    "  crc HEXTEXT      CRC-8 of the bytes a hex text spells, as two upper-case hex digits\n"
    "  send             one raw adapter transaction (see 'tarvo-cli send --help')\n"
    "%s"
    "%s"
    "%s"
    "\n"
    "'tarvo-cli SUBCOMMAND --help' tells more about each; 'tarvo-cli --version' prints the version.\n"
    "Exit status: 0 success, 1 failure reported by the device or the port, 2 bad usage.\n";

std::string MainUsage() {
    char buffer[8192];
#ifdef TARVO_HAVE_RESULTS
    const char* const results = cli::kResultsSubcommandUsage;
#else
    const char* const results = "";
#endif
    std::snprintf(buffer, sizeof buffer, kMainUsage, cli::kProcedureSubcommandsUsage, results,
                  cli::kEncoderSubcommandsUsage);
    return buffer;
}

const char* const kCrcUsage =
    "Usage: tarvo-cli crc HEXTEXT\n"
    "\n"
    "Prints the frame CRC-8 (polynomial 0x97) over the bytes that HEXTEXT spells, as two\n"
    "upper-case hex digits. A lone last digit is the high half of its byte; a pair that is not\n"
    "hex counts as 00.\n";

const char* const kSendUsage =
    "Usage: tarvo-cli send [--port PATH]... [--min-reply N] [--pace MS] [--json] COMMAND\n"
    "\n"
    "Opens PATH (the first of the given ports that opens, as it is; without --port the adapter is\n"
    "searched for) with the adapter's line settings (115200 8N1), sends COMMAND exactly as given\n"
    "(no terminator is added) and collects the reply: until a CR arrives, or with --min-reply N\n"
    "until at least N bytes have arrived, at most 400 ms.\n"
    "  --pace MS   send one byte at a time, MS milliseconds (0..255) apart\n"
    "  --json      one object: \"ok\", \"port\", \"result\", \"reply\" (the reply as received)\n"
    "COMMAND accepts the escapes \\r \\n \\t \\0 \\\\ \\\" \\xHH.\n"
    "\n"
    "Output: 'result CODE' (0 complete, -1 time-out, -3 no port, -errno failed write) and\n"
    "'reply TEXT' with the reply escaped C-style (\\r, \\n, \\\\, \\xHH).\n"
    "Exit status: 0 when the result is 0, 1 otherwise, 2 for bad usage.\n";

bool IsHelp(const std::string& a) {
    return a == "--help" || a == "-h";
}

// The described routine reads any text (a pair that is not hex counts as 00); what a user types
// here is meant as hex, so anything else is a typing error, not a CRC.
bool IsHexText(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
}

int RunCrc(const std::vector<std::string>& args) {
    std::string problem;
    const auto parsed =
        CommandLineOptions::Parse(args, {{"--help", CommandLineOptions::TakesValue::No}}, &problem);
    if (!parsed) return cli::UsageError("crc", problem);
    if (!parsed->options.empty()) {
        std::fputs(kCrcUsage, stdout);
        return kExitOk;
    }
    if (parsed->positional.size() != 1) return cli::UsageError("crc", "crc takes exactly one HEXTEXT");
    const std::string& text = parsed->positional[0];
    if (!IsHexText(text))
        return cli::UsageError("crc", "HEXTEXT must be hexadecimal digits (0-9, A-F), not \"" + text + "\"");
    std::printf("%02X\n", Orodja::HexFrameCrc8(text));
    return kExitOk;
}

int RunSend(const std::vector<std::string>& args) {
    std::string problem;
    const auto parsed = cli::ParseSendArguments(args, &problem);
    if (!parsed) return cli::UsageError("send", problem);
    if (parsed->help) {
        std::fputs(kSendUsage, stdout);
        return kExitOk;
    }

    cli::Invocation inv;
    inv.subcommand = "send";
    inv.ports = parsed->ports;
    inv.json = parsed->json;
    const cli::Command cmd(inv);
    namespace shared = K310_BiSS_bidirectional;
    std::string port;
    if (parsed->ports.empty()) {
        AdapterDiscovery::Result found;
        std::string error;
        if (!cmd.Connect(found, error)) return cmd.Fail(error);
        port = found.port.path;
    } else {
        // A named port is opened as it is, without the adapter's greeting: send is how a port
        // that does not answer as an adapter is looked at.
        std::string error;
        for (const std::string& path : parsed->ports) {
            shared::PortHandle = cli::OpenAdapterPort(path, &error);
            if (shared::PortHandle.IsValid()) {
                port = path;
                break;
            }
        }
        if (!shared::PortHandle.IsValid()) return cmd.Fail(error);
    }
    std::string reply;
    const int32_t result = Serial_driver::SendCommandPaced(shared::PortHandle, parsed->command, parsed->pace,
                                                           parsed->minReply, reply);
    if (parsed->json) {
        std::printf("%s\n", cli::JsonObject()
                                .Add("ok", result == 0)
                                .Add("port", port)
                                .Add("result", result)
                                .Add("reply", reply)
                                .Text()
                                .c_str());
    } else {
        std::printf("result %d\nreply %s\n", result, cli::EscapeBytes(reply).c_str());
    }
    return result == 0 ? kExitOk : kExitFailure;
}

} // namespace

static int Dispatch(std::vector<std::string> args) {
    if (!args.empty()) args.erase(args.begin()); // the program's own name
    const std::string mainUsage = MainUsage();
    if (args.empty()) return cli::UsageError("", "a SUBCOMMAND is required");
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
#ifdef TARVO_HAVE_RESULTS
    if (sub == "results") return cli::RunResults(args);
#endif
    return cli::UsageError("", "unknown subcommand " + sub);
}

int main(int argc, char** argv) {
    // Before anything is opened: a closed standard stream would otherwise become the port.
    if (!platform::EnsureStandardDescriptors()) return kExitFailure;
    platform::IgnoreBrokenPipe();
    platform::PrintUtf8OnConsole();
    // UTF-8 from here on, also on Windows: a --dir with letters outside the ANSI code page arrives
    // intact.
    return cli::FinishOutput(Dispatch(platform::ProgramArguments(argc, argv)));
}
