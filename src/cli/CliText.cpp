#include "CliText.h"

#include <cstdio>

namespace cli {

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace

std::string EscapeBytes(std::string_view bytes) {
    std::string out;
    for (char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (c < 32 || c > 126) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        } else {
            out.push_back(ch);
        }
    }
    return out;
}

std::optional<std::string> UnescapeBytes(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out.push_back(text[i]);
            continue;
        }
        if (++i >= text.size()) return std::nullopt;
        switch (text[i]) {
        case 'r':
            out.push_back('\r');
            break;
        case 'n':
            out.push_back('\n');
            break;
        case 't':
            out.push_back('\t');
            break;
        case '0':
            out.push_back('\0');
            break;
        case '\\':
            out.push_back('\\');
            break;
        case '"':
            out.push_back('"');
            break;
        case 'x': {
            if (i + 2 >= text.size()) return std::nullopt;
            const int hi = HexValue(text[i + 1]);
            const int lo = HexValue(text[i + 2]);
            if (hi < 0 || lo < 0) return std::nullopt;
            out.push_back(static_cast<char>(hi * 16 + lo));
            i += 2;
            break;
        }
        default:
            return std::nullopt;
        }
    }
    return out;
}

std::optional<unsigned long long> ParseNumber(std::string_view text, unsigned long long max) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) return std::nullopt;
    unsigned long long value = 0;
    for (char c : text) {
        const int d = HexValue(c);
        if (d < 0 || d >= base) return std::nullopt;
        // A digit above `max` would wrap the bound below.
        if (static_cast<unsigned long long>(d) > max ||
            value > (max - static_cast<unsigned long long>(d)) / static_cast<unsigned long long>(base))
            return std::nullopt;
        value = value * static_cast<unsigned long long>(base) + static_cast<unsigned long long>(d);
    }
    return value;
}

} // namespace cli
