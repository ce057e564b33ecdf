#include "CliPort.h"

#include "AdapterDiscovery.h"
#include "SerialPort.h"

namespace cli {

platform::PortHandle OpenAdapterPort(const std::string& path, std::string* error) {
    int osError = 0;
    const platform::PortHandle port = platform::OpenPort(path, &osError);
    if (!port.IsValid()) {
        std::string line = "cannot open " + path + ": " + platform::ErrorText(osError);
        if (platform::IsPermissionError(osError)) {
            const std::string advice = AdapterDiscovery::PermissionAdvice(platform::DeviceAccessOf(path));
            if (!advice.empty()) line += " (" + advice + ")";
        }
        if (error) *error = line;
        return platform::kNoPort;
    }
    platform::LineSettings settings;
    if (!platform::ReadLineSettings(port, settings, &osError) ||
        !platform::ApplyAdapterLineSettings(port, settings, &osError)) {
        if (error) *error = "cannot set line settings on " + path + ": " + platform::ErrorText(osError);
        platform::ClosePort(port);
        return platform::kNoPort;
    }
    return port;
}

} // namespace cli
