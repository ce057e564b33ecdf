// The reply to a register read ("R:"), as the adapter may send it: any bytes.
#include "FuzzSupport.h"
#include "K310_BiSS_bidirectional.h"
#include "K310_SPI_Velcor.h"
#include "Orodja.h"

namespace shared = K310_BiSS_bidirectional;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    shared::ResetSharedState();
    K310_SPI_Velcor::ResetVelcorState();
    const std::string command = "R:0004:00000080";
    const std::string reply = Orodja::RemoveSpaces(fuzz::Bytes(data, size));
    FUZZ_CHECK(reply.find(' ') == std::string::npos);

    const bool ok = K310_SPI_Velcor::DecodeReadReply(command, reply);
    if (ok) {
        FUZZ_CHECK(reply.size() == 14 && fuzz::StartsWith(reply, "0x9:"));
        FUZZ_CHECK(shared::LastErrorText.empty());
        for (size_t i = 0; i < 4; ++i) {
            const int hi = fuzz::HexValue(reply[6 + 2 * i]);
            const int lo = fuzz::HexValue(reply[7 + 2 * i]);
            FUZZ_CHECK(hi >= 0 && lo >= 0);
            FUZZ_CHECK(shared::RegisterData[i] == hi * 16 + lo);
        }
    } else {
        // Every refusal quotes what was sent and what came back, and leaves no value behind.
        FUZZ_CHECK(fuzz::EndsWith(shared::LastErrorText, command + " RCV: " + reply));
        for (uint8_t b : shared::RegisterData)
            FUZZ_CHECK(b == 0);
    }
    for (size_t i = 4; i < shared::RegisterData.size(); ++i)
        FUZZ_CHECK(shared::RegisterData[i] == 0);
    return 0;
}
