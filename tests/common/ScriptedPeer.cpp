#include "ScriptedPeer.h"

#include <poll.h>
#include <stdexcept>
#include <unistd.h>

namespace testing_support {

ScriptedPeer::ScriptedPeer() {
    std::string error;
    if (!pty_.Open(true, &error)) throw std::runtime_error("pseudo-terminal: " + error);
    thread_ = std::thread([this] { Run(); });
}

ScriptedPeer::~ScriptedPeer() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    cv_.notify_all();
    thread_.join();
}

void ScriptedPeer::Add(Exchange exchange) {
    {
        std::lock_guard lock(mutex_);
        script_.push_back(std::move(exchange));
    }
    cv_.notify_all();
}

void ScriptedPeer::Inject(const std::string& bytes) {
    std::lock_guard lock(mutex_);
    if (pty_.IsOpen()) (void)!::write(pty_.MasterFd(), bytes.data(), bytes.size());
}

void ScriptedPeer::HangUp() {
    std::lock_guard lock(mutex_);
    pty_.Close();
}

bool ScriptedPeer::WaitIdle(int timeoutMs) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                        [this] { return script_.empty() && !busy_; });
}

std::vector<ReceivedByte> ScriptedPeer::Received() const {
    std::lock_guard lock(mutex_);
    return received_;
}

std::string ScriptedPeer::ReceivedText() const {
    std::lock_guard lock(mutex_);
    std::string out;
    for (const auto& r : received_)
        out.push_back(r.byte);
    return out;
}

std::string ScriptedPeer::Unexpected() const {
    std::lock_guard lock(mutex_);
    return unexpected_;
}

void ScriptedPeer::Run() {
    for (;;) {
        int fd;
        {
            std::lock_guard lock(mutex_);
            if (stop_) return;
            fd = pty_.MasterFd();
        }
        if (fd < 0) {
            std::unique_lock lock(mutex_);
            cv_.wait_for(lock, std::chrono::milliseconds(20), [this] { return stop_; });
            continue;
        }
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, 10) <= 0 || !(pfd.revents & POLLIN)) continue;
        char buf[256];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) continue;

        Exchange current;
        bool matched = false;
        {
            std::lock_guard lock(mutex_);
            const auto now = std::chrono::steady_clock::now();
            for (ssize_t i = 0; i < n; ++i)
                received_.push_back({buf[i], now});
            pending_.append(buf, static_cast<size_t>(n));
            if (!script_.empty() && pending_.size() >= script_.front().expect.size()) {
                current = std::move(script_.front());
                script_.pop_front();
                if (pending_.compare(0, current.expect.size(), current.expect) == 0) {
                    pending_.erase(0, current.expect.size());
                    matched = true;
                } else {
                    unexpected_ += pending_;
                    pending_.clear();
                }
                busy_ = true;
            }
        }
        if (matched) {
            for (const auto& piece : current.answer) {
                if (piece.delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(piece.delayMs));
                std::lock_guard lock(mutex_);
                if (pty_.IsOpen()) (void)!::write(pty_.MasterFd(), piece.bytes.data(), piece.bytes.size());
            }
            if (current.hangUpAfter) HangUp();
        }
        {
            std::lock_guard lock(mutex_);
            busy_ = false;
        }
        cv_.notify_all();
    }
}

} // namespace testing_support
