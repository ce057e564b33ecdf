// Position frames ("?04:000", "?06:000") by frame layout, and the short "d" report.
#include "SimDevice.h"

#include "Orodja.h"
#include "SimDeviceParts.h"

#include <algorithm>

namespace sim {

using detail::Hex;

void SimDevice::TrackSafety() {
    // The periodic margin is the lowest real-time margin seen since it was last reset.
    uint32_t rt = 0;
    if (variant_.FirmwareMajor4() && ReadRegister(0x10, 2, rt, lastTime_) == 0)
        safetyPer_ = std::min(safetyPer_, static_cast<int>(static_cast<int16_t>(rt)));
}

std::string SimDevice::PositionFrame(bool longFrame, double now) {
    int64_t turns = 0;
    const int64_t st = NoisyReading(now, turns);
    ++positionFrames_;
    TrackSafety();
    const int b = variant_.singleTurnBits;
    const bool error = (conditions_ & kErrorConditions) != 0;
    const bool warning = (conditions_ & kWarningConditions) != 0;
    // Error and warning bits are active low.
    const uint32_t d = (static_cast<uint32_t>(st) << (24 - b)) | (error ? 0 : 2u) | (warning ? 0 : 1u);
    std::string text;
    const int type = variant_.encoderType;
    const bool wordFrame = type == 3 || type == 4 || type == 5;
    if (longFrame) {
        uint16_t word = 0;
        if (!wordFrame) {
            word = variant_.multiturn ? static_cast<uint16_t>(turns) : 0;
        } else if (type == 3) {
            word = (error || warning) ? CurrentStatusWord() : static_cast<uint16_t>(externalRaw_);
        } else if (error) {
            word = CurrentStatusWord();
        } else {
            word = static_cast<uint16_t>(externalRaw_ & 0x7FF);
            if (conditions_ & kWarnTemperature) word |= 0x8000;
            if (conditions_ & kWarnSignalLow) word |= 0x4000;
            if (conditions_ & kWarnSignalHigh) word |= 0x2000;
            if (conditions_ & kWarnMagneticPattern) word |= 0x1000;
            if (conditions_ & kWarnHighSpeed) word |= 0x0800;
        }
        text = Hex(word, 4);
    }
    text += Hex(d, 6);
    uint8_t crc = Orodja::HexFrameCrc8(text);
    if (type == 1 || type == 6) crc = static_cast<uint8_t>(~crc);
    if (badCrcFrames_ > 0) {
        --badCrcFrames_;
        crc ^= 0x5A;
    }
    return text + Hex(crc, 2);
}

std::string SimDevice::DetailedReport(double now) {
    int64_t turns = 0;
    const int64_t st = NoisyReading(now, turns);
    const std::string status = Hex(CurrentStatusWord(), 4);
    if (variant_.multiturn)
        return "S:" + status + " M:" + Hex(static_cast<uint16_t>(turns), 4) +
               " P:" + Hex(static_cast<uint64_t>(st), 6);
    return "S:" + status + " P:" + Hex(static_cast<uint64_t>(st), 6);
}

} // namespace sim
