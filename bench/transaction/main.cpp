// Round trips of the adapter transaction on a pseudo-terminal, against a device that answers at
// once, compared in the same run with a transaction that spins on the input queue; and the
// processor time the transaction burns while it waits for a device that answers after 2 ms.
// Prints figures and ratios; it asserts nothing.
#include "Clock.h"
#include "PseudoTerminal.h"
#include "SerialPort.h"
#include "Serial_driver.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// Answers every "v" with the adapter's greeting, after `delayMs`.
class Responder {
public:
    explicit Responder(int delayMs) : delayMs_(delayMs) {
        pty_.Open(true);
        thread_ = std::thread([this] { Run(); });
    }
    ~Responder() {
        stop_ = true;
        thread_.join();
    }
    const std::string& Path() const { return pty_.SlavePath(); }

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

// The transaction as a plain busy-polling loop: the yardstick for reply latency.
int32_t SpinningTransaction(platform::PortHandle port, const std::string& command, std::string& reply) {
    if (!platform::WriteBytes(port, command.data(), command.size())) return -5;
    reply.clear();
    const uint32_t start = platform::TickCountMs();
    char buf[256];
    for (;;) {
        const long n = platform::BytesWaiting(port);
        if (n > 0) {
            const long got =
                platform::ReadBytes(port, buf, static_cast<size_t>(n) < sizeof buf ? n : sizeof buf);
            if (got > 0) reply.append(buf, static_cast<size_t>(got));
        }
        if (reply.find('\r') != std::string::npos) return 0;
        if (platform::TickCountMs() - start > Serial_driver::ReplyTimeoutMs) return -1;
    }
}

// The thread's own processor time, to the nanosecond (getrusage counts in scheduler ticks).
double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

platform::PortHandle OpenConfigured(const std::string& path) {
    const platform::PortHandle port = platform::OpenPort(path);
    platform::LineSettings s;
    if (!port.IsValid() || !platform::ReadLineSettings(port, s) ||
        !platform::ApplyAdapterLineSettings(port, s)) {
        std::fprintf(stderr, "cannot open %s\n", path.c_str());
        std::exit(1);
    }
    return port;
}

struct Figures {
    double perSecond;
    double microsPerTrip;
    double cpuPerWall;
};

struct Totals {
    double wall = 0, cpu = 0;
    int trips = 0, failed = 0;
    Figures Get() const { return {trips / wall, wall / trips * 1e6, cpu / wall}; }
};

template <typename F> void RunBlock(F&& transaction, int trips, Totals& t) {
    std::string reply;
    const double cpu0 = ThreadCpuSeconds();
    const auto t0 = Clock::now();
    for (int i = 0; i < trips; ++i)
        t.failed += transaction(reply) == 0 ? 0 : 1;
    t.wall += std::chrono::duration<double>(Clock::now() - t0).count();
    t.cpu += ThreadCpuSeconds() - cpu0;
    t.trips += trips;
}

// Alternates short blocks of the two, so that load from elsewhere on the machine falls on
// both alike and the ratio stays meaningful.
template <typename A, typename B> std::pair<Figures, Figures> Compare(A&& a, B&& b, int trips) {
    Totals ta, tb;
    RunBlock(a, 50, ta);
    RunBlock(b, 50, tb);
    ta = tb = Totals{};
    const int block = trips < 100 ? trips : 100;
    for (int done = 0; done < trips; done += block) {
        RunBlock(a, block, ta);
        RunBlock(b, block, tb);
    }
    if (ta.failed + tb.failed > 0)
        std::fprintf(stderr, "warning: %d round trips failed\n", ta.failed + tb.failed);
    return {ta.Get(), tb.Get()};
}

} // namespace

int main(int argc, char** argv) {
    const int trips = argc > 1 ? std::atoi(argv[1]) : 5000;
    const int waitingTrips = argc > 2 ? std::atoi(argv[2]) : 300;

    {
        Responder instant(0);
        const platform::PortHandle port = OpenConfigured(instant.Path());
        const auto [ours, spin] =
            Compare([&](std::string& r) { return Serial_driver::SendCommand(port, "v", 0, r); },
                    [&](std::string& r) { return SpinningTransaction(port, "v", r); }, trips);
        std::printf("instant peer, %d round trips each:\n", trips);
        std::printf(
            "  SendCommand (readiness wait): %9.0f round trips/s  %7.1f us/round trip  %.3f CPU-s/wall-s\n",
            ours.perSecond, ours.microsPerTrip, ours.cpuPerWall);
        std::printf(
            "  busy-polling loop           : %9.0f round trips/s  %7.1f us/round trip  %.3f CPU-s/wall-s\n",
            spin.perSecond, spin.microsPerTrip, spin.cpuPerWall);
        std::printf("  time per round trip, ours / busy loop: %.2f (target <= 1.5)\n",
                    ours.microsPerTrip / spin.microsPerTrip);
        platform::ClosePort(port);
    }
    {
        Responder slow(2);
        const platform::PortHandle port = OpenConfigured(slow.Path());
        const auto [ours, spin] =
            Compare([&](std::string& r) { return Serial_driver::SendCommand(port, "v", 0, r); },
                    [&](std::string& r) { return SpinningTransaction(port, "v", r); }, waitingTrips);
        std::printf("peer answering after 2 ms, %d round trips each:\n", waitingTrips);
        std::printf(
            "  SendCommand (readiness wait): %.4f CPU-s/wall-s (target <= 0.02), %.2f ms/round trip\n",
            ours.cpuPerWall, ours.microsPerTrip / 1000);
        std::printf("  busy-polling loop           : %.4f CPU-s/wall-s, %.2f ms/round trip\n",
                    spin.cpuPerWall, spin.microsPerTrip / 1000);
        // What blocking at once costs in latency: the OS's wake-up after the reply arrived.
        std::printf("  wake-up latency, ours - busy loop: %.3f ms per round trip\n",
                    (ours.microsPerTrip - spin.microsPerTrip) / 1000);
        platform::ClosePort(port);
    }
    return 0;
}
