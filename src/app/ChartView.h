// The workbench's charts over QCustomPlot: the design settings every chart of the window shares
// (white, no legend, left and right axes with fixed ranges, bottom axis scaled to the data, zoom
// by dragging a rectangle), series whose points stay ordered by x and may each have their own
// colour, a redraw that waits for a short timer so a fast reading loop never waits for drawing,
// and the export of a chart into a 16-bit PNG file.
#pragma once

#include "ChartSummary.h"

#include <qcustomplot.h>

#include <QColor>
#include <QObject>
#include <QString>
#include <QTimer>

#include <vector>

class TDialogs;
class TChartView;

// One series of a chart. A line series draws a line through its points; a point series draws
// only markers. A point given its own colour is drawn in that colour (a line series also draws
// the line into it in that colour); every other point takes the series' colour.
//
// A line series that only grows at its end (Add, or AddXY with x = Count()) keeps its points as
// bare values with min/max summaries and draws one band per pixel column, so a redraw costs the
// chart's width whatever the points; QCPGraph's own container stays empty meanwhile. The first
// point out of order or with a colour of its own moves the points into that container, and the
// series draws as a QCPGraph from then on.
class TChartSeries : public QCPGraph {
public:
    TChartSeries(TChartView* chart, QColor colour, int lineWidth, bool line);

    // Appends y at x = the number of points the series held before (0, 1, 2, ...).
    void Add(double y);
    // Adds a point where its x belongs.
    void AddXY(double x, double y);
    void AddXY(double x, double y, QColor colour);
    void Clear();

    int Count() const { return int(appended_.Count() + mDataContainer->size()); }
    double X(int index) const { return InAppended() ? index : (data()->constBegin() + index)->key; }
    double Y(int index) const {
        return InAppended() ? appended_.Value(index) : (data()->constBegin() + index)->value;
    }
    QColor Colour() const { return colour_; }
    QColor PointColour(int index) const;
    // Lowest and highest y, kept as points come so automatic scaling never scans the points.
    bool HasValues() const { return Count() > 0; }
    double MinY() const { return minY_; }
    double MaxY() const { return maxY_; }
    // First and last x, without a walk over the points.
    QCPRange KeyRange() const;
    // True while the points are kept as appended values with their summaries.
    bool Appending() const { return appending_; }
    // What the appended values and their summaries hold in memory.
    std::size_t AppendedBytes() const { return appended_.Bytes(); }

    // QCustomPlot's own rescaling asks these; they answer from the tracked ranges and summaries.
    QCPRange getKeyRange(bool& foundRange, QCP::SignDomain inSignDomain = QCP::sdBoth) const override;
    QCPRange getValueRange(bool& foundRange, QCP::SignDomain inSignDomain = QCP::sdBoth,
                           const QCPRange& inKeyRange = QCPRange()) const override;

protected:
    void draw(QCPPainter* painter) override;

private:
    struct TColouredPoints {
        QRgb colour;
        QCPGraphDataContainer points;
    };
    void Added(double y);
    bool InAppended() const { return appended_.Count() > 0 && mDataContainer->isEmpty(); }
    // Moves the appended values into QCPGraph's container, for good (until Clear).
    void LeaveAppending();
    void DrawAppended(QCPPainter* painter);
    void DrawLine(QCPPainter* painter, const QVector<QPointF>& points) const;

    TChartView* chart_;
    QColor colour_;
    bool line_;
    bool appending_;
    ChartSummary::TAppendedValues appended_;
    bool hasRange_ = false;
    double minY_ = 0, maxY_ = 0;
    // Only the points with a colour of their own are kept here, usually few.
    std::vector<TColouredPoints> coloured_;
};

class TChartView : public QObject {
    Q_OBJECT

public:
    enum class TAxis { Left, Right, Bottom };
    // The drawing waits this long after a change, so many points cost one redraw.
    static constexpr int kRedrawDelayMs = 40;
    // While points come, a redraw waits at least this many times what the last one took, so a
    // chart that is slow to draw (a large one on a busy machine) never takes more than a small
    // share of the GUI thread; never longer than kLongestRedrawDelayMs.
    static constexpr int kRedrawCostFactor = 50;
    static constexpr int kLongestRedrawDelayMs = 500;

    // Gives `plot` the design settings: left axis fixed -leftLimit..leftLimit with small labels,
    // right axis fixed -rightLimit..rightLimit without grid, bottom axis automatic.
    TChartView(QCustomPlot* plot, double leftLimit, double rightLimit, QObject* parent = nullptr);
    // A chart whose axes all follow the data.
    explicit TChartView(QCustomPlot* plot, QObject* parent = nullptr);

    QCustomPlot* Plot() const { return plot_; }

    TChartSeries* AddLineSeries(QColor colour, int lineWidth);
    // Square markers of `size` pixels filled with `colour`, no line.
    TChartSeries* AddPointSeries(QColor colour, int size);

    // Automatic: the axis spans the data. Manual: the axis shows its manual range. Setting the
    // manual maximum of an automatic axis only takes effect once the axis turns manual.
    void SetAutomatic(TAxis axis, bool automatic);
    bool IsAutomatic(TAxis axis) const { return settings(axis).automatic; }
    void SetManual(TAxis axis, double minimum, double maximum);
    void SetManualMaximum(TAxis axis, double maximum);
    QCPRange ManualRange(TAxis axis) const { return settings(axis).manual; }
    // The range the axis shows after the latest redraw.
    QCPRange ShownRange(TAxis axis) const;

    // Redraws within kRedrawDelayMs; calls before then share one redraw.
    void ScheduleRedraw();
    bool RedrawPending() const { return timer_.isActive(); }
    // How long the next scheduled redraw waits.
    int RedrawDelayMs() const { return timer_.interval(); }
    // Brings the axes up to date and draws now (a hidden chart draws when it is shown again).
    void RedrawNow();
    // Brings the axes up to date without drawing: automatic axes to the data, unless zoomed.
    void ApplyAxes();

    // Zoom to a rectangle in pixels of the plot; Unzoom returns to the axes' own ranges at once.
    void ZoomTo(const QRect& pixels);
    void Unzoom();
    bool IsZoomed() const { return zoomed_; }

signals:
    void DoubleClicked();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct TAxisSettings {
        bool automatic = false;
        QCPRange manual{-1000, 1000};
    };
    TAxisSettings& settings(TAxis axis) { return axes_[int(axis)]; }
    const TAxisSettings& settings(TAxis axis) const { return axes_[int(axis)]; }
    QCPAxis* axis(TAxis which) const;
    void Setup();
    void RectangleDragged(const QRect& rect);

    QCustomPlot* plot_;
    TAxisSettings axes_[3];
    QTimer timer_;
    bool zoomed_ = false;
    QCPRange unzoomed_[3]; // what the axes showed before the zoom
    bool stale_ = false;   // changed while hidden
};

namespace Orodja {

// Draws `chart` at its current size into a 16-bit (5-6-5) picture and writes it as a PNG file
// named `fileName` with its extension replaced by ".png". True when the file was written; a
// failure shows "Shranjevanje PNG slike ni bilo uspešno!" (with the file layer's reason when it
// gave one) and leaves no partial file behind.
bool SaveChartAsPng(TChartView& chart, const QString& fileName, TDialogs& dialogs);

} // namespace Orodja
