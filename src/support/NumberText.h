// Numbers as the workbench shows them: a number of significant digits, a number of decimals,
// thousands groups and the separators the caller gives. The window wraps these with its locale's
// marks (src/app/NumberFormat.h); the procedures and the command line give theirs directly.
//
// Separators are UTF-8 texts, so a locale whose group mark is a narrow no-break space works as
// well as one with a comma. The results are UTF-8 (ASCII apart from the separators).
#pragma once

#include <string>
#include <string_view>

namespace Orodja {

struct TNumberSeparators {
    std::string Decimal = ".";
    std::string Thousand = ",";
};

// `value` rounded once, to whichever of the two limits keeps fewer digits: `precision`
// significant digits or `decimals` decimals; then shown with exactly `decimals` decimals and
// thousands groups. 1234.5678 with 6 and 3 is "1,234.570" (six significant digits leave two
// decimals, padded to three); 12.34549 is "12.345" (three decimals cut more). A value with more
// than `precision` integer digits after rounding is shown in exponent form ("1.23457E+6"), as
// there would be no room for its digits otherwise. NaN and infinities are "NAN", "INF", "-INF".
std::string FormatNumber(double value, int precision, int decimals, const TNumberSeparators& separators);
// The same without thousands groups: FormatFixed(40.73, 5, 1, ".") is "40.7".
std::string FormatFixed(double value, int precision, int decimals, std::string_view decimalSeparator);

// The one process-wide setting of the separators, which every number the program formats
// follows (the noise test switches the decimal mark to a comma and back to a full stop, and the
// numbers shown after it keep the full stop). A field left empty has not been set: the front end
// then supplies its own default (the window its user's locale).
TNumberSeparators NumberSeparatorSetting();
void SetDecimalSeparatorSetting(std::string_view separator);
void SetThousandSeparatorSetting(std::string_view separator);
// Neither set any more.
void ClearNumberSeparatorSetting();
// The setting, with `defaults` where a field has not been set.
TNumberSeparators NumberSeparatorsOr(const TNumberSeparators& defaults);

} // namespace Orodja
