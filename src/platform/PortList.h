// The system's own list of serial ports, as raw entries: the adapter search turns them into
// candidates by its own rules, so the rules stay testable on any system with a list of our own.
#pragma once

#include <string>
#include <vector>

namespace platform {

// Which list the entries come from, so the search knows which rule reads them.
enum class PortListKind {
    TtyClassFolder, // Linux: one entry per name in /sys/class/tty (ttyACM0, ttyS1 ...), data empty
    SerialCommKey,  // Windows: one entry per value of HKLM\HARDWARE\DEVICEMAP\SERIALCOMM
};

struct PortListEntry {
    std::string name; // the folder entry's name, or the registry value's name
    std::string data; // the registry value's text (e.g. COM5), empty for a folder entry
};

struct PortList {
    PortListKind kind = PortListKind::TtyClassFolder;
    // Where a TtyClassFolder name is opened ("/dev"); empty for the registry.
    std::string deviceFolder;
    std::vector<PortListEntry> entries;
};

// The running system's list. A list that cannot be read (a missing folder, a key that cannot
// be opened) is an empty list; *osError then says why.
PortList SystemPortList(int* osError = nullptr);

} // namespace platform
