#include "CliCommand.h"

#include "CliOutput.h"
#include "CliText.h"
#include "K310_BiSS_bidirectional.h"
#include "K310_SPI_Velcor.h"
#include "Serial_driver.h"

#include <cstdio>

namespace cli {

namespace shared = K310_BiSS_bidirectional;

namespace {

// No value of ours begins with "--": there the value was left out and the next option follows.
bool HasValue(const std::vector<std::string>& args, size_t i) {
    return i + 1 < args.size() && args[i + 1].rfind("--", 0) != 0;
}

} // namespace

std::optional<Invocation> Parse(const std::vector<std::string>& args, const std::vector<OptionSpec>& specs,
                                std::string* problem) {
    Invocation inv;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            inv.help = true;
        } else if (a == "--json") {
            inv.json = true;
        } else if (a == "--port") {
            if (!HasValue(args, i)) {
                *problem = "--port needs a PATH";
                return std::nullopt;
            }
            inv.ports.push_back(args[++i]);
        } else if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
            const OptionSpec* spec = nullptr;
            for (const OptionSpec& s : specs)
                if (a == s.name) spec = &s;
            if (!spec) {
                *problem = "unknown option " + a;
                return std::nullopt;
            }
            if (spec->takesValue) {
                if (!HasValue(args, i)) {
                    *problem = a + " needs a value";
                    return std::nullopt;
                }
                inv.options[a] = args[++i];
            } else {
                inv.options[a] = "";
            }
        } else {
            inv.positional.push_back(a);
        }
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
    std::fprintf(stderr, "tarvo-cli: %s\n", problem.c_str());
    std::fputs(usage_, stderr);
    return kExitUsage;
}

int Command::Fail(const std::string& reason, JsonObject extra) const {
    if (json()) {
        JsonObject out;
        out.Add("ok", false).Add("LastErrorText", reason).Add("ErrComm", shared::EncoderPosition.ErrComm);
        const std::string more = extra.Text();
        std::string text = out.Text();
        if (more.size() > 2) text = text.substr(0, text.size() - 1) + "," + more.substr(1);
        std::printf("%s\n", text.c_str());
    } else {
        std::fprintf(stderr, "tarvo-cli: %s\n", TerminalText(reason).c_str());
    }
    return kExitFailure;
}

int Command::Succeed(const JsonObject& object, const Lines& lines) const {
    if (json()) {
        JsonObject out;
        out.Add("ok", true);
        const std::string more = object.Text();
        std::string text = out.Text();
        if (more.size() > 2) text = text.substr(0, text.size() - 1) + "," + more.substr(1);
        std::printf("%s\n", text.c_str());
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
        if (found.tried.empty()) reason += " (no USB CDC ACM port; give one with --port PATH)";
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
    const auto inv = Parse(args, s->options, &problem);
    if (!inv) return Command(s->usage, {}).Usage(problem);
    if (inv->help) {
        std::fputs(s->usage, stdout);
        return kExitOk;
    }
    return s->run(Command(s->usage, *inv));
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
