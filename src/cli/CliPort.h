// Opening the adapter's port for the command line, with one clear line when that fails.
#pragma once

#include "SerialPort.h"

#include <string>

namespace cli {

// Opens `path` and applies the adapter's line settings; on failure returns kNoPort and puts one line
// naming the path and the OS error (and for a permission problem, the owning group) in *error.
platform::PortHandle OpenAdapterPort(const std::string& path, std::string* error);

} // namespace cli
