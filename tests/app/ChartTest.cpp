// The chart wrapper on a real QCustomPlot on the offscreen platform: series order and colours,
// axes, the timed redraw, rectangle zoom, double click, and real PNG files from SaveChartAsPng;
// the appended series' summaries against brute force, and its drawing against the full line.
#include "ChartSummary.h"
#include "ChartView.h"
#include "Dialogs.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QMouseEvent>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <random>

namespace {

class ErrorRecorder : public TDialogs {
public:
    void information(const QString& text) override { shown << text; }
    void warning(const QString& text) override { shown << text; }
    void error(const QString& text) override { shown << text; }
    bool question(const QString& text) override {
        shown << text;
        return true;
    }
    void questionSound() override {}
    void setBusyCursor(bool) override {}
    QStringList shown;
};

void Pump(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

void Mouse(QWidget& w, QEvent::Type type, QPoint at, Qt::MouseButtons held) {
    QMouseEvent event(type, QPointF(at), QPointF(w.mapToGlobal(at)), Qt::LeftButton, held, Qt::NoModifier);
    QCoreApplication::sendEvent(&w, &event);
}

void Drag(QWidget& w, QPoint from, QPoint to) {
    Mouse(w, QEvent::MouseButtonPress, from, Qt::LeftButton);
    Mouse(w, QEvent::MouseMove, (from + to) / 2, Qt::LeftButton);
    Mouse(w, QEvent::MouseMove, to, Qt::LeftButton);
    Mouse(w, QEvent::MouseButtonRelease, to, Qt::NoButton);
}

int CountPixels(const QImage& image, QRgb colour) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += (image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF);
    return n;
}

// A chart as the Signal level page has it: 575 x 361, two 2-pixel line series.
class Chart : public ::testing::Test {
protected:
    void SetUp() override {
        plot.resize(575, 361);
        view = std::make_unique<TChartView>(&plot, 1001, 1000);
        green = view->AddLineSeries(QColor(0x00, 0xAA, 0x00), 2);
        blue = view->AddLineSeries(QColor(0x00, 0x00, 0xFF), 2);
    }

    QCustomPlot plot;
    std::unique_ptr<TChartView> view;
    TChartSeries* green = nullptr;
    TChartSeries* blue = nullptr;
};

TEST_F(Chart, AddTakesTheCountOfEarlierPointsAsXPerSeries) {
    for (double y : {20.5, 21.0, 22.5})
        blue->Add(y);
    green->Add(35);
    ASSERT_EQ(blue->Count(), 3);
    ASSERT_EQ(green->Count(), 1);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(blue->X(i), i);
    EXPECT_EQ(blue->Y(2), 22.5);
    EXPECT_EQ(green->X(0), 0);
    blue->Clear();
    blue->Add(7);
    EXPECT_EQ(blue->X(0), 0);
}

TEST_F(Chart, PointsStayOrderedByXWithTheirOwnColours) {
    const QColor orange(0xFF, 0xAA, 0x00);
    blue->AddXY(200, 150, orange);
    blue->AddXY(100, 140, Qt::blue);
    blue->AddXY(300, 160, Qt::blue);
    blue->AddXY(0.5, 130, orange);
    blue->AddXY(200, 155, Qt::blue); // same x as an orange point
    ASSERT_EQ(blue->Count(), 5);
    const double xs[] = {0.5, 100, 200, 200, 300};
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(blue->X(i), xs[i]);
        // Each point keeps the colour it came with, by its value.
        const bool warned = blue->Y(i) == 130 || blue->Y(i) == 150;
        EXPECT_EQ(blue->PointColour(i).rgb(), warned ? orange.rgb() : QColor(Qt::blue).rgb());
    }
    blue->Clear();
    blue->AddXY(200, 150, Qt::blue);
    EXPECT_EQ(blue->PointColour(0).rgb(), QColor(Qt::blue).rgb()) << "cleared colours must not come back";
}

TEST_F(Chart, DesignAxesAndModeChanges) {
    view->ApplyAxes();
    EXPECT_EQ(view->ShownRange(TChartView::TAxis::Left), QCPRange(-1001, 1001));
    EXPECT_EQ(view->ShownRange(TChartView::TAxis::Right), QCPRange(-1000, 1000));
    EXPECT_TRUE(view->IsAutomatic(TChartView::TAxis::Bottom));
    EXPECT_FALSE(view->IsAutomatic(TChartView::TAxis::Left));

    for (double y : {25.0, 40.0, 31.0})
        blue->Add(y);
    green->Add(-3);
    view->ApplyAxes();
    EXPECT_EQ(view->ShownRange(TChartView::TAxis::Bottom), QCPRange(0, 2));
    EXPECT_EQ(view->ShownRange(TChartView::TAxis::Left), QCPRange(-1001, 1001)) << "manual axis ignores data";

    // Temperature mode: automatic both ways; the manual maximum waits for manual scaling.
    view->SetAutomatic(TChartView::TAxis::Left, true);
    view->SetManualMaximum(TChartView::TAxis::Left, 2047);
    view->ApplyAxes();
    EXPECT_EQ(view->ShownRange(TChartView::TAxis::Left), QCPRange(-3, 40));
    EXPECT_EQ(view->ManualRange(TChartView::TAxis::Left), QCPRange(-1001, 2047));

    // Air-gap mode: fixed 0..360 by 0..400 whatever the data.
    view->SetManual(TChartView::TAxis::Bottom, 0, 360);
    view->SetManual(TChartView::TAxis::Left, 0, 400);
    view->ApplyAxes();
    EXPECT_EQ(view->ShownRange(TChartView::TAxis::Bottom), QCPRange(0, 360));
    EXPECT_EQ(view->ShownRange(TChartView::TAxis::Left), QCPRange(0, 400));
}

TEST_F(Chart, ManyPointsShareOneTimedRedraw) {
    plot.show();
    Pump(2 * TChartView::kRedrawDelayMs);
    int replots = 0;
    QObject::connect(&plot, &QCustomPlot::afterReplot, [&] { ++replots; });
    for (int i = 0; i < 5000; ++i)
        blue->Add(i % 100);
    EXPECT_EQ(replots, 0) << "adding points must not draw";
    EXPECT_TRUE(view->RedrawPending());
    ASSERT_TRUE([&] {
        QElapsedTimer t;
        t.start();
        while (replots == 0 && t.elapsed() < 2000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        return replots > 0;
    }());
    EXPECT_EQ(replots, 1);
    EXPECT_FALSE(view->RedrawPending());
    // The next redraw waits for a multiple of what this one took, within bounds.
    EXPECT_GE(view->RedrawDelayMs(), TChartView::kRedrawDelayMs);
    EXPECT_LE(view->RedrawDelayMs(), TChartView::kLongestRedrawDelayMs);
    EXPECT_EQ(view->ShownRange(TChartView::TAxis::Bottom), QCPRange(0, 4999));
    plot.hide();
}

TEST_F(Chart, DraggingARectangleZoomsAndDraggingBackRestores) {
    view->SetManual(TChartView::TAxis::Bottom, 0, 360);
    view->SetManual(TChartView::TAxis::Left, 0, 400);
    plot.show();
    view->RedrawNow();
    const QCPRange x0 = view->ShownRange(TChartView::TAxis::Bottom);
    const double left = plot.xAxis->pixelToCoord(150), right = plot.xAxis->pixelToCoord(350);

    Drag(plot, QPoint(150, 100), QPoint(350, 250));
    ASSERT_TRUE(view->IsZoomed());
    const QCPRange xz = view->ShownRange(TChartView::TAxis::Bottom);
    const QCPRange yz = view->ShownRange(TChartView::TAxis::Left);
    EXPECT_NEAR(xz.lower, left, 1e-6);
    EXPECT_NEAR(xz.upper, right, 1e-6);
    EXPECT_GT(xz.lower, x0.lower);
    EXPECT_LT(xz.upper, x0.upper);
    EXPECT_GT(yz.lower, 0);
    EXPECT_LT(yz.upper, 400);

    // New points while zoomed do not move the zoomed view.
    blue->AddXY(10, 20);
    view->RedrawNow();
    EXPECT_EQ(view->ShownRange(TChartView::TAxis::Bottom), xz);

    // A click is no rectangle.
    Drag(plot, QPoint(200, 200), QPoint(201, 201));
    EXPECT_TRUE(view->IsZoomed());

    Drag(plot, QPoint(350, 250), QPoint(150, 100));
    EXPECT_FALSE(view->IsZoomed());
    EXPECT_EQ(view->ShownRange(TChartView::TAxis::Bottom), QCPRange(0, 360));
    EXPECT_EQ(view->ShownRange(TChartView::TAxis::Left), QCPRange(0, 400));
    plot.hide();
}

TEST_F(Chart, DoubleClickIsReported) {
    int clicks = 0;
    QObject::connect(view.get(), &TChartView::DoubleClicked, [&] { ++clicks; });
    Mouse(plot, QEvent::MouseButtonPress, QPoint(100, 100), Qt::LeftButton);
    Mouse(plot, QEvent::MouseButtonRelease, QPoint(100, 100), Qt::NoButton);
    Mouse(plot, QEvent::MouseButtonDblClick, QPoint(100, 100), Qt::LeftButton);
    Mouse(plot, QEvent::MouseButtonRelease, QPoint(100, 100), Qt::NoButton);
    EXPECT_EQ(clicks, 1);
    EXPECT_FALSE(view->IsZoomed());
}

class ChartExport : public Chart {
protected:
    void SetUp() override {
        Chart::SetUp();
        ASSERT_TRUE(dir.isValid());
        view->SetManual(TChartView::TAxis::Bottom, 0, 360);
        view->SetManual(TChartView::TAxis::Left, 0, 400);
        for (int a = 0; a < 360; a += 10)
            blue->AddXY(a, 200 + 50 * std::sin(a * M_PI / 180), Qt::blue);
    }

    QTemporaryDir dir;
    ErrorRecorder dialogs;
};

TEST_F(ChartExport, WritesA16BitPictureOfTheChartAtItsSize) {
    const QString name = dir.filePath(QStringLiteral("curve.bmp"));
    ASSERT_TRUE(Orodja::SaveChartAsPng(*view, name, dialogs));
    EXPECT_TRUE(dialogs.shown.isEmpty());
    EXPECT_FALSE(QFile::exists(name));
    const QString png = dir.filePath(QStringLiteral("curve.png"));
    QImage image;
    ASSERT_TRUE(image.load(png, "PNG"));
    EXPECT_EQ(image.size(), QSize(575, 361));
    // Every colour in the file is one that 5-6-5 bits can hold: going down to 16 bits and back
    // changes no pixel.
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(rgb.convertToFormat(QImage::Format_RGB16).convertToFormat(QImage::Format_RGB32), rgb);
    EXPECT_GT(CountPixels(rgb, 0xFFFFFF), 575 * 361 / 2) << "white background";
    EXPECT_GT(CountPixels(rgb, 0x0000FF), 100) << "the blue curve";
}

TEST_F(ChartExport, PointsWithTheirOwnColourShowInThatColour) {
    const QString plain = dir.filePath(QStringLiteral("plain.png"));
    ASSERT_TRUE(Orodja::SaveChartAsPng(*view, plain, dialogs));
    QImage before(plain);
    EXPECT_EQ(CountPixels(before, 0xFFAA00), 0);

    blue->AddXY(185, 300, QColor(0xFF, 0xAA, 0x00));
    const QString warned = dir.filePath(QStringLiteral("warned.png"));
    ASSERT_TRUE(Orodja::SaveChartAsPng(*view, warned, dialogs));
    EXPECT_GT(CountPixels(QImage(warned), 0xFFAA00), 10);
}

TEST_F(ChartExport, AFileThatCannotBeWrittenIsReportedAndLeavesNothing) {
    const QString name = dir.filePath(QStringLiteral("missing/sub/curve"));
    EXPECT_FALSE(Orodja::SaveChartAsPng(*view, name, dialogs));
    ASSERT_EQ(dialogs.shown.size(), 1);
    EXPECT_TRUE(dialogs.shown[0].startsWith(QStringLiteral("Shranjevanje PNG slike ni bilo uspešno!")));
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("missing/sub/curve.png"))));
}

TEST_F(ChartExport, AHiddenChartExportsWithItsAxesUpToDate) {
    // The Debug page's double click exports the Signal level chart while it is not shown.
    ASSERT_FALSE(plot.isVisible());
    view->SetAutomatic(TChartView::TAxis::Left, true);
    const QString name = dir.filePath(QStringLiteral("hidden.png"));
    ASSERT_TRUE(Orodja::SaveChartAsPng(*view, name, dialogs));
    EXPECT_NEAR(view->ShownRange(TChartView::TAxis::Left).lower, 150, 0.5);
    EXPECT_NEAR(view->ShownRange(TChartView::TAxis::Left).upper, 250, 0.5);
    EXPECT_EQ(QImage(name).size(), QSize(575, 361));
}

// ---------------------------------------------------------------------------------------------
// Appended series: summaries and drawing

ChartSummary::TMinMax BruteRange(const std::vector<double>& v, long first, long last) {
    ChartSummary::TMinMax r;
    for (long i = first; i < last; ++i)
        r.Take(v[i]);
    return r;
}

// Every column of a split against the points that a per-point rounding puts into each pixel.
void ExpectColumnsLikeBruteForce(const ChartSummary::TAppendedValues& values, const std::vector<double>& v,
                                 long first, long last, double origin, double perPoint) {
    std::vector<ChartSummary::TColumn> columns;
    ChartSummary::SplitIntoColumns(values, first, last, origin, perPoint, columns);
    long next = first;
    for (const auto& c : columns) {
        ASSERT_EQ(c.first, next);
        ASSERT_LT(c.first, c.last);
        for (long i = c.first; i < c.last; ++i)
            ASSERT_EQ(std::floor(origin + double(i) * perPoint), double(c.pixel)) << "point " << i;
        if (c.first > first) {
            ASSERT_LT(std::floor(origin + double(c.first - 1) * perPoint), double(c.pixel));
        }
        const auto brute = BruteRange(v, c.first, c.last);
        ASSERT_EQ(c.range.min, brute.min) << "column " << c.pixel;
        ASSERT_EQ(c.range.max, brute.max) << "column " << c.pixel;
        next = c.last;
    }
    EXPECT_EQ(next, last);
}

TEST(AppendedValues, RangesAndColumnsMatchBruteForce) {
    constexpr long B = ChartSummary::TAppendedValues::kBucket, F = ChartSummary::TAppendedValues::kFanOut;
    // Around the edges of a bucket and of each level above it.
    const long counts[] = {1, 2, B - 1, B, B + 1, B * F, B * F + 1, B * F * F - 1, B * F * F * F + 7, 100000};
    std::mt19937_64 random(7);
    for (long n : counts) {
        SCOPED_TRACE(n);
        ChartSummary::TAppendedValues values;
        std::vector<double> v;
        std::uniform_real_distribution<double> value(-50, 50);
        for (long i = 0; i < n; ++i) {
            // Runs of equal values and single spikes, the cases where a band is easiest to get wrong.
            v.push_back(i % 97 < 40 ? 20.0 : value(random));
            values.Append(v.back());
        }
        ASSERT_EQ(values.Count(), n);
        for (long i = 0; i < n; ++i)
            ASSERT_EQ(values.Value(i), v[i]);
        std::uniform_int_distribution<long> index(0, n);
        for (int k = 0; k < 300; ++k) {
            long a = index(random), b = index(random);
            if (a > b) std::swap(a, b);
            if (k == 0) {
                a = 0;
                b = n;
            }
            const auto r = values.Range(a, b), brute = BruteRange(v, a, b);
            ASSERT_EQ(r.Empty(), a == b);
            if (a < b) {
                ASSERT_EQ(r.min, brute.min) << a << ".." << b;
                ASSERT_EQ(r.max, brute.max) << a << ".." << b;
            }
        }
        // Columns of a chart 540 pixels wide at odd scales: several points a pixel, about one,
        // fewer than one, and a zoom into the middle.
        for (double width : {540.0, 541.3, 97.0}) {
            const double perPoint = width / double(std::max(1L, n - 1));
            ExpectColumnsLikeBruteForce(values, v, 0, n, 33.7, perPoint);
        }
        if (n > 10) ExpectColumnsLikeBruteForce(values, v, n / 3, n / 2, -1234.25, 540.0 / double(n / 6));
    }
}

TEST(AppendedValues, AnOvernightRunByRepeatedAppend) {
    // Six million points: summaries on every level, several chunks; the band of the whole and of
    // the columns of a chart still match the points.
    constexpr long n = 6000000;
    ChartSummary::TAppendedValues values;
    std::vector<double> v(n);
    for (long i = 0; i < n; ++i) {
        v[i] = 20 + double((i * 2654435761u) % 1000) / 100.0 + (i == 4567891 ? 100 : 0);
        values.Append(v[i]);
    }
    const auto whole = values.Range(0, n);
    EXPECT_EQ(whole.max, 120 + double((4567891L * 2654435761u) % 1000) / 100.0);
    EXPECT_EQ(whole.min, BruteRange(v, 0, n).min);
    EXPECT_LT(values.Bytes(), std::size_t(n) * 10) << "eight bytes a value and a little for the summaries";
    ExpectColumnsLikeBruteForce(values, v, 0, n, 40, 540.0 / double(n - 1));
    values.Clear();
    EXPECT_EQ(values.Count(), 0);
    values.Append(5);
    EXPECT_EQ(values.Range(0, 1).min, 5);
}

QImage Render(QCustomPlot& plot) {
    plot.replot();
    return plot.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// Pixels where one picture has ink and the other has none or much less.
int InkDifference(const QImage& a, const QImage& b) {
    int n = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            n += std::abs(qGray(a.pixel(x, y)) - qGray(b.pixel(x, y))) > 96;
    return n;
}

// Inked pixels of `a` with no ink anywhere near in `b`: where a curve went that the other missed.
int InkMissingNearby(const QImage& a, const QImage& b) {
    auto inked = [](const QImage& image, int x, int y) {
        return x >= 0 && y >= 0 && x < image.width() && y < image.height() && qGray(image.pixel(x, y)) < 200;
    };
    int n = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            if (!inked(a, x, y)) continue;
            bool near = false;
            for (int dy = -1; dy <= 1 && !near; ++dy)
                for (int dx = -1; dx <= 1 && !near; ++dx)
                    near = inked(b, x + dx, y + dy);
            n += !near;
        }
    return n;
}

// The appended series beside QCustomPlot's own graph holding the same points, drawn without
// sampling: the full line, the look the chart must keep.
class AppendedChart : public Chart {
protected:
    void SetUp() override {
        Chart::SetUp();
        full = plot.addGraph();
        full->setAdaptiveSampling(false);
        full->setVisible(false);
        view->SetAutomatic(TChartView::TAxis::Left, true);
    }

    void AddPoints(long n, const std::function<double(long)>& y) {
        QVector<QCPGraphData> points;
        for (long i = 0; i < n; ++i) {
            const double value = y(i);
            green->Add(value);
            points.append(QCPGraphData(double(i), value));
        }
        full->data()->set(points, true);
    }

    // The series, then the full line with the pen the series drew with.
    std::pair<QImage, QImage> Both(double penWidth) {
        const QImage series = Render(plot);
        green->setVisible(false);
        full->setVisible(true);
        full->setPen(QPen(green->Colour(), penWidth));
        const QImage line = Render(plot);
        full->setVisible(false);
        green->setVisible(true);
        return {series, line};
    }

    QCPGraph* full = nullptr;
};

TEST_F(AppendedChart, ManyPointsDrawTheSamePixelsAsTheFullLine) {
    std::mt19937 random(3);
    std::normal_distribution<double> noise(0, 0.4);
    AddPoints(300000, [&](long i) { return 20 + 30 * std::sin(double(i) / 40000) + noise(random); });
    ASSERT_TRUE(green->Appending());
    EXPECT_TRUE(green->data()->isEmpty()) << "the points are kept once, not also in QCPGraph's container";
    view->ApplyAxes();
    EXPECT_EQ(view->ShownRange(TChartView::TAxis::Bottom), QCPRange(0, 299999));
    const auto [series, line] = Both(1); // a wide pen draws a band as a hairline
    const int ink = 575 * 361 - CountPixels(line, 0xFFFFFF);
    ASSERT_GT(ink, 5000);
    // The bands are filled as whole pixels where the full line's many strokes blend at the edges:
    // the same pixels within one, and about as much ink.
    EXPECT_LT(InkMissingNearby(series, line), ink / 200);
    EXPECT_LT(InkMissingNearby(line, series), ink / 200);
    const int seriesInk = 575 * 361 - CountPixels(series, 0xFFFFFF);
    EXPECT_NEAR(seriesInk, ink, ink / 10);
}

TEST_F(AppendedChart, AZoomShowsEveryPointOfItsRange) {
    std::mt19937 random(5);
    std::uniform_real_distribution<double> value(0, 100);
    AddPoints(200000, [&](long) { return value(random); });
    plot.show();
    view->RedrawNow();
    // Two rectangles a few pixels wide: from 200,000 points down to a few dozen.
    for (int zoom = 0; zoom < 2; ++zoom)
        view->ZoomTo(QRect(300, 30, 6, 300));
    ASSERT_TRUE(view->IsZoomed());
    const QCPRange shown = view->ShownRange(TChartView::TAxis::Bottom);
    ASSERT_LT(shown.size(), 100);
    ASSERT_GT(shown.size(), 10);
    const auto [series, polyline] = Both(2);
    plot.setPlottingHint(QCP::phFastPolylines, true);
    const auto [again, line] = Both(2);
    EXPECT_EQ(InkDifference(series, line), 0);
    // Strokes one by one instead of one polyline: a few pixels at the sharpest corners.
    EXPECT_LT(InkDifference(series, polyline), 100);
    EXPECT_GT(CountPixels(series, 0x00AA00), 500) << "the zoomed curve in the design colour";
    plot.hide();
}

TEST_F(AppendedChart, OutOfOrderOrColouredPointsTurnItIntoAPlainGraph) {
    // Seven appended points (0, 10) .. (6, 16), then one more that does not append.
    struct Row {
        const char* name;
        std::function<void(TChartSeries*)> add;
        int at;      // where the new point then sits
        double x, y; // the point there
        QRgb colour; // and its colour
    };
    const QColor orange(0xFF, 0xAA, 0x00);
    const QRgb green_ = QColor(0x00, 0xAA, 0x00).rgb();
    const Row rows[] = {
        {"x between points", [](TChartSeries* s) { s->AddXY(2.5, 99); }, 3, 2.5, 99, green_},
        {"x before the first", [](TChartSeries* s) { s->AddXY(-1, 98); }, 0, -1, 98, green_},
        {"own colour", [&](TChartSeries* s) { s->AddXY(2.5, 97, orange); }, 3, 2.5, 97, orange.rgb()},
        {"QCPGraph's addData", [](TChartSeries* s) { s->addData(7, 96); }, 7, 7, 96, green_},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        green->Clear();
        for (int i = 0; i < 5; ++i)
            green->Add(10 + i);
        green->AddXY(5, 15); // x = Count(): still appended
        green->AddXY(6, 16, green->Colour());
        ASSERT_TRUE(green->Appending());
        row.add(green);
        plot.replot(); // the drawing takes in what came past the series
        EXPECT_FALSE(green->Appending());
        ASSERT_EQ(green->Count(), 8);
        for (int i = 1; i < 8; ++i)
            EXPECT_LT(green->X(i - 1), green->X(i));
        EXPECT_EQ(green->X(row.at), row.x);
        EXPECT_EQ(green->Y(row.at), row.y);
        EXPECT_EQ(green->PointColour(row.at).rgb(), row.colour);
        EXPECT_EQ(green->Y(row.at == 0 ? 1 : 0), 10) << "the appended points keep their places";
        // New points still go to x = Count().
        green->Add(50);
        EXPECT_EQ(green->X(8), 8);
        EXPECT_EQ(green->Y(8), 50);
    }
    green->Clear();
    EXPECT_TRUE(green->Appending()) << "a cleared series starts appending again";
    green->Add(1);
    EXPECT_EQ(green->X(0), 0);
    EXPECT_EQ(green->Count(), 1);
}

TEST_F(AppendedChart, RangesComeFromTheSummariesAlsoForQCustomPlotsRescale) {
    AddPoints(10000, [](long i) { return i == 7000 ? 500.0 : double(i % 100); });
    green->Add(std::nan(""));
    view->ApplyAxes();
    EXPECT_EQ(view->ShownRange(TChartView::TAxis::Bottom), QCPRange(0, 10000));
    EXPECT_EQ(view->ShownRange(TChartView::TAxis::Left), QCPRange(0, 500)) << "a NaN leaves the axis alone";
    bool found = false;
    EXPECT_EQ(green->getValueRange(found, QCP::sdBoth, QCPRange(6000, 6999.5)), QCPRange(0, 99));
    EXPECT_TRUE(found);
    EXPECT_EQ(green->getValueRange(found, QCP::sdBoth, QCPRange(6999.5, 7000.5)), QCPRange(500, 500));
    EXPECT_EQ(green->getValueRange(found, QCP::sdPositive, QCPRange(0, 100)), QCPRange(1, 99));
    EXPECT_EQ(green->getKeyRange(found), QCPRange(0, 10000));
    green->rescaleAxes();
    EXPECT_EQ(plot.xAxis->range(), QCPRange(0, 10000));
    EXPECT_EQ(plot.yAxis->range(), QCPRange(0, 500));
}

TEST_F(AppendedChart, ExportsItsCurveAfterAClear) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ErrorRecorder dialogs;
    AddPoints(50000, [](long i) { return 100 * std::sin(double(i) / 5000); });
    green->Clear();
    for (int i = 0; i < 2000; ++i)
        green->Add(std::cos(double(i) / 300));
    const QString name = dir.filePath(QStringLiteral("appended.png"));
    ASSERT_TRUE(Orodja::SaveChartAsPng(*view, name, dialogs));
    const QImage image(name);
    EXPECT_EQ(view->ShownRange(TChartView::TAxis::Bottom), QCPRange(0, 1999));
    // The curve spans the plot: green ink (a hairline's, blended) in most columns.
    int columns = 0;
    for (int x = 0; x < image.width(); ++x)
        for (int y = 0; y < image.height(); ++y)
            if (const QRgb p = image.pixel(x, y); qGreen(p) > qRed(p) + 60 && qGreen(p) > qBlue(p) + 60) {
                ++columns;
                break;
            }
    EXPECT_GT(columns, 400);
}

} // namespace
