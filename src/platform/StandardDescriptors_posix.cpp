#include "StandardDescriptors.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

bool EnsureStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        int opened;
        do {
            opened = ::open("/dev/null", O_RDWR);
        } while (opened < 0 && errno == EINTR);
        if (opened < 0) return false;
        // The lowest free number is this one, since the ones below are open; keep to that
        // even if something else raced us to it.
        if (opened != fd) {
            const int moved = ::dup2(opened, fd);
            ::close(opened);
            if (moved != fd) return false;
        }
    }
    return true;
}

void PrintUtf8OnConsole() {}

bool StandardOutputIsTerminal() {
    return ::isatty(STDOUT_FILENO) == 1;
}

void WriteStandardOutputAsIs() {}

} // namespace platform
