// C-style escaping of byte strings, so replies with any byte fit on one line of output and
// commands with control bytes can be typed.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace cli {

// \r, \n, \\ and \xHH for every other byte outside 32..126.
std::string EscapeBytes(std::string_view bytes);
// Inverse of EscapeBytes, also accepting \t, \0 and \" ; nullopt on a malformed escape.
std::optional<std::string> UnescapeBytes(std::string_view text);
// Decimal or 0x-hex unsigned number; nullopt when not a number or out of range.
std::optional<unsigned long long> ParseNumber(std::string_view text, unsigned long long max);

} // namespace cli
