// Numbers as the window shows them: the user's thousands and decimal separators, a number of
// significant digits and a number of decimals. The separators are one setting for the whole
// program, because the noise test switches the decimal separator to a comma for its clipboard
// text and back, and every number shown in between must follow.
#pragma once

#include <QChar>
#include <QString>

namespace Orodja {

// The separators in force; taken from the user's locale until something sets them.
QChar DecimalSeparator();
QChar ThousandSeparator();
void SetDecimalSeparator(QChar separator);
void SetThousandSeparator(QChar separator);
// Back to the user's locale.
void ResetNumberSeparators();

// Rounds `value` to `precision` significant digits, then shows it with exactly `decimals`
// decimals and thousands separators: FormatNumber(1234.5678, 6, 3) is "1,234.570" with English
// separators. A value with more than `precision` integer digits is shown in exponent form
// ("1.23457E+6"), as there would be no room for its digits otherwise.
QString FormatNumber(double value, int precision, int decimals);
// The same without thousands separators: FormatFixed(40.73, 5, 1) is "40.7".
QString FormatFixed(double value, int precision, int decimals);

} // namespace Orodja
