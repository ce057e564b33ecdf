// tarvo-cli's argument reading: an argument list (the input's parts between NUL bytes) goes
// through the same choices main() makes before it opens any port, and every argument through
// the number and escape readers the subcommands share.
#include "CliSendArguments.h"
#include "CliText.h"
#include "FuzzSupport.h"
#include "Orodja.h"

#include <algorithm>
#include <charconv>

namespace {

// ParseNumber against the standard library's reading of the same digits.
void CheckNumber(const std::string& text, unsigned long long max) {
    const auto parsed = cli::ParseNumber(text, max);
    std::string_view digits = text;
    int base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits.remove_prefix(2);
    }
    unsigned long long expected = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), expected, base);
    const bool valid = !digits.empty() && error == std::errc() && end == digits.data() + digits.size() &&
                       (digits[0] != '+' && digits[0] != '-') && expected <= max;
    FUZZ_CHECK(parsed.has_value() == valid);
    if (parsed) FUZZ_CHECK(*parsed == expected);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> args = fuzz::SplitAtNul(fuzz::Bytes(data, size));
    for (const std::string& a : args) {
        CheckNumber(a, 255);
        CheckNumber(a, 0xFFFFFFFFull);
        // Whatever the escaper writes, the unescaper reads back byte for byte.
        const auto back = cli::UnescapeBytes(cli::EscapeBytes(a));
        FUZZ_CHECK(back && *back == a);
        cli::UnescapeBytes(a);
    }

    const std::string sub = args.front();
    args.erase(args.begin());
    if (sub == "crc" && args.size() == 1) {
        Orodja::HexFrameCrc8(args[0]);
    } else if (sub == "send") {
        std::string problem;
        const auto parsed = cli::ParseSendArguments(args, &problem);
        if (!parsed) {
            FUZZ_CHECK(!problem.empty());
        } else if (!parsed->help) {
            // Every port was given, in one of the two forms.
            for (const std::string& port : parsed->ports)
                FUZZ_CHECK(std::any_of(args.begin(), args.end(), [&](const std::string& a) {
                    return a == port || a == "--port=" + port;
                }));
        }
    }
    return 0;
}
