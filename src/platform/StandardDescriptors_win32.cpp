#include "StandardDescriptors.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace platform {

// A Windows handle never takes the number of a closed standard stream, so the port cannot end up
// there; but a program started without standard streams would lose its messages to an invalid
// stream. A desktop program (the workbench) has none even when started from a console: it writes
// to the console it was started from, when there is one (its --help, --version, --record), and
// each stream that is still missing (started from Explorer, detached, from a service) is pointed
// at NUL.
bool EnsureStandardDescriptors() {
    struct Stream {
        FILE* file;
        const char* mode;
        const char* console;
    };
    const Stream streams[] = {{stdin, "r", "CONIN$"}, {stdout, "w", "CONOUT$"}, {stderr, "w", "CONOUT$"}};
    const auto present = [](FILE* file) {
        const int fd = ::_fileno(file);
        return fd >= 0 && ::_get_osfhandle(fd) >= 0;
    };
    bool missing = false;
    for (const Stream& s : streams)
        missing = missing || !present(s.file);
    if (!missing) return true;
    const bool console = ::GetConsoleWindow() != nullptr || ::AttachConsole(ATTACH_PARENT_PROCESS);
    bool ok = true;
    for (const Stream& s : streams) {
        if (present(s.file)) continue;
        if (console && std::freopen(s.console, s.mode, s.file)) continue;
        if (!std::freopen("NUL", s.mode, s.file)) ok = false;
    }
    return ok;
}

namespace {
UINT consoleCodePage = 0;
void RestoreConsoleCodePage() {
    ::SetConsoleOutputCP(consoleCodePage);
}
} // namespace

void PrintUtf8OnConsole() {
    // Zero without a console: then there is nothing to switch, nor to switch back.
    consoleCodePage = ::GetConsoleOutputCP();
    if (consoleCodePage == 0 || consoleCodePage == CP_UTF8) return;
    if (::SetConsoleOutputCP(CP_UTF8)) std::atexit(RestoreConsoleCodePage);
}

bool StandardOutputIsTerminal() {
    return _isatty(_fileno(stdout)) != 0;
}

void WriteStandardOutputAsIs() {
    std::fflush(stdout);
    ::_setmode(_fileno(stdout), _O_BINARY);
}

} // namespace platform
