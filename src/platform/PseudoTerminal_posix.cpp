#include "PseudoTerminal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace platform {

PseudoTerminal::~PseudoTerminal() {
    Close();
}

bool PseudoTerminal::Open(bool holdOpen, std::string* error) {
    Close();
    auto fail = [&](const char* what) {
        if (error) *error = std::string(what) + ": " + std::strerror(errno);
        Close();
        return false;
    };
    masterFd_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (masterFd_ < 0) return fail("posix_openpt");
    if (::grantpt(masterFd_) != 0) return fail("grantpt");
    if (::unlockpt(masterFd_) != 0) return fail("unlockpt");
    char name[128] = {};
    if (::ptsname_r(masterFd_, name, sizeof name) != 0) return fail("ptsname_r");
    slavePath_ = name;
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) return fail("open terminal end");
    termios tio{};
    if (::tcgetattr(slave, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::cfsetispeed(&tio, B115200);
        ::cfsetospeed(&tio, B115200);
        ::tcsetattr(slave, TCSANOW, &tio);
    }
    if (holdOpen) {
        heldSlaveFd_ = slave;
    } else {
        ::close(slave);
    }
    return true;
}

void PseudoTerminal::Close() {
    if (heldSlaveFd_ >= 0) ::close(heldSlaveFd_);
    if (masterFd_ >= 0) ::close(masterFd_);
    heldSlaveFd_ = -1;
    masterFd_ = -1;
}

} // namespace platform
