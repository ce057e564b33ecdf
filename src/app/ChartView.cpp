#include "ChartView.h"

#include "Dialogs.h"
#include "ReadingRules.h"

#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>

#include <algorithm>
#include <cmath>

// ---------------------------------------------------------------------------------------------
// TChartSeries

TChartSeries::TChartSeries(TChartView* chart, QColor colour, int lineWidth, bool line)
    : QCPGraph(chart->Plot()->xAxis, chart->Plot()->yAxis), chart_(chart), colour_(colour), line_(line),
      appending_(line) {
    if (line) {
        setPen(QPen(colour, lineWidth));
    } else {
        setLineStyle(QCPGraph::lsNone);
        setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssSquare, colour, colour, lineWidth));
    }
}

void TChartSeries::Added(double y) {
    // A NaN leaves a gap in the line; it must not make the automatic axis span NaN.
    if (!std::isnan(y)) {
        if (!hasRange_) {
            minY_ = maxY_ = y;
            hasRange_ = true;
        } else {
            minY_ = std::min(minY_, y);
            maxY_ = std::max(maxY_, y);
        }
    }
    chart_->ScheduleRedraw();
}

void TChartSeries::LeaveAppending() {
    if (!appending_) return;
    appending_ = false;
    if (appended_.Count() == 0) return;
    QVector<QCPGraphData> points(appended_.Count());
    for (long i = 0; i < appended_.Count(); ++i)
        points[i] = QCPGraphData(double(i), appended_.Value(i));
    appended_.Clear();
    // Points that came through QCPGraph's own addData meanwhile stay and take their places.
    data()->add(points, false);
}

void TChartSeries::Add(double y) {
    if (appending_ && mDataContainer->isEmpty()) {
        appended_.Append(y);
    } else {
        LeaveAppending();
        data()->add(QCPGraphData(Count(), y));
    }
    Added(y);
}

void TChartSeries::AddXY(double x, double y) {
    if (appending_ && mDataContainer->isEmpty() && x == double(appended_.Count())) {
        appended_.Append(y);
    } else {
        LeaveAppending();
        data()->add(QCPGraphData(x, y));
    }
    Added(y);
}

void TChartSeries::AddXY(double x, double y, QColor colour) {
    if (colour.rgb() == colour_.rgb()) {
        AddXY(x, y);
        return;
    }
    LeaveAppending();
    data()->add(QCPGraphData(x, y));
    auto group = std::find_if(coloured_.begin(), coloured_.end(),
                              [&](const TColouredPoints& g) { return g.colour == colour.rgb(); });
    if (group == coloured_.end())
        group = coloured_.insert(coloured_.end(), TColouredPoints{colour.rgb(), {}});
    group->points.add(QCPGraphData(x, y));
    Added(y);
}

void TChartSeries::Clear() {
    data()->clear();
    appended_.Clear();
    appending_ = line_;
    coloured_.clear();
    hasRange_ = false;
    minY_ = maxY_ = 0;
    chart_->ScheduleRedraw();
}

QColor TChartSeries::PointColour(int index) const {
    if (InAppended()) return colour_;
    const QCPGraphData& p = *(data()->constBegin() + index);
    for (const TColouredPoints& group : coloured_)
        for (auto it = group.points.findBegin(p.key, false);
             it != group.points.constEnd() && it->key == p.key; ++it)
            if (it->value == p.value) return QColor::fromRgb(group.colour);
    return colour_;
}

QCPRange TChartSeries::KeyRange() const {
    if (InAppended()) return QCPRange(0, double(appended_.Count() - 1));
    if (data()->isEmpty()) return QCPRange();
    return QCPRange(data()->constBegin()->key, (data()->constEnd() - 1)->key);
}

QCPRange TChartSeries::getKeyRange(bool& foundRange, QCP::SignDomain inSignDomain) const {
    if (!InAppended()) return QCPGraph::getKeyRange(foundRange, inSignDomain);
    const double last = double(appended_.Count() - 1);
    foundRange = inSignDomain == QCP::sdBoth || (inSignDomain == QCP::sdPositive && last >= 1);
    if (!foundRange) return QCPRange();
    return QCPRange(inSignDomain == QCP::sdBoth ? 0 : 1, last);
}

QCPRange TChartSeries::getValueRange(bool& foundRange, QCP::SignDomain inSignDomain,
                                     const QCPRange& inKeyRange) const {
    const bool everyKey = inKeyRange == QCPRange();
    if (everyKey && inSignDomain == QCP::sdBoth) {
        foundRange = hasRange_;
        return hasRange_ ? QCPRange(minY_, maxY_) : QCPRange();
    }
    if (!InAppended()) return QCPGraph::getValueRange(foundRange, inSignDomain, inKeyRange);
    const long n = appended_.Count();
    long first = 0, last = n;
    if (!everyKey) {
        first = long(std::clamp(std::ceil(inKeyRange.lower), 0.0, double(n)));
        last = long(std::clamp(std::floor(inKeyRange.upper) + 1, 0.0, double(n)));
    }
    ChartSummary::TMinMax range;
    if (inSignDomain == QCP::sdBoth) {
        if (first < last) range = appended_.Range(first, last);
    } else {
        for (long i = first; i < last; ++i) {
            const double v = appended_.Value(i);
            if ((inSignDomain == QCP::sdPositive) ? v > 0 : v < 0) range.Take(v);
        }
    }
    foundRange = !range.Empty();
    return foundRange ? QCPRange(range.min, range.max) : QCPRange();
}

void TChartSeries::DrawLine(QCPPainter* painter, const QVector<QPointF>& points) const {
    // A wide pen stroking one long polyline that doubles back on itself in every column costs the
    // painter a tenth of a second and more; the same line as separate strokes costs milliseconds.
    const bool wide = painter->pen().widthF() > 1;
    QVector<QLineF> strokes;
    auto flush = [&](int from, int to) {
        if (to - from < 2) return;
        if (!wide) {
            painter->drawPolyline(points.constData() + from, to - from);
            return;
        }
        strokes.clear();
        for (int i = from + 1; i < to; ++i)
            strokes.append(QLineF(points[i - 1], points[i]));
        painter->drawLines(strokes);
    };
    int from = 0;
    for (int i = 0; i < points.size(); ++i) {
        if (std::isfinite(points[i].y()) && std::isfinite(points[i].x())) continue;
        flush(from, i);
        from = i + 1;
    }
    flush(from, int(points.size()));
}

void TChartSeries::DrawAppended(QCPPainter* painter) {
    QCPAxis* keys = keyAxis();
    QCPAxis* values = valueAxis();
    const long n = appended_.Count();
    if (!keys || !values || n == 0) return;
    const QCPRange shown = keys->range();
    if (shown.size() <= 0) return;
    // The shown points and one beyond each edge, as QCPGraph takes them.
    const long first = long(std::clamp(std::ceil(shown.lower) - 1, 0.0, double(n - 1)));
    const long last = long(std::clamp(std::floor(shown.upper) + 2, double(first + 1), double(n)));
    const long count = last - first;

    QPen drawPen = pen();
    if (drawPen.widthF() > 1 && count > 2 * std::max(1, keys->axisRect()->width())) drawPen.setWidthF(1);
    painter->setPen(drawPen);
    painter->setBrush(Qt::NoBrush);
    applyDefaultAntialiasingHint(painter);
    if (drawPen.style() == Qt::NoPen || drawPen.color().alpha() == 0) return;

    QVector<QPointF> points;
    const bool plain = keys->orientation() == Qt::Horizontal && keys->scaleType() == QCPAxis::stLinear &&
                       !keys->rangeReversed();
    const double span = std::abs(keys->coordToPixel(double(last - 1)) - keys->coordToPixel(double(first)));
    if (!plain || double(count) < 2 * span + 2) {
        // Fewer points than two a pixel (a zoom, or a short run): every point as it is.
        points.reserve(int(count));
        for (long i = first; i < last; ++i)
            points.append(coordsToPixels(double(i), appended_.Value(i)));
        DrawLine(painter, points);
        return;
    }
    // Many points a pixel: the line through all points of a column covers its band from the
    // lowest to the highest point, so the band is what each column draws.
    const double origin = keys->coordToPixel(0.0);
    const double perPoint = keys->coordToPixel(1.0) - origin;
    std::vector<ChartSummary::TColumn> columns;
    columns.reserve(std::size_t(span) + 2);
    ChartSummary::SplitIntoColumns(appended_, first, last, origin, perPoint, columns);
    // Each column's band is what a smoothed stroke of the pen from its lowest to its highest point
    // covers: whole pixels where the stroke covers them, its two ends as the share of the pixel it
    // covers. The painter smooths a stroke a pixel wide and hundreds high, or fills a rectangle of
    // that shape, row by row at a cost per row; so the whole pixels are filled as runs along the
    // rows, where neighbouring columns' bands join. The line between columns runs from one column's
    // last point to the next one's first.
    struct TBand {
        int x0, x1, top, bottom; // whole pixels [x0, x1) x [top, bottom)
    };
    const double width = drawPen.widthF() > 0 ? drawPen.widthF() : 1;
    const QColor colour = drawPen.color();
    const bool smooth = painter->testRenderHint(QPainter::Antialiasing);
    // Rows beyond the plot are clipped anyway; far beyond they would overflow.
    const QRect clip = clipRect();
    const double above = clip.top() - 2.0, below = clip.bottom() + 3.0;
    painter->setRenderHint(QPainter::Antialiasing, false);
    auto fill = [&](int x0, int x1, int row0, int row1, double share) {
        if (x1 <= x0 || row1 <= row0 || share <= 0) return;
        QColor c = colour;
        if (share < 1) c.setAlphaF(float(colour.alphaF() * share));
        painter->fillRect(QRect(x0, row0, x1 - x0, row1 - row0), c);
    };
    std::vector<TBand> bands;
    bands.reserve(columns.size());
    int rowMin = std::numeric_limits<int>::max(), rowMax = std::numeric_limits<int>::min();
    QVector<QLineF> joins;
    joins.reserve(int(columns.size()));
    QPointF previous;
    bool joined = false;
    for (const ChartSummary::TColumn& c : columns) {
        if (c.range.Empty()) {
            joined = false; // a gap of NaN
            continue;
        }
        const double low = values->coordToPixel(c.range.min), high = values->coordToPixel(c.range.max);
        const double top = std::clamp(std::min(low, high) - width / 2, above, below);
        const double bottom = std::clamp(std::max(low, high) + width / 2, above, below);
        TBand band{int(std::lround(c.pixel + 0.5 - width / 2)), int(std::lround(c.pixel + 0.5 + width / 2)),
                   0, 0};
        if (!smooth) {
            band.top = int(std::lround(top));
            band.bottom = std::max(band.top + 1, int(std::lround(bottom)));
        } else {
            const int firstRow = int(std::floor(top)), lastRow = int(std::floor(bottom));
            if (firstRow == lastRow) {
                fill(band.x0, band.x1, firstRow, firstRow + 1, bottom - top);
            } else {
                fill(band.x0, band.x1, firstRow, firstRow + 1, double(firstRow + 1) - top);
                fill(band.x0, band.x1, lastRow, lastRow + 1, bottom - double(lastRow));
            }
            band.top = firstRow + 1;
            band.bottom = lastRow;
        }
        if (band.top < band.bottom) {
            bands.push_back(band);
            rowMin = std::min(rowMin, band.top);
            rowMax = std::max(rowMax, band.bottom);
        }
        const double start = appended_.Value(c.first), end = appended_.Value(c.last - 1);
        if (joined && std::isfinite(start))
            joins.append(
                QLineF(previous, QPointF(origin + double(c.first) * perPoint, values->coordToPixel(start))));
        joined = std::isfinite(end);
        if (joined) previous = QPointF(origin + double(c.last - 1) * perPoint, values->coordToPixel(end));
    }
    for (int row = rowMin; row < rowMax; ++row) {
        int runStart = 0, runEnd = 0;
        for (const TBand& band : bands) {
            if (row < band.top || row >= band.bottom) continue;
            if (runEnd > runStart && band.x0 <= runEnd) {
                runEnd = std::max(runEnd, band.x1);
                continue;
            }
            fill(runStart, runEnd, row, row + 1, 1);
            runStart = band.x0;
            runEnd = band.x1;
        }
        fill(runStart, runEnd, row, row + 1, 1);
    }
    painter->setRenderHint(QPainter::Antialiasing, smooth);
    painter->setPen(drawPen);
    painter->setBrush(Qt::NoBrush);
    painter->drawLines(joins);
}

void TChartSeries::draw(QCPPainter* painter) {
    // Points that came through QCPGraph's own addData are in its container: draw them all there.
    if (appending_ && !mDataContainer->isEmpty()) LeaveAppending();
    if (appending_) {
        DrawAppended(painter);
        return;
    }
    // Where several points share a pixel column the line is a band of vertical strokes; a wide
    // pen makes the painter join every one of them (over a second for a million points), while
    // a hairline draws the same band in milliseconds.
    const QPen designPen = pen();
    if (line_ && designPen.widthF() > 1) {
        const QCPRange shown = keyAxis()->range();
        const auto visible = data()->findEnd(shown.upper, true) - data()->findBegin(shown.lower, true);
        if (visible > 2 * std::max(1, keyAxis()->axisRect()->width())) setPen(QPen(designPen.color(), 1));
    }
    QCPGraph::draw(painter);
    setPen(designPen);
    if (coloured_.empty() || data()->isEmpty()) return;
    const QCPRange shown = keyAxis()->range();
    for (const TColouredPoints& group : coloured_) {
        const QColor colour = QColor::fromRgb(group.colour);
        const auto end = group.points.findEnd(shown.upper, true);
        for (auto it = group.points.findBegin(shown.lower, true); it != end; ++it) {
            const QPointF at = coordsToPixels(it->key, it->value);
            if (!line_) {
                QCPScatterStyle marker = scatterStyle();
                marker.setPen(QPen(colour));
                marker.setBrush(colour);
                marker.applyTo(painter, QPen(colour));
                marker.drawShape(painter, at);
                continue;
            }
            // The line into a point takes the point's colour.
            painter->setPen(QPen(colour, pen().widthF()));
            painter->setBrush(Qt::NoBrush);
            auto self = data()->findBegin(it->key, false);
            while (self != data()->constEnd() && self->key == it->key && self->value != it->value)
                ++self;
            if (self != data()->constBegin() && self != data()->constEnd())
                painter->drawLine(coordsToPixels((self - 1)->key, (self - 1)->value), at);
            painter->setBrush(colour);
            painter->drawEllipse(at, pen().widthF() + 1, pen().widthF() + 1);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// TChartView

TChartView::TChartView(QCustomPlot* plot, double leftLimit, double rightLimit, QObject* parent)
    : QObject(parent), plot_(plot) {
    settings(TAxis::Left).manual = QCPRange(-leftLimit, leftLimit);
    settings(TAxis::Right).manual = QCPRange(-rightLimit, rightLimit);
    settings(TAxis::Bottom).automatic = true;
    Setup();
    plot_->yAxis2->setVisible(true);
    plot_->yAxis2->grid()->setVisible(false);
    QFont small(QStringLiteral("Small Fonts"));
    small.setPixelSize(9);
    plot_->yAxis->setTickLabelFont(small);
    ApplyAxes();
}

TChartView::TChartView(QCustomPlot* plot, QObject* parent) : QObject(parent), plot_(plot) {
    for (TAxisSettings& a : axes_)
        a.automatic = true;
    Setup();
    ApplyAxes();
}

void TChartView::Setup() {
    plot_->setBackground(Qt::white);
    plot_->legend->setVisible(false);
    // Dragging right and down zooms into the rectangle; dragging back up or left undoes it.
    plot_->setSelectionRectMode(QCP::srmCustom);
    plot_->selectionRect()->setPen(QPen(QColor(0xFF, 0x00, 0x80)));
    plot_->selectionRect()->setBrush(Qt::NoBrush);
    connect(plot_->selectionRect(), &QCPSelectionRect::accepted, this,
            [this](const QRect& rect, QMouseEvent*) { RectangleDragged(rect); });
    connect(plot_, &QCustomPlot::mouseDoubleClick, this, [this](QMouseEvent*) { emit DoubleClicked(); });
    timer_.setSingleShot(true);
    timer_.setInterval(kRedrawDelayMs);
    connect(&timer_, &QTimer::timeout, this, &TChartView::RedrawNow);
    plot_->installEventFilter(this);
}

TChartSeries* TChartView::AddLineSeries(QColor colour, int lineWidth) {
    return new TChartSeries(this, colour, lineWidth, true); // owned by the plot
}

TChartSeries* TChartView::AddPointSeries(QColor colour, int size) {
    return new TChartSeries(this, colour, size, false);
}

QCPAxis* TChartView::axis(TAxis which) const {
    switch (which) {
    case TAxis::Left:
        return plot_->yAxis;
    case TAxis::Right:
        return plot_->yAxis2;
    case TAxis::Bottom:
        break;
    }
    return plot_->xAxis;
}

void TChartView::SetAutomatic(TAxis which, bool automatic) {
    settings(which).automatic = automatic;
    ScheduleRedraw();
}

void TChartView::SetManual(TAxis which, double minimum, double maximum) {
    settings(which).automatic = false;
    settings(which).manual = QCPRange(minimum, maximum);
    ScheduleRedraw();
}

void TChartView::SetManualMaximum(TAxis which, double maximum) {
    settings(which).manual.upper = maximum;
    ScheduleRedraw();
}

QCPRange TChartView::ShownRange(TAxis which) const {
    return axis(which)->range();
}

void TChartView::ScheduleRedraw() {
    if (!timer_.isActive()) timer_.start();
}

void TChartView::ApplyAxes() {
    if (zoomed_) return;
    for (TAxis which : {TAxis::Left, TAxis::Right, TAxis::Bottom}) {
        QCPAxis* a = axis(which);
        const TAxisSettings& s = settings(which);
        if (!s.automatic) {
            a->setRange(s.manual);
            continue;
        }
        bool found = false;
        QCPRange span;
        for (int i = 0; i < plot_->graphCount(); ++i) {
            QCPGraph* g = plot_->graph(i);
            auto* series = dynamic_cast<TChartSeries*>(g);
            // Only the ends and the tracked extremes: scaling must never walk the points.
            if ((series ? series->Count() == 0 : g->data()->isEmpty()) || !g->visible()) continue;
            QCPRange r;
            if (a == g->keyAxis()) {
                r = series ? series->KeyRange()
                           : QCPRange(g->data()->constBegin()->key, (g->data()->constEnd() - 1)->key);
            } else if (a == g->valueAxis()) {
                if (series) {
                    r = QCPRange(series->MinY(), series->MaxY());
                } else {
                    bool ok = false;
                    r = g->getValueRange(ok);
                    if (!ok) continue;
                }
            } else {
                continue;
            }
            span = found ? QCPRange(std::min(span.lower, r.lower), std::max(span.upper, r.upper)) : r;
            found = true;
        }
        if (!found) continue; // nothing to span: the axis keeps what it shows
        if (span.upper - span.lower < 1e-9) span = QCPRange(span.lower - 1, span.upper + 1);
        a->setRange(span);
    }
}

void TChartView::RedrawNow() {
    timer_.stop();
    if (!plot_->isVisible()) {
        // Drawing what nobody sees would only slow the reading; the Show event catches up.
        stale_ = true;
        return;
    }
    stale_ = false;
    QElapsedTimer took;
    took.start();
    ApplyAxes();
    plot_->replot();
    const qint64 costMs = (took.nsecsElapsed() * kRedrawCostFactor + 999999) / 1000000;
    timer_.setInterval(int(std::clamp<qint64>(costMs, kRedrawDelayMs, kLongestRedrawDelayMs)));
}

bool TChartView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == plot_ && event->type() == QEvent::Show && stale_) ScheduleRedraw();
    return QObject::eventFilter(watched, event);
}

void TChartView::RectangleDragged(const QRect& rect) {
    // A click (or the presses of a double click) is no rectangle.
    if (std::abs(rect.width()) < 4 && std::abs(rect.height()) < 4) return;
    if (rect.width() > 0 && rect.height() > 0)
        ZoomTo(rect);
    else
        Unzoom();
}

void TChartView::ZoomTo(const QRect& pixels) {
    const QRect r = pixels.normalized();
    QCPAxis* x = plot_->xAxis;
    QCPAxis* y = plot_->yAxis;
    if (!zoomed_)
        for (TAxis which : {TAxis::Left, TAxis::Right, TAxis::Bottom})
            unzoomed_[int(which)] = axis(which)->range();
    x->setRange(x->pixelToCoord(r.left()), x->pixelToCoord(r.right()));
    y->setRange(y->pixelToCoord(r.bottom()), y->pixelToCoord(r.top()));
    zoomed_ = true;
    plot_->replot();
}

void TChartView::Unzoom() {
    if (zoomed_) {
        // An automatic axis with nothing to span keeps what it shows: that is the view from
        // before the zoom, not the zoomed one.
        for (TAxis which : {TAxis::Left, TAxis::Right, TAxis::Bottom})
            axis(which)->setRange(unzoomed_[int(which)]);
    }
    zoomed_ = false;
    // The axes hold at once, also on a hidden chart, so whoever ends a zoom sees its ranges.
    ApplyAxes();
    RedrawNow();
}

// ---------------------------------------------------------------------------------------------

namespace Orodja {

bool SaveChartAsPng(TChartView& chart, const QString& fileName, TDialogs& dialogs) {
    QCustomPlot* plot = chart.Plot();
    chart.ApplyAxes();
    const QString target = Reading::WithPngExtension(fileName);
    QString reason;
    {
        QImage image(plot->width(), plot->height(), QImage::Format_RGB16);
        image.fill(Qt::white);
        {
            QCPPainter painter(&image);
            painter.setMode(QCPPainter::pmNoCaching);
            plot->toPainter(&painter, plot->width(), plot->height());
        }
        QImageWriter writer(target, "png");
        if (!writer.write(image)) {
            reason = writer.errorString();
            // A half-written file would look like a saved chart.
            QFile::remove(target);
        }
    }
    if (reason.isEmpty() && QFileInfo::exists(target)) return true;
    QString text = QStringLiteral("Shranjevanje PNG slike ni bilo uspešno!");
    if (!reason.isEmpty()) text += QStringLiteral("\n") + reason;
    dialogs.error(text);
    return false;
}

} // namespace Orodja
