// A minimal client of the simulated adapter for the tests: opens the terminal end like the
// workbench opens a port and exchanges one command for one CR-terminated reply.
#pragma once

#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace simtest {

class SimClient {
public:
    explicit SimClient(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ >= 0) {
            termios tio{};
            if (::tcgetattr(fd_, &tio) == 0) {
                ::cfmakeraw(&tio);
                ::tcsetattr(fd_, TCSANOW, &tio);
            }
        }
    }
    ~SimClient() { Close(); }
    SimClient(const SimClient&) = delete;
    SimClient& operator=(const SimClient&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    void Close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

    bool Send(const std::string& bytes) {
        return fd_ >= 0 && ::write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }

    // Everything that arrives until a CR (or `timeoutMs` without one).
    std::string ReadReply(int timeoutMs = 1000) {
        std::string reply;
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (reply.find('\r') == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                until - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
            char buf[512];
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n > 0)
                reply.append(buf, static_cast<size_t>(n));
            else if (n == 0 || (errno != EAGAIN && errno != EINTR))
                break;
        }
        return reply;
    }

    // Whatever arrives within `ms`.
    std::string Drain(int ms) {
        std::string got;
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < until) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 5) <= 0) continue;
            char buf[512];
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n > 0) got.append(buf, static_cast<size_t>(n));
        }
        return got;
    }

    std::string Tx(const std::string& command, int timeoutMs = 1000) {
        if (!Send(command)) return "<write failed>";
        return ReadReply(timeoutMs);
    }

private:
    int fd_ = -1;
};

} // namespace simtest
