// One redraw of the Signal level chart (575 x 361, two 2-pixel line series, temperature mode's
// automatic axes) holding 1,000, 1,000,000 and 10,000,000 appended points, the median of several,
// beside the same data in a plain QCustomPlot graph with and without its adaptive sampling; and
// what appending one point costs. Prints figures and ratios; it asserts nothing.
#include "ChartView.h"
#include "K310_7K_Velcor_SPI_Main.h"

#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// A thermal test's curve: a slow rise with a little noise, so every pixel column holds a band
// (and a short run, scaled to its own span, is a zigzag from top to bottom).
// The band shape is bench_reading's: a sawtooth that fills every column from top to bottom.
enum class TShape { Noisy, Smooth, Band } shape = TShape::Noisy;
double Temperature(long i) {
    if (shape == TShape::Band) return 20.0 + double(i % 200) * 0.1;
    const double rise = 20.0 + 40.0 * (1.0 - std::exp(-double(i) / 2e6));
    if (shape == TShape::Smooth) return rise + 0.5 * std::sin(double(i) * 0.01);
    return rise + 0.3 * std::sin(double(i) * 0.7) + 0.1 * double((i * 2654435761u) % 17) / 17.0;
}

double MedianReplotMs(QCustomPlot& plot, int runs) {
    std::vector<double> ms;
    for (int r = 0; r < runs; ++r) {
        const double t0 = Now();
        plot.replot(QCustomPlot::rpImmediateRefresh);
        ms.push_back((Now() - t0) * 1e3);
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

struct Figures {
    double appendNs = 0, redrawMs = 0;
};

// The window's chart: a TChartView as the Signal level page sets it up in temperature mode.
Figures ChartRedraw(long points, int runs) {
    QCustomPlot plot;
    plot.resize(575, 361);
    TChartView view(&plot, 1001, 1000);
    TChartSeries* green = view.AddLineSeries(QColor(0x00, 0xAA, 0x00), 2);
    view.AddLineSeries(QColor(0x00, 0x00, 0xFF), 2);
    view.SetAutomatic(TChartView::TAxis::Bottom, true);
    view.SetAutomatic(TChartView::TAxis::Left, true);
    view.SetManualMaximum(TChartView::TAxis::Left, 2047);
    Figures f;
    const double t0 = Now();
    for (long i = 0; i < points; ++i)
        green->Add(Temperature(i));
    f.appendNs = (Now() - t0) * 1e9 / double(points);
    plot.show();
    QCoreApplication::processEvents();
    view.RedrawNow();
    view.ApplyAxes();
    f.redrawMs = MedianReplotMs(plot, runs);
    plot.hide();
    return f;
}

// The same points in QCustomPlot's own graph with a hairline, its sampling on or off.
double PlainRedraw(long points, bool adaptive, int runs) {
    QCustomPlot plot;
    plot.resize(575, 361);
    plot.setBackground(Qt::white);
    QCPGraph* graph = plot.addGraph();
    graph->setPen(QPen(QColor(0x00, 0xAA, 0x00), 1));
    graph->setAdaptiveSampling(adaptive);
    {
        QVector<QCPGraphData> data(points);
        for (long i = 0; i < points; ++i)
            data[i] = QCPGraphData(double(i), Temperature(i));
        graph->data()->set(data, true);
    }
    plot.xAxis->setRange(0, double(points - 1));
    plot.yAxis->setRange(20, 60);
    plot.show();
    QCoreApplication::processEvents();
    const double ms = MedianReplotMs(plot, runs);
    plot.hide();
    return ms;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    InstallDesignFont();

    const long sizes[] = {1000, 1000000, 10000000};
    double redraw[3] = {};
    for (int s = 0; s < 3; ++s) {
        const int runs = sizes[s] >= 10000000 ? 7 : 15;
        const Figures f = ChartRedraw(sizes[s], runs);
        redraw[s] = f.redrawMs;
        std::printf("chart, %9ld points: one redraw %.2f ms (median of %d), append %.1f ns per point\n",
                    sizes[s], f.redrawMs, runs, f.appendNs);
    }
    std::printf("one redraw of 10,000,000 points / of 1,000 points: %.2f (target <= 1.5)\n",
                redraw[2] / redraw[0]);
    std::printf("one redraw of 1,000,000 points / of 1,000 points: %.2f\n", redraw[1] / redraw[0]);
    // The short run again as a smooth curve, the cheapest redraw there is.
    shape = TShape::Smooth;
    const Figures smooth = ChartRedraw(1000, 15);
    shape = TShape::Noisy;
    std::printf("chart,      1000 points of a smooth curve: one redraw %.2f ms; 10,000,000 noisy points / "
                "this: %.2f\n",
                smooth.redrawMs, redraw[2] / smooth.redrawMs);

    shape = TShape::Band;
    const Figures band = ChartRedraw(1000000, 15);
    shape = TShape::Noisy;
    std::printf("chart,   1000000 points filling every column top to bottom: one redraw %.2f ms\n",
                band.redrawMs);

    for (long n : {1000000L, 10000000L}) {
        const double on = PlainRedraw(n, true, n >= 10000000 ? 5 : 11);
        const double off = PlainRedraw(n, false, n >= 10000000 ? 3 : 5);
        std::printf("plain QCPGraph, %9ld points: adaptive sampling %.2f ms, without %.2f ms\n", n, on, off);
    }
    return 0;
}
