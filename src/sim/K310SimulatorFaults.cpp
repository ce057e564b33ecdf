// Faults on demand: in the device (error conditions, wrong CRCs, ERROR replies, register
// errors, lost positions, self-calibration outcomes) and on the line (lost commands, cut
// replies, garbage, delays, unplugging and coming back).
#include "K310SimulatorServer.h"

#include <algorithm>

namespace sim {

// ---------------------------------------------------------------- in the device

void K310Simulator::BadCrcNext(int frames) {
    SIM_DEVICE_CALL(dev.BadCrcNext(frames));
}
void K310Simulator::SetErrorBit(bool on) {
    SIM_DEVICE_CALL(dev.SetConditions(kErrSystem, on));
}
void K310Simulator::SetWarningBit(bool on) {
    SIM_DEVICE_CALL(dev.SetConditions(kWarnTemperature, on));
}
void K310Simulator::SetCondition(uint32_t conditions, bool on) {
    SIM_DEVICE_CALL(dev.SetConditions(conditions, on));
}
void K310Simulator::SetSignalLevel(double level) {
    SIM_DEVICE_CALL(dev.SetSignalBase(level));
}
void K310Simulator::ErrorReplyNext(int commands) {
    SIM_DEVICE_CALL(dev.ErrorReplyNext(commands));
}
void K310Simulator::SetFaultTarget(const std::string& prefix) {
    SIM_DEVICE_CALL(dev.SetFaultTarget(prefix));
}
void K310Simulator::SetRegisterError(uint32_t address, int code) {
    SIM_DEVICE_CALL(code == 0 ? dev.ClearRegisterError(address) : dev.SetRegisterError(address, code));
}
void K310Simulator::JumpAtNextPowerUp(int64_t counts) {
    SIM_DEVICE_CALL(dev.JumpAtNextPowerUp(counts));
}
void K310Simulator::SetSelfCal(SelfCalOutcome outcome, double seconds) {
    SIM_DEVICE_CALL(dev.SetSelfCal(outcome, seconds));
}

// ---------------------------------------------------------------- on the line

void K310Simulator::Impl::ApplyReplyFaults(std::string& reply) {
    if (cut) {
        cut = false;
        const size_t body = reply.size() > 0 ? reply.size() - 1 : 0;
        reply = reply.substr(0, std::max<size_t>(1, body / 2));
    }
    if (garbage > 0) {
        std::string junk;
        std::uniform_int_distribution<int> byte(0, 255);
        for (int i = 0; i < garbage; ++i) {
            int b = byte(rng);
            if (b == '\r') b = 0xFE;
            junk += static_cast<char>(b);
        }
        garbage = 0;
        reply = junk + reply;
    }
}

void K310Simulator::SilenceNext(int commands) {
    std::lock_guard lock(impl_->m);
    impl_->silent = commands;
}
void K310Simulator::CutNextReply() {
    std::lock_guard lock(impl_->m);
    impl_->cut = true;
}
void K310Simulator::GarbageBeforeNextReply(int bytes) {
    std::lock_guard lock(impl_->m);
    impl_->garbage = bytes;
}
void K310Simulator::SetExtraDelayMs(int ms) {
    std::lock_guard lock(impl_->m);
    impl_->extraDelayMs = std::max(0, ms);
}

bool K310Simulator::Unplug() {
    bool was = false;
    impl_->OnServer([&] {
        was = impl_->terminal->IsOpen();
        impl_->replugAtUs = 0;
        if (was) impl_->CloseTerminal();
    });
    return was;
}

bool K310Simulator::Replug(std::string* error) {
    bool ok = false;
    impl_->OnServer([&] {
        impl_->replugAtUs = 0;
        if (impl_->terminal->IsOpen()) impl_->CloseTerminal();
        ok = impl_->OpenTerminal(error);
    });
    return ok;
}

void K310Simulator::UnplugFor(int ms) {
    impl_->OnServer([&] {
        if (impl_->terminal->IsOpen()) impl_->CloseTerminal();
        impl_->replugAtUs = NowUs() + static_cast<uint64_t>(std::max(0, ms)) * 1000;
    });
}

} // namespace sim
