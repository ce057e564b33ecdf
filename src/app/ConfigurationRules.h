// The arithmetic of the Configuration page, apart from the window so each rule can be checked on
// its own: how an edit's text becomes a register value, the multiturn preset's 16 bits, the new
// zero of "Set zero here" and the reading faults that stop it.
#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace Configuration {

// An edit's text as a signed 32-bit decimal; anything that is not one (empty, letters, too big)
// counts as 0, so a stray character never stops an action by itself.
int32_t EditValue(const QString& text);

// The multiturn counter takes 16 bits: 70000 presets 4464, -1 presets 65535.
uint16_t MultiturnPresetValue(int32_t value);

// The new position offset that makes the current reading the zero: two counts less than the
// current offset plus the current singleturn reading, reduced into one revolution
// (0 .. singleTurnCounts - 1). Empty when the sum does not fit a signed 32-bit value, which the
// window reports as a range-check error. `singleTurnCounts` must be at least 1.
std::optional<int32_t> NewZeroOffset(int32_t currentOffset, uint32_t stValue, int32_t singleTurnCounts);

// The faults of a reading that make it no base for a new zero, as "Timeout, CRC, " (each name
// with ", " after it, in a fixed order); empty for a clean reading.
QString ReadingFaultsText(bool timeout, bool errorBit, bool crc, int32_t errComm);

// "Range check error: ..." for a value a register cannot take.
QString RangeCheckMessage(const QString& what, int64_t value);

} // namespace Configuration
