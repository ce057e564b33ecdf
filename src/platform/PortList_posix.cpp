#include "PortList.h"

#include <filesystem>
#include <system_error>

namespace platform {

PortList SystemPortList(int* osError) {
    PortList list;
    list.kind = PortListKind::TtyClassFolder;
    list.deviceFolder = "/dev";
    std::error_code ec;
    for (std::filesystem::directory_iterator it("/sys/class/tty", ec), end; !ec && it != end;
         it.increment(ec))
        list.entries.push_back(PortListEntry{it->path().filename().string(), {}});
    if (osError) *osError = ec.value();
    return list;
}

} // namespace platform
