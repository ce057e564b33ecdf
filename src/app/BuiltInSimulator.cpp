// --simulate: the simulator library serves an adapter on a pseudo-terminal inside the program.
#include "BuiltInSimulator.h"

#include "K310Simulator.h"
#include "SimOptions.h"

struct BuiltInSimulator::Impl {
    std::unique_ptr<sim::K310Simulator> device;
};

BuiltInSimulator::BuiltInSimulator() : impl_(std::make_unique<Impl>()) {}
BuiltInSimulator::~BuiltInSimulator() {
    Stop();
}

bool BuiltInSimulator::Start(const std::string& options, std::string& error) {
    Stop();
    sim::SimOptions parsed;
    if (!options.empty() && !sim::ParseSimOptions(options, parsed, error)) return false;
    auto device = std::make_unique<sim::K310Simulator>(parsed);
    if (!device->Start(&error)) return false;
    path_ = device->SlavePath();
    impl_->device = std::move(device);
    return true;
}

bool BuiltInSimulator::CheckOptions(const std::string& options, std::string& error) {
    sim::SimOptions parsed;
    return options.empty() || sim::ParseSimOptions(options, parsed, error);
}

void BuiltInSimulator::Stop() {
    if (impl_ && impl_->device) {
        impl_->device->Stop();
        impl_->device.reset();
    }
    path_.clear();
}
