// Round trips of the adapter transaction against a device that answers at once, compared in the
// same run with a transaction that spins on the input queue; and the processor time the
// transaction burns while it waits for a device that answers after 2 ms. The devices are local
// pseudo-terminals, or ports given with --port and --slow-port (on Windows, COM ports that Wine
// maps to k310-sim, the slow one with "delay 2"). Prints figures and ratios; it asserts nothing.
#include "Clock.h"
#include "Responder.h"
#include "SerialPort.h"
#include "Serial_driver.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

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

double ProcessCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
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
    double processCpuPerWall;
};

struct Totals {
    double wall = 0, cpu = 0, processCpu = 0;
    int trips = 0, failed = 0;
    Figures Get() const { return {trips / wall, wall / trips * 1e6, cpu / wall, processCpu / wall}; }
};

template <typename F> void RunBlock(F&& transaction, int trips, Totals& t) {
    std::string reply;
    const double cpu0 = ThreadCpuSeconds();
    const double processCpu0 = ProcessCpuSeconds();
    const auto t0 = Clock::now();
    for (int i = 0; i < trips; ++i)
        t.failed += transaction(reply) == 0 ? 0 : 1;
    t.wall += std::chrono::duration<double>(Clock::now() - t0).count();
    t.cpu += ThreadCpuSeconds() - cpu0;
    t.processCpu += ProcessCpuSeconds() - processCpu0;
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
    std::vector<int> counts;
    std::string instantPath, slowPath;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "--port" || arg == "--slow-port") && i + 1 < argc)
            (arg == "--port" ? instantPath : slowPath) = argv[++i];
        else
            counts.push_back(std::atoi(argv[i]));
    }
    const int trips = counts.size() > 0 ? counts[0] : 5000;
    const int waitingTrips = counts.size() > 1 ? counts[1] : 300;

    std::unique_ptr<bench::Responder> instant, slow;
    if (instantPath.empty()) {
        instant = bench::StartResponder(0);
        if (!instant) {
            std::fprintf(stderr, "no local device on this system: give --port PATH [--slow-port PATH]\n");
            return 2;
        }
        instantPath = instant->Path();
    }
    std::printf(
        "process CPU per wall time: every thread of the program, not the peer nor Wine's wineserver\n");
    {
        const platform::PortHandle port = OpenConfigured(instantPath);
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
    if (slowPath.empty()) {
        slow = bench::StartResponder(2);
        if (slow) slowPath = slow->Path();
    }
    if (!slowPath.empty()) {
        const platform::PortHandle port = OpenConfigured(slowPath);
        const auto [ours, spin] =
            Compare([&](std::string& r) { return Serial_driver::SendCommand(port, "v", 0, r); },
                    [&](std::string& r) { return SpinningTransaction(port, "v", r); }, waitingTrips);
        std::printf("peer answering after 2 ms, %d round trips each:\n", waitingTrips);
        std::printf("  SendCommand (readiness wait): %.4f CPU-s/wall-s (target <= 0.02), process %.4f, %.2f "
                    "ms/round trip\n",
                    ours.cpuPerWall, ours.processCpuPerWall, ours.microsPerTrip / 1000);
        std::printf("  busy-polling loop           : %.4f CPU-s/wall-s, process %.4f, %.2f ms/round trip\n",
                    spin.cpuPerWall, spin.processCpuPerWall, spin.microsPerTrip / 1000);
        // What blocking at once costs in latency: the OS's wake-up after the reply arrived.
        std::printf("  wake-up latency, ours - busy loop: %.3f ms per round trip\n",
                    (ours.microsPerTrip - spin.microsPerTrip) / 1000);
        platform::ClosePort(port);
    }
    return 0;
}
