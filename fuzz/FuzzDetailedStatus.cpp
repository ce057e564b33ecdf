// The "d" report as received. The first byte picks the resolution an identification would have
// left; the rest is the reply.
#include "FuzzEncoder.h"
#include "FuzzSupport.h"
#include "K310_BiSS_bidirectional.h"
#include "K310_SPI_Velcor.h"
#include "Orodja.h"

namespace shared = K310_BiSS_bidirectional;
namespace velcor = K310_SPI_Velcor;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    fuzz::IdentifiedEncoder(static_cast<uint8_t>(1 + data[0] % 6), data[0] / 6, (data[0] & 0x80) ? 16 : 0);

    shared::TEncoderPosition& pos = shared::EncoderPosition;
    pos.MT_value = -5;
    pos.RxData = fuzz::Bytes(data + 1, size - 1);
    const bool ok = velcor::DecodeDetailedStatus();
    FUZZ_CHECK(pos.RxData == Orodja::KeepPrintable(fuzz::Bytes(data + 1, size - 1)));
    FUZZ_CHECK(ok == (pos.RxData.size() == 15 || pos.RxData.size() == 22));
    if (!ok) {
        FUZZ_CHECK(fuzz::StartsWith(shared::LastErrorText, "Nepravilna dol"));
        return 0;
    }
    FUZZ_CHECK(pos.ErrBit == (pos.Status != 0) && pos.WarnBit == pos.ErrBit);
    FUZZ_CHECK(!pos.ErrCRC && pos.ExtTemperature == 0);
    if (pos.RxData.size() == 15) {
        FUZZ_CHECK(pos.MT_value == -5);
        FUZZ_CHECK(pos.MTST_value >= 0 && pos.MTST_value <= 0xFFFFFF);
        FUZZ_CHECK(pos.ST_value <= velcor::SingleTurnMask);
    } else {
        FUZZ_CHECK(pos.MT_value >= -32768 && pos.MT_value <= 32767);
        FUZZ_CHECK(pos.ST_value <= 0xFFFFFF);
    }
    return 0;
}
