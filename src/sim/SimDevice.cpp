#include "SimDevice.h"

#include "DeviceConstants.h"
#include "Orodja.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace sim {

namespace {

// Fixed-length commands of the adapter. 'h' stands for one hexadecimal digit, 'c' for the clock
// step digit 1..8; every other character must match itself.
constexpr std::string_view kCommandPatterns[] = {
    "v",
    "r",
    "o",
    "V3",
    "V5",
    "n",
    "f",
    "e",
    "Mc",
    "m",
    "Cr",
    "Ce",
    "G0:1",
    "D015",
    "j",
    "?07:021",
    "?04:000",
    "?06:000",
    "d",
    "x",
    "R:hhhh:hhhhhhhh",
    "W:hhhh:hhhhhhhh:hhhhhhhh",
};

bool IsHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

bool Matches(char pattern, char c) {
    if (pattern == 'h') return IsHex(c);
    if (pattern == 'c') return c >= '1' && c <= '8';
    return pattern == c;
}

uint32_t HexValue(std::string_view text) {
    uint32_t v = 0;
    for (char c : text) {
        v <<= 4;
        if (c >= '0' && c <= '9')
            v |= static_cast<uint32_t>(c - '0');
        else if (c >= 'A' && c <= 'F')
            v |= static_cast<uint32_t>(c - 'A' + 10);
        else if (c >= 'a' && c <= 'f')
            v |= static_cast<uint32_t>(c - 'a' + 10);
    }
    return v;
}

std::string Hex(uint64_t value, int digits) {
    static const char* d = "0123456789ABCDEF";
    std::string out(static_cast<size_t>(digits), '0');
    for (int i = digits - 1; i >= 0; --i) {
        out[static_cast<size_t>(i)] = d[value & 0xF];
        value >>= 4;
    }
    return out;
}

// Velcor error codes in the adapter's own spelling: lower case, as the host's register probe
// looks for "0x26:" and "0xee:" in exactly this case.
std::string ErrorCode(int code, bool read) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%02x%s", code & 0xFF, read ? ":" : "");
    return buf;
}

int64_t FloorDiv(int64_t a, int64_t b) {
    int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

const char* kClockTexts[] = {"94 kHz",  "188 kHz", "375 kHz", "750 kHz",
                             "1.5 MHz", "3 MHz",   "6 MHz",   "12 MHz"};

constexpr double kPi = std::numbers::pi;

constexpr uint32_t kLastSvnAnsweringDuringSelfCal = 9356;

// Samples that the decoder's window spans, by code length of the scale.
int WindowSamples(int codeLength) {
    switch (codeLength) {
    case 6:
    case 8:
        return 48;
    case 9:
        return 54;
    default:
        return 49;
    }
}

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

} // namespace

ScanResult ScanCommand(std::string_view buffer) {
    bool partial = false;
    for (std::string_view pattern : kCommandPatterns) {
        const size_t n = std::min(pattern.size(), buffer.size());
        bool ok = true;
        for (size_t i = 0; i < n && ok; ++i)
            ok = Matches(pattern[i], buffer[i]);
        if (!ok) continue;
        if (buffer.size() >= pattern.size()) return {ScanKind::Complete, pattern.size()};
        partial = true;
    }
    if (partial) return {ScanKind::Incomplete, 0};
    // No command starts here: the unknown run goes up to the next line end, or takes what is
    // there, so one mistyped command gets one error reply.
    size_t end = buffer.find_first_of("\r\n");
    if (end == std::string_view::npos) end = buffer.size();
    return {ScanKind::Unknown, std::max<size_t>(end, 1)};
}

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

bool ParseSelfCalOutcome(std::string_view t, SelfCalOutcome& out) {
    static const std::pair<std::string_view, SelfCalOutcome> names[] = {
        {"success", SelfCalOutcome::Success},          {"no-correction", SelfCalOutcome::NoCorrection},
        {"timeout", SelfCalOutcome::Timeout},          {"out-of-range", SelfCalOutcome::OutOfRange},
        {"numerical", SelfCalOutcome::NumericalError}, {"radial", SelfCalOutcome::RadialDisplacement},
        {"write-error", SelfCalOutcome::WriteError},
    };
    for (const auto& [name, value] : names) {
        if (name == t) {
            out = value;
            return true;
        }
    }
    return false;
}

const char* SelfCalOutcomeName(SelfCalOutcome o) {
    switch (o) {
    case SelfCalOutcome::Success:
        return "success";
    case SelfCalOutcome::NoCorrection:
        return "no-correction";
    case SelfCalOutcome::Timeout:
        return "timeout";
    case SelfCalOutcome::OutOfRange:
        return "out-of-range";
    case SelfCalOutcome::NumericalError:
        return "numerical";
    case SelfCalOutcome::RadialDisplacement:
        return "radial";
    case SelfCalOutcome::WriteError:
        return "write-error";
    }
    return "?";
}

SimDevice::SimDevice(const EncoderVariant& variant, const AdapterIdentity& adapter, uint32_t seed)
    : variant_(variant), adapter_(adapter), rng_(seed) {
    nvram_ = ram_ = factory_;
    // A smooth correction curve over one turn: a few low harmonics, as an eccentric, slightly
    // tilted scale leaves behind.
    for (int i = 0; i < 512; ++i) {
        const double x = 2.0 * kPi * i / 512.0;
        const double v =
            230.0 * std::sin(x + 0.6) + 70.0 * std::sin(2.0 * x + 1.9) + 18.0 * std::cos(5.0 * x);
        errorMap_[static_cast<size_t>(i)] = static_cast<int16_t>(std::nearbyint(v));
    }
}

// ---------------------------------------------------------------- time and shaft

void SimDevice::Advance(double now) {
    if (now < lastTime_) now = lastTime_;
    const double dt = now - lastTime_;
    shaft_ += rateCountsPerS_ * dt;
    if (supplyOn_) {
        operatingSeconds_ += dt;
        tempMin_ = std::min(tempMin_, sensorTemp_);
        tempMax_ = std::max(tempMax_, sensorTemp_);
    }
    lastTime_ = now;
    if (selfCal_.running && now >= selfCal_.end) FinishSelfCal(selfCal_.end);
}

void SimDevice::SetShaft(int64_t st, int64_t turns, double now) {
    Advance(now);
    shaft_ = static_cast<double>(turns) * variant_.SingleTurnCounts() + static_cast<double>(st);
}

void SimDevice::SetRotation(double degPerS, double now) {
    Advance(now);
    rateCountsPerS_ = degPerS / 360.0 * variant_.SingleTurnCounts();
}

double SimDevice::ShaftCounts(double now) {
    Advance(now);
    return shaft_;
}

void SimDevice::SetTemperatures(int sensorC, int externalRaw) {
    sensorTemp_ = sensorC;
    externalRaw_ = externalRaw;
}

int64_t SimDevice::NoisyReading(double now, int64_t& turns) {
    Advance(now);
    double total = shaft_;
    if (noiseCounts_ > 0) total += std::normal_distribution<double>(0.0, noiseCounts_)(rng_);
    const int64_t counts = variant_.SingleTurnCounts();
    const int64_t enc = static_cast<int64_t>(std::floor(total)) - static_cast<int64_t>(ram_.positionOffset) +
                        turnAdjust_ * counts;
    turns = FloorDiv(enc, counts);
    return enc - turns * counts;
}

void SimDevice::EncoderPosition(double now, int64_t& turns, int64_t& st) {
    const double noise = noiseCounts_;
    noiseCounts_ = 0;
    st = NoisyReading(now, turns);
    noiseCounts_ = noise;
}

double SimDevice::SignalLevel(double now) {
    int64_t turns = 0;
    const int64_t st = NoisyReading(now, turns);
    const double theta = 2.0 * kPi * static_cast<double>(st) / variant_.SingleTurnCounts();
    // The air gap varies over the turn (a slightly eccentric disc), so the level does too.
    const double level = signalBase_ * (1.0 + 0.12 * std::sin(theta) + 0.04 * std::sin(2.0 * theta + 1.0));
    return std::clamp(level, 0.0, 65535.0);
}

// ---------------------------------------------------------------- status

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

// ---------------------------------------------------------------- supply

void SimDevice::SetSupply(bool on, double now) {
    Advance(now);
    if (on && !supplyOn_) PowerUp(now);
    if (!on && supplyOn_) PowerDown(now);
}

void SimDevice::PowerUp(double now) {
    supplyOn_ = true;
    ++powerCycles_;
    ram_ = nvram_; // unsaved settings were lost with the supply
    debugUnlocked_ = false;
    writeAccessStatus_ = 0;
    if (pendingJump_) {
        shaft_ += static_cast<double>(*pendingJump_);
        pendingJump_.reset();
    }
    lastTime_ = now;
}

void SimDevice::PowerDown(double) {
    supplyOn_ = false;
    if (selfCal_.running) {
        // Interrupted: no result, the counter stays.
        selfCal_.running = false;
    }
}

// ---------------------------------------------------------------- self-calibration

uint32_t SimDevice::SelfCalStatusValue() const {
    uint32_t s = (selfCal_.counter & 3) | selfCal_.resultBits;
    if (selfCal_.running) s |= 0x80;
    return variant_.NewLayout() ? s : (s & 0xFF);
}

void SimDevice::StartSelfCal(double now) {
    selfCal_.running = true;
    selfCal_.start = now;
    selfCal_.outcome = selfCalOutcome_;
    const double timeout = variant_.hasSelfCalTimeout ? static_cast<double>(ram_.selfCalTimeout) : 10.0;
    double duration = selfCalSeconds_;
    if (ram_.selfCalArc == 0 || ram_.selfCalArc > 360)
        duration = 0; // judged at once
    else if (selfCalOutcome_ == SelfCalOutcome::Timeout || duration > timeout) {
        selfCal_.outcome = SelfCalOutcome::Timeout;
        duration = timeout;
    }
    selfCal_.end = now + duration;
    if (duration <= 0) FinishSelfCal(now);
}

void SimDevice::FinishSelfCal(double) {
    selfCal_.running = false;
    selfCal_.counter = (selfCal_.counter + 1) & 3;
    const bool fresh = variant_.NewLayout();
    const uint32_t userMap = fresh ? 0x100000 : 0x40;
    uint32_t bits = selfCal_.resultBits & userMap;
    const bool arcBad = ram_.selfCalArc == 0 || ram_.selfCalArc > 360;
    const bool encoderError = (conditions_ & kErrorConditions) != 0;
    if (arcBad) {
        bits |= fresh ? 0x40 | 0x2000 : 0x10;
    } else if (fresh && encoderError) {
        bits |= 0x40 | 0x200;
    } else {
        switch (selfCal_.outcome) {
        case SelfCalOutcome::Success:
            bits |= userMap;
            eccentricity_ = static_cast<uint16_t>(std::uniform_int_distribution<int>(10, 14)(rng_));
            eccPhase_ = static_cast<uint16_t>(std::uniform_int_distribution<int>(262, 278)(rng_));
            radialShift_ = static_cast<int16_t>(std::uniform_int_distribution<int>(-4, -2)(rng_));
            break;
        case SelfCalOutcome::NoCorrection:
            bits |= 0x20;
            eccentricity_ = 1;
            eccPhase_ = static_cast<uint16_t>(std::uniform_int_distribution<int>(0, 359)(rng_));
            radialShift_ = 0;
            break;
        case SelfCalOutcome::Timeout:
            bits |= fresh ? 0x40 | 0x100 : 0x04;
            break;
        case SelfCalOutcome::OutOfRange:
            bits |= fresh ? 0x40 | 0x2000 : 0x08;
            break;
        case SelfCalOutcome::NumericalError:
            bits |= fresh ? 0x40 | 0x1000 : 0x08;
            break;
        case SelfCalOutcome::RadialDisplacement:
            bits |= fresh ? 0x40 | 0x8000 : 0x08;
            break;
        case SelfCalOutcome::WriteError:
            bits |= fresh ? 0x40 | 0x200000 : 0x08;
            break;
        }
    }
    selfCal_.resultBits = bits;
}

// ---------------------------------------------------------------- debug record

void SimDevice::LatchDebug(double now) {
    int64_t turns = 0;
    const int64_t st = NoisyReading(now, turns);
    const int L = variant_.codeLength;
    const int M = WindowSamples(L);
    const double phase = 2.0 * kPi * static_cast<double>(st % 1024) / 1024.0;
    std::uniform_int_distribution<int> jitter(-3, 3);
    // The decoder's samples follow the scale's code: L periods over the samples it reads.
    for (int s = 1; s <= 56; ++s) {
        const double v = 1000.0 * std::cos(2.0 * kPi * L * (s - 2) / M + phase);
        debugSamples_[static_cast<size_t>(s - 1)] = static_cast<int16_t>(std::nearbyint(v) + jitter(rng_));
    }
    const int bits = variant_.singleTurnBits;
    const uint32_t codeMask = (1u << L) - 1;
    debugCodeA_ = static_cast<uint16_t>((static_cast<uint64_t>(st) >> (bits > L ? bits - L : 0)) & codeMask);
    debugCodeB_ = static_cast<uint16_t>((debugCodeA_ + 1) & codeMask);
    debugDecodSelect_ = static_cast<uint8_t>(1 + st % 6);
    debugDcdTrs_ = 0x2A;
    debugDcdWrn_ = 0x1C;

    auto& b = debugBlock_;
    b.fill(0);
    b[0] = 'D';
    for (int i = 0; i < 53; ++i) {
        const uint16_t v = static_cast<uint16_t>(debugSamples_[static_cast<size_t>(i)]);
        b[static_cast<size_t>(1 + 2 * i)] = static_cast<uint8_t>(v >> 8);
        b[static_cast<size_t>(2 + 2 * i)] = static_cast<uint8_t>(v);
    }
    auto put16 = [&](size_t at, uint32_t v) {
        b[at] = static_cast<uint8_t>(v >> 8);
        b[at + 1] = static_cast<uint8_t>(v);
    };
    const uint32_t absPos = static_cast<uint32_t>(turns * variant_.SingleTurnCounts() + st);
    b[107] = static_cast<uint8_t>(absPos >> 24);
    b[108] = static_cast<uint8_t>(absPos >> 16);
    b[109] = static_cast<uint8_t>(absPos >> 8);
    b[110] = static_cast<uint8_t>(absPos);
    b[113] = debugDecodSelect_;
    put16(114, debugCodeA_);
    put16(116, debugCodeB_);
    put16(120, static_cast<uint32_t>((sensorTemp_ + 6) * 16));
    put16(122, 1250);
    put16(124, CurrentStatusWord());
    put16(126, 3300);
    b[128] = static_cast<uint8_t>(powerCycles_);
}

// ---------------------------------------------------------------- registers

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

// ---------------------------------------------------------------- frames

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

// ---------------------------------------------------------------- commands

std::string SimDevice::AdapterCommand(std::string_view cmd, double now) {
    const std::string volts = fiveVolts_ ? "5.0 V" : "3.3 V";
    if (cmd == "v") return adapter_.version;
    if (cmd == "r") return adapter_.serial;
    if (cmd == "o") return std::to_string(adapter_.revision);
    if (cmd == "V3" || cmd == "V5") {
        fiveVolts_ = cmd == "V5";
        return std::string(cmd) + " supply " + (fiveVolts_ ? "5.0 V" : "3.3 V") + " selected";
    }
    if (cmd == "n") {
        SetSupply(true, now);
        return "ON " + volts;
    }
    if (cmd == "f") {
        SetSupply(false, now);
        return "OFF";
    }
    if (cmd == "e") {
        if (!supplyOn_) return "Supply " + volts + " OFF, 0 mA";
        return "Supply " + volts + " ON, " + std::string(fiveVolts_ ? "48" : "61") + " mA";
    }
    if (cmd.size() == 2 && cmd[0] == 'M') {
        clockStep_ = cmd[1] - '0';
        return std::string(cmd) + " SPI clock " + kClockTexts[clockStep_ - 1];
    }
    if (cmd == "m") return kClockTexts[clockStep_ - 1];
    if (cmd == "Cr") return "Cr SPI Velcor GAME ready";
    if (cmd == "Ce") return "Ce SPI Velcor ready";
    if (cmd == "G0:1") return "G0:1 OK";
    if (cmd == "D015") return "D015 OK";
    if (cmd == "x") return "Reset of Velcor protocol performed";
    return "ERROR unknown command";
}

std::string SimDevice::Execute(std::string_view cmd, double now) {
    Advance(now);
    if (errorReplies_ > 0) {
        --errorReplies_;
        return "ERROR command failed\r";
    }
    const bool encoderCommand = cmd == "j" || cmd == "d" || cmd[0] == '?' || cmd[0] == 'R' || cmd[0] == 'W';
    if (!encoderCommand) return AdapterCommand(cmd, now) + "\r";
    if (!supplyOn_) return "ERROR encoder not powered\r";
    if (cmd == "j") return variant_.typeCode + variant_.partNumber + "\r";
    if (cmd == "d") return DetailedReport(now) + "\r";
    if (cmd == "?04:000") return PositionFrame(false, now) + "\r";
    if (cmd == "?06:000") return PositionFrame(true, now) + "\r";
    if (cmd == "?07:021") {
        if (!debugUnlocked_) return "ERROR debug access locked\r";
        LatchDebug(now);
        return "?07:021 debug data latched\r";
    }
    // Firmware from build 9357 on does not answer register accesses while it calibrates; the
    // workbench's wait counts the first successful read as the end of the procedure.
    if (selfCal_.running && variant_.hasFirmwareRegisters && variant_.fwSvn > kLastSvnAnsweringDuringSelfCal)
        return "ERROR encoder busy (self-calibration)\r";
    const int length = static_cast<int>(HexValue(cmd.substr(2, 4)));
    const uint32_t address = HexValue(cmd.substr(7, 8));
    if (cmd[0] == 'R') return ReadCommand(address, length, now) + "\r";
    return WriteCommand(address, length, HexValue(cmd.substr(16, 8)), now) + "\r";
}

} // namespace sim
