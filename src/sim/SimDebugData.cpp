// The latched debug record: the decoder's samples, code words and values, as the legacy
// 132-byte block and as the firmware-4 words.
#include "SimDevice.h"

#include "SimDeviceParts.h"

#include <cmath>
#include <random>

namespace sim {

namespace {

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

} // namespace

using detail::kPi;

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

} // namespace sim
