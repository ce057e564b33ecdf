// The procedures' traffic over the protocol layer itself: what tarvo-cli runs its procedures with,
// and what a commissioning run talks through in either front end. A reply that does not come is
// one failed exchange; only a port that is gone says LinkLost.
#pragma once

#include "Commissioning.h"
#include "ConfigProfile.h"

#include <optional>

namespace Procedures {

class TVelcorTraffic : public TCommissioningTraffic {
public:
    TReading TakeReading() override;
    TTrafficResult SwitchSupply(bool on) override;
    bool HasSignalLevel() const override;
    TRegisterValue ReadSignalLevel() override;
    TTrafficResult ReadSensorTemperature() override;
    TTrafficResult LatchDebugData() override;
    TTrafficResult ReadSupplyStatus(std::string& text) override;

    TIdentity Identify() override;
    TProfileOutcome ApplyProfile(bool saveToNvram) override;
    TTrafficResult StartSelfCalibration(uint16_t arc, uint8_t timeout) override;
    TSelfCalStatus ReadSelfCalStatus() override;
    TTrafficResult ReadErrorMap(std::vector<int16_t>& values) override;
    TRegisterValue ReadRegisterValue(uint32_t address, uint8_t length) override;
    TTrafficResult SaveToNvram() override;
    TAirGapCoefficients AirGap() const override;
    bool HasLifetimeDiagnostics() const override;

    // The profile that ApplyProfile writes; none: the step fails.
    std::optional<TConfigProfile> Profile;
};

// The failure of the protocol's last call: its LastErrorText on one line (or `fallback`), and
// whether the port is gone.
TTrafficResult ProtocolOutcome(bool ok, const char* fallback);

} // namespace Procedures
