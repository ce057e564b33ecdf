// The power-cycling soak in the real window (offscreen) against the simulated adapter and encoder
// at a raised time scale: a run of many cycles at rest with the shortest pauses, the shaft made to
// jump at chosen power-ups. Prints the jumps the run found, the lines it logged that match no
// injected jump, and the wall time. Prints figures; it asserts nothing.
//
//   bench_powercycle [cycles [simulator options]]
//       default 5000 cycles, "t1,power-on=1,wire-timing=1,time-scale=10"
#include "BenchWindow.h"
#include "K310Simulator.h"
#include "K310_7K_Velcor_SPI_Main.h"
#include "K310_BiSS_bidirectional.h"
#include "QtRoutines.h"
#include "SerialPort.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <unistd.h>

namespace {

// The count a jump line ends with ("... [N]"), or -1.
long TrailingCount(const QString& line) {
    if (!line.endsWith(QLatin1Char(']'))) return -1;
    const qsizetype open = line.lastIndexOf(QLatin1Char('['));
    if (open < 0) return -1;
    bool ok = false;
    const long n = line.mid(open + 1, line.size() - open - 2).toLong(&ok);
    return ok ? n : -1;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    InstallDesignFont();

    const int cycles = argc > 1 ? std::atoi(argv[1]) : 5000;
    if (cycles < 1 || cycles > 100000) {
        std::fprintf(stderr, "usage: bench_powercycle [cycles (1..100000) [simulator options]]\n");
        return 1;
    }
    const char* simOptions = argc > 2 ? argv[2] : "t1,power-on=1,wire-timing=1,time-scale=10";
    const auto started = bench::StartSimulator(simOptions);
    if (!started) return 1;
    sim::K310Simulator& simulator = *started;

    bench::SilentDialogs dialogs;
    TMainFormOptions formOptions = bench::WindowOptions(dialogs);
    TMainForm form(formOptions);
    if (!bench::ConnectToSimulator(form, simulator)) return 1;

    // A jump injected as the count turns N (right after a power-up) comes with the next power-up
    // and is found by the check after it, which logs N - 1. The last power-up (count 1 to 0) has
    // no check after it, so N runs from cycles - 1 down to 2, spread evenly. Several degrees each
    // way in turn, far beyond the 2 allowed at rest, and the shaft stays near where it began.
    const int jumps = std::min(50, std::max(0, cycles - 2));
    std::map<int, int64_t> injected;
    for (int k = 0; k < jumps; ++k) {
        const int count =
            jumps == 1 ? cycles - 1 : cycles - 1 - int(std::lround(double(k) * (cycles - 3) / (jumps - 1)));
        const int64_t size = 5000 + (k * 1237) % 5000;
        injected[count] = k % 2 ? -size : size;
    }

    form.PowerCycle.PowerOnStatus = true; // the supply is on: the run starts with a check
    form.seIzklopDelayMin->setValue(10);
    form.seIzklopDelayMax->setValue(10);
    form.seSteviloIzklopov->setValue(cycles);
    form.cbCiklirajStacionarno->setChecked(true);
    QObject::connect(form.seSteviloIzklopov, &QSpinBox::valueChanged, [&](int count) {
        if (const auto jump = injected.find(count); jump != injected.end())
            simulator.JumpAtNextPowerUp(jump->second);
    });

    std::printf("simulator \"%s\"; %d cycles, delays 10 ms, %d jumps injected; load average %.2f on %ld "
                "cores\n",
                simOptions, cycles, jumps, bench::LoadAverage(), sysconf(_SC_NPROCESSORS_ONLN));

    QEventLoop loop;
    bool timedOut = false;
    QObject::connect(form.cbCiklirajIzklope, &QCheckBox::toggled, [&](bool on) {
        if (!on) loop.quit();
    });
    // Well beyond any sound run's length; a stalled run is reported, not waited for.
    QTimer::singleShot(60000 + cycles * 200, &form, [&] {
        timedOut = true;
        form.cbCiklirajIzklope->setChecked(false);
    });
    const double wall0 = bench::WallSeconds();
    form.cbCiklirajIzklope->setChecked(true);
    // What the start logged (its line and the supply switch's own): the run's lines come after.
    const qsizetype startLines = form.LogLines().size();
    loop.exec();
    const double wall = bench::WallSeconds() - wall0;
    form.cbReadEncConstantly->setChecked(false); // reading starts again at the end of a run

    const QStringList log = form.LogLines();
    const qsizetype stop = log.lastIndexOf(QStringLiteral("Cikliranje stop"));
    std::set<long> found;
    QStringList falseLines;
    for (qsizetype i = startLines; i < (stop < 0 ? log.size() : stop); ++i) {
        const QString& line = log[i];
        const long count = TrailingCount(line);
        if (line.startsWith(QStringLiteral("Position jump")) && injected.count(int(count + 1)) &&
            found.insert(count + 1).second)
            continue;
        falseLines << line;
    }
    const int left = form.seSteviloIzklopov->value();

    std::printf("%s after %.1f s, %d cycles done: %.1f ms a cycle\n",
                timedOut ? "STALLED, stopped" : "ended by itself", wall, cycles - left,
                (cycles - left) ? wall * 1e3 / (cycles - left) : 0.0);
    std::printf("jumps found: %zu of %d (target %d)\n", found.size(), jumps, jumps);
    std::printf("false lines: %lld (target 0)\n", static_cast<long long>(falseLines.size()));
    for (qsizetype i = 0; i < std::min<qsizetype>(falseLines.size(), 5); ++i)
        std::printf("  %s\n", falseLines[i].toUtf8().constData());
    std::printf("wall time: %.1f s\n", wall);

    form.close();
    return 0;
}
