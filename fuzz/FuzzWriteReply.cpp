// The replies to a register write ("W:") and to the protocol reset ("x") before it: any bytes.
#include "FuzzSupport.h"
#include "K310_BiSS_bidirectional.h"
#include "K310_SPI_Velcor.h"
#include "Orodja.h"

namespace shared = K310_BiSS_bidirectional;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    shared::ResetSharedState();
    K310_SPI_Velcor::ResetVelcorState();
    const std::string raw = fuzz::Bytes(data, size);

    const std::string command = "W:0002:00000012:00007D00";
    const std::string reply = Orodja::RemoveSpaces(raw);
    if (K310_SPI_Velcor::DecodeWriteReply(command, reply)) {
        FUZZ_CHECK((reply.size() == 3 || reply.size() == 4) && fuzz::StartsWith(reply, "0x9"));
        FUZZ_CHECK(shared::LastErrorText.empty());
    } else {
        FUZZ_CHECK(fuzz::EndsWith(shared::LastErrorText, command + " RCV: " + reply));
    }

    const bool reset = K310_SPI_Velcor::DecodeResetReply(raw);
    FUZZ_CHECK(shared::LastErrorText == Orodja::Trim(raw));
    FUZZ_CHECK(reset == (shared::LastErrorText == "Reset of Velcor protocol performed"));
    return 0;
}
