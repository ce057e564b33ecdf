// The error-map read in the real window (offscreen, the Error Map page on show, the progress bar
// repainted after every entry) against the simulated adapter with wire timing: its time as a
// share of what the wire needs for its 512 register exchanges, next to the same reads without
// the window. Prints figures and ratios; it asserts nothing.
#include "BenchWindow.h"
#include "ChartView.h"
#include "K310Simulator.h"
#include "K310_7K_Velcor_SPI_Main.h"
#include "K310_BiSS_bidirectional.h"
#include "K310_SPI_Velcor.h"
#include "SerialPort.h"
#include "Tarvo_konstante.h"

#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

// The read's own span is from the hourglass on to the hourglass off: the reading pass that
// ends and the one that starts again around it are not part of it.
class TimingDialogs : public bench::SilentDialogs {
public:
    void setBusyCursor(bool busy) override { (busy ? on : off) = bench::WallSeconds(); }
    double on = 0, off = 0;
};

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    InstallDesignFont();

    const char* simOptions = argc > 1 ? argv[1] : "t6,power-on=1,wire-timing=1";
    const auto started = bench::StartSimulator(simOptions);
    if (!started) return 1;
    sim::K310Simulator& simulator = *started;

    TimingDialogs dialogs;
    TMainFormOptions formOptions = bench::WindowOptions(dialogs);
    TMainForm form(formOptions);
    if (!bench::ConnectToSimulator(form, simulator)) return 1;
    form.Page->setTabVisible(form.Page->indexOf(form.tabErrMap), true);
    form.Page->setCurrentWidget(form.tabErrMap);
    QCoreApplication::processEvents();

    // The wire bound: command and CR out, reply and its CR back, ten bits a byte at 115200.
    simulator.ClearReceived();
    std::vector<int16_t> values;
    const auto bareRun = [&] {
        const double t0 = bench::WallSeconds();
        if (!K310_SPI_Velcor::ReadErrorMap(values)) {
            std::fprintf(stderr, "error map: %s\n", K310_BiSS_bidirectional::LastErrorText.c_str());
            std::exit(1);
        }
        return bench::WallSeconds() - t0;
    };
    std::vector<double> bares{bareRun()};
    double wireBytes = 0;
    for (const auto& r : simulator.Received())
        wireBytes += double(r.command.size() + 1 + r.reply.size());
    const double bound = wireBytes * 10.0 / 115200.0;
    std::printf("error map: %zu exchanges, %.0f bytes on the wire (%s -> %zu bytes), wire bound %.3f s\n",
                simulator.Received().size(), wireBytes, simulator.Received().front().command.c_str(),
                simulator.Received().front().reply.size(), bound);
    double load = 0;
    if (FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(f, "%lf", &load) != 1) load = 0;
        std::fclose(f);
    }
    std::printf("load average %.2f on %ld cores: the round trips wait for a core, so read the figures "
                "with it\n",
                load, sysconf(_SC_NPROCESSORS_ONLN));

    // What the bar costs without the wire: its value set for every entry, as the read does (it
    // repaints itself when its drawing changes), and a forced repaint for every entry to compare.
    form.ErrMapProgressBar->setVisible(true);
    form.ErrMapProgressBar->setMaximum(500);
    const auto barRun = [&](bool forced) {
        form.ErrMapProgressBar->setValue(0);
        const double t0 = bench::WallSeconds();
        for (int i = 0; i < Tarvo_konstante::kErrorMapEntries; ++i) {
            form.ErrMapProgressBar->setValue(std::min(i, 500));
            if (forced) form.ErrMapProgressBar->repaint();
        }
        return bench::WallSeconds() - t0;
    };
    const double own = barRun(false), forced = barRun(true);
    form.ErrMapProgressBar->setVisible(false);
    std::printf("progress bar over 512 entries: %.1f ms as the read sets it (%.3f of the wire bound), "
                "%.1f ms with a forced repaint for each (%.3f)\n",
                own * 1e3, own / bound, forced * 1e3, forced / bound);

    // The window's read and the bare reads in turn, so both see the same machine.
    std::vector<double> runs, clicks;
    for (int run = 0; run < 5; ++run) {
        simulator.ClearReceived();
        const double click0 = bench::WallSeconds();
        form.btnReadErrMap->click();
        clicks.push_back(bench::WallSeconds() - click0);
        form.cbReadEncConstantly->setChecked(false);
        if (form.Series1->Count() != Tarvo_konstante::kErrorMapEntries) {
            std::fprintf(stderr, "the read stopped at entry %d\n", form.Series1->Count());
            return 1;
        }
        runs.push_back(dialogs.off - dialogs.on);
        QCoreApplication::processEvents(); // the chart draws, as the window would after the click
        bares.push_back(bareRun());
    }
    const double bare = Median(bares), window = Median(runs);
    std::printf("bare reads, no window: median %.3f s = %.3f of the wire bound, best %.3f\n", bare,
                bare / bound, *std::min_element(bares.begin(), bares.end()) / bound);
    std::printf("window, Error Map page shown: median %.3f s = %.3f of the wire bound (target <= 1.1), "
                "best %.3f; %.3f of the bare reads\n",
                window, window / bound, *std::min_element(runs.begin(), runs.end()) / bound, window / bare);
    std::printf("the whole click with the reading passes around it: median %.3f s\n", Median(clicks));

    form.close();
    return 0;
}
