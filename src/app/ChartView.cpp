#include "ChartView.h"

#include "Dialogs.h"
#include "ReadingRules.h"

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
    : QCPGraph(chart->Plot()->xAxis, chart->Plot()->yAxis), chart_(chart), colour_(colour), line_(line) {
    if (line) {
        setPen(QPen(colour, lineWidth));
    } else {
        setLineStyle(QCPGraph::lsNone);
        setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssSquare, colour, colour, lineWidth));
    }
}

void TChartSeries::Added(double y) {
    if (Count() == 1) {
        minY_ = maxY_ = y;
    } else {
        minY_ = std::min(minY_, y);
        maxY_ = std::max(maxY_, y);
    }
    chart_->ScheduleRedraw();
}

void TChartSeries::Add(double y) {
    data()->add(QCPGraphData(Count(), y));
    Added(y);
}

void TChartSeries::AddXY(double x, double y) {
    data()->add(QCPGraphData(x, y));
    Added(y);
}

void TChartSeries::AddXY(double x, double y, QColor colour) {
    data()->add(QCPGraphData(x, y));
    if (colour.rgb() != colour_.rgb()) {
        auto group = std::find_if(coloured_.begin(), coloured_.end(),
                                  [&](const TColouredPoints& g) { return g.colour == colour.rgb(); });
        if (group == coloured_.end())
            group = coloured_.insert(coloured_.end(), TColouredPoints{colour.rgb(), {}});
        group->points.add(QCPGraphData(x, y));
    }
    Added(y);
}

void TChartSeries::Clear() {
    data()->clear();
    coloured_.clear();
    minY_ = maxY_ = 0;
    chart_->ScheduleRedraw();
}

QColor TChartSeries::PointColour(int index) const {
    const QCPGraphData& p = *(data()->constBegin() + index);
    for (const TColouredPoints& group : coloured_)
        for (auto it = group.points.findBegin(p.key, false);
             it != group.points.constEnd() && it->key == p.key; ++it)
            if (it->value == p.value) return QColor::fromRgb(group.colour);
    return colour_;
}

void TChartSeries::draw(QCPPainter* painter) {
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
            if (g->data()->isEmpty() || !g->visible()) continue;
            QCPRange r;
            if (a == g->keyAxis()) {
                r = QCPRange(g->data()->constBegin()->key, (g->data()->constEnd() - 1)->key);
            } else if (a == g->valueAxis()) {
                if (auto* series = dynamic_cast<TChartSeries*>(g)) {
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
    ApplyAxes();
    plot_->replot();
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
