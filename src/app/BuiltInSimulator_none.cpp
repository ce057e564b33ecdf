// A build without the simulator library: --simulate explains itself instead of failing silently.
#include "BuiltInSimulator.h"

struct BuiltInSimulator::Impl {};

BuiltInSimulator::BuiltInSimulator() = default;
BuiltInSimulator::~BuiltInSimulator() = default;

bool BuiltInSimulator::Start(const std::string&, std::string& error) {
    error = "this build has no simulator (src/sim was not built)";
    return false;
}

void BuiltInSimulator::Stop() {}
