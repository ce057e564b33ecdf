// A position frame as received, decoded by one frame layout (built once per layout, with
// POSITION_LAYOUT 'A', 'B' or 'C'). The first byte picks the encoder type and resolution that
// an identification would have left; the rest is the reply.
#include "FuzzEncoder.h"
#include "FuzzSupport.h"
#include "K310_BiSS_bidirectional.h"
#include "K310_SPI_Velcor.h"

#include <cctype>

#ifndef POSITION_LAYOUT
#error "POSITION_LAYOUT must be 'A', 'B' or 'C'"
#endif

namespace shared = K310_BiSS_bidirectional;
namespace velcor = K310_SPI_Velcor;

namespace {

// Layout A: types 1, 2, 6 single-turn; B: the same types multiturn; C: types 3, 4, 5
// single-turn, and (multiturn) the case that has no layout and must not be decoded.
constexpr uint8_t kTypes[] = {POSITION_LAYOUT == 'C' ? 3 : 1, POSITION_LAYOUT == 'C' ? 4 : 2,
                              POSITION_LAYOUT == 'C' ? 5 : 6};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t pick = data[0];
    const bool noLayout = POSITION_LAYOUT == 'C' && (pick & 0x80) != 0;
    fuzz::IdentifiedEncoder(kTypes[pick % 3], pick / 3, (POSITION_LAYOUT == 'B' || noLayout) ? 16 : 0);

    shared::TEncoderPosition& pos = shared::EncoderPosition;
    // What an earlier reading left, so fields that must be kept can be seen to be kept.
    const int32_t earlierMt = -1234;
    pos.MT_value = earlierMt;
    pos.ST_value = 0xDEAD;
    pos.MTST_value = 0xBEEF;
    pos.SenTemperature = 77;
    pos.SignalLevel = 88;
    pos.RxData = fuzz::Bytes(data + 1, size - 1);

    const bool ok = velcor::DecodePositionFrame();
    FUZZ_CHECK(fuzz::AllPrintable(pos.RxData));
    FUZZ_CHECK(pos.SenTemperature == 77 && pos.SignalLevel == 88);
    if (noLayout) {
        FUZZ_CHECK(ok && pos.ErrBit && pos.WarnBit && !pos.ErrCRC);
        FUZZ_CHECK(pos.MT_value == earlierMt && pos.ST_value == 0xDEAD && pos.MTST_value == 0xBEEF);
        return 0;
    }
    if (!ok) {
        // Only layout B refuses a frame: its 40-bit run must be hex throughout.
        FUZZ_CHECK(POSITION_LAYOUT == 'B');
        FUZZ_CHECK(fuzz::StartsWith(shared::LastErrorText, "Invalid position frame"));
        return 0;
    }
    // Only a whole frame of hex digits can pass its CRC check.
    if (!pos.ErrCRC) {
        const size_t frame = POSITION_LAYOUT == 'A' ? 8 : 12;
        FUZZ_CHECK(pos.RxData.size() >= frame);
        for (size_t i = 0; i < frame; ++i)
            FUZZ_CHECK(std::isxdigit(static_cast<unsigned char>(pos.RxData[i])));
    }
    const uint32_t mask = velcor::SingleTurnMask;
    FUZZ_CHECK(pos.ST_value <= mask);
    if (POSITION_LAYOUT == 'A') {
        FUZZ_CHECK(pos.MT_value == 0);
        FUZZ_CHECK(pos.MTST_value == pos.ST_value);
    } else if (POSITION_LAYOUT == 'B') {
        FUZZ_CHECK(pos.MT_value >= -32768 && pos.MT_value <= 32767);
        FUZZ_CHECK(pos.MTST_value == int64_t{pos.MT_value} * (int64_t{mask} + 1) + pos.ST_value);
    } else {
        FUZZ_CHECK(pos.MT_value == earlierMt);
        FUZZ_CHECK(pos.MTST_value >= 0 && pos.MTST_value <= int64_t{mask});
    }
    if (POSITION_LAYOUT != 'C') FUZZ_CHECK(pos.Status == 0 && pos.ExtTemperature == 0);
    if (POSITION_LAYOUT == 'C' && velcor::EncoderType != 3 && !pos.ErrBit)
        FUZZ_CHECK(pos.ExtTemperature >= 0 && pos.ExtTemperature <= 0x7FF);
    return 0;
}
