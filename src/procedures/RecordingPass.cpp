#include "RecordingPass.h"

#include "StatusText.h"
#include "Tarvo_konstante.h"

#include <utility>

namespace Procedures {

bool SupplyStatusDue(int32_t& counter) {
    if (counter != 0) {
        --counter;
        return false;
    }
    counter = 1000;
    return true;
}

TRecordSources RecordSourcesOfPass(const std::string& supply) {
    TRecordSources sources;
    sources.Position = K310_BiSS_bidirectional::EncoderPosition;
    sources.StatusText = StatusConditionText(sources.Position.Status, Tarvo_konstante::LenPersistentStatus);
    sources.Supply = supply;
    sources.Debug = K310_SPI_Velcor::DebugData;
    return sources;
}

TRecordingPass::TRecordingPass(TRecordingTraffic& traffic, TDebugRecordFile& file, TWarning warn)
    : traffic_(traffic), file_(file), warn_(std::move(warn)) {}

TRecordingPass::TOutcome TRecordingPass::Pass() {
    TOutcome outcome;
    const TReading reading = traffic_.TakeReading();
    outcome.Reading = reading;
    if (!reading.Ok) {
        outcome.LinkLost = reading.LinkLost;
        return outcome;
    }
    // Each later read that fails is reported; one that loses the link ends the pass unrecorded,
    // since what follows it would be stale.
    const auto checked = [&](const TTrafficResult& result) {
        if (result.Ok) return true;
        warn_(result.Reason);
        if (result.LinkLost) outcome.LinkLost = true;
        return !result.LinkLost;
    };
    if (!checked(traffic_.ReadSensorTemperature())) return outcome;
    if (traffic_.HasSignalLevel() && !checked(traffic_.ReadSignalLevel())) return outcome;
    if (!checked(traffic_.LatchDebugData())) return outcome;
    if (SupplyStatusDue(supplyCounter_)) {
        std::string text;
        const TTrafficResult status = traffic_.ReadSupplyStatus(text);
        supply_ = text;
        if (!checked(status)) return outcome;
    }
    if (!file_.Write(RecordSourcesOfPass(supply_))) {
        outcome.WriteFailed = true;
        return outcome;
    }
    outcome.Recorded = true;
    return outcome;
}

} // namespace Procedures
