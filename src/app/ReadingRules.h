// The arithmetic and texts of one reading, kept apart from the window so each rule can be checked
// on its own: status-word names, temperature estimates, the air-gap model, the air-gap point rule
// and the chart export's file names.
#pragma once

#include <QString>

#include <cstdint>
#include <optional>
#include <string>

namespace Reading {

// Names of the conditions set in `status`, each followed by CR LF, in the order of the status map
// that `lenPersistentStatus` selects (2: legacy map, 4: new map). Any other length names nothing.
QString StatusText(uint16_t status, int lenPersistentStatus);

// The two estimates of the external temperature in deg C, both held in single precision as the
// encoder's tables were made. Only raw readings 1..2046 have them: 0 and 2047 are the rails of
// the thermistor divider, where the resistance is 0 or infinite.
struct TTemperatureEstimates {
    float Thermistor = 0;
    float Polynomial = 0;
};
std::optional<TTemperatureEstimates> ExtTemperatureEstimates(int16_t raw);

// "Temperature EXT: 1023 (40.7 / 41.2 °C)" CR LF "Temperature SEN: 35", or only the SEN line when
// the external reading has no estimates.
QString TemperatureText(int16_t extRaw, int16_t senTemperature);

// Air gap in um from the signal level: K * ln(level) + N in single precision; 0 for level 0.
float AirGapFromSignalLevel(uint16_t level, float k, float n);
// "Signal level: 1000 / 187 um".
QString SignalLevelText(uint16_t level, float airGap);
// The offset that maps the last reading's signal level to an air gap of 0, and its message.
float CalibratedAirGapN(float n, float airGap);
QString AirGapNMessage(float n);

// The position label: value to 6 significant digits with 3 decimals, a blank, the unit.
QString PositionUnitText(double position, const QString& unit);

// An air-gap point is worth adding once the shaft has moved more than 0.1 units since the last
// point added (NaN: none yet). Comparing with the last point rather than the last reading keeps a
// slowly turning shaft, read many times per step, from never adding a point at all.
bool AirGapPointDue(double position, double lastPointPosition);

// The export dialog's proposal: "Air gap " + serial, without the text after its last point.
// Characters that a file name cannot hold (path separators above all) become '_', so an odd
// serial cannot steer the file into another directory.
QString ExportProposedName(const std::string& serial);
// `path` with the extension of its file name replaced by ".png" (or ".png" appended).
QString WithPngExtension(const QString& path);

} // namespace Reading
