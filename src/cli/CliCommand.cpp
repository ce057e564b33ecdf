#include "CliCommand.h"

#include "CliOutput.h"
#include "CliText.h"
#include "CommandLineOptions.h"
#include "K310_BiSS_bidirectional.h"
#include "K310_SPI_Velcor.h"
#include "Serial_driver.h"

#include <cstdio>

namespace cli {

namespace shared = K310_BiSS_bidirectional;

std::optional<Invocation> Parse(const std::vector<std::string>& args, const std::vector<OptionSpec>& specs,
                                std::string* problem) {
    using CommandLineOptions::TakesValue;
    std::vector<CommandLineOptions::Spec> all = {
        {"--help", TakesValue::No}, {"--json", TakesValue::No}, {"--port", TakesValue::Yes}};
    for (const OptionSpec& s : specs)
        all.push_back({s.name, s.takesValue ? TakesValue::Yes : TakesValue::No});
    const auto parsed = CommandLineOptions::Parse(args, all, problem);
    if (!parsed) return std::nullopt;
    Invocation inv;
    inv.positional = parsed->positional;
    for (const CommandLineOptions::Option& o : parsed->options) {
        if (o.name == "--help")
            inv.help = true;
        else if (o.name == "--json")
            inv.json = true;
        else if (o.name == "--port")
            inv.ports.push_back(o.value);
        else
            inv.options[o.name] = o.value;
    }
    return inv;
}

std::optional<long long> ParseSigned(const std::string& text, long long min, long long max) {
    const bool negative = !text.empty() && text[0] == '-';
    const auto magnitude = ParseNumber(negative ? std::string_view(text).substr(1) : std::string_view(text),
                                       static_cast<unsigned long long>(negative ? -min : max));
    if (!magnitude) return std::nullopt;
    const long long value =
        negative ? -static_cast<long long>(*magnitude) : static_cast<long long>(*magnitude);
    if (value < min || value > max) return std::nullopt;
    return value;
}

int Command::Usage(const std::string& problem) const {
    return UsageError(inv_.subcommand, problem);
}

int UsageError(const std::string& subcommand, const std::string& problem) {
    std::fprintf(stderr, "tarvo-cli: %s\n%s\n", TerminalText(problem).c_str(),
                 CommandLineOptions::TryHelpLine("tarvo-cli", subcommand).c_str());
    return kExitUsage;
}

int Command::Fail(const std::string& reason, JsonObject extra) const {
    if (json()) {
        JsonObject out;
        out.Add("ok", false).Add("LastErrorText", reason).Add("ErrComm", shared::EncoderPosition.ErrComm);
        std::printf("%s\n", out.Append(extra).Text().c_str());
    } else {
        std::fprintf(stderr, "tarvo-cli: %s\n",
                     TerminalText(K310_SPI_Velcor::WithReplyAsSent(reason)).c_str());
    }
    return kExitFailure;
}

int Command::Succeed(const JsonObject& object, const Lines& lines) const {
    if (json()) {
        JsonObject out;
        out.Add("ok", true);
        std::printf("%s\n", out.Append(object).Text().c_str());
    } else {
        for (const auto& [name, value] : lines)
            std::printf("%s: %s\n", name.c_str(), TerminalText(value).c_str());
    }
    return kExitOk;
}

bool Command::Connect(AdapterDiscovery::Result& found, std::string& reason) const {
    const AdapterDiscovery::CandidateSource source =
        inv_.ports.empty()
            ? AdapterDiscovery::CandidateSource(AdapterDiscovery::SystemCandidates)
            : AdapterDiscovery::CandidateSource([] { return std::vector<AdapterDiscovery::Candidate>{}; });
    found = AdapterDiscovery::FindAdapter(inv_.ports, source);
    if (!found.found) {
        reason = "no K310-7K adapter found";
        if (found.tried.empty())
            reason += " (no USB serial port of the K310-7K adapter (ttyACM on Linux, COM on Windows); give "
                      "one with --port PATH)";
        for (const auto& rejection : found.rejected)
            reason += "\n  " + AdapterDiscovery::RejectionText(rejection);
        return false;
    }
    shared::PortHandle = found.handle;
    return true;
}

bool Prepare(const Command& cmd, bool identify, int* exit, AdapterDiscovery::Result* out) {
    AdapterDiscovery::Result found;
    std::string reason;
    if (!cmd.Connect(found, reason)) {
        *exit = cmd.Fail(reason);
        return false;
    }
    if (out) *out = found;
    if (identify && !K310_SPI_Velcor::ReadEncoderSignature()) {
        *exit = cmd.Fail(shared::LastErrorText.empty() ? "identification failed" : shared::LastErrorText);
        return false;
    }
    return true;
}

const Subcommand* FindSubcommand(const std::vector<Subcommand>& table, const std::string& name) {
    for (const Subcommand& s : table)
        if (name == s.name) return &s;
    return nullptr;
}

int RunSubcommand(const std::vector<Subcommand>& table, const std::string& name,
                  const std::vector<std::string>& args) {
    const Subcommand* s = FindSubcommand(table, name);
    if (!s) return kExitUsage;
    std::string problem;
    auto inv = Parse(args, s->options, &problem);
    if (!inv) return UsageError(name, problem);
    if (inv->help) {
        std::fputs(s->usage, stdout);
        return kExitOk;
    }
    inv->subcommand = name;
    return s->run(Command(*inv));
}

int32_t Transaction(const std::string& command, std::string& reply) {
    reply.clear();
    return Serial_driver::SendCommand(shared::PortHandle, command, 0, reply);
}

std::string Dec(long long v) {
    return std::to_string(v);
}

std::string HexText(unsigned long long v, int digits) {
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "%0*llX", digits, v);
    return buffer;
}

std::string YesNo(bool b) {
    return b ? "true" : "false";
}

} // namespace cli
