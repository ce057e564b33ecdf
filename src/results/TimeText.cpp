#include "TimeText.h"

#include "Clock.h"

#include <cstdio>

namespace Results {

namespace {

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar (Howard Hinnant's
// days_from_civil): the UTC arithmetic without the system's time zone.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
}

int64_t FloorDiv(int64_t a, int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

bool Digits(std::string_view text, size_t at, size_t count, int& value) {
    if (at + count > text.size()) return false;
    value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

unsigned DaysInMonth(int y, int m) {
    static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return m == 2 && leap ? 29 : kDays[m - 1];
}

} // namespace

std::string IsoUtc(int64_t ms) {
    const int64_t seconds = FloorDiv(ms, 1000);
    const int64_t days = FloorDiv(seconds, 86400);
    const int64_t inDay = seconds - days * 86400;
    int64_t y;
    unsigned m, d;
    CivilFromDays(days, y, m, d);
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%04lld-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<long long>(y),
                  m, d, static_cast<int>(inDay / 3600), static_cast<int>(inDay / 60 % 60),
                  static_cast<int>(inDay % 60), static_cast<int>(ms - seconds * 1000));
    return buffer;
}

std::tm LocalTm(int64_t ms) {
    return platform::LocalTime(static_cast<std::time_t>(FloorDiv(ms, 1000)));
}

long UtcOffsetSeconds(int64_t ms) {
    const int64_t seconds = FloorDiv(ms, 1000);
    const std::tm local = LocalTm(ms);
    const int64_t asIfUtc = DaysFromCivil(local.tm_year + 1900, static_cast<unsigned>(local.tm_mon + 1),
                                          static_cast<unsigned>(local.tm_mday)) *
                                86400 +
                            local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
    return static_cast<long>(asIfUtc - seconds);
}

std::string LocalWithOffset(int64_t ms) {
    const std::tm t = LocalTm(ms);
    const long offset = UtcOffsetSeconds(ms);
    const long magnitude = offset < 0 ? -offset : offset;
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d %c%02ld:%02ld", t.tm_year + 1900,
                  t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, offset < 0 ? '-' : '+',
                  magnitude / 3600, magnitude / 60 % 60);
    return buffer;
}

std::optional<int64_t> ParseDateTime(std::string_view text) {
    int y, mo, d, h = 0, mi = 0, s = 0, frac = 0;
    if (!Digits(text, 0, 4, y) || text.size() < 10 || text[4] != '-' || !Digits(text, 5, 2, mo) ||
        text[7] != '-' || !Digits(text, 8, 2, d))
        return std::nullopt;
    if (mo < 1 || mo > 12 || d < 1 || static_cast<unsigned>(d) > DaysInMonth(y, mo)) return std::nullopt;
    size_t at = 10;
    bool hasTime = false;
    if (at < text.size()) {
        if (text[at] != 'T' && text[at] != 't' && text[at] != ' ') return std::nullopt;
        if (!Digits(text, at + 1, 2, h) || at + 3 >= text.size() || text[at + 3] != ':' ||
            !Digits(text, at + 4, 2, mi))
            return std::nullopt;
        at += 6;
        hasTime = true;
        if (at < text.size() && text[at] == ':') {
            if (!Digits(text, at + 1, 2, s)) return std::nullopt;
            at += 3;
            if (at < text.size() && (text[at] == '.' || text[at] == ',')) {
                ++at;
                int scale = 100, digits = 0;
                while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
                    frac += (text[at] - '0') * scale;
                    scale /= 10;
                    ++at;
                    ++digits;
                }
                if (digits == 0) return std::nullopt;
            }
        }
        if (h > 23 || mi > 59 || s > 59) return std::nullopt;
    }
    const int64_t wallSeconds =
        DaysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) * 86400 + h * 3600 + mi * 60 +
        s;
    if (hasTime && at < text.size()) {
        // An explicit zone: the wall time minus its offset is UTC.
        long offset = 0;
        if ((text[at] == 'Z' || text[at] == 'z') && at + 1 == text.size()) {
            offset = 0;
        } else if (text[at] == '+' || text[at] == '-') {
            int oh, om;
            const bool colon = at + 3 < text.size() && text[at + 3] == ':';
            if (!Digits(text, at + 1, 2, oh) || !Digits(text, at + (colon ? 4 : 3), 2, om) ||
                at + (colon ? 6 : 5) != text.size() || oh > 23 || om > 59)
                return std::nullopt;
            offset = (oh * 3600L + om * 60L) * (text[at] == '-' ? -1 : 1);
        } else {
            return std::nullopt;
        }
        return (wallSeconds - offset) * 1000 + frac;
    }
    if (at != text.size()) return std::nullopt;
    // Local wall time: the system's rules decide the offset (daylight saving included).
    std::tm local{};
    local.tm_year = y - 1900;
    local.tm_mon = mo - 1;
    local.tm_mday = d;
    local.tm_hour = h;
    local.tm_min = mi;
    local.tm_sec = s;
    local.tm_isdst = -1;
    const std::time_t moment = std::mktime(&local);
    if (moment == static_cast<std::time_t>(-1)) return std::nullopt;
    return static_cast<int64_t>(moment) * 1000 + frac;
}

} // namespace Results
