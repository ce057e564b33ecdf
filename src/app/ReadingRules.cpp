#include "ReadingRules.h"

#include "NumberFormat.h"
#include "StatusText.h"

#include <QFileInfo>

#include <cmath>

namespace Reading {

QString StatusText(uint16_t status, int lenPersistentStatus) {
    return QString::fromLatin1(Procedures::StatusConditionText(status, lenPersistentStatus));
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
