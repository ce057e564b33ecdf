// The arithmetic of the Configuration page, apart from the window so each rule can be checked on
// its own: how an edit's text becomes a register value, the multiturn preset's 16 bits, the new
// zero of "Set zero here" and the readings that stop it.
#pragma once

#include <QString>

#include <cstdint>
#include <limits>
#include <optional>

namespace Configuration {

// The values an edit may send. The offset and the filter are 4-byte registers that the refresh
// shows as unsigned numbers, so every such number must go back as it was shown.
struct EditRange {
    int64_t min;
    int64_t max;
};
inline constexpr EditRange kRegisterRange{0, std::numeric_limits<uint32_t>::max()};
// The multiturn error arc: never negative; above 255 it goes as typed and the encoder answers.
inline constexpr EditRange kArcRange{0, std::numeric_limits<int32_t>::max()};
// The multiturn preset: any signed 32-bit number, of which the counter takes the low 16 bits.
inline constexpr EditRange kMultiturnPresetRange{std::numeric_limits<int32_t>::min(),
                                                 std::numeric_limits<int32_t>::max()};

// A whole number: blanks (codes 32 and below) around it, an optional sign, decimal digits only.
// Anything else (empty, letters, a letter O for a zero, a decimal point) is empty: a typo must
// never reach the encoder as some value. Beyond 64 bits the value is clamped, still out of any
// edit's range.
std::optional<int64_t> WholeNumber(const QString& text);

// The value of an edit for a register, or empty with `refusal` set to the range-check message
// ("Range check error: ...") naming the value as `what`.
std::optional<int64_t> EditValue(const QString& text, EditRange range, const QString& what, QString& refusal);

// The multiturn counter takes 16 bits: 70000 presets 4464, -1 presets 65535.
uint16_t MultiturnPresetValue(int32_t value);

// The new position offset that makes the current reading the zero: two counts less than the
// current offset plus the current singleturn reading, reduced into one revolution
// (0 .. singleTurnCounts - 1). The offset is the register's unsigned value as read; in 64 bits no
// offset and reading can overflow, so the only refusal (empty) is a revolution of no counts.
std::optional<int32_t> NewZeroOffset(uint32_t currentOffset, uint32_t stValue, int32_t singleTurnCounts);

// The faults of a reading that make it no base for a new zero, as "Timeout, CRC, " (each name
// with ", " after it, in a fixed order); empty for a clean reading.
QString ReadingFaultsText(bool timeout, bool errorBit, bool crc, int32_t errComm);

// Why the zero preset's reading is no base for a new zero, as its message lists it; empty when it
// is one. `read` is what the position read itself returned. A read that failed on a complete
// reply (a frame that could not be decoded, a "d" report of the wrong length) leaves the previous
// reading and its clean flags in place, so its own `reason` is added; a failed transaction is
// already named by "Comm, " and its reason is in the log.
QString ReadingProblemsText(bool read, bool timeout, bool errorBit, bool crc, int32_t errComm,
                            const QString& reason);

// The first line of a protocol failure text, for a one-line report.
QString FirstLine(const QString& text);

} // namespace Configuration
