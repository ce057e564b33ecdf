#include "PanelColour.h"

#include <QEvent>
#include <QPainter>
#include <QPalette>
#include <QRegularExpression>
#include <QVariant>
#include <QWidget>

#include <unordered_map>

namespace {

const QRegularExpression& BackgroundRule() {
    static const QRegularExpression rule(QStringLiteral("background-color\\s*:\\s*([^;}]*)"));
    return rule;
}

// Fills the widget with its colour before the widget paints its border and text over it. A new
// colour then costs one repaint; changing the style sheet instead would restyle the widget each
// time, which the heartbeat of a fast reading loop would pay on every pass.
// The colour lives with its painter, found through a table of the GUI thread's own: a dynamic
// property would be looked up by name, several times a pass for the heartbeat and indicators.
class PanelPainter : public QObject {
public:
    PanelPainter(QWidget* widget, QColor colour) : QObject(widget), colour_(colour), widget_(widget) {
        Painters()[widget] = this;
        widget->installEventFilter(this);
    }
    ~PanelPainter() override { Painters().erase(widget_); }

    static PanelPainter* Of(const QWidget* widget) {
        const auto it = Painters().find(widget);
        return it == Painters().end() ? nullptr : it->second;
    }

    QColor colour_;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            auto* widget = static_cast<QWidget*>(watched);
            QPainter painter(widget);
            painter.fillRect(widget->rect(), colour_);
        }
        return false;
    }

private:
    static std::unordered_map<const QWidget*, PanelPainter*>& Painters() {
        static std::unordered_map<const QWidget*, PanelPainter*> painters;
        return painters;
    }

    const QWidget* widget_;
};

} // namespace

QColor PanelColour(const QWidget* widget) {
    if (const PanelPainter* painter = PanelPainter::Of(widget)) return painter->colour_;
    const auto match = BackgroundRule().match(widget->styleSheet());
    if (match.hasMatch()) {
        const QColor fromSheet = QColor::fromString(match.captured(1).trimmed());
        if (fromSheet.isValid()) return fromSheet;
        if (match.captured(1).contains(QStringLiteral("button")))
            return widget->palette().color(QPalette::Button);
    }
    return widget->palette().color(QPalette::Window);
}

void SetPanelColour(QWidget* widget, QColor colour) {
    if (PanelPainter* painter = PanelPainter::Of(widget)) {
        if (painter->colour_ == colour) return;
        painter->colour_ = colour;
    } else {
        // Once per widget: the sheet keeps border and font, the fill is ours from now on.
        QString sheet = widget->styleSheet();
        const QString rule = QStringLiteral("background-color: transparent");
        if (BackgroundRule().match(sheet).hasMatch()) sheet.replace(BackgroundRule(), rule);
        widget->setStyleSheet(sheet);
        new PanelPainter(widget, colour);
    }
    widget->update();
}
