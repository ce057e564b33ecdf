// Self-calibration: its run over simulated time, its outcome as chosen by the tests, and the
// status bits and results it leaves.
#include "SimDevice.h"

#include <random>
#include <utility>

namespace sim {

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

} // namespace sim
