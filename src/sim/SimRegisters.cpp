// Register reads and writes as the encoder answers them, the COMMAND register's codes, and
// the adapter's "R:" and "W:" replies with their error codes.
#include "SimDevice.h"

#include "DeviceConstants.h"
#include "SimDeviceParts.h"

#include <cmath>

namespace sim {

using detail::ErrorCode;
using detail::Hex;
using detail::kPi;
using detail::Lookup;
using detail::Reg;
using detail::RegInfo;

int SimDevice::ReadRegister(uint32_t address, int length, uint32_t& value, double now) {
    value = 0;
    RegInfo r;
    if (!Lookup(variant_, address, false, r)) return 0x26;
    if (length != r.width) return 0xEE;
    if (!r.readable) return 0x96;
    if (r.debug && !debugUnlocked_) return 0x96;
    Advance(now);
    const auto& v = variant_;
    switch (r.reg) {
    case Reg::PositionOffset:
        value = ram_.positionOffset;
        break;
    case Reg::PositionFilter:
        value = ram_.positionFilter;
        break;
    case Reg::MtErrThreshold:
        value = ram_.mtErrThreshold;
        break;
    case Reg::PersistentStatus:
        value = StatusWord();
        break;
    case Reg::SignalLevel:
        value = static_cast<uint32_t>(std::nearbyint(SignalLevel(now)));
        break;
    case Reg::SensorTemp:
        value = static_cast<uint16_t>(static_cast<int16_t>(sensorTemp_));
        break;
    case Reg::SelfCalStatus:
        value = SelfCalStatusValue();
        break;
    case Reg::SelfCalArc:
        value = ram_.selfCalArc;
        break;
    case Reg::SelfCalTimeout:
        value = ram_.selfCalTimeout;
        break;
    case Reg::Eccentricity:
        value = eccentricity_;
        break;
    case Reg::EccPhase:
        value = eccPhase_;
        break;
    case Reg::RadialShift:
        value = static_cast<uint16_t>(radialShift_);
        break;
    case Reg::FwMajor:
        value = static_cast<uint32_t>(v.fwMajor);
        break;
    case Reg::FwMinor:
        value = static_cast<uint32_t>(v.fwMinor);
        break;
    case Reg::FwComm:
        value = static_cast<uint32_t>(v.fwComm);
        break;
    case Reg::FwSvn:
        value = v.fwSvnWidth == 2 ? (v.fwSvn & 0xFFFF) : v.fwSvn;
        break;
    case Reg::FwHash:
        value = v.fwHash;
        break;
    case Reg::SerialWord:
    case Reg::SerialTail: {
        const size_t first = r.reg == Reg::SerialTail ? 16 : static_cast<size_t>(4 * r.index);
        const int n = r.reg == Reg::SerialTail ? 2 : 4;
        for (int i = 0; i < n; ++i) {
            const size_t at = first + static_cast<size_t>(i);
            value = (value << 8) | static_cast<uint8_t>(at < v.serial.size() ? v.serial[at] : ' ');
        }
        break;
    }
    case Reg::ErrorMap: {
        const uint16_t e = static_cast<uint16_t>(errorMap_[static_cast<size_t>(r.index)]);
        // Firmware 2 delivers the map's bytes the other way round.
        value = v.FirmwareMajor2() ? static_cast<uint32_t>(((e & 0xFF) << 8) | (e >> 8)) : e;
        break;
    }
    case Reg::WriteAccessStatus:
        value = writeAccessStatus_;
        break;
    case Reg::SafetyRt: {
        int64_t turns = 0;
        const int64_t st = NoisyReading(now, turns);
        const double theta = 2.0 * kPi * static_cast<double>(st) / v.SingleTurnCounts();
        value = static_cast<uint16_t>(
            static_cast<int16_t>(28000 + std::nearbyint(900.0 * std::sin(3.0 * theta))));
        break;
    }
    case Reg::SafetyPer:
        value = static_cast<uint16_t>(static_cast<int16_t>(safetyPer_));
        break;
    case Reg::PowerCycles:
        value = powerCycles_;
        break;
    case Reg::OperatingTime:
        value = operatingMinutesBase_ + static_cast<uint32_t>(operatingSeconds_ / 60.0);
        break;
    case Reg::OpTempMin:
        value = static_cast<uint8_t>(static_cast<int8_t>(tempMin_));
        break;
    case Reg::OpTempMax:
        value = static_cast<uint16_t>(static_cast<int16_t>(tempMax_));
        break;
    case Reg::DebugBlock: {
        const size_t at = static_cast<size_t>(4 * r.index);
        value = (uint32_t{debugBlock_[at]} << 24) | (uint32_t{debugBlock_[at + 1]} << 16) |
                (uint32_t{debugBlock_[at + 2]} << 8) | debugBlock_[at + 3];
        break;
    }
    case Reg::DebugWords:
        value = (uint32_t{static_cast<uint16_t>(debugSamples_[static_cast<size_t>(2 * r.index)])} << 16) |
                static_cast<uint16_t>(debugSamples_[static_cast<size_t>(2 * r.index + 1)]);
        break;
    case Reg::DebugCodeA:
        value = debugCodeA_;
        break;
    case Reg::DebugCodeB:
        value = debugCodeB_;
        break;
    case Reg::DebugDcdTrs:
        value = uint32_t{debugDcdTrs_} << 24;
        break;
    case Reg::DebugDcdWrn:
        value = uint32_t{debugDcdWrn_} << 24;
        break;
    case Reg::DebugDecodSelect:
        value = uint32_t{debugDecodSelect_} << 24;
        break;
    default:
        return 0x96;
    }
    return 0;
}

int SimDevice::PeekRegister(uint32_t address, int length, uint32_t& value, double now) {
    return ReadRegister(address, length, value, now);
}

int SimDevice::Command(uint8_t code, double now, std::string& special) {
    if (code == Orodja::kDebugUnlockCode) {
        if (variant_.FirmwareMajor4()) {
            // Firmware 4 takes the code on COMMAND as "latch now".
            if (!debugUnlocked_) return 0x96;
            LatchDebug(now);
            return 0;
        }
        debugUnlocked_ = true;
        return 0;
    }
    switch (code) {
    case 0x41:
        StartSelfCal(now);
        // Firmware 2 is busy calibrating before it can acknowledge the command.
        if (variant_.FirmwareMajor2()) special = "ERROR no acknowledge after 3 retries";
        return 0;
    case 0x62:
        persistent_ = conditions_;
        return 0;
    case 0x63:
        nvram_ = ram_;
        return 0;
    case 0x6D: {
        int64_t turns = 0;
        const double noise = noiseCounts_;
        noiseCounts_ = 0;
        NoisyReading(now, turns);
        noiseCounts_ = noise;
        // The preset is a 16-bit turn count, read back as signed in the frame.
        turnAdjust_ += static_cast<int16_t>(mtPreset_ & 0xFFFF) - turns;
        return 0;
    }
    case 0x72:
        ram_ = nvram_ = factory_;
        selfCal_.resultBits &= ~uint32_t{variant_.NewLayout() ? 0x100000u : 0x40u};
        return 0;
    default:
        return 0x56;
    }
}

int SimDevice::WriteRegister(uint32_t address, int length, uint32_t value, double now, std::string& special) {
    RegInfo r;
    if (!Lookup(variant_, address, true, r)) return 0x26;
    if (length != r.width) return 0xEE;
    if (!r.writable) return 0x96;
    Advance(now);
    const uint32_t widthMax = r.width == 4 ? 0xFFFFFFFFu : (1u << (8 * r.width)) - 1;
    if (value > widthMax) return 0x56;
    switch (r.reg) {
    case Reg::PositionOffset:
        if (value >= static_cast<uint32_t>(variant_.SingleTurnCounts())) return 0x56;
        ram_.positionOffset = value;
        return 0;
    case Reg::PositionFilter:
        if (value > 255) return 0x56;
        ram_.positionFilter = value;
        return 0;
    case Reg::MtPreset:
        if (value > 0xFFFF) return 0x56;
        mtPreset_ = value;
        return 0;
    case Reg::MtErrThreshold:
        ram_.mtErrThreshold = value;
        return 0;
    case Reg::SelfCalArc:
        ram_.selfCalArc = value;
        return 0;
    case Reg::SelfCalTimeout:
        if (value == 0) return 0x56;
        ram_.selfCalTimeout = value;
        return 0;
    case Reg::SafetyPer:
        if (value != 32000) return 0x56;
        safetyPer_ = 32000;
        return 0;
    case Reg::Command:
        return Command(static_cast<uint8_t>(value), now, special);
    case Reg::DebugUnlock:
        if (value != Orodja::kDebugUnlockCode) return 0x56;
        debugUnlocked_ = true;
        return 0;
    case Reg::DebugLatch:
        if (value != 1) return 0x56;
        if (!debugUnlocked_) return 0x96;
        LatchDebug(now);
        return 0;
    default:
        return 0x96;
    }
}

std::string SimDevice::ReadCommand(uint32_t address, int length, double now) {
    if (auto it = registerErrors_.find(address); it != registerErrors_.end())
        return ErrorCode(it->second, true);
    uint32_t value = 0;
    const int code = ReadRegister(address, length, value, now);
    if (code != 0) return ErrorCode(code, true);
    return "0x9:0x" + Hex(value, 8);
}

std::string SimDevice::WriteCommand(uint32_t address, int length, uint32_t value, double now) {
    if (auto it = registerErrors_.find(address); it != registerErrors_.end()) {
        writeAccessStatus_ = it->second == 0x56 ? 0x02 : 0x01;
        return ErrorCode(it->second, false);
    }
    std::string special;
    const int code = WriteRegister(address, length, value, now, special);
    writeAccessStatus_ = code == 0 ? 0x40 : (code == 0x56 || code == 0xEE ? 0x02 : 0x01);
    if (!special.empty()) return special;
    if (code != 0) return ErrorCode(code, false);
    return "0x9";
}

} // namespace sim
