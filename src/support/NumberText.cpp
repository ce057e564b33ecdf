#include "NumberText.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace Orodja {

namespace {

TNumberSeparators setting{"", ""};

std::string Printf(const char* format, int digits, double value) {
    const int length = std::snprintf(nullptr, 0, format, digits, value);
    std::vector<char> buffer(static_cast<size_t>(std::max(length, 0)) + 1);
    std::snprintf(buffer.data(), buffer.size(), format, digits, value);
    return std::string(buffer.data());
}

// Grouping with the decimal mark itself would make 1,234 read as one and a bit, so when the two
// meet (an English locale with the decimal comma switched on) the groups take the other mark.
std::string GroupMark(std::string_view decimal, std::string_view group) {
    if (group != decimal) return std::string(group);
    return decimal == "." ? "," : ".";
}

std::string Format(double value, int precision, int decimals, std::string_view decimalSeparator,
                   const std::string* groupMark) {
    if (std::isnan(value)) return "NAN";
    if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
    precision = std::clamp(precision, 1, 40);
    decimals = std::clamp(decimals, 0, 40);
    const bool negative = std::signbit(value);
    const double magnitude = std::fabs(value);

    // The power of ten of the first digit once rounded to the significant digits: it says how
    // many decimals those digits reach, and whether the integer part fits them at all.
    const std::string scientific = Printf("%.*e", precision - 1, magnitude);
    const size_t e = scientific.find('e');
    const int exponent = std::atoi(scientific.c_str() + e + 1);
    if (magnitude != 0 && exponent + 1 > precision) {
        // Exponent form: the mantissa's trailing zeros say nothing.
        std::string mantissa;
        for (size_t i = 0; i < e; ++i)
            if (scientific[i] >= '0' && scientific[i] <= '9') mantissa += scientific[i];
        while (mantissa.size() > 1 && mantissa.back() == '0')
            mantissa.pop_back();
        std::string text = negative ? "-" : "";
        text += mantissa[0];
        if (mantissa.size() > 1) text += std::string(decimalSeparator) + mantissa.substr(1);
        return text + "E+" + std::to_string(exponent);
    }

    // One rounding, to the tighter of the two limits; the rest is padding.
    const int kept = std::min(decimals, precision - 1 - exponent);
    const std::string fixed = Printf("%.*f", kept, magnitude);
    const size_t point = fixed.find('.');
    const std::string integer = fixed.substr(0, point);
    std::string fraction = point == std::string::npos ? "" : fixed.substr(point + 1);
    fraction.resize(static_cast<size_t>(decimals), '0');

    const bool zero = integer.find_first_not_of('0') == std::string::npos &&
                      fraction.find_first_not_of('0') == std::string::npos;
    std::string text = negative && !zero ? "-" : "";
    const size_t n = integer.size();
    for (size_t i = 0; i < n; ++i) {
        if (groupMark && i > 0 && (n - i) % 3 == 0) text += *groupMark;
        text += integer[i];
    }
    if (decimals > 0) text += std::string(decimalSeparator) + fraction;
    return text;
}

} // namespace

std::string FormatNumber(double value, int precision, int decimals, const TNumberSeparators& separators) {
    const std::string group = GroupMark(separators.Decimal, separators.Thousand);
    return Format(value, precision, decimals, separators.Decimal, &group);
}

std::string FormatFixed(double value, int precision, int decimals, std::string_view decimalSeparator) {
    return Format(value, precision, decimals, decimalSeparator, nullptr);
}

TNumberSeparators NumberSeparatorSetting() {
    return setting;
}

void SetDecimalSeparatorSetting(std::string_view separator) {
    setting.Decimal = separator;
}

void SetThousandSeparatorSetting(std::string_view separator) {
    setting.Thousand = separator;
}

void ClearNumberSeparatorSetting() {
    setting = {"", ""};
}

TNumberSeparators NumberSeparatorsOr(const TNumberSeparators& defaults) {
    TNumberSeparators s = setting;
    if (s.Decimal.empty()) s.Decimal = defaults.Decimal;
    if (s.Thousand.empty()) s.Thousand = defaults.Thousand;
    return s;
}

} // namespace Orodja
