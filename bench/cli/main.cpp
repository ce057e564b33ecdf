// tarvo-cli's reading throughput against a plain pyserial script doing the same reads, on the
// same simulator without wire timing, so what is compared is the programs, not the wire. Each
// program runs twice, with a short and a long count; the difference of the two times is the
// time of the extra readings, without start-up, search and identification.
// Prints figures and the ratio; it asserts nothing.
#include "K310Simulator.h"
#include "SimOptions.h"

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace {

// Wall seconds of one run of `args`, its output discarded; negative when it failed.
double TimedRun(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return -1;
    int status = 0;
    ::waitpid(pid, &status, 0);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? seconds : -1;
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
        return TimedRun({TARVO_CLI_PATH, "read", "--count", std::to_string(count), "--port", port});
    };
    auto python = [&](int count) {
        // Debian's interpreter, which has Debian's python3-serial (another python3 may come first on PATH).
        return TimedRun({"/usr/bin/python3", PYSERIAL_BASELINE, port, std::to_string(count), "?04:000"});
    };
    const double c1 = cli(shortCount), c2 = cli(longCount);
    const double p1 = python(shortCount), p2 = python(longCount);
    if (c1 < 0 || c2 < 0 || p1 < 0 || p2 < 0) {
        std::fprintf(stderr, "a run failed (tarvo-cli %.2f %.2f s, pyserial %.2f %.2f s)\n", c1, c2, p1, p2);
        return 1;
    }
    const int extra = longCount - shortCount;
    const double cliRate = extra / (c2 - c1), pyRate = extra / (p2 - p1);
    std::printf("simulator without wire timing, %d extra readings each:\n", extra);
    std::printf("  tarvo-cli read     : %8.0f readings/s (%.1f us each)\n", cliRate, 1e6 / cliRate);
    std::printf("  pyserial script    : %8.0f readings/s (%.1f us each)\n", pyRate, 1e6 / pyRate);
    std::printf("  tarvo-cli / pyserial: %.2f (target >= 3)\n", cliRate / pyRate);
    return 0;
}
