// k310-sim: a simulated K310-7K adapter with a Tarvo encoder on a pseudo-terminal. Prints the
// terminal's path as its first line, then obeys control commands on standard input.
#include "CommandLineOptions.h"
#include "K310Simulator.h"
#include "SimOptions.h"
#include "StandardDescriptors.h"
#include "TarvoVersion.h"
#include "TerminationRequests.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <mutex>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

int signalPipe[2] = {-1, -1};

void OnSignal(int) {
    const char b = 1;
    [[maybe_unused]] auto n = ::write(signalPipe[1], &b, 1);
}

const char* kUsage =
    "Usage: k310-sim [options]\n"
    "Serves a simulated K310-7K adapter with a Tarvo encoder on a new pseudo-terminal. The first\n"
    "line printed is the terminal's path; open it like the adapter's serial port. Then control\n"
    "commands are read from standard input, one per line, until end of input or SIGTERM.\n"
    "\n"
    "Options:\n"
    "  --preset NAME          encoder variant: t1 (default), t1mt, t2, t3, t4, t5, t6, bare\n"
    "  --position ST[:MT]     shaft position: single-turn counts, from 0 to one less than the\n"
    "                         counts per turn (0..262143 for t1), and turn count, -32768..32767\n"
    "                         on multiturn presets (0 on the others)\n"
    "  --rotate DEG_PER_S     turn the shaft at this speed, -360000..360000\n"
    "  --noise COUNTS         Gaussian noise of the reading (standard deviation in counts, 0 up\n"
    "                         to the counts per turn)\n"
    "  --wire-timing          delay each reply by the wire time of command and reply at\n"
    "                         115200 8N1 (86.8 us per byte)\n"
    "  --usb-frames           deliver replies on 1 ms USB frame boundaries\n"
    "  --power-on             encoder supply on from the start (otherwise \"n\" switches it on)\n"
    "  --describe             print the chosen variant as JSON and exit\n"
    "  --link PATH            keep a symbolic link PATH to the terminal (follows come-backs);\n"
    "                         PATH is new or an old link, in a folder that exists\n"
    "  --no-input             ignore standard input; serve until SIGTERM or SIGINT (for\n"
    "                         running in the background with input from /dev/null)\n"
    "  --time-scale X         simulated seconds per real second, 0.001..10000 (default 1)\n"
    "  --selfcal-seconds S    duration of a self-calibration, 0..255 (default 3)\n"
    "  --adapter-version V    adapter firmware, e.g. 1.08 (or the whole \"v\" reply text)\n"
    "  --adapter-serial S     adapter serial number (reply to \"r\")\n"
    "  --adapter-revision N   adapter firmware revision (reply to \"o\")\n"
    "  --encoder-serial S     the encoder's serial number instead of the preset's\n"
    "  --part-number P        the encoder's part number (16 characters) instead of the preset's\n"
    "  --version              print the version and exit\n"
    "  --help                 this text\n"
    "\n"
    "Presets:\n"
    "  t1    type code 15, 18B, type 1, legacy registers, firmware 3.9, all optional registers\n"
    "  t1mt  type code 17, 19M, type 1 multiturn, legacy, firmware 3.5 (debug latch by ?07:021)\n"
    "  t2    type code 27 N, 18B, type 2, legacy, firmware 2.9 (swapped error map, \"retries\")\n"
    "  t3    type code 27 P, 19B, type 3, legacy, firmware 3.9, frame word = temperature\n"
    "  t4    type code 37 Q, 20B, type 4, legacy, firmware 3.9, frame word = temperature + status\n"
    "  t5    type code 37 R, 19B, type 5, new registers, firmware 3.12 with hash, 4-byte firmware\n"
    "        registers, 18-character serial\n"
    "  t6    type code 47 M, 21M, type 6 multiturn, new registers, firmware 4.2, diagnostics,\n"
    "        debug words at 0x20000\n"
    "  bare  type code 15, 16B, type 1, no optional and no firmware registers\n"
    "\n";

std::vector<CommandLineOptions::Spec> OptionSpecs() {
    using CommandLineOptions::TakesValue;
    std::vector<CommandLineOptions::Spec> specs = {{"--help", TakesValue::No},
                                                   {"--version", TakesValue::No},
                                                   {"--describe", TakesValue::No},
                                                   {"--no-input", TakesValue::No}};
    for (const char* name :
         {"--preset", "--position", "--rotate", "--noise", "--link", "--time-scale", "--selfcal-seconds",
          "--adapter-version", "--adapter-serial", "--adapter-revision", "--encoder-serial", "--part-number"})
        specs.push_back({name, TakesValue::Yes});
    // Switches that the in-process form writes as "wire-timing=1" may say so here too.
    for (const char* name : {"--wire-timing", "--usb-frames", "--power-on"})
        specs.push_back({name, TakesValue::Optional});
    return specs;
}

// What was printed at once (help, version, the variant) reached standard output, or exit 1.
int FinishOutput() {
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return 0;
    std::fprintf(stderr, "k310-sim: cannot write standard output: %s\n", std::strerror(errno));
    return 1;
}

int UsageError(const std::string& problem) {
    std::fprintf(stderr, "k310-sim: %s\n%s\n", problem.c_str(),
                 CommandLineOptions::TryHelpLine("k310-sim").c_str());
    return 2;
}

std::mutex outputLock;

// Set once a line could not be written: the simulator then stops serving and exits 1, as the
// other programs do when their output is gone.
std::atomic<bool> outputLost{false};

void PrintLine(const std::string& text) {
    std::lock_guard lock(outputLock);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        if (!outputLost.exchange(true))
            std::fprintf(stderr, "k310-sim: cannot write standard output: %s\n", std::strerror(errno));
        // Wakes the loop below, which ends the program.
        const char b = 1;
        [[maybe_unused]] auto n = ::write(signalPipe[1], &b, 1);
    }
}

// Why no link can be made at `link` ("" when one can), judged before the simulator starts, so that
// a mistyped path ends the program before it serves anything. Only an old link is replaced.
std::string LinkProblem(const std::string& link) {
    struct stat st {};
    if (::lstat(link.c_str(), &st) == 0)
        return S_ISLNK(st.st_mode) ? std::string()
                                   : "it exists and is not a symbolic link; it is left as it is";
    if (errno != ENOENT) return std::strerror(errno);
    const auto slash = link.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : link.substr(0, slash);
    if (::stat(folder.c_str(), &st) != 0) return std::strerror(errno);
    if (!S_ISDIR(st.st_mode)) return std::strerror(ENOTDIR);
    if (::access(folder.c_str(), W_OK | X_OK) != 0) return std::strerror(errno);
    return {};
}

// Points `link` at `target`, or removes it for an empty target. False with the reason in *why;
// never clobbers anything but a symbolic link.
bool UpdateLink(const std::string& link, const std::string& target, std::string* why) {
    if (link.empty()) return true;
    struct stat st {};
    if (::lstat(link.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            *why = "it exists and is not a symbolic link; it is left as it is";
            return false;
        }
        if (::unlink(link.c_str()) != 0 && errno != ENOENT) {
            *why = std::strerror(errno);
            return false;
        }
    }
    if (target.empty()) return true;
    if (::symlink(target.c_str(), link.c_str()) != 0) {
        *why = std::strerror(errno);
        return false;
    }
    return true;
}

// A link that cannot follow the terminal any more is reported; the simulator serves on.
void UpdateLinkOrReport(const std::string& link, const std::string& target) {
    std::string why;
    if (UpdateLink(link, target, &why)) return;
    if (target.empty())
        std::fprintf(stderr, "k310-sim: cannot remove the link %s: %s\n", link.c_str(), why.c_str());
    else
        std::fprintf(stderr, "k310-sim: cannot make the link %s again: %s (serving on %s without it)\n",
                     link.c_str(), why.c_str(), target.c_str());
}

} // namespace

int main(int argc, char** argv) {
    // Before anything is opened: a closed standard stream would otherwise take the number of the
    // signal pipe or the terminal, and the program's own lines would go there.
    if (!platform::EnsureStandardDescriptors()) return 1;
    platform::IgnoreBrokenPipe();
    sim::SimOptions options;
    std::string link;
    bool describe = false;
    bool readInput = true;
    std::string problem;
    const auto parsed =
        CommandLineOptions::Parse(std::vector<std::string>(argv + 1, argv + argc), OptionSpecs(), &problem);
    if (!parsed) return UsageError(problem);
    if (!parsed->positional.empty())
        return UsageError("unexpected argument \"" + parsed->positional[0] + "\"");
    for (const CommandLineOptions::Option& option : parsed->options) {
        const std::string name = option.name.substr(2);
        const std::string& value = option.value;
        if (name == "help") {
            std::fputs(kUsage, stdout);
            std::fputs(sim::K310Simulator::ControlHelp(), stdout);
            return FinishOutput();
        }
        if (name == "version") {
            std::printf("k310-sim %s\n", TARVO_VERSION);
            return FinishOutput();
        }
        if (name == "describe") {
            describe = true;
            continue;
        }
        if (name == "no-input") {
            readInput = false;
            continue;
        }
        if (name == "link") {
            if (value.empty()) return UsageError("--link needs a path");
            link = value;
            continue;
        }
        std::string error;
        if (!sim::ApplySimOption(name, value, options, error)) return UsageError(error);
    }
    // The position's range depends on the preset, which may have come after it.
    if (std::string error; !sim::CheckSimOptions(options, sim::OptionSpelling::Flag, error))
        return UsageError(error);

    if (describe) {
        sim::EncoderVariant variant;
        sim::FindPreset(options.preset, variant);
        std::fputs(sim::DescribeJson(variant, options.adapter).c_str(), stdout);
        return FinishOutput();
    }

    if (!link.empty()) {
        const std::string why = LinkProblem(link);
        if (!why.empty()) return UsageError("cannot make the link " + link + ": " + why);
    }

    if (::pipe(signalPipe) != 0) return 1;
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    ::sigemptyset(&sa.sa_mask);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);

    sim::K310Simulator simulator(options);
    std::string error;
    if (!simulator.Start(&error)) {
        std::fprintf(stderr, "k310-sim: %s\n", error.c_str());
        return 1;
    }
    // The link first: whoever reads the path line may use the link at once. Its place was judged
    // above; should it have changed since, nothing is served and nothing is left behind either.
    if (std::string why; !UpdateLink(link, simulator.SlavePath(), &why)) {
        simulator.Stop();
        return UsageError("cannot make the link " + link + ": " + why);
    }
    PrintLine(simulator.SlavePath());
    simulator.SetPathChangedCallback([&link](const std::string& path) {
        UpdateLinkOrReport(link, path);
        PrintLine(path.empty() ? "unplugged" : path);
    });

    std::string pending;
    bool done = false;
    while (!done) {
        pollfd fds[2] = {{readInput ? STDIN_FILENO : -1, POLLIN, 0}, {signalPipe[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[1].revents & POLLIN) break;
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            char buf[1024];
            const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
            if (n <= 0) {
                done = true;
            } else {
                pending.append(buf, static_cast<size_t>(n));
            }
            size_t nl;
            while ((nl = pending.find('\n')) != std::string::npos || (done && !pending.empty())) {
                std::string line = nl == std::string::npos ? pending : pending.substr(0, nl);
                pending.erase(0, nl == std::string::npos ? pending.size() : nl + 1);
                if (!line.empty() && line.back() == '\r') line.pop_back();
                if (line == "quit" || line == "exit") {
                    done = true;
                    break;
                }
                PrintLine(simulator.Control(line));
            }
        }
    }
    simulator.SetPathChangedCallback(nullptr);
    simulator.Stop();
    UpdateLinkOrReport(link, "");
    return outputLost ? 1 : 0;
}
