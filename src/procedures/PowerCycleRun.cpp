#include "PowerCycleRun.h"

#include <utility>

namespace Procedures {

TPowerCycleRun::TPowerCycleRun(TPowerCycleState& state, TProcedureTraffic& traffic, TLogLine log,
                               uint32_t seed)
    : state_(state), traffic_(traffic), log_(std::move(log)), random_(seed) {}

TNextStep TPowerCycleRun::Start() {
    state_.CikliranjeSmerInit = true;
    startRemaining_ = Remaining;
    const TReading reference = traffic_.TakeReading();
    log_(PowerCycleStartLine(Remaining));
    if (reference.Ok) {
        StartPowerCycleRun(state_, reference.Position);
        haveReference_ = true;
    } else if (ReadingFailed("Check", reference)) {
        return {true, 0};
    }
    return {false, MinMs};
}

bool TPowerCycleRun::ReadingFailed(const char* what, const TTrafficResult& result) {
    ++failedReadings_;
    log_(std::string(what) + " failed: " + result.Reason + " [" + std::to_string(Remaining) + "]");
    if (!result.LinkLost) return false;
    Finish(TRunEnd::LostPort, result.Reason);
    return true;
}

bool TPowerCycleRun::SupplyFailed(const char* command, const TTrafficResult& result) {
    ++failedSupplyCommands_;
    log_(std::string("Supply command failed: ") + command + " " + result.Reason + " [" +
         std::to_string(Remaining) + "]");
    if (!result.LinkLost) return false;
    Finish(TRunEnd::LostPort, result.Reason);
    return true;
}

TNextStep TPowerCycleRun::Step() {
    if (!Running()) return {true, 0};
    const TPowerCycleStep step = NextPowerCycleStep(Remaining, state_.PowerOnStatus);
    if (step == TPowerCycleStep::Stop) {
        Finish(TRunEnd::Completed);
        return {true, 0};
    }
    const int pause = RandomDelayMs(MinMs, MaxMs, random_);
    if (step == TPowerCycleStep::CheckAndSwitchOff) {
        if (skipNextCheck_) {
            // The supply did not come on as asked: this phase has nothing to check.
            skipNextCheck_ = false;
        } else {
            ++checks_;
            const TReading reading = traffic_.TakeReading();
            if (!reading.Ok) {
                if (ReadingFailed("Check", reading)) return {true, 0};
            } else if (!haveReference_) {
                // The run's reference could not be read: the first good reading is it.
                StartPowerCycleRun(state_, reading.Position);
                state_.CikliranjeSmerInit = true;
                haveReference_ = true;
            } else {
                for (const std::string& line : PowerCycleCheck(state_, AtRest, reading.Position, Remaining,
                                                               Separators, reading.Range)) {
                    ++jumps_;
                    log_(line);
                }
            }
            if (reading.Ok && RecordSignalLevel) {
                const TRegisterValue level = traffic_.ReadSignalLevel();
                if (level.Ok)
                    levels_.push_back({startRemaining_ - Remaining, static_cast<double>(level.Value)});
                else if (ReadingFailed("Signal level", level))
                    return {true, 0};
            }
        }
        const TTrafficResult off = traffic_.SwitchSupply(false);
        state_.PowerOnStatus = false;
        if (!off.Ok && SupplyFailed("f", off)) return {true, 0};
    } else {
        const TTrafficResult on = traffic_.SwitchSupply(true);
        state_.PowerOnStatus = true;
        if (!on.Ok) {
            skipNextCheck_ = true;
            if (SupplyFailed("n", on)) return {true, 0};
        }
        --Remaining;
    }
    return {false, pause};
}

void TPowerCycleRun::Stop(TRunEnd why) {
    if (Running()) Finish(why);
}

std::string TPowerCycleRun::SummaryLine() const {
    return "Checks: " + std::to_string(checks_) + ", jumps: " + std::to_string(jumps_) +
           ", failed: " + std::to_string(failedReadings_ + failedSupplyCommands_);
}

void TPowerCycleRun::Finish(TRunEnd why, const std::string& reason) {
    end_ = why;
    endReason_ = reason;
    log_(SummaryLine());
    if (why == TRunEnd::Completed) log_(kPowerCycleStopLine);
}

} // namespace Procedures
