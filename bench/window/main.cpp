// The workbench window as the engineer meets it, against the adapter's port given: how long from
// main() to a shown window, reading passes per second at delay 0, and the processor time the
// whole program takes while reading with the 50 ms pause. Built for Linux and for Windows, and run
// by scripts/test-windows --bench on both against one simulator, so the two can be compared.
// Prints figures; it asserts nothing.
//   bench_window --port PORT [--seconds S]
#include "K310_7K_Velcor_SPI_Main.h"
#include "K310_BiSS_bidirectional.h"
#include "QtRoutines.h"

#include "Clock.h"
#include "SilentDialogs.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QWindow>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// Lets the window work until `done` holds or `limitMs` passes, asking every 10 ms; between the
// window's events the program sleeps in the event loop, as it does at the bench, so the processor
// time measured is the window's.
template <class Pred> bool Until(Pred done, int limitMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > limitMs) return false;
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

struct Run {
    double seconds = 0, cpu = 0;
    long passes = 0;
};

Run ReadFor(TMainForm& form, int delayMs, double seconds) {
    Run run;
    form.seDelayBetweenReadings->setValue(delayMs);
    const auto counter = QObject::connect(form.tmrReadCycle, &QTimer::timeout, [&] { ++run.passes; });
    const double cpu0 = platform::ProcessCpuSeconds();
    QElapsedTimer clock;
    clock.start();
    form.cbReadEncConstantly->setChecked(true);
    QEventLoop loop;
    QTimer::singleShot(int(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
    form.cbReadEncConstantly->setChecked(false);
    run.seconds = clock.elapsed() / 1000.0;
    run.cpu = platform::ProcessCpuSeconds() - cpu0;
    QObject::disconnect(counter);
    return run;
}

} // namespace

int main(int argc, char** argv) {
    const auto started = std::chrono::steady_clock::now();
    std::string port;
    double seconds = 5;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--port") == 0)
            port = argv[++i];
        else if (std::strcmp(argv[i], "--seconds") == 0)
            seconds = std::atof(argv[++i]);
    }
    if (port.empty()) {
        std::fprintf(stderr, "usage: bench_window --port PORT [--seconds S]\n");
        return 2;
    }
    QApplication app(argc, argv);
    SetApplicationIdentity();
    InstallDesignFont();

    bench::SilentDialogs dialogs;
    TMainFormOptions options;
    options.explicitPorts = {port};
    options.candidates = [] { return std::vector<AdapterDiscovery::Candidate>{}; };
    options.dialogs = &dialogs;
    TMainForm form(options);
    form.show();
    if (!Until([&] { return form.windowHandle() && form.windowHandle()->isExposed(); }, 20000)) {
        std::fprintf(stderr, "bench_window: the window was never shown\n");
        return 1;
    }
    const double shownMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
    // Wall-clock time as well, so a script can add the time before main() (a Wine start).
    const auto epochMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
    std::printf("start-up: main() to a shown window %.0f ms (shown at %lld ms since the epoch)\n", shownMs,
                static_cast<long long>(epochMs));

    if (!Until([] { return K310_BiSS_bidirectional::PortHandle.IsValid(); }, 10000)) {
        std::fprintf(stderr, "bench_window: no adapter on %s\n", port.c_str());
        return 1;
    }
    form.btnPowerON->click();
    form.btnConnectEncoder->click();
    if (!form.btnReadEncoder->isEnabled()) {
        std::fprintf(stderr, "bench_window: the encoder did not connect\n");
        return 1;
    }
    const Run fast = ReadFor(form, 0, seconds);
    std::printf("delay 0: %.1f passes/s (%ld passes in %.2f s)\n", fast.passes / fast.seconds, fast.passes,
                fast.seconds);
    const Run paused = ReadFor(form, 50, seconds);
    std::printf("delay 50 ms: %.1f passes/s, processor %.1f %% of one core (%.0f ms in %.2f s)\n",
                paused.passes / paused.seconds, 100.0 * paused.cpu / paused.seconds, paused.cpu * 1000,
                paused.seconds);
    std::fflush(stdout);
    return 0;
}
