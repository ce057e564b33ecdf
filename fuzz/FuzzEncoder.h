// The encoder as an identification would have left it, for the targets that decode readings.
#pragma once

#include "K310_BiSS_bidirectional.h"
#include "K310_SPI_Velcor.h"

#include <cstdint>

namespace fuzz {

// The resolutions an identification gives, and 1, which a failed resolution leaves behind.
constexpr int32_t kSingleTurnBits[] = {15, 16, 17, 18, 19, 20, 21, 1};

// Fresh protocol state, then the encoder's type, the resolution picked by `bitsPick` from
// kSingleTurnBits, and its multiturn bits.
inline void IdentifiedEncoder(uint8_t type, unsigned bitsPick, int32_t multiTurnBits) {
    namespace velcor = K310_SPI_Velcor;
    K310_BiSS_bidirectional::ResetSharedState();
    velcor::ResetVelcorState();
    velcor::EncoderType = type;
    velcor::SingleTurnBits = kSingleTurnBits[bitsPick % 8];
    velcor::SingleTurnMask = (uint32_t{1} << velcor::SingleTurnBits) - 1;
    velcor::MultiTurnBits = multiTurnBits;
}

} // namespace fuzz
