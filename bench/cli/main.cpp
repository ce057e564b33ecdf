// tarvo-cli's reading throughput against a plain pyserial script doing the same reads, on the
// same simulator without wire timing, so what is compared is the programs, not the wire. Both
// print a line per reading into a pipe that this program reads to the end, as a script that
// consumes the readings would; what counts is the lines consumed per second, seen from outside.
// Each program runs with a short and a long count (the best of three runs each); the difference
// of the two times is the time of the extra readings, without start-up, search and
// identification. Then the processor time tarvo-cli takes per wall second against a device that
// answers after 2 ms, start-up included (the child's own, from wait4).
// Prints figures and the ratios; it asserts nothing.
#include "K310Simulator.h"
#include "SimOptions.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

struct PipedRun {
    bool ok = false;       // exited with 0 and printed one line per reading
    double seconds = 0;    // from the start until the last line was read and the program ended
    double cpuSeconds = 0; // the program's own processor time, user and system
    long lines = 0;
    long bytes = 0;
};

// Runs `args` with its standard output into a pipe that is read here as fast as it fills.
PipedRun RunPiped(std::vector<std::string> args, long expectedLines) {
    PipedRun run;
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return run;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (rc != 0) {
        ::close(fds[0]);
        return run;
    }
    std::vector<char> buffer(1 << 16);
    for (;;) {
        const ssize_t n = ::read(fds[0], buffer.data(), buffer.size());
        if (n <= 0) break;
        run.bytes += n;
        run.lines += std::count(buffer.data(), buffer.data() + n, '\n');
    }
    ::close(fds[0]);
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const auto toSeconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    run.cpuSeconds = toSeconds(usage.ru_utime) + toSeconds(usage.ru_stime);
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0 && run.lines == expectedLines;
    return run;
}

// The best of `times` runs by `measure` (the smallest): what the program does when the machine
// lets it.
template <class Run, class Measure> PipedRun Best(Run run, int count, Measure measure, int times = 3) {
    PipedRun best;
    for (int i = 0; i < times; ++i) {
        const PipedRun r = run(count);
        if (!r.ok) return r;
        if (i == 0 || measure(r) < measure(best)) best = r;
    }
    return best;
}

double Seconds(const PipedRun& r) {
    return r.seconds;
}

double CpuPerSecond(const PipedRun& r) {
    return r.cpuSeconds / r.seconds;
}

} // namespace

int main(int argc, char** argv) {
    const int shortCount = 200, longCount = argc > 1 ? std::atoi(argv[1]) : 5200;
    sim::SimOptions options;
    std::string error;
    if (!sim::ParseSimOptions("t1,power-on=1", options, error)) return 1;
    sim::K310Simulator simulator(options);
    if (!simulator.Start(&error)) {
        std::fprintf(stderr, "simulator: %s\n", error.c_str());
        return 1;
    }
    const std::string port = simulator.SlavePath();
    auto cli = [&](int count) {
        return RunPiped({TARVO_CLI_PATH, "read", "--count", std::to_string(count), "--port", port}, count);
    };
    auto python = [&](int count) {
        // Debian's interpreter, which has Debian's python3-serial (another python3 may come first on PATH).
        return RunPiped({"/usr/bin/python3", PYSERIAL_BASELINE, port, std::to_string(count), "?04:000"},
                        count);
    };
    const PipedRun c1 = Best(cli, shortCount, Seconds), c2 = Best(cli, longCount, Seconds);
    const PipedRun p1 = Best(python, shortCount, Seconds), p2 = Best(python, longCount, Seconds);
    if (!c1.ok || !c2.ok || !p1.ok || !p2.ok) {
        std::fprintf(stderr, "a run failed (tarvo-cli %ld, %ld lines; pyserial %ld, %ld lines)\n", c1.lines,
                     c2.lines, p1.lines, p2.lines);
        return 1;
    }
    const int extra = longCount - shortCount;
    const double cliRate = extra / (c2.seconds - c1.seconds), pyRate = extra / (p2.seconds - p1.seconds);
    std::printf(
        "simulator without wire timing, lines read from a pipe, %d extra readings each (best of 3):\n",
        extra);
    std::printf("  tarvo-cli read      : %8.0f lines/s (%.1f us each, %.0f bytes a line)\n", cliRate,
                1e6 / cliRate, double(c2.bytes) / c2.lines);
    std::printf("  pyserial script     : %8.0f lines/s (%.1f us each, %.0f bytes a line)\n", pyRate,
                1e6 / pyRate, double(p2.bytes) / p2.lines);
    std::printf("  tarvo-cli / pyserial: %.2f (target >= 3)\n", cliRate / pyRate);

    // A device that takes its time: the program should wait for it in the OS, not on the processor.
    const int slowCount = 1000;
    simulator.SetExtraDelayMs(2);
    const PipedRun slow = Best(cli, slowCount, CpuPerSecond);
    simulator.SetExtraDelayMs(0);
    if (!slow.ok) {
        std::fprintf(stderr, "the run against the slow device failed (%ld lines)\n", slow.lines);
        return 1;
    }
    std::printf("device answering after 2 ms, tarvo-cli read --count %d into a pipe, start-up included "
                "(best of 3):\n",
                slowCount);
    std::printf("  %.2f s, %.3f s processor time: %.4f CPU-s per wall second (target <= 0.02)\n",
                slow.seconds, slow.cpuSeconds, slow.cpuSeconds / slow.seconds);
    return 0;
}
