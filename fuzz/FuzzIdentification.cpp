// The reply to "j" as received: type, protocol version, resolution and part number.
#include "FuzzSupport.h"
#include "K310_BiSS_bidirectional.h"
#include "K310_SPI_Velcor.h"

#include <algorithm>
#include <cctype>

namespace shared = K310_BiSS_bidirectional;
namespace velcor = K310_SPI_Velcor;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    shared::ResetSharedState();
    velcor::ResetVelcorState();
    const std::string reply = fuzz::Bytes(data, size);
    const bool ok = velcor::DecodeIdentification(reply);

    std::string upper = reply;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; });
    if (upper.find("ERROR") != std::string::npos) FUZZ_CHECK(!ok);
    FUZZ_CHECK(shared::EncoderSignature.Dremo_PartNumber.size() <= 16);
    FUZZ_CHECK(fuzz::AllPrintable(shared::EncoderSignature.Dremo_PartNumber));
    if (!ok) {
        FUZZ_CHECK(!shared::LastErrorText.empty());
        return 0;
    }
    FUZZ_CHECK(velcor::EncoderType >= 1 && velcor::EncoderType <= 6);
    FUZZ_CHECK(velcor::VelcorVersion >= 1 && velcor::VelcorVersion <= 4);
    FUZZ_CHECK(velcor::SingleTurnBits >= 15 && velcor::SingleTurnBits <= 21);
    FUZZ_CHECK(velcor::SingleTurnCounts == int32_t{1} << velcor::SingleTurnBits);
    FUZZ_CHECK(velcor::SingleTurnMask == static_cast<uint32_t>(velcor::SingleTurnCounts) - 1);
    FUZZ_CHECK(velcor::MultiTurnBits == 0 || velcor::MultiTurnBits == 16);
    return 0;
}
