#include "StandardDescriptors.h"

#include <cstdio>
#include <cstdlib>
#include <io.h>
#include <windows.h>

namespace platform {

// A Windows handle never takes the number of a closed standard stream, so the port cannot end up
// there; but a program started without standard streams (detached, or from a service) would
// lose its messages to an invalid stream. Each such stream is pointed at NUL instead.
bool EnsureStandardDescriptors() {
    struct Stream {
        FILE* file;
        const char* mode;
    };
    const Stream streams[] = {{stdin, "r"}, {stdout, "w"}, {stderr, "w"}};
    bool ok = true;
    for (const Stream& s : streams) {
        const int fd = ::_fileno(s.file);
        if (fd >= 0 && ::_get_osfhandle(fd) >= 0) continue;
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

} // namespace platform
