// The device's state over time: construction, simulated time, the shaft, the supply. The
// rest of SimDevice lives one concern per file: SimCommands (adapter command table),
// SimRegisterMap and SimRegisters, SimFrames, SimConditions, SimSelfCal, SimDebugData.
#include "SimDevice.h"

#include "SimDeviceParts.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace sim {

namespace detail {

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

} // namespace detail

using detail::FloorDiv;
using detail::kPi;

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

} // namespace sim
