#include "NumberFormat.h"

#include <QLocale>

namespace Orodja {

namespace {

std::string Utf8(QChar c) {
    return QString(c).toStdString();
}

QChar FirstOf(const std::string& utf8) {
    const QString text = QString::fromStdString(utf8);
    return text.isEmpty() ? QChar() : text.front();
}

// The locale's marks as the defaults of the program-wide setting, looked up once: every reading
// pass formats numbers.
const TNumberSeparators& LocaleSeparators() {
    static const TNumberSeparators separators = [] {
        const QLocale locale = QLocale::system();
        TNumberSeparators s;
        if (!locale.decimalPoint().isEmpty()) s.Decimal = locale.decimalPoint().toStdString();
        if (!locale.groupSeparator().isEmpty()) s.Thousand = locale.groupSeparator().toStdString();
        return s;
    }();
    return separators;
}

} // namespace

TNumberSeparators WindowNumberSeparators() {
    return NumberSeparatorsOr(LocaleSeparators());
}

QChar DecimalSeparator() {
    return FirstOf(WindowNumberSeparators().Decimal);
}

QChar ThousandSeparator() {
    return FirstOf(WindowNumberSeparators().Thousand);
}

void SetDecimalSeparator(QChar separator) {
    SetDecimalSeparatorSetting(Utf8(separator));
}

void SetThousandSeparator(QChar separator) {
    SetThousandSeparatorSetting(Utf8(separator));
}

void ResetNumberSeparators() {
    ClearNumberSeparatorSetting();
}

QString FormatNumber(double value, int precision, int decimals) {
    return QString::fromStdString(FormatNumber(value, precision, decimals, WindowNumberSeparators()));
}

QString FormatFixed(double value, int precision, int decimals) {
    return QString::fromStdString(FormatFixed(value, precision, decimals, WindowNumberSeparators().Decimal));
}

} // namespace Orodja
