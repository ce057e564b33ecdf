#include "PowerCycling.h"

#include <cmath>

namespace Procedures {

TPowerCycleStep NextPowerCycleStep(long long remainingCycles, bool powerOnStatus) {
    if (remainingCycles == 0) return TPowerCycleStep::Stop;
    return powerOnStatus ? TPowerCycleStep::CheckAndSwitchOff : TPowerCycleStep::SwitchOnAndCount;
}

void StartPowerCycleRun(TPowerCycleState& state, double referencePosition) {
    state.EncPosDegOldMTtest = referencePosition;
    state.CikliranjeSmerInit = true;
}

double CircularDifference(double oldPosition, double newPosition, double range) {
    const double difference = newPosition - oldPosition;
    if (!(range > 0) || !std::isfinite(range)) return difference;
    double d = std::fmod(difference, range);
    if (d >= range / 2) d -= range;
    if (d < -range / 2) d += range;
    return d;
}

std::vector<TPositionJump> AtRestJumps(double oldPosition, double newPosition, double range) {
    const double d = CircularDifference(oldPosition, newPosition, range);
    std::vector<TPositionJump> jumps;
    if (d < -2) jumps.push_back(TPositionJump::DropAtRest);
    if (d > 2) jumps.push_back(TPositionJump::RiseAtRest);
    return jumps;
}

std::vector<TPositionJump> MovingJumps(double oldPosition, double newPosition, TPowerCycleState& state,
                                       double range) {
    const double difference = CircularDifference(oldPosition, newPosition, range);
    if (state.CikliranjeSmerInit) {
        state.CikliranjeSmer = difference > 0 ? 1.0 : -1.0;
        state.CikliranjeSmerInit = false;
    }
    const double ahead = difference * state.CikliranjeSmer;
    std::vector<TPositionJump> jumps;
    if (ahead < 0) jumps.push_back(TPositionJump::Reverse);
    if (ahead > 70) jumps.push_back(TPositionJump::BeyondSeventy);
    return jumps;
}

std::vector<std::string> PowerCycleCheck(TPowerCycleState& state, bool atRest, double newPosition,
                                         long long count, const Orodja::TNumberSeparators& separators,
                                         double range) {
    const double oldPosition = state.EncPosDegOldMTtest;
    const std::vector<TPositionJump> jumps = atRest ? AtRestJumps(oldPosition, newPosition, range)
                                                    : MovingJumps(oldPosition, newPosition, state, range);
    std::vector<std::string> lines;
    for (TPositionJump jump : jumps)
        lines.push_back(PositionJumpLine(jump, oldPosition, newPosition, count, separators));
    state.EncPosDegOldMTtest = newPosition;
    return lines;
}

std::string PowerCyclePosition(double position, const Orodja::TNumberSeparators& separators) {
    return Orodja::FormatNumber(position, 15, 4, separators);
}

std::string PositionJumpLine(TPositionJump jump, double oldPosition, double newPosition, long long count,
                             const Orodja::TNumberSeparators& separators) {
    const char* head = "";
    switch (jump) {
    case TPositionJump::DropAtRest:
        head = "Position jump < 2\xC2\xB0! (";
        break;
    case TPositionJump::RiseAtRest:
        head = "Position jump > 2\xC2\xB0! (";
        break;
    case TPositionJump::Reverse:
        head = "Position jump reverse! (";
        break;
    case TPositionJump::BeyondSeventy:
        head = "Position jump > 70\xC2\xB0! (";
        break;
    }
    return head + PowerCyclePosition(oldPosition, separators) + " -> " +
           PowerCyclePosition(newPosition, separators) + ") [" + std::to_string(count) + "]";
}

std::string PowerCycleStartLine(long long count) {
    return "Cikliranje start " + std::to_string(count) + "x";
}

} // namespace Procedures
