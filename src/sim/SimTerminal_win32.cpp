#include "SimTerminal.h"

namespace sim {

std::unique_ptr<SimTerminal> MakeInProcessTerminal();

// No pseudo-terminals here: the in-process port serves every simulator.
std::unique_ptr<SimTerminal> MakeTerminal(bool) {
    return MakeInProcessTerminal();
}

bool HasPseudoTerminals() {
    return false;
}

} // namespace sim
