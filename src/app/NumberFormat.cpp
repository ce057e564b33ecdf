#include "NumberFormat.h"

#include <QLocale>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>

namespace Orodja {

namespace {

std::optional<QChar> decimalSetting;
std::optional<QChar> thousandSetting;

QChar FirstOr(const QString& text, QChar fallback) {
    return text.isEmpty() ? fallback : text.front();
}

// Grouping with the decimal separator itself would make 1,234 read as one and a bit, so when the
// two meet (an English locale with the decimal comma switched on) the groups take the other mark.
QChar GroupMark() {
    const QChar decimal = DecimalSeparator();
    const QChar group = ThousandSeparator();
    if (group != decimal) return group;
    return decimal == QLatin1Char('.') ? QLatin1Char(',') : QLatin1Char('.');
}

// The decimal digits of |value| rounded to `significant` digits, and the power of ten of the
// first of them: 1234.5678 with 6 gives "123457" and 3.
struct Digits {
    std::string digits;
    int exponent = 0;
};

Digits SignificantDigits(double magnitude, int significant) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*e", significant - 1, magnitude);
    const std::string text(buffer);
    const auto e = text.find('e');
    Digits result;
    for (std::size_t i = 0; i < e; ++i)
        if (text[i] >= '0' && text[i] <= '9') result.digits += text[i];
    result.exponent = std::stoi(text.substr(e + 1));
    return result;
}

QString Group(const std::string& integerDigits, bool grouped) {
    QString result;
    const int n = int(integerDigits.size());
    for (int i = 0; i < n; ++i) {
        if (grouped && i > 0 && (n - i) % 3 == 0) result += GroupMark();
        result += QLatin1Char(integerDigits[i]);
    }
    return result;
}

QString Format(double value, int precision, int decimals, bool grouped) {
    if (std::isnan(value)) return QStringLiteral("NAN");
    if (std::isinf(value)) return value < 0 ? QStringLiteral("-INF") : QStringLiteral("INF");
    precision = std::max(1, precision);
    decimals = std::max(0, decimals);
    const bool negative = std::signbit(value);
    const Digits d = SignificantDigits(std::fabs(value), precision);
    const bool zero = d.digits.find_first_not_of('0') == std::string::npos;

    if (!zero && d.exponent + 1 > precision) {
        // Exponent form: the mantissa's trailing zeros say nothing.
        std::string mantissa = d.digits;
        while (mantissa.size() > 1 && mantissa.back() == '0')
            mantissa.pop_back();
        QString text = negative ? QStringLiteral("-") : QString();
        text += QLatin1Char(mantissa[0]);
        if (mantissa.size() > 1) text += DecimalSeparator() + QString::fromLatin1(mantissa.substr(1));
        text += QStringLiteral("E+") + QString::number(d.exponent);
        return text;
    }

    std::string integer, fraction;
    if (zero) {
        integer = "0";
    } else if (d.exponent >= 0) {
        integer = d.digits.substr(0, d.exponent + 1);
        fraction = d.digits.substr(d.exponent + 1);
    } else {
        integer = "0";
        fraction = std::string(-d.exponent - 1, '0') + d.digits;
    }
    // The shown decimals round the already rounded digits again, half away from zero.
    if (int(fraction.size()) > decimals) {
        const bool up = fraction[decimals] >= '5';
        fraction.resize(decimals);
        if (up) {
            int i = decimals - 1;
            for (; i >= 0 && fraction[i] == '9'; --i)
                fraction[i] = '0';
            if (i >= 0) {
                ++fraction[i];
            } else {
                int j = int(integer.size()) - 1;
                for (; j >= 0 && integer[j] == '9'; --j)
                    integer[j] = '0';
                if (j >= 0)
                    ++integer[j];
                else
                    integer.insert(integer.begin(), '1');
            }
        }
    }
    fraction.resize(decimals, '0');

    const bool allZero = integer.find_first_not_of('0') == std::string::npos &&
                         fraction.find_first_not_of('0') == std::string::npos;
    QString text = negative && !allZero ? QStringLiteral("-") : QString();
    text += Group(integer, grouped);
    if (decimals > 0) text += DecimalSeparator() + QString::fromLatin1(fraction);
    return text;
}

} // namespace

QChar DecimalSeparator() {
    if (!decimalSetting) decimalSetting = FirstOr(QLocale::system().decimalPoint(), QLatin1Char('.'));
    return *decimalSetting;
}

QChar ThousandSeparator() {
    if (!thousandSetting) thousandSetting = FirstOr(QLocale::system().groupSeparator(), QLatin1Char(','));
    return *thousandSetting;
}

void SetDecimalSeparator(QChar separator) {
    decimalSetting = separator;
}

void SetThousandSeparator(QChar separator) {
    thousandSetting = separator;
}

void ResetNumberSeparators() {
    decimalSetting.reset();
    thousandSetting.reset();
}

QString FormatNumber(double value, int precision, int decimals) {
    return Format(value, precision, decimals, true);
}

QString FormatFixed(double value, int precision, int decimals) {
    return Format(value, precision, decimals, false);
}

} // namespace Orodja
