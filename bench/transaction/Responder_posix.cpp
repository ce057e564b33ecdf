#include "Responder.h"

#include "PseudoTerminal.h"

#include <atomic>
#include <chrono>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace bench {

namespace {

class PtyResponder : public Responder {
public:
    explicit PtyResponder(int delayMs) : delayMs_(delayMs) {
        pty_.Open(true);
        thread_ = std::thread([this] { Run(); });
    }
    ~PtyResponder() override {
        stop_ = true;
        thread_.join();
    }
    const std::string& Path() const override { return pty_.SlavePath(); }

private:
    void Run() {
        static const std::string greeting = "K310-7K v1.09\r";
        while (!stop_) {
            pollfd pfd{pty_.MasterFd(), POLLIN, 0};
            if (::poll(&pfd, 1, 20) <= 0) continue;
            char buf[256];
            const ssize_t n = ::read(pty_.MasterFd(), buf, sizeof buf);
            for (ssize_t i = 0; i < n; ++i) {
                if (buf[i] != 'v') continue;
                if (delayMs_ > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs_));
                (void)!::write(pty_.MasterFd(), greeting.data(), greeting.size());
            }
        }
    }
    int delayMs_;
    platform::PseudoTerminal pty_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

} // namespace

std::unique_ptr<Responder> StartResponder(int delayMs) {
    return std::make_unique<PtyResponder>(delayMs);
}

} // namespace bench
