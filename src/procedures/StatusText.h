// The encoder's status word in words, as the reading cycle shows it and the debug recording
// writes it into its Error column.
#pragma once

#include <cstdint>
#include <string>

namespace Procedures {

// Names of the conditions set in `status`, each followed by CR LF, in the order of the status map
// that `lenPersistentStatus` selects (2: legacy map, 4: new map). Any other length names nothing.
std::string StatusConditionText(uint16_t status, int lenPersistentStatus);

} // namespace Procedures
