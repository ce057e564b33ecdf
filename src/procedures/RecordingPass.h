// The recording's pass: what a pass reads and writes while debug data is recorded. The window's
// reading cycle runs it as part of its own pass (whoever runs the pass: the timer, a click, a
// test procedure); tarvo-cli's `record` runs it from a loop. Either way a pass whose reading
// failed (its transaction, a reply that is no whole frame or fails its CRC, a refused protocol
// call) writes no record.
#pragma once

#include "DebugRecording.h"
#include "ProcedureTraffic.h"

#include <cstdint>
#include <functional>
#include <string>

namespace Procedures {

// The adapter's supply status is asked on the first pass and then on every 1001st: `counter` is
// the passes still to skip (the window's K310PowerReadCounter). True when this pass asks.
bool SupplyStatusDue(int32_t& counter);

// A record of the pass just taken, from the shared protocol records, the pass's decoded status
// and the supply text.
TRecordSources RecordSourcesOfPass(const std::string& supply);

// The traffic of a recording pass beyond the reading itself.
class TRecordingTraffic : public TProcedureTraffic {
public:
    virtual TTrafficResult ReadSensorTemperature() = 0;
    virtual TTrafficResult LatchDebugData() = 0;
    // The adapter's "e": the supply status text, trimmed.
    virtual TTrafficResult ReadSupplyStatus(std::string& text) = 0;
};

// tarvo-cli's pass: reading, temperature, signal level, debug data, the supply status when due,
// the record. A failed read after the reading is a warning (the record carries what the records
// hold, as the window's does).
class TRecordingPass {
public:
    using TWarning = std::function<void(const std::string&)>;
    TRecordingPass(TRecordingTraffic& traffic, TDebugRecordFile& file, TWarning warn);

    struct TOutcome {
        bool Recorded = false;
        TTrafficResult Reading; // the reading's outcome (Ok false: no record)
        bool LinkLost = false;  // the pass's traffic lost the link (reading or later)
        bool WriteFailed = false;
    };
    TOutcome Pass();

private:
    TRecordingTraffic& traffic_;
    TDebugRecordFile& file_;
    TWarning warn_;
    int32_t supplyCounter_ = 0;
    std::string supply_;
};

} // namespace Procedures
