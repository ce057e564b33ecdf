// Small stateless routines shared by every layer: cleaning adapter replies, number-to-text
// conversions and the frame checksum. Texts here are byte strings; a byte is one character
// (Latin-1), so what the adapter sends is handled byte for byte.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace Orodja {

// Lowest `width` bits of `value`, most significant first; empty for width <= 0.
std::string ToBinaryText(int32_t width, int64_t value);

// Trim (codes <= 32 at both ends), then drop the blanks left inside.
std::string RemoveSpaces(std::string_view text);

// Trim, then keep only codes 32..126 (inner blanks stay).
std::string KeepPrintable(std::string_view text);

// Trim, then keep only A-Z, a-z and 0-9.
std::string KeepAlphanumeric(std::string_view text);

// Decimal text of `value`, padded with '0' to `width` only for widths 1..4.
std::string ZeroPadded(int32_t value, int32_t width);

// Remove every leading and trailing character whose code is 32 or less.
std::string Trim(std::string_view text);

// CRC-8, polynomial 0x97, MSB first, init 0, no reflection, no final XOR.
uint8_t Crc8(const uint8_t* data, size_t length);
uint8_t Crc8(std::string_view bytes);

// CRC-8 over the bytes spelt by a text of hex digit pairs; a lone last digit is the high half
// of its byte and a pair that is not hex counts as 0x00.
uint8_t HexFrameCrc8(std::string_view hexText);

} // namespace Orodja
