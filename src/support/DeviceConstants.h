// Constants of the encoder family that both the device side (simulator) and the host side
// (protocol, window) must agree on. Defined once, here.
#pragma once

#include <cstdint>

namespace Orodja {

// One-byte access code that unlocks the encoder's debug registers when written to 0x49
// (and, for firmware major 4, latches a debug record when written to COMMAND).
constexpr uint8_t kDebugUnlockCode = 0xA5;

} // namespace Orodja
