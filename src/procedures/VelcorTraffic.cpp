#include "VelcorTraffic.h"

#include "K310_BiSS_bidirectional.h"
#include "K310_SPI_Velcor.h"
#include "Orodja.h"
#include "Serial_driver.h"
#include "SupplySwitch.h"
#include "Tarvo_konstante.h"

#include <cmath>

namespace Procedures {

namespace {

namespace shared = K310_BiSS_bidirectional;
namespace velcor = K310_SPI_Velcor;
namespace layout = Tarvo_konstante;

// A reply that does not come is a failed exchange; any other failed transaction means the port
// is gone.
bool LinkLostAt(int32_t errComm) {
    return errComm < 0 && errComm != Serial_driver::kReplyTimedOut;
}

std::string FailureReason(const char* fallback) {
    return shared::LastErrorText.empty() ? std::string(fallback) : OneLineReason(shared::LastErrorText);
}

// Degrees per count, as the connection sets the scaling: 360 / counts per turn.
double DegreesPerCount() {
    return velcor::SingleTurnCounts > 0 ? 360.0 / velcor::SingleTurnCounts : 1.0;
}

} // namespace

TTrafficResult ProtocolOutcome(bool ok, const char* fallback) {
    TTrafficResult r;
    r.Ok = ok;
    if (!ok) {
        r.LinkLost = LinkLostAt(shared::EncoderPosition.ErrComm);
        r.Reason = FailureReason(fallback);
    }
    return r;
}

TReading TVelcorTraffic::TakeReading() {
    auto& pos = shared::EncoderPosition;
    shared::LastErrorText.clear();
    TReading r;
    if (!velcor::ReadPosition()) {
        r.LinkLost = LinkLostAt(pos.ErrComm);
        r.Reason = FailureReason("reading failed");
        return r;
    }
    if (pos.ErrCRC) {
        // Not a whole frame or a wrong check sum: no position at all.
        r.Reason = "CRC error (" + pos.RxData + ")";
        return r;
    }
    r.Ok = true;
    const double scale = DegreesPerCount();
    r.Position = static_cast<double>(pos.MTST_value) * scale;
    const int32_t counts = velcor::SingleTurnCounts;
    r.SingleTurn = pos.ST_value;
    r.SingleTurnRange = counts > 0 ? static_cast<uint32_t>(counts) : 0;
    r.Range = counts > 0 ? std::ldexp(double(counts), velcor::MultiTurnBits) * scale : 0.0;
    r.ErrorBit = pos.ErrBit;
    r.WarningBit = pos.WarnBit;
    return r;
}

TTrafficResult TVelcorTraffic::SwitchSupply(bool on) {
    shared::LastErrorText.clear();
    return ProtocolOutcome(on ? SupplySwitch::SwitchOn() : SupplySwitch::SwitchOff(), "no reply");
}

bool TVelcorTraffic::HasSignalLevel() const {
    return layout::HasSignalLevel;
}

TRegisterValue TVelcorTraffic::ReadSignalLevel() {
    shared::LastErrorText.clear();
    TRegisterValue v;
    static_cast<TTrafficResult&>(v) = ProtocolOutcome(velcor::ReadSignalLevel(), "signal level read failed");
    v.Value = shared::EncoderPosition.SignalLevel;
    return v;
}

TTrafficResult TVelcorTraffic::ReadSensorTemperature() {
    shared::LastErrorText.clear();
    return ProtocolOutcome(velcor::ReadSensorTemperature(), "temperature read failed");
}

TTrafficResult TVelcorTraffic::LatchDebugData() {
    shared::LastErrorText.clear();
    return ProtocolOutcome(velcor::LatchDebugData(), "debug data read failed");
}

TTrafficResult TVelcorTraffic::ReadSupplyStatus(std::string& text) {
    std::string reply;
    auto& errComm = shared::EncoderPosition.ErrComm;
    errComm = Serial_driver::SendCommand(shared::PortHandle, "e", 0, reply);
    text = Orodja::Trim(reply);
    TTrafficResult r;
    r.Ok = errComm == Serial_driver::kReplyComplete;
    if (!r.Ok) {
        r.LinkLost = LinkLostAt(errComm);
        r.Reason = "USB Comm Err " + std::to_string(errComm);
    }
    return r;
}

TIdentity TVelcorTraffic::Identify() {
    shared::LastErrorText.clear();
    TIdentity id;
    static_cast<TTrafficResult&>(id) =
        ProtocolOutcome(velcor::ReadEncoderSignature(), "identification failed");
    if (!id.Ok) return id;
    const auto& sig = shared::EncoderSignature;
    id.EncoderType = velcor::EncoderType;
    id.Layout = velcor::EncoderType == 5 || velcor::EncoderType == 6 ? "new" : "legacy";
    id.PartNumber = sig.Dremo_PartNumber;
    id.SerialNumber = sig.Dremo_Serial;
    id.Firmware = sig.Dremo_FWverStr;
    id.FirmwareMajor = sig.Dremo_FWverMajor;
    return id;
}

TProfileOutcome TVelcorTraffic::ApplyProfile(bool saveToNvram) {
    TProfileOutcome outcome;
    if (!Profile) {
        outcome.Reason = "the plan names no profile";
        return outcome;
    }
    outcome.ProfileName = Profile->Name;
    shared::LastErrorText.clear();
    const TProfileApplyResult applied = Procedures::ApplyProfile(*Profile, saveToNvram);
    for (const TRegisterOutcome& r : applied.Registers)
        outcome.Registers.push_back({r.Name, r.Written, r.ReadBackOk, r.ReadBack, r.Error});
    outcome.Ok = applied.Ok;
    if (!applied.Ok) {
        outcome.Reason = applied.Error;
        outcome.LinkLost = LinkLostAt(shared::EncoderPosition.ErrComm);
    }
    return outcome;
}

TTrafficResult TVelcorTraffic::StartSelfCalibration(uint16_t arc, uint8_t timeout) {
    // The arc and the timeout first; a refused one would leave the encoder calibrating over an arc
    // or a time nobody chose, so there is no start then.
    const struct {
        uint32_t address;
        uint8_t length;
        uint32_t value;
        const char* name;
    } settings[] = {{layout::RegSelfCalArc, 2, arc, "SELF_CAL_ARC"},
                    {layout::RegSelfCalTimeout, 1, timeout, "SELF_CAL_TIMEOUT"}};
    for (const auto& setting : settings) {
        if (setting.value == 0) continue;
        shared::LastErrorText.clear();
        TTrafficResult written = ProtocolOutcome(
            velcor::WriteRegister(setting.address, setting.length, setting.value), "write refused");
        if (!written.Ok) {
            written.Reason = std::string(setting.name) + " not written: " + written.Reason;
            return written;
        }
    }
    shared::LastErrorText.clear();
    return ProtocolOutcome(velcor::StartSelfCalibration(0, 0), "start refused");
}

TSelfCalStatus TVelcorTraffic::ReadSelfCalStatus() {
    shared::LastErrorText.clear();
    TSelfCalStatus s;
    static_cast<TTrafficResult&>(s) = ProtocolOutcome(velcor::ReadSelfCalResults(), "status read failed");
    s.Status = velcor::SelfCalStatus;
    s.StatusBytes = layout::LenSelfCalStatus;
    s.ResultText = velcor::SelfCalResultText;
    return s;
}

TTrafficResult TVelcorTraffic::ReadErrorMap(std::vector<int16_t>& values) {
    shared::LastErrorText.clear();
    return ProtocolOutcome(velcor::ReadErrorMap(values), "error map read failed");
}

TRegisterValue TVelcorTraffic::ReadRegisterValue(uint32_t address, uint8_t length) {
    shared::LastErrorText.clear();
    TRegisterValue v;
    static_cast<TTrafficResult&>(v) =
        ProtocolOutcome(velcor::ReadRegister(address, length), "register read failed");
    if (!v.Ok) return v;
    const auto& d = shared::RegisterData;
    const uint32_t word = uint32_t(d[0]) << 24 | uint32_t(d[1]) << 16 | uint32_t(d[2]) << 8 | d[3];
    v.Value = length >= 4 ? word : word & ((1u << (8 * length)) - 1);
    return v;
}

TTrafficResult TVelcorTraffic::SaveToNvram() {
    shared::LastErrorText.clear();
    return ProtocolOutcome(velcor::SaveToNvram(), "save refused");
}

TAirGapCoefficients TVelcorTraffic::AirGap() const {
    const auto& sig = shared::EncoderSignature;
    return AirGapCoefficients(CodeLengthFromPartNumber(sig.Dremo_PartNumber), sig.Dremo_FWverMajor,
                              sig.Dremo_FWverMinor, velcor::EncoderType);
}

bool TVelcorTraffic::HasLifetimeDiagnostics() const {
    // The lifetime registers (0x10 to 0x3E) answer for firmware major 4 only.
    return shared::EncoderSignature.Dremo_FWverMajor == 4;
}

} // namespace Procedures
