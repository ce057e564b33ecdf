#include "SerialPort.h"

#include "InProcessPort.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

static_assert(sizeof(termios) <= sizeof(platform::LineSettings::raw), "LineSettings too small for termios");

namespace platform {

namespace {

void SetError(int* osError, int value) {
    if (osError) *osError = value;
}

// The simulator keeps its terminal end open for as long as it runs, so an exclusive flag that a
// killed client never cleared would lock every later client out; on pseudo-terminals the lock
// alone keeps a second workbench away.
bool IsPseudoTerminal(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
    const unsigned m = major(st.st_rdev);
    return m >= 136 && m <= 143; // Unix98 pseudo-terminal terminal ends
}

int Fd(PortHandle handle) {
    return static_cast<int>(handle.Value());
}

} // namespace

PortHandle OpenPort(const std::string& path, int* osError) {
    if (inprocess::IsPortName(path)) return PortHandle(inprocess::Open(path, osError));
    SetError(osError, 0);
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        SetError(osError, errno);
        return kNoPort;
    }
    // TIOCEXCL keeps out other openers (except privileged ones); the lock also stops a second
    // workbench run as root, which TIOCEXCL lets through.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        SetError(osError, errno == EWOULDBLOCK ? EBUSY : errno);
        ::close(fd);
        return kNoPort;
    }
    if (::isatty(fd)) {
        if (!IsPseudoTerminal(fd)) ::ioctl(fd, TIOCEXCL);
        // The adapter speaks only when asked: bytes already here answer nobody of ours.
        ::tcflush(fd, TCIFLUSH);
    }
    return PortHandle(fd);
}

bool ClosePort(PortHandle handle) {
    if (inprocess::Owns(handle.Value())) return inprocess::Close(handle.Value());
    const int fd = Fd(handle);
    if (fd < 0) return false;
    if (::isatty(fd)) ::ioctl(fd, TIOCNXCL);
    return ::close(fd) == 0;
}

bool ReadLineSettings(PortHandle handle, LineSettings& out, int* osError) {
    if (inprocess::Owns(handle.Value())) return out.valid = inprocess::Alive(handle.Value(), osError);
    const int fd = Fd(handle);
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        SetError(osError, errno);
        out.valid = false;
        return false;
    }
    std::memcpy(out.raw, &tio, sizeof tio);
    out.valid = true;
    return true;
}

bool WriteLineSettings(PortHandle handle, const LineSettings& settings, int* osError) {
    if (inprocess::Owns(handle.Value())) return inprocess::Alive(handle.Value(), osError);
    const int fd = Fd(handle);
    if (!settings.valid) {
        SetError(osError, EINVAL);
        return false;
    }
    termios tio{};
    std::memcpy(&tio, settings.raw, sizeof tio);
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
        SetError(osError, errno);
        return false;
    }
    return true;
}

bool ApplyAdapterLineSettings(PortHandle handle, const LineSettings& base, int* osError) {
    if (inprocess::Owns(handle.Value())) return inprocess::Alive(handle.Value(), osError);
    const int fd = Fd(handle);
    if (!base.valid) {
        SetError(osError, EINVAL);
        return false;
    }
    termios tio{};
    std::memcpy(&tio, base.raw, sizeof tio);
    // Raw bytes: no line editing, echo, signals or CR/LF translation, since a reply is
    // examined byte for byte and ends with a bare CR.
    tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB);
    tio.c_cflag |= CS8 | CREAD | CLOCAL;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    ::cfsetispeed(&tio, B115200);
    ::cfsetospeed(&tio, B115200);
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
        SetError(osError, errno);
        return false;
    }
    return true;
}

long BytesWaiting(PortHandle handle, int* osError) {
    if (inprocess::Owns(handle.Value())) return inprocess::BytesWaiting(handle.Value(), osError);
    const int fd = Fd(handle);
    int n = 0;
    if (::ioctl(fd, FIONREAD, &n) != 0) {
        SetError(osError, errno);
        return -1;
    }
    return n;
}

long ReadBytes(PortHandle handle, void* buffer, size_t count, int* osError) {
    if (inprocess::Owns(handle.Value())) return inprocess::Read(handle.Value(), buffer, count, osError);
    const int fd = Fd(handle);
    for (;;) {
        const ssize_t n = ::read(fd, buffer, count);
        if (n >= 0) return static_cast<long>(n);
        if (errno == EINTR) continue;
        if (errno == EAGAIN) return 0;
        SetError(osError, errno);
        return -1;
    }
}

bool WriteBytes(PortHandle handle, const void* data, size_t count, int* osError) {
    if (inprocess::Owns(handle.Value())) return inprocess::Write(handle.Value(), data, count, osError);
    const int fd = Fd(handle);
    if (fd < 0) {
        SetError(osError, EBADF);
        return false;
    }
    const auto* p = static_cast<const unsigned char*>(data);
    while (count > 0) {
        const ssize_t n = ::write(fd, p, count);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN) {
                // The port is non-blocking; wait for room instead of failing a short command.
                pollfd pfd{fd, POLLOUT, 0};
                if (::poll(&pfd, 1, 1000) <= 0 || (pfd.revents & (POLLERR | POLLHUP | POLLNVAL))) {
                    SetError(osError, (pfd.revents & (POLLERR | POLLHUP)) ? EIO : EAGAIN);
                    return false;
                }
                continue;
            }
            SetError(osError, errno);
            return false;
        }
        p += n;
        count -= static_cast<size_t>(n);
    }
    return true;
}

void DiscardInput(PortHandle handle) {
    if (inprocess::Owns(handle.Value())) return inprocess::DiscardInput(handle.Value());
    // Asked before every command, and almost always nothing waits: one cheap question then
    // instead of two calls. tcflush on anything but a terminal fails and leaves it alone.
    const int fd = Fd(handle);
    int waiting = 0;
    if (::ioctl(fd, FIONREAD, &waiting) == 0 && waiting > 0) ::tcflush(fd, TCIFLUSH);
}

WaitResult WaitReadable(PortHandle handle, uint32_t timeoutMs, int* osError) {
    if (inprocess::Owns(handle.Value())) return inprocess::WaitReadable(handle.Value(), timeoutMs, osError);
    const int fd = Fd(handle);
    if (fd < 0) {
        // poll() would skip it and wait out the time as if for a silent device.
        SetError(osError, EBADF);
        return WaitResult::HungUp;
    }
    pollfd pfd{fd, POLLIN, 0};
    const int timeout = timeoutMs > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int>(timeoutMs);
    int rc;
    do {
        rc = ::poll(&pfd, 1, timeout);
    } while (rc < 0 && errno == EINTR);
    if (rc == 0) return WaitResult::TimedOut;
    if (rc < 0) {
        SetError(osError, errno);
        return WaitResult::HungUp;
    }
    // A hung-up terminal also reports itself readable, yet nothing can be read from it any more.
    if (pfd.revents & POLLNVAL) {
        SetError(osError, EBADF);
        return WaitResult::HungUp;
    }
    if (pfd.revents & (POLLERR | POLLHUP)) {
        SetError(osError, EIO);
        return WaitResult::HungUp;
    }
    return WaitResult::Readable;
}

intptr_t IdleWatchDescriptor(PortHandle handle) {
    if (inprocess::Owns(handle.Value())) return -1;
    return Fd(handle) >= 0 ? Fd(handle) : -1;
}

IdleCheck CheckIdlePort(PortHandle handle, int* osError) {
    if (inprocess::Owns(handle.Value())) return inprocess::CheckIdle(handle.Value(), osError);
    if (WaitReadable(handle, 0, osError) == WaitResult::HungUp) return IdleCheck::Lost;
    const long waiting = BytesWaiting(handle, osError);
    if (waiting < 0) return IdleCheck::Lost;
    // Only what is there now: a device that keeps talking is read again at the next turn, not
    // here for ever.
    long left = waiting;
    unsigned char buffer[256];
    while (left > 0) {
        const long got =
            ReadBytes(handle, buffer, std::min<size_t>(sizeof buffer, static_cast<size_t>(left)), osError);
        if (got < 0) return IdleCheck::Lost;
        if (got == 0) break;
        left -= got;
    }
    return waiting > 0 ? IdleCheck::Discarded : IdleCheck::Quiet;
}

std::string ErrorText(int osError) {
    return std::strerror(osError);
}

bool IsPermissionError(int osError) {
    return osError == EACCES || osError == EPERM;
}

bool IsBusyError(int osError) {
    return osError == EBUSY;
}

DeviceAccess DeviceAccessOf(const std::string& path) {
    DeviceAccess access;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return access;
    access.known = true;
    access.mode = st.st_mode & 0777;
    const passwd* p = ::getpwuid(st.st_uid);
    access.owner = p ? p->pw_name : std::to_string(st.st_uid);
    const group* g = ::getgrgid(st.st_gid);
    access.group = g ? g->gr_name : std::to_string(st.st_gid);
    return access;
}

std::string PortKey(const std::string& path) {
    return path;
}

} // namespace platform
