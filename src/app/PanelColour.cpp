#include "PanelColour.h"

#include <QEvent>
#include <QPainter>
#include <QPalette>
#include <QRegularExpression>
#include <QVariant>
#include <QWidget>

namespace {

constexpr const char* kProperty = "tarvoPanelColour";

const QRegularExpression& BackgroundRule() {
    static const QRegularExpression rule(QStringLiteral("background-color\\s*:\\s*([^;}]*)"));
    return rule;
}

// Fills the widget with its colour before the widget paints its border and text over it. A new
// colour then costs one repaint; changing the style sheet instead would restyle the widget each
// time, which the heartbeat of a fast reading loop would pay on every pass.
class PanelPainter : public QObject {
public:
    explicit PanelPainter(QWidget* widget) : QObject(widget) { widget->installEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            auto* widget = static_cast<QWidget*>(watched);
            QPainter painter(widget);
            painter.fillRect(widget->rect(), widget->property(kProperty).value<QColor>());
        }
        return false;
    }
};

} // namespace

QColor PanelColour(const QWidget* widget) {
    const QVariant set = widget->property(kProperty);
    if (set.isValid()) return set.value<QColor>();
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
    const QVariant set = widget->property(kProperty);
    if (set.isValid() && set.value<QColor>() == colour) return;
    if (!set.isValid()) {
        // Once per widget: the sheet keeps border and font, the fill is ours from now on.
        QString sheet = widget->styleSheet();
        const QString rule = QStringLiteral("background-color: transparent");
        if (BackgroundRule().match(sheet).hasMatch()) sheet.replace(BackgroundRule(), rule);
        widget->setStyleSheet(sheet);
        new PanelPainter(widget);
    }
    widget->setProperty(kProperty, colour);
    widget->update();
}
