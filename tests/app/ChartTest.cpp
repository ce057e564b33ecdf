// The chart wrapper on a real QCustomPlot on the offscreen platform: series order and colours,
// axes, the timed redraw, rectangle zoom, double click, and real PNG files from SaveChartAsPng.
#include "ChartView.h"
#include "Dialogs.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QMouseEvent>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

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

} // namespace
