#include "CliSendArguments.h"

#include "CliText.h"

namespace cli {

std::optional<SendArguments> ParseSendArguments(const std::vector<std::string>& args, std::string* problem) {
    SendArguments out;
    bool haveCommand = false;
    auto fail = [&](std::string reason) -> std::optional<SendArguments> {
        *problem = std::move(reason);
        return std::nullopt;
    };
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            out.help = true;
            return out;
        }
        // No value of ours begins with "--": there the value was left out.
        const std::string* value =
            i + 1 < args.size() && args[i + 1].rfind("--", 0) != 0 ? &args[i + 1] : nullptr;
        if (a == "--port") {
            if (!value) return fail("--port needs a PATH");
            out.port = *value;
            ++i;
        } else if (a == "--min-reply") {
            const auto n = value ? ParseNumber(*value, 0xFFFFFFFFull) : std::nullopt;
            if (!n) return fail("--min-reply needs a number 0..4294967295");
            out.minReply = static_cast<uint32_t>(*n);
            ++i;
        } else if (a == "--pace") {
            const auto n = value ? ParseNumber(*value, 255) : std::nullopt;
            if (!n) return fail("--pace needs a number of milliseconds 0..255");
            out.pace = static_cast<uint8_t>(*n);
            ++i;
        } else if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
            return fail("unknown option " + a);
        } else if (!haveCommand) {
            const auto c = UnescapeBytes(a);
            if (!c) return fail("malformed escape in COMMAND");
            out.command = *c;
            haveCommand = true;
        } else {
            return fail("only one COMMAND may be given");
        }
    }
    if (out.port.empty()) return fail("--port PATH is required");
    if (!haveCommand) return fail("COMMAND is missing");
    return out;
}

} // namespace cli
