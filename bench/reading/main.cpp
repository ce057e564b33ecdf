// The reading cycle in the real window (offscreen) against the simulated adapter with wire
// timing: passes per second with no delay, as a share of what the wire allows for one position
// exchange; the same with a million points on the temperature chart; the GUI thread's processor
// time while reading with the default delay; and resident memory per chart point.
// Prints figures and ratios; it asserts nothing.
#include "BenchWindow.h"
#include "ChartView.h"
#include "K310Simulator.h"
#include "K310_7K_Velcor_SPI_Main.h"
#include "K310_BiSS_bidirectional.h"
#include "K310_SPI_Velcor.h"
#include "QtRoutines.h"
#include "SerialPort.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct Run {
    int passes = 0;
    double wall = 0, cpu = 0;
};

// Continuous reading for `seconds`, counted by the position frames the device answered.
Run ReadConstantly(TMainForm& form, sim::K310Simulator& simulator, double seconds) {
    simulator.ClearReceived();
    QEventLoop loop;
    QTimer::singleShot(int(seconds * 1000), &form, [&] {
        form.cbReadEncConstantly->setChecked(false);
        loop.quit();
    });
    Run run;
    const double wall0 = bench::WallSeconds(), cpu0 = bench::ThreadCpuSeconds();
    form.cbReadEncConstantly->setChecked(true); // the cycle runs on its timer until the box is cleared
    loop.exec();
    run.wall = bench::WallSeconds() - wall0;
    run.cpu = bench::ThreadCpuSeconds() - cpu0;
    for (const auto& r : simulator.Received())
        run.passes += r.command.rfind("?0", 0) == 0;
    return run;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    InstallDesignFont();

    const char* simOptions = argc > 1 ? argv[1] : "t1,power-on=1,wire-timing=1,rotate=30";
    const auto started = bench::StartSimulator(simOptions);
    if (!started) return 1;
    sim::K310Simulator& simulator = *started;

    bench::SilentDialogs dialogs;
    TMainFormOptions formOptions = bench::WindowOptions(dialogs);
    TMainForm form(formOptions);
    if (!bench::ConnectToSimulator(form, simulator)) return 1;

    // The wire time of one position exchange: command and CR out, reply and CR back, 10 bits each.
    form.btnReadEncoderClick();
    simulator.ClearReceived();
    form.btnReadEncoderClick();
    const auto exchange = simulator.Received().front();
    const double wireBytes = double(exchange.command.size() + 1 + exchange.reply.size());
    const double bound = 115200.0 / 10.0 / wireBytes;
    std::printf("position exchange %s -> %zu bytes: %.0f bytes on the wire, bound %.1f passes/s\n",
                exchange.command.c_str(), exchange.reply.size(), wireBytes, bound);

    // The transaction alone, without the window, shows what the simulator and the serial layer
    // leave of the wire bound; the window's share is the rest.
    const double bare0 = bench::WallSeconds();
    constexpr int kBareReads = 2000; // about as long as a window run, so both see the same machine
    for (int i = 0; i < kBareReads; ++i)
        K310_SPI_Velcor::ReadPosition();
    const double bareRate = kBareReads / (bench::WallSeconds() - bare0);
    std::printf("bare position reads, no window: %.1f reads/s = %.3f of the wire bound (target >= 0.90)\n",
                bareRate, bareRate / bound);

    form.seDelayBetweenReadings->setValue(0);
    const Run empty = ReadConstantly(form, simulator, 3.0);
    const double emptyRate = empty.passes / empty.wall;
    std::printf(
        "delay 0, Initialization page: %.1f passes/s = %.3f of the wire bound, %.3f of the bare reads "
        "(target >= 0.95)\n",
        emptyRate, emptyRate / bound, emptyRate / bareRate);
    std::printf("  GUI thread per pass: %.0f us of processor time, %.0f us of wall time\n",
                empty.cpu / empty.passes * 1e6, empty.wall / empty.passes * 1e6);

    // The Signal level page with the temperature chart starting empty: what the drawing costs is
    // measured against this.
    form.cbDrawTemp->setChecked(true);
    form.Page->setCurrentWidget(form.tabSignalLevelTemperature);
    const Run emptyChart = ReadConstantly(form, simulator, 3.0);
    const double emptyChartRate = emptyChart.passes / emptyChart.wall;
    std::printf("delay 0, Signal level page, chart starting empty: %.1f passes/s\n", emptyChartRate);
    form.Page->setCurrentWidget(form.tabInit);
    form.cbDrawTemp->setChecked(false);

    const long before = bench::ResidentBytes();
    form.cbDrawTemp->setChecked(true);
    for (int i = 0; i < 1000000; ++i)
        form.SeriesGreen->Add(20.0 + (i % 200) * 0.1);
    QCoreApplication::processEvents();
    const long after = bench::ResidentBytes();
    std::printf("resident memory per chart point: %.1f bytes (target <= 16)\n", double(after - before) / 1e6);

    const Run full = ReadConstantly(form, simulator, 3.0);
    const double fullRate = full.passes / full.wall;
    std::printf("delay 0, 1,000,000 points on the temperature chart: %.1f passes/s = %.3f of the empty-chart "
                "rate (the chart hidden)\n",
                fullRate, fullRate / emptyRate);

    // The chart on show, drawing a million points while the temperature grows.
    form.Page->setCurrentWidget(form.tabSignalLevelTemperature);
    QCoreApplication::processEvents();
    const double redraw0 = bench::WallSeconds();
    form.SignalLevelChart->RedrawNow();
    std::printf("one redraw of the 1,000,000-point chart: %.1f ms (every %d ms at most while points come)\n",
                (bench::WallSeconds() - redraw0) * 1e3, TChartView::kRedrawDelayMs);
    const Run drawing = ReadConstantly(form, simulator, 3.0);
    std::printf("delay 0, Signal level page drawing the 1,000,000-point chart: %.1f passes/s = %.3f of the "
                "chart starting empty (target >= 0.8)\n",
                drawing.passes / drawing.wall, drawing.passes / drawing.wall / emptyChartRate);

    // How late the window answers anything else meanwhile: a 5 ms probe timer's lateness.
    {
        std::vector<double> lateness;
        QTimer probe;
        probe.setTimerType(Qt::PreciseTimer);
        double due = 0;
        QObject::connect(&probe, &QTimer::timeout, [&] {
            const double now = bench::WallSeconds();
            if (due > 0) lateness.push_back(std::max(0.0, now - due) * 1e3);
            due = now + 0.005;
        });
        probe.start(5);
        ReadConstantly(form, simulator, 3.0);
        probe.stop();
        std::sort(lateness.begin(), lateness.end());
        const auto at = [&](double share) {
            return lateness.empty()
                       ? 0.0
                       : lateness[std::min(lateness.size() - 1, size_t(share * lateness.size()))];
        };
        std::printf(
            "event-loop lag while reading at delay 0 with the chart showing, %zu probes: median %.1f ms, "
            "99th percentile %.1f ms (target <= 20), worst %.1f ms\n",
            lateness.size(), at(0.5), at(0.99), lateness.empty() ? 0.0 : lateness.back());
    }
    form.Page->setCurrentWidget(form.tabInit);

    form.seDelayBetweenReadings->setValue(50);
    const Run idle = ReadConstantly(form, simulator, 5.0);
    std::printf("delay 50 ms: %.1f passes/s, GUI thread %.4f CPU s per wall s (target <= 0.05)\n",
                idle.passes / idle.wall, idle.cpu / idle.wall);
    form.Page->setCurrentWidget(form.tabSignalLevelTemperature);
    const Run showing = ReadConstantly(form, simulator, 5.0);
    std::printf("delay 50 ms, Signal level page showing the 1,000,000-point chart: GUI thread %.4f CPU s per "
                "wall s (target <= 0.05)\n",
                showing.cpu / showing.wall);
    form.Page->setCurrentWidget(form.tabInit);

    form.close();
    return 0;
}
