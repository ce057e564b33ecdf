// The simulator's server state, shared by the parts of K310Simulator (one source file per
// concern: the serving loop, the typed controls, the faults, the text control commands).
// Private to src/sim.
#pragma once

#include "K310Simulator.h"
#include "SimTerminal.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace sim {

// A command that stops half-way is dropped after this long without a further byte, so a
// client that gave up cannot spoil the next command.
constexpr uint64_t kIncompleteTimeoutUs = 500'000;
// One byte on a 115200 8N1 wire: ten bits.
constexpr double kWireByteUs = 1e6 * 10.0 / 115200.0;
constexpr size_t kLogLimit = 200'000;
constexpr size_t kOutputLimit = 1 << 20;

inline uint64_t NowUs() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

struct K310Simulator::Impl {
    SimOptions options;
    mutable std::mutex m;
    std::unique_ptr<SimDevice> device;
    SimClock clock;
    // For the simulator's whole life, so Wake() from any thread never meets a terminal that is
    // being replaced.
    std::unique_ptr<SimTerminal> terminal;
    std::string path;
    std::thread thread;
    bool running = false;
    bool stopping = false;

    int silent = 0;
    bool cut = false;
    int garbage = 0;
    int extraDelayMs = 0;
    std::mt19937 rng{7};

    struct Pending {
        uint64_t dueUs;
        std::string bytes;
    };
    std::deque<Pending> out;
    uint64_t lastDueUs = 0;
    std::string in;
    uint64_t lastByteUs = 0;
    std::vector<ReceivedCommand> log;
    size_t commandCount = 0;

    std::deque<std::packaged_task<void()>> tasks;
    uint64_t replugAtUs = 0;
    bool pathChanged = false;
    std::function<void(const std::string&)> pathCallback;

    void Wake();
    // Runs `fn` under the lock on the serving thread (or here when nothing serves), so the
    // terminal is only ever touched by one thread.
    void OnServer(std::function<void()> fn);
    bool OpenTerminal(std::string* error);
    void CloseTerminal();
    // One delimited command: the device's reply, after the faults asked for, queued for its time.
    void Process(const std::string& cmd, bool known);
    // The transport faults asked for: a cut reply, garbage before it.
    void ApplyReplyFaults(std::string& reply);
    // Splits the bytes received into commands.
    void HandleInput();
    // Writes the replies that are due.
    void Flush();
    // The serving thread.
    void Serve();
};

// Most controls touch the device under the lock; a device exists once Start() succeeded.
#define SIM_DEVICE_CALL(expr)                                                                                \
    do {                                                                                                     \
        std::lock_guard lock(impl_->m);                                                                      \
        if (!impl_->device) return;                                                                          \
        auto& dev = *impl_->device;                                                                          \
        const double now = impl_->clock.Now();                                                               \
        (void)now;                                                                                           \
        expr;                                                                                                \
    } while (0)

} // namespace sim
