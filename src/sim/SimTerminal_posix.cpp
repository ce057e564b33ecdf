// The pseudo-terminal: its device end, non-blocking, waited on with ppoll beside an eventfd that
// Wake() writes to.
#include "SimTerminal.h"

#include "PseudoTerminal.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace sim {

std::unique_ptr<SimTerminal> MakeInProcessTerminal();

namespace {

class PtyTerminal final : public SimTerminal {
public:
    PtyTerminal() : wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~PtyTerminal() override {
        Shutdown();
        if (wakeFd_ >= 0) ::close(wakeFd_);
    }

    bool Open(std::string* error) override {
        if (wakeFd_ < 0) {
            if (error) *error = "eventfd failed";
            return false;
        }
        const bool opened = pty_.Open(true, error);
        if (tombstone_ >= 0) ::close(tombstone_);
        tombstone_ = -1;
        if (!opened) return false;
        const int flags = ::fcntl(pty_.MasterFd(), F_GETFL);
        ::fcntl(pty_.MasterFd(), F_SETFL, flags | O_NONBLOCK);
        return true;
    }
    void Close() override {
        // Holding the old terminal end until the next one exists keeps its number taken, so the
        // adapter comes back under a new path, as a re-enumerated USB device does.
        if (tombstone_ >= 0) ::close(tombstone_);
        const std::string path = pty_.IsOpen() ? pty_.SlavePath() : std::string();
        tombstone_ = path.empty() ? -1 : ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        pty_.Close();
    }
    void Shutdown() override {
        pty_.Close();
        if (tombstone_ >= 0) ::close(tombstone_);
        tombstone_ = -1;
    }
    bool IsOpen() const override { return pty_.IsOpen(); }
    std::string Path() const override { return pty_.IsOpen() ? pty_.SlavePath() : std::string(); }
    long Write(const char* data, size_t count) override {
        if (!pty_.IsOpen()) return -1;
        for (;;) {
            const ssize_t n = ::write(pty_.MasterFd(), data, count);
            if (n >= 0) return static_cast<long>(n);
            if (errno != EINTR) return -1; // full (no client reads): try again when writable
        }
    }
    long Read(char* buffer, size_t count) override {
        if (!pty_.IsOpen()) return 0;
        const ssize_t n = ::read(pty_.MasterFd(), buffer, count);
        return n > 0 ? static_cast<long>(n) : 0;
    }
    void Wait(int64_t timeoutUs, bool wantWrite) override {
        pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {pty_.IsOpen() ? pty_.MasterFd() : -1, POLLIN, 0}};
        if (wantWrite) fds[1].events |= POLLOUT;
        // Microsecond time-outs: replies timed to the wire are a fraction of a millisecond late
        // or early, and rounding every wait up to a whole millisecond would slow a simulated
        // adapter well below a real one.
        timespec wait{};
        if (timeoutUs >= 0) {
            wait.tv_sec = static_cast<time_t>(timeoutUs / 1000000);
            wait.tv_nsec = static_cast<long>(timeoutUs % 1000000) * 1000L;
        }
        ::ppoll(fds, fds[1].fd >= 0 ? 2 : 1, timeoutUs < 0 ? nullptr : &wait, nullptr);
        if (fds[0].revents & POLLIN) {
            uint64_t v;
            [[maybe_unused]] auto n = ::read(wakeFd_, &v, sizeof v);
        }
    }
    void Wake() override {
        const uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(wakeFd_, &one, sizeof one);
    }
    void PrepareServingThread() override {
        // The kernel may let a timed wait run up to 50 us late so it can batch wake-ups; a reply
        // timed to the wire would then come late on every exchange and the simulated adapter
        // would read slower than a real one. This thread only, and only for its own waits.
        ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    }

private:
    platform::PseudoTerminal pty_;
    int wakeFd_ = -1;
    int tombstone_ = -1;
};

} // namespace

std::unique_ptr<SimTerminal> MakeTerminal(bool inProcess) {
    if (inProcess) return MakeInProcessTerminal();
    return std::make_unique<PtyTerminal>();
}

bool HasPseudoTerminals() {
    return true;
}

} // namespace sim
