// A long run under faults: the workbench window reads continuously from a k310-sim process while
// a driver injects a random fault every few hundred milliseconds through the simulator's control
// input, unplugging and replugging it now and then behind a fixed link path. A "user" puts the
// reading back on whenever a fault stopped it, as the engineer at the bench would.
//
//   fault_soak --sim PATH/k310-sim [--seconds N] [--seed N] [--log FILE]
//
// Prints what was injected, how each unplug was recovered, resident memory after warm-up and at
// the end, and the log's length. Exit 0 when every unplug was recovered and the reading came back
// after the last fault; 1 otherwise.
#include "Dialogs.h"
#include "K310_7K_Velcor_SPI_Main.h"
#include "K310_BiSS_bidirectional.h"
#include "QtRoutines.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <random>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

long ResidentKiB() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Message boxes counted, never shown: nobody is there to close them.
class CountingDialogs : public TDialogs {
public:
    void information(const QString&) override { ++shown; }
    void warning(const QString&) override { ++shown; }
    void error(const QString&) override { ++shown; }
    bool question(const QString&) override {
        ++shown;
        return true;
    }
    void questionSound() override {}
    void setBusyCursor(bool) override {}
    long shown = 0;
};

// k310-sim as a child: its control input is a pipe, its output goes to a file.
class SimulatorProcess {
public:
    bool Start(const std::string& program, const std::string& link, const std::string& outputFile) {
        int in[2];
        if (::pipe(in) != 0) return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_addclose(&actions, in[1]);
        posix_spawn_file_actions_addopen(&actions, 1, outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        std::vector<std::string> args = {program,    "--preset", "t1",     "--power-on",
                                         "--rotate", "45",       "--link", link};
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const int rc = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        control_ = in[1];
        ::fcntl(control_, F_SETFD, FD_CLOEXEC);
        return rc == 0;
    }
    void Send(const std::string& line) {
        const std::string text = line + "\n";
        if (::write(control_, text.data(), text.size()) != ssize_t(text.size()))
            std::fprintf(stderr, "fault_soak: cannot send \"%s\" to the simulator\n", line.c_str());
    }
    // True while the child has not ended by itself.
    bool Alive() {
        int status = 0;
        return pid_ > 0 && ::waitpid(pid_, &status, WNOHANG) == 0;
    }
    ~SimulatorProcess() {
        if (control_ >= 0) ::close(control_); // end of input ends k310-sim
        if (pid_ > 0) {
            for (int i = 0; i < 200 && Alive(); ++i)
                ::usleep(10000);
            if (Alive()) ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }

private:
    pid_t pid_ = -1;
    int control_ = -1;
};

struct Options {
    std::string sim;
    double seconds = 60;
    unsigned seed = 0;
    std::string log; // where the window's log goes at the end
};

bool ParseOptions(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (i + 1 >= argc) return false;
        const std::string v = argv[++i];
        char* end = nullptr;
        if (a == "--sim") {
            o.sim = v;
        } else if (a == "--seconds") {
            o.seconds = std::strtod(v.c_str(), &end);
            if (*end || !(o.seconds > 0)) return false;
        } else if (a == "--log") {
            o.log = v;
        } else if (a == "--seed") {
            o.seed = unsigned(std::strtoul(v.c_str(), &end, 10));
            if (*end) return false;
        } else {
            return false;
        }
    }
    return !o.sim.empty();
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: fault_soak --sim PATH/k310-sim [--seconds N] [--seed N] [--log FILE]\n");
        return 2;
    }
    if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    QTemporaryDir folder;
    const std::string link = folder.filePath(QStringLiteral("k310")).toStdString();
    SimulatorProcess simulator;
    if (!folder.isValid() ||
        !simulator.Start(options.sim, link, folder.filePath(QStringLiteral("sim.txt")).toStdString())) {
        std::fprintf(stderr, "fault_soak: cannot start %s\n", options.sim.c_str());
        return 1;
    }
    struct stat st {};
    for (int i = 0; i < 500 && ::lstat(link.c_str(), &st) != 0; ++i)
        ::usleep(10000);

    CountingDialogs dialogs;
    TMainFormOptions formOptions;
    formOptions.versionText = QStringLiteral("soak");
    formOptions.userName = QStringLiteral("soak");
    formOptions.explicitPorts = {link};
    formOptions.candidates = [] { return std::vector<AdapterDiscovery::Candidate>{}; };
    formOptions.dialogs = &dialogs;
    formOptions.recordingDirectory = folder.path();
    TMainForm form(formOptions);
    form.show();
    form.seDelayBetweenReadings->setValue(0);

    if (!options.seed) options.seed = unsigned(Clock::now().time_since_epoch().count() % 1000000) + 1;
    std::mt19937 random(options.seed);
    const auto started = Clock::now();
    const bool trace = std::getenv("FAULT_SOAK_TRACE") != nullptr;
    const double warmUp = std::min(60.0, options.seconds / 5);
    long residentAfterWarmUp = 0;
    long residentLogFull = 0;
    double logFullAt = 0;
    const double sampleEvery = std::max(10.0, options.seconds / 10);
    double nextSample = sampleEvery;

    // --- the user: connects the encoder and puts the reading back on whenever it stopped.
    long readingsSeen = 0, reconnects = 0;
    QString lastFrame;
    Clock::time_point lastReading = Clock::now();
    Clock::time_point readingOffSince = Clock::now();
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
        using K310_BiSS_bidirectional::PortHandle;
        const QString frame = form.lblPosRX->text();
        if (frame != lastFrame && !frame.isEmpty() && !K310_BiSS_bidirectional::EncoderPosition.ErrCRC) {
            ++readingsSeen;
            lastReading = Clock::now();
        }
        lastFrame = frame;
        if (!PortHandle.IsValid() || form.cbReadEncConstantly->isChecked()) {
            readingOffSince = Clock::now();
            return;
        }
        // A person notices after a moment, not at once.
        if (SecondsSince(readingOffSince) < 0.5) return;
        ++reconnects;
        if (trace)
            std::fprintf(stderr, "%8.3f connect on %lld\n", SecondsSince(started),
                         static_cast<long long>(PortHandle.Value()));
        form.btnConnectEncoderClick();
        if (form.btnReadEncoder->isEnabled() && PortHandle.IsValid())
            form.cbReadEncConstantly->setChecked(true);
    });
    user.start(100);

    // --- the faults.
    struct Fault {
        const char* name;
        const char* command;
        int weight;
    };
    const std::vector<Fault> faults = {
        {"silent", "silent 1", 3},         {"cut", "cut", 3},
        {"garbage", "garbage 30", 3},      {"badcrc", "badcrc 1", 3},
        {"errorreply", "errorreply 1", 3}, {"delay", "delay 450", 2},
        {"unplug", "unplug 700", 1},
    };
    std::vector<int> weights;
    for (const Fault& f : faults)
        weights.push_back(f.weight);
    std::discrete_distribution<size_t> pick(weights.begin(), weights.end());
    std::uniform_int_distribution<int> pause(200, 600);
    std::map<std::string, long> injected;
    bool delayOn = false;
    bool unplugPending = false; // unplugged, the reading not yet back
    Clock::time_point unpluggedAt;
    long readingsAtUnplug = 0;
    long unplugs = 0, recovered = 0;
    double slowestRecovery = 0;
    bool simulatorDied = false;

    QTimer driver;
    driver.setSingleShot(true);
    QObject::connect(&driver, &QTimer::timeout, [&] {
        if (!simulator.Alive()) {
            simulatorDied = true;
            app.quit();
            return;
        }
        if (delayOn) {
            simulator.Send("delay 0");
            delayOn = false;
        }
        const Fault& f = faults[pick(random)];
        const bool isUnplug = std::string(f.name) == "unplug";
        // While the window looks for the adapter again it sends one probe a second: one-shot
        // faults would queue up for that probe and keep it from ever getting through.
        if (!unplugPending) {
            simulator.Send(f.command);
            if (trace) std::fprintf(stderr, "%8.3f fault %s\n", SecondsSince(started), f.command);
            ++injected[f.name];
            if (std::string(f.name) == "delay") delayOn = true;
            if (isUnplug) {
                ++unplugs;
                unplugPending = true;
                unpluggedAt = Clock::now();
                readingsAtUnplug = readingsSeen;
            }
        }
        driver.start(pause(random));
    });
    driver.start(1000);

    // --- the clock of the run.
    bool stopping = false;
    Clock::time_point stoppedFaultsAt;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const double elapsed = SecondsSince(started);
        if (unplugPending && readingsSeen > readingsAtUnplug + 1) {
            unplugPending = false;
            ++recovered;
            slowestRecovery = std::max(slowestRecovery, SecondsSince(unpluggedAt));
        }
        if (!residentAfterWarmUp && elapsed >= warmUp) residentAfterWarmUp = ResidentKiB();
        // The log grows to its cap of kept lines; from then on, memory must hold still.
        if (!residentLogFull && form.Memo1->document()->blockCount() >= TMainForm::kLogLinesKept) {
            residentLogFull = ResidentKiB();
            logFullAt = elapsed;
        }
        if (elapsed >= nextSample) {
            std::printf("  at %4.0f s: resident %ld KiB, log %d lines, %ld faults so far\n", elapsed,
                        ResidentKiB(), form.Memo1->document()->blockCount(), [&] {
                            long n = 0;
                            for (const auto& kind : injected)
                                n += kind.second;
                            return n;
                        }());
            std::fflush(stdout);
            nextSample += sampleEvery;
        }
        if (!stopping && elapsed >= options.seconds) {
            // No more faults; the reading has some seconds to come back from the last one.
            stopping = true;
            driver.stop();
            if (delayOn) simulator.Send("delay 0");
            stoppedFaultsAt = Clock::now();
        }
        if (stopping) {
            const bool backAfterLast =
                !unplugPending && lastReading > stoppedFaultsAt + std::chrono::seconds(1);
            if (backAfterLast || SecondsSince(stoppedFaultsAt) > 20) app.quit();
        }
    });
    watch.start(50);

    app.exec();
    const long residentAtEnd = ResidentKiB();
    const bool readingBack = lastReading > stoppedFaultsAt && !unplugPending;

    long total = 0;
    std::string kinds;
    for (const auto& [name, n] : injected) {
        total += n;
        kinds += (kinds.empty() ? "" : ", ") + name + " " + std::to_string(n);
    }
    std::printf("run: %.0f s of faults, seed %u\n", options.seconds, options.seed);
    std::printf("faults injected: %ld (%s)\n", total, kinds.c_str());
    std::printf("unplugs: %ld, recovered: %ld, slowest recovery %.2f s\n", unplugs, recovered,
                slowestRecovery);
    std::printf("readings seen: %ld, reading put back on: %ld times, message boxes: %ld\n", readingsSeen,
                reconnects, dialogs.shown);
    std::printf("reading back after the last fault: %s\n", readingBack ? "yes" : "no");
    std::printf("resident memory: %ld KiB after %.0f s warm-up, %ld KiB at the end (%.3f)\n",
                residentAfterWarmUp, warmUp, residentAtEnd,
                residentAfterWarmUp ? double(residentAtEnd) / residentAfterWarmUp : 0.0);
    if (residentLogFull)
        std::printf("resident memory once the log was full (%.0f s): %ld KiB, at the end %ld KiB (%.3f)\n",
                    logFullAt, residentLogFull, residentAtEnd, double(residentAtEnd) / residentLogFull);
    std::printf("log: %lld lines\n", static_cast<long long>(form.LogLines().size()));
    if (!options.log.empty()) {
        std::ofstream out(options.log);
        for (const QString& line : form.LogLines())
            out << line.toStdString() << "\n";
    }
    if (simulatorDied) std::printf("the simulator ended during the run\n");
    const bool ok = !simulatorDied && unplugs == recovered && readingBack;
    std::printf("%s\n", ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}
