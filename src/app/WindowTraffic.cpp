#include "WindowTraffic.h"

#include "K310_7K_Velcor_SPI_Main.h"
#include "K310_BiSS_bidirectional.h"
#include "K310_SPI_Velcor.h"
#include "Orodja.h"
#include "SupplySwitch.h"
#include "Tarvo_konstante.h"

#include <cmath>

namespace {

namespace Shared = K310_BiSS_bidirectional;
namespace Velcor = K310_SPI_Velcor;

std::string Reason(const char* fallback) {
    return Shared::LastErrorText.empty() ? std::string(fallback)
                                         : Procedures::OneLineReason(Shared::LastErrorText);
}

} // namespace

Procedures::TReading TWindowTraffic::TakeReading() {
    form_.btnReadEncoderClick();
    Procedures::TReading r;
    const auto& pass = form_.LastPass;
    r.Ok = pass.Read;
    r.LinkLost = pass.LinkLost;
    r.Reason = pass.Reason;
    if (!r.Ok) return r;
    const auto& position = Shared::EncoderPosition;
    const int32_t counts = Velcor::SingleTurnCounts;
    r.Position = form_.EncoderPosition_unit;
    r.SingleTurn = position.ST_value;
    r.SingleTurnRange = counts > 0 ? static_cast<uint32_t>(counts) : 0;
    // The user may change the resolution between readings: the circle follows it.
    r.Range = counts > 0 ? std::ldexp(double(counts), Velcor::MultiTurnBits) * form_.EncoderResolution : 0.0;
    return r;
}

Procedures::TTrafficResult TWindowTraffic::SwitchSupply(bool on) {
    Shared::LastErrorText.clear();
    Procedures::TTrafficResult r;
    r.Ok = on ? SupplySwitch::SwitchOn() : SupplySwitch::SwitchOff();
    if (r.Ok) return r;
    r.Reason = Reason("no reply");
    if (Shared::EncoderPosition.ErrComm < 0) {
        r.LinkLost = true;
        form_.RestartAdapterSearch();
    }
    return r;
}

bool TWindowTraffic::HasSignalLevel() const {
    return Tarvo_konstante::HasSignalLevel;
}

Procedures::TRegisterValue TWindowTraffic::ReadSignalLevel() {
    Shared::LastErrorText.clear();
    Procedures::TRegisterValue v;
    v.Ok = Velcor::ReadSignalLevel();
    v.Value = Shared::EncoderPosition.SignalLevel;
    if (v.Ok) return v;
    v.Reason = Reason("signal level read failed");
    if (Shared::EncoderPosition.ErrComm < 0) {
        v.LinkLost = true;
        form_.RestartAdapterSearch();
    }
    return v;
}
