// The encoder's register map as each layout and firmware has it: address, width, access, and
// the registers locked until the debug unlock.
#include "SimDeviceParts.h"

namespace sim::detail {

bool Lookup(const EncoderVariant& v, uint32_t a, bool write, RegInfo& out) {
    const bool fresh = v.NewLayout();
    auto set = [&](Reg r, int width, bool readable, bool writable, int index = 0, bool debug = false) {
        out = RegInfo{r, index, width, readable, writable, debug};
        return true;
    };
    // Addresses shared by both layouts first.
    if (a == 0x49 && write && fresh) return set(Reg::DebugUnlock, 1, false, true);
    if (a == 0x0E) return set(Reg::WriteAccessStatus, 1, true, false);
    if (v.FirmwareMajor4()) {
        switch (a) {
        case 0x10:
            return set(Reg::SafetyRt, 2, true, false);
        case 0x12:
            return set(Reg::SafetyPer, 2, true, true);
        case 0x34:
            return set(Reg::PowerCycles, 4, true, false);
        case 0x38:
            return set(Reg::OperatingTime, 4, true, false);
        case 0x3C:
            return set(Reg::OpTempMin, 1, true, false);
        case 0x3E:
            return set(Reg::OpTempMax, 2, true, false);
        default:
            break;
        }
        if (a >= 0x20000 && a < 0x20000 + 4 * 28 && (a - 0x20000) % 4 == 0)
            return set(Reg::DebugWords, 4, true, false, static_cast<int>((a - 0x20000) / 4), true);
        if (a == 0x20084) return set(Reg::DebugCodeA, 2, true, false, 0, true);
        if (a == 0x20086) return set(Reg::DebugCodeB, 2, true, false, 0, true);
        if (a == 0x20088) return set(Reg::DebugDcdTrs, 2, true, false, 0, true);
        if (a == 0x20089) return set(Reg::DebugDcdWrn, 2, true, false, 0, true);
        if (a == 0x2008A) return set(Reg::DebugDecodSelect, 2, true, false, 0, true);
    } else if (a >= 0x200 && a < 0x200 + 4 * 33 && (a - 0x200) % 4 == 0) {
        return set(Reg::DebugBlock, 4, true, false, static_cast<int>((a - 0x200) / 4), true);
    }
    if (a == 0x48 && write && v.HasDebugLatchRegister()) return set(Reg::DebugLatch, 1, false, true);

    const uint32_t mapBase = fresh ? 0x10000 : 0x1800;
    if (a >= mapBase && a < mapBase + 2 * 512 && (a - mapBase) % 2 == 0)
        return set(Reg::ErrorMap, 2, true, false, static_cast<int>((a - mapBase) / 2));

    const int psWidth = fresh ? 4 : 2;
    struct Entry {
        uint32_t legacy, fresh;
        Reg reg;
        int width; // 0: by layout (PERSISTENT_STATUS, SIGNAL_LEVEL, SELF_CAL_STATUS)
        bool readable, writable;
    };
    static const Entry table[] = {
        {0x00, 0x80, Reg::PositionOffset, 4, true, true},    {0x04, 0x84, Reg::PositionFilter, 4, true, true},
        {0x14, 0x94, Reg::MtPreset, 4, false, true},         {0x18, 0x98, Reg::MtErrThreshold, 1, true, true},
        {0x2C, 0x0A, Reg::PersistentStatus, 0, true, false}, {0x4E, 0x02, Reg::SignalLevel, 0, true, false},
        {0x4C, 0x00, Reg::SensorTemp, 2, true, false},       {0x49, 0xBD, Reg::Command, 1, false, true},
        {0x52, 0xC0, Reg::SelfCalStatus, 0, true, false},    {0x19, 0xC4, Reg::SelfCalArc, 2, true, true},
        {0x21, 0xC6, Reg::SelfCalTimeout, 1, true, true},    {0x1B, 0xC8, Reg::Eccentricity, 2, true, false},
        {0x1D, 0xCA, Reg::EccPhase, 2, true, false},         {0x1F, 0xCC, Reg::RadialShift, 2, true, false},
        {0x2F, 0x68, Reg::FwMajor, -1, true, false},         {0x31, 0x6A, Reg::FwMinor, -1, true, false},
        {0x33, 0x6C, Reg::FwComm, -1, true, false},          {0x35, 0x6E, Reg::FwSvn, -2, true, false},
        {0xFFFFFFFF, 0x72, Reg::FwHash, 4, true, false},
    };
    for (const auto& e : table) {
        if ((fresh ? e.fresh : e.legacy) != a) continue;
        int width = e.width;
        if (width == 0) width = e.reg == Reg::SelfCalStatus ? (fresh ? 4 : 1) : psWidth;
        if (width == -1) width = v.fwVersionWidth;
        if (width == -2) width = v.fwSvnWidth;
        switch (e.reg) {
        case Reg::MtErrThreshold:
            if (!v.hasMtErrThreshold) return false;
            break;
        case Reg::PersistentStatus:
            if (!v.hasPersistentStatus) return false;
            break;
        case Reg::SignalLevel:
            if (!v.hasSignalLevel) return false;
            break;
        case Reg::SelfCalTimeout:
            if (!v.hasSelfCalTimeout) return false;
            break;
        case Reg::FwMajor:
        case Reg::FwMinor:
        case Reg::FwComm:
        case Reg::FwSvn:
            if (!v.hasFirmwareRegisters) return false;
            break;
        case Reg::FwHash:
            if (!v.hasFirmwareRegisters || !v.hasFwHash) return false;
            break;
        default:
            break;
        }
        return set(e.reg, width, e.readable, e.writable);
    }
    const uint32_t serialBase = fresh ? 0x40 : 0x5C;
    const uint32_t words = fresh ? 4 : 2;
    if (!write && a >= serialBase && a < serialBase + 4 * words && (a - serialBase) % 4 == 0)
        return set(Reg::SerialWord, 4, true, false, static_cast<int>((a - serialBase) / 4));
    if (!write && fresh && v.serial.size() > 16 && a == serialBase + 16)
        return set(Reg::SerialTail, 2, true, false);
    return false;
}

} // namespace sim::detail
