// The moments a run records (milliseconds since 1970-01-01 UTC) as people and spreadsheets read
// them, and the dates people type to choose runs.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace Results {

// "2026-12-11T10:33:06.120Z": UTC, for exports and JSON.
std::string IsoUtc(int64_t ms);
// "2026-12-11 11:33:06 +01:00": local time with its offset from UTC, for people.
std::string LocalWithOffset(int64_t ms);
// The local time of a moment, as the file names use it.
std::tm LocalTm(int64_t ms);
// The offset of local time from UTC at that moment, in seconds east.
long UtcOffsetSeconds(int64_t ms);

// "YYYY-MM-DD" (local midnight) or ISO 8601 "YYYY-MM-DDTHH:MM[:SS[.fff]]" with "Z", "+HH:MM",
// "-HH:MM" or nothing (local time); a space may stand for the "T". Nothing for any other text or
// a date that does not exist.
std::optional<int64_t> ParseDateTime(std::string_view text);

} // namespace Results
