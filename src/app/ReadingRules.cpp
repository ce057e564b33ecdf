#include "ReadingRules.h"

#include "NumberFormat.h"

#include <QFileInfo>

#include <cmath>

namespace Reading {

namespace {

// A condition holds when every bit of its mask is set.
struct TStatusName {
    uint16_t mask;
    const char* text;
};

// Legacy map: bits 9, 8, 1 and 0 name nothing alone, only in the four pairs at the end.
constexpr TStatusName kLegacyMap[] = {
    {0x8000, "Error Multiturn"},
    {0x4000, "Error Signal Clipping"},
    {0x2000, "Warning Signal High 2"},
    {0x1000, "Error Sensor"},
    {0x0800, "Error SSync"},
    {0x0400, "Error Configuration"},
    {0x0080, "Warning Signal High"},
    {0x0040, "Warning Signal Low"},
    {0x0020, "Error Signal Lost"},
    {0x0010, "Warning Temperature"},
    {0x0008, "Error Poiwer"},
    {0x0004, "Error System"},
    {0x0202, "Error Magnetic pattern"},
    {0x0102, "Warning Magnetic Pattern"},
    {0x0201, "Error Acceleration"},
    {0x0101, "Warning High Speed"},
};

constexpr TStatusName kNewMap[] = {
    {0x8000, "Warning 8000"},        {0x4000, "Warning Temperature"},      {0x2000, "Warning Signal Low"},
    {0x1000, "Warning Signal High"}, {0x0800, "Warning Magnetic Pattern"}, {0x0400, "Warning High Speed"},
    {0x0200, "Error Multiturn"},     {0x0100, "Error Acceleration"},       {0x0080, "Error Magnetic Pattern"},
    {0x0040, "Error Signal Lost"},   {0x0020, "Error Signal High"},        {0x0010, "Error System"},
    {0x0008, "Error Power"},         {0x0004, "Error Configuration"},      {0x0002, "Error 0002"},
    {0x0001, "Error 0001"},
};

template <std::size_t N> QString Decode(uint16_t status, const TStatusName (&map)[N]) {
    QString text;
    for (const TStatusName& name : map)
        if ((status & name.mask) == name.mask)
            text += QString::fromLatin1(name.text) + QStringLiteral("\r\n");
    return text;
}

} // namespace

QString StatusText(uint16_t status, int lenPersistentStatus) {
    if (lenPersistentStatus == 2) return Decode(status, kLegacyMap);
    if (lenPersistentStatus == 4) return Decode(status, kNewMap);
    return {};
}

std::optional<TTemperatureEstimates> ExtTemperatureEstimates(int16_t raw) {
    if (raw < 1 || raw > 2046) return std::nullopt;
    TTemperatureEstimates t;
    // Divider with 5600 ohm against an NTC of 10 kOhm at 25 deg C, B = 3455 K.
    const double r = double(5600 * raw) / double(2047 - raw);
    t.Thermistor = float(1.0 / (std::log(r / 10000.0) / 3455.0 + 0.0033540164346805) - 273.15);
    const double y = float(2 * raw);
    t.Polynomial =
        float(-5.605939935e-22 * std::pow(y, 7) + 8.317810489e-18 * std::pow(y, 6) -
              5.130158569e-14 * std::pow(y, 5) + 1.705448899e-10 * std::pow(y, 4) -
              3.339134537e-7 * std::pow(y, 3) + 0.000397830975 * y * y - 0.311475994 * y + 197.7765845);
    return t;
}

QString TemperatureText(int16_t extRaw, int16_t senTemperature) {
    const QString sen = QStringLiteral("Temperature SEN: ") + QString::number(senTemperature);
    const auto t = ExtTemperatureEstimates(extRaw);
    if (!t) return sen;
    return QStringLiteral("Temperature EXT: ") + QString::number(extRaw) + QStringLiteral(" (") +
           Orodja::FormatFixed(t->Thermistor, 5, 1) + QStringLiteral(" / ") +
           Orodja::FormatFixed(t->Polynomial, 5, 1) + QStringLiteral(" °C)\r\n") + sen;
}

float AirGapFromSignalLevel(uint16_t level, float k, float n) {
    if (level == 0) return 0.0f;
    const float lnLevel = std::log(float(level));
    return lnLevel * k + n;
}

QString SignalLevelText(uint16_t level, float airGap) {
    return QStringLiteral("Signal level: ") + QString::number(level) + QStringLiteral(" / ") +
           Orodja::FormatNumber(airGap, 5, 0) + QStringLiteral(" um");
}

float CalibratedAirGapN(float n, float airGap) {
    return n - airGap;
}

QString AirGapNMessage(float n) {
    // Ties to even, as every rounding the engineer sees.
    return QStringLiteral("AirGap N = ") + QString::number(qint64(std::nearbyint(double(n))));
}

QString PositionUnitText(double position, const QString& unit) {
    return Orodja::FormatNumber(position, 6, 3) + QLatin1Char(' ') + unit;
}

bool AirGapPointDue(double position, double lastPointPosition) {
    if (std::isnan(lastPointPosition)) return true;
    return std::fabs(position - lastPointPosition) > 0.1;
}

QString ExportProposedName(const std::string& serial) {
    QString name = QStringLiteral("Air gap ") + QString::fromLatin1(serial);
    for (QChar& c : name)
        if (QStringLiteral("/\\:*?\"<>|").contains(c) || c.unicode() < 32) c = QLatin1Char('_');
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot >= 0) name.truncate(dot);
    return name;
}

QString WithPngExtension(const QString& path) {
    // Only the file name's own extension counts, not a point in a directory's name.
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    if (dot > slash) return path.left(dot) + QStringLiteral(".png");
    return path + QStringLiteral(".png");
}

} // namespace Reading
