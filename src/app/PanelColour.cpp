#include "PanelColour.h"

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
    QString sheet = widget->styleSheet();
    const QString rule = QStringLiteral("background-color: ") + colour.name();
    if (BackgroundRule().match(sheet).hasMatch())
        sheet.replace(BackgroundRule(), rule);
    else if (sheet.contains(QLatin1Char('{')))
        sheet += QStringLiteral(" %1#%2 { %3; }")
                     .arg(QString::fromLatin1(widget->metaObject()->className()), widget->objectName(), rule);
    else
        sheet += rule + QLatin1Char(';');
    widget->setProperty(kProperty, colour);
    widget->setStyleSheet(sheet);
}
