#include "BenchWindow.h"

#include "K310_BiSS_bidirectional.h"
#include "SerialPort.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <unistd.h>

namespace bench {

double WallSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

long ResidentBytes() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

double LoadAverage() {
    double load = 0;
    if (FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(f, "%lf", &load) != 1) load = 0;
        std::fclose(f);
    }
    return load;
}

std::unique_ptr<sim::K310Simulator> StartSimulator(const char* options) {
    sim::SimOptions parsed;
    std::string error;
    if (!sim::ParseSimOptions(options, parsed, error)) {
        std::fprintf(stderr, "simulator options: %s\n", error.c_str());
        return nullptr;
    }
    auto simulator = std::make_unique<sim::K310Simulator>(parsed);
    if (!simulator->Start(&error)) {
        std::fprintf(stderr, "simulator: %s\n", error.c_str());
        return nullptr;
    }
    return simulator;
}

TMainFormOptions WindowOptions(TDialogs& dialogs) {
    TMainFormOptions options;
    options.versionText = QStringLiteral("bench");
    options.userName = QStringLiteral("bench");
    options.candidates = [] { return std::vector<AdapterDiscovery::Candidate>{}; };
    options.dialogs = &dialogs;
    return options;
}

bool ConnectToSimulator(TMainForm& form, sim::K310Simulator& simulator) {
    form.initTimer->stop();
    form.show();
    const platform::PortHandle port = platform::OpenPort(simulator.SlavePath());
    platform::LineSettings settings;
    if (!port.IsValid() || !platform::ReadLineSettings(port, settings) ||
        !platform::ApplyAdapterLineSettings(port, settings)) {
        std::fprintf(stderr, "cannot open the simulated port\n");
        return false;
    }
    K310_BiSS_bidirectional::PortHandle = port;
    form.btnConnectEncoderClick();
    if (!form.btnReadEncoder->isEnabled()) {
        std::fprintf(stderr, "the simulated encoder did not connect\n");
        return false;
    }
    return true;
}

} // namespace bench
