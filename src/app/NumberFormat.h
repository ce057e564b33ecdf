// Numbers as the window shows them: the Qt face of Orodja's number texts (NumberText.h), with
// the separators of the program-wide setting and, where nothing has set them, the user's locale.
// The separators are one setting for the whole program, because the noise test switches the
// decimal separator to a comma for its clipboard text and back, and every number shown in
// between must follow.
#pragma once

#include "NumberText.h"

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
// Both in force, for the procedures' texts.
TNumberSeparators WindowNumberSeparators();

// Rounded once to `precision` significant digits or `decimals` decimals, whichever keeps fewer,
// then shown with exactly `decimals` decimals and thousands separators: FormatNumber(1234.5678,
// 6, 3) is "1,234.570" with English separators. A value with more than `precision` integer
// digits is shown in exponent form ("1.23457E+6").
QString FormatNumber(double value, int precision, int decimals);
// The same without thousands separators: FormatFixed(40.73, 5, 1) is "40.7".
QString FormatFixed(double value, int precision, int decimals);

} // namespace Orodja
