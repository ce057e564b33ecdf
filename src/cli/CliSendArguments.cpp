#include "CliSendArguments.h"

#include "CliText.h"
#include "CommandLineOptions.h"

namespace cli {

std::optional<SendArguments> ParseSendArguments(const std::vector<std::string>& args, std::string* problem) {
    using CommandLineOptions::TakesValue;
    auto fail = [&](std::string reason) -> std::optional<SendArguments> {
        *problem = std::move(reason);
        return std::nullopt;
    };
    const auto parsed = CommandLineOptions::Parse(args,
                                                  {{"--help", TakesValue::No},
                                                   {"--json", TakesValue::No},
                                                   {"--port", TakesValue::Yes},
                                                   {"--min-reply", TakesValue::Yes},
                                                   {"--pace", TakesValue::Yes}},
                                                  problem);
    if (!parsed) return std::nullopt;
    SendArguments out;
    for (const CommandLineOptions::Option& o : parsed->options) {
        if (o.name == "--help") {
            out.help = true;
            return out;
        }
        if (o.name == "--json") {
            out.json = true;
        } else if (o.name == "--port") {
            out.ports.push_back(o.value);
        } else if (o.name == "--min-reply") {
            const auto n = ParseNumber(o.value, 0xFFFFFFFFull);
            if (!n) return fail("--min-reply needs a number 0..4294967295");
            out.minReply = static_cast<uint32_t>(*n);
        } else if (o.name == "--pace") {
            const auto n = ParseNumber(o.value, 255);
            if (!n) return fail("--pace needs a number of milliseconds 0..255");
            out.pace = static_cast<uint8_t>(*n);
        }
    }
    if (parsed->positional.empty()) return fail("COMMAND is missing");
    if (parsed->positional.size() > 1) return fail("only one COMMAND may be given");
    const auto c = UnescapeBytes(parsed->positional[0]);
    if (!c) return fail("malformed escape in COMMAND");
    out.command = *c;
    return out;
}

} // namespace cli
