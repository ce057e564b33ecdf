// What the parts of SimDevice (one source file per concern) share: number texts in the
// adapter's spelling and the encoder's register map. Private to src/sim.
#pragma once

#include "SimDevice.h"

#include <cstdint>
#include <numbers>
#include <string>
#include <string_view>

namespace sim::detail {

constexpr double kPi = std::numbers::pi;

// Hexadecimal digits as a number; other characters count as 0 digits.
uint32_t HexValue(std::string_view text);
// `value` as `digits` upper-case hexadecimal digits.
std::string Hex(uint64_t value, int digits);
// Velcor error codes in the adapter's own spelling: lower case, as the host's register probe
// looks for "0x26:" and "0xee:" in exactly this case. `read` adds the colon of a read reply.
std::string ErrorCode(int code, bool read);
// Division rounding towards minus infinity.
int64_t FloorDiv(int64_t a, int64_t b);

enum class Reg {
    PositionOffset,
    PositionFilter,
    MtPreset,
    MtErrThreshold,
    PersistentStatus,
    SignalLevel,
    SensorTemp,
    Command,
    SelfCalStatus,
    SelfCalArc,
    SelfCalTimeout,
    Eccentricity,
    EccPhase,
    RadialShift,
    FwMajor,
    FwMinor,
    FwComm,
    FwSvn,
    FwHash,
    SerialWord,
    SerialTail,
    ErrorMap,
    WriteAccessStatus,
    SafetyRt,
    SafetyPer,
    PowerCycles,
    OperatingTime,
    OpTempMin,
    OpTempMax,
    DebugLatch,
    DebugUnlock,
    DebugBlock,
    DebugWords,
    DebugCodeA,
    DebugCodeB,
    DebugDcdTrs,
    DebugDcdWrn,
    DebugDecodSelect,
};

struct RegInfo {
    Reg reg;
    int index = 0;
    int width = 4;
    bool readable = true;
    bool writable = false;
    bool debug = false; // locked until the debug-unlock code arrives
};

// The register at `address` for a read (write = false) or a write of this variant.
bool Lookup(const EncoderVariant& v, uint32_t address, bool write, RegInfo& out);

} // namespace sim::detail
