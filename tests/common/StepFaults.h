// Faults aimed at one step of a test procedure (a position read, a supply command), injected into
// the simulator the same way by the verdict tests of the window and of tarvo-cli, so both front
// ends meet the same faults. Header-only: the tests that use it link the simulator themselves.
#pragma once

#include "K310Simulator.h"

namespace testing_support {

enum class TStepFault {
    ErrorReply,     // the next position read answers an ERROR line
    Garbage,        // garbage bytes before the next position frame
    BadCrc,         // the next position frame fails its CRC
    WrongLength,    // the next "d" report is an ERROR line, a report of neither length
    Silent,         // the next position read gets no reply
    Unplug,         // the adapter is gone
    SupplyOffError, // the next "f" answers an ERROR line
    SupplyOnError,  // the next "n" answers an ERROR line
};

inline const char* StepFaultName(TStepFault fault) {
    switch (fault) {
    case TStepFault::ErrorReply:
        return "ERROR line";
    case TStepFault::Garbage:
        return "garbage";
    case TStepFault::BadCrc:
        return "bad CRC";
    case TStepFault::WrongLength:
        return "wrong length";
    case TStepFault::Silent:
        return "no reply";
    case TStepFault::Unplug:
        return "unplugged";
    case TStepFault::SupplyOffError:
        return "f answers ERROR";
    case TStepFault::SupplyOnError:
        return "n answers ERROR";
    }
    return "";
}

inline void InjectStepFault(sim::K310Simulator& simulator, TStepFault fault) {
    switch (fault) {
    case TStepFault::ErrorReply:
        simulator.SetFaultTarget("?");
        simulator.ErrorReplyNext(1);
        break;
    case TStepFault::Garbage:
        simulator.SetFaultTarget("?");
        simulator.GarbageBeforeNextReply(8);
        break;
    case TStepFault::BadCrc:
        simulator.BadCrcNext(1);
        break;
    case TStepFault::WrongLength:
        simulator.SetFaultTarget("d");
        simulator.ErrorReplyNext(1);
        break;
    case TStepFault::Silent:
        simulator.SetFaultTarget("?");
        simulator.SilenceNext(1);
        break;
    case TStepFault::Unplug:
        simulator.Unplug();
        break;
    case TStepFault::SupplyOffError:
        simulator.SetFaultTarget("f");
        simulator.ErrorReplyNext(1);
        break;
    case TStepFault::SupplyOnError:
        simulator.SetFaultTarget("n");
        simulator.ErrorReplyNext(1);
        break;
    }
}

} // namespace testing_support
