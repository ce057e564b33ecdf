// The power-cycling test's own logic: the random pause between steps, which step comes next, the
// checks of each reading against the one taken one off/on cycle earlier, and the log lines. The
// window (or tarvo-cli) owns the timer, the supply commands and the readings, and calls these
// with the same values the window holds.
//
// Positions are in user units (degrees after a connection), compared strictly in 64-bit floating
// point, on the circle of the encoder's counting range: a shaft at rest on the zero crossing, or
// one turning across it, is not jumping. Log lines are UTF-8 (the degree sign is two bytes).
#pragma once

#include "NumberText.h"

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace Procedures {

// The pause before the next step: a uniformly random whole number of milliseconds from `minMs` up
// to, but not including, `maxMs`. Equal bounds give exactly that value; a minimum above the
// maximum gives a number from the maximum up to, but not including, the minimum. `generator` is
// any standard uniform random bit generator (the window's is seeded from the clock).
template <class Generator> int RandomDelayMs(int minMs, int maxMs, Generator& generator) {
    if (minMs == maxMs) return minMs;
    std::uniform_int_distribution<int> pause(std::min(minMs, maxMs), std::max(minMs, maxMs) - 1);
    return pause(generator);
}

// What a step of the test does, from the cycles still to run and the test's own record of the
// supply: end the test (count 0), take a reading, check it and switch the supply off (powered
// phase), or switch the supply on and count one cycle down (unpowered phase).
enum class TPowerCycleStep { Stop, CheckAndSwitchOff, SwitchOnAndCount };
TPowerCycleStep NextPowerCycleStep(long long remainingCycles, bool powerOnStatus);

enum class TPositionJump {
    DropAtRest,   // at rest, fell by more than 2
    RiseAtRest,   // at rest, rose by more than 2
    Reverse,      // moving, went backwards
    BeyondSeventy // moving, advanced by more than 70
};

// The test's state as the window keeps it. PowerOnStatus survives between runs; the rest is set
// afresh by each run's reference reading.
struct TPowerCycleState {
    bool PowerOnStatus = false;
    double EncPosDegOldMTtest = 0.0;
    double CikliranjeSmer = 1.0;    // direction of rotation in moving mode, +1 or -1
    bool CikliranjeSmerInit = true; // the direction is still to be found
};

// A run's start: the reference reading becomes the previous position and the direction is to be
// found again.
void StartPowerCycleRun(TPowerCycleState& state, double referencePosition);

// new - old as the shortest way round a circle of `range` units (the whole counting range in user
// units): within [-range/2, range/2). A range of 0 (or less, or not finite) is no circle: the
// plain difference.
double CircularDifference(double oldPosition, double newPosition, double range);

// The differences below are CircularDifference(old, new, range).
// At rest: fell by more than 2, then (separately) rose by more than 2.
std::vector<TPositionJump> AtRestJumps(double oldPosition, double newPosition, double range = 0);
// Moving: the first check of a run sets the direction (+1 when the position rose, else -1); then
// backwards against it, and (separately) more than 70 ahead of the previous position.
std::vector<TPositionJump> MovingJumps(double oldPosition, double newPosition, TPowerCycleState& state,
                                       double range = 0);

// The powered phase's check of `newPosition` against the previous one: the log lines of the jumps
// found, in order; then the new position becomes the previous. `count` is the cycles still to run
// as the window shows them; `separators` are the user's (the window's program-wide setting);
// `range` the counting range in user units (0: compared as plain numbers).
std::vector<std::string> PowerCycleCheck(TPowerCycleState& state, bool atRest, double newPosition,
                                         long long count, const Orodja::TNumberSeparators& separators,
                                         double range = 0);

// P(x) of the log lines: thousands groups, precision 15, exactly 4 decimals.
std::string PowerCyclePosition(double position, const Orodja::TNumberSeparators& separators);
// "Position jump < 2°! (10.0000 -> 7.9000) [4999]" and its three siblings.
std::string PositionJumpLine(TPositionJump jump, double oldPosition, double newPosition, long long count,
                             const Orodja::TNumberSeparators& separators);
// "Cikliranje start 5000x".
std::string PowerCycleStartLine(long long count);
inline constexpr const char* kPowerCycleStopLine = "Cikliranje stop";

} // namespace Procedures
