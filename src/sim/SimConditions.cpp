// The encoder's error and warning conditions, set on demand, and the status words they make
// in each register layout.
#include "SimDevice.h"

namespace sim {

uint16_t LegacyStatusWord(uint32_t c) {
    uint16_t w = 0;
    if (c & kErrMultiturn) w |= 0x8000;
    if (c & kWarnSignalHigh) w |= 0x0080;
    if (c & kWarnSignalLow) w |= 0x0040;
    if (c & kErrSignalLost) w |= 0x0020;
    if (c & kWarnTemperature) w |= 0x0010;
    if (c & kErrPower) w |= 0x0008;
    if (c & kErrSystem) w |= 0x0004;
    if (c & kErrConfiguration) w |= 0x0400;
    if (c & kErrMagneticPattern) w |= 0x0202;
    if (c & kWarnMagneticPattern) w |= 0x0102;
    if (c & kErrAcceleration) w |= 0x0201;
    if (c & kWarnHighSpeed) w |= 0x0101;
    return w;
}

uint16_t NewStatusWord(uint32_t c) {
    uint16_t w = 0;
    if (c & kWarnTemperature) w |= 0x4000;
    if (c & kWarnSignalLow) w |= 0x2000;
    if (c & kWarnSignalHigh) w |= 0x1000;
    if (c & kWarnMagneticPattern) w |= 0x0800;
    if (c & kWarnHighSpeed) w |= 0x0400;
    if (c & kErrMultiturn) w |= 0x0200;
    if (c & kErrAcceleration) w |= 0x0100;
    if (c & kErrMagneticPattern) w |= 0x0080;
    if (c & kErrSignalLost) w |= 0x0040;
    if (c & kErrSystem) w |= 0x0010;
    if (c & kErrPower) w |= 0x0008;
    if (c & kErrConfiguration) w |= 0x0004;
    return w;
}

uint16_t SimDevice::StatusWord() const {
    return variant_.NewLayout() ? NewStatusWord(persistent_) : LegacyStatusWord(persistent_);
}

uint16_t SimDevice::CurrentStatusWord() const {
    return variant_.NewLayout() ? NewStatusWord(conditions_) : LegacyStatusWord(conditions_);
}

void SimDevice::SetConditions(uint32_t mask, bool on) {
    if (on) {
        conditions_ |= mask;
        persistent_ |= mask;
    } else {
        conditions_ &= ~mask;
    }
}

} // namespace sim
