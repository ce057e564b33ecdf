// The typed controls of the simulator: the shaft and the environment, simulated time, and
// reading the device's state back (for tests and the workbench's --simulate).
#include "K310SimulatorServer.h"

namespace sim {

void K310Simulator::SetPosition(int64_t st, int64_t turns) {
    SIM_DEVICE_CALL(dev.SetShaft(st, turns, now));
}
void K310Simulator::SetRotation(double degPerS) {
    SIM_DEVICE_CALL(dev.SetRotation(degPerS, now));
}
void K310Simulator::SetNoise(double counts) {
    SIM_DEVICE_CALL(dev.SetNoise(counts));
}
void K310Simulator::SetTemperatures(int sensorC, int externalRaw) {
    SIM_DEVICE_CALL(dev.SetTemperatures(sensorC, externalRaw));
}
void K310Simulator::SetSupply(bool on) {
    SIM_DEVICE_CALL(dev.SetSupply(on, now));
}

void K310Simulator::SetTimeScale(double scale) {
    std::lock_guard lock(impl_->m);
    if (scale > 0) impl_->clock.SetScale(scale);
}

void K310Simulator::AdvanceTime(double seconds) {
    std::lock_guard lock(impl_->m);
    if (seconds > 0) impl_->clock.Advance(seconds);
    if (impl_->device) impl_->device->Advance(impl_->clock.Now());
}

double K310Simulator::Now() const {
    std::lock_guard lock(impl_->m);
    return impl_->clock.Now();
}

bool K310Simulator::SupplyOn() const {
    std::lock_guard lock(impl_->m);
    return impl_->device && impl_->device->SupplyOn();
}

std::vector<ReceivedCommand> K310Simulator::Received() const {
    std::lock_guard lock(impl_->m);
    return impl_->log;
}

void K310Simulator::ClearReceived() {
    std::lock_guard lock(impl_->m);
    impl_->log.clear();
}

size_t K310Simulator::CommandCount() const {
    std::lock_guard lock(impl_->m);
    return impl_->commandCount;
}

bool K310Simulator::PeekRegister(uint32_t address, int length, uint32_t& value) const {
    std::lock_guard lock(impl_->m);
    value = 0;
    return impl_->device && impl_->device->PeekRegister(address, length, value, impl_->clock.Now()) == 0;
}

uint32_t K310Simulator::PowerCycles() const {
    std::lock_guard lock(impl_->m);
    return impl_->device ? impl_->device->PowerCycles() : 0;
}

void K310Simulator::EncoderPosition(int64_t& turns, int64_t& st) const {
    std::lock_guard lock(impl_->m);
    turns = st = 0;
    if (impl_->device) impl_->device->EncoderPosition(impl_->clock.Now(), turns, st);
}

EncoderVariant K310Simulator::Variant() const {
    std::lock_guard lock(impl_->m);
    if (impl_->device) return impl_->device->Variant();
    EncoderVariant v;
    FindPreset(impl_->options.preset, v);
    return v;
}

void K310Simulator::Inspect(const std::function<void(SimDevice&, double)>& fn) const {
    std::lock_guard lock(impl_->m);
    if (impl_->device) fn(*impl_->device, impl_->clock.Now());
}

} // namespace sim
