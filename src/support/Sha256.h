// SHA-256 (FIPS 180-4) of a byte string, for the content hash that ties a commissioning run to
// the exact plan file it ran.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace Sha256 {

// The digest of `bytes`, 32 bytes.
std::array<uint8_t, 32> Digest(std::string_view bytes);

// The digest as 64 lower-case hex digits.
std::string Sha256Hex(std::string_view bytes);

} // namespace Sha256

using Sha256::Sha256Hex;
