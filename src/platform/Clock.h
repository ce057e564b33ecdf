// Millisecond tick counter and sleeping, as the transaction and the waits use them.
#pragma once

#include <cstdint>
#include <ctime>

namespace platform {

// Monotonic milliseconds as an unsigned 32-bit count that wraps; callers take differences as
// unsigned 32-bit values, so a wrap does no harm.
uint32_t TickCountMs();
// Shifts the counter, so tests can start a wait just before the wrap.
void SetTickOffsetForTests(uint32_t offset);

void SleepMs(uint32_t ms);

// The local date and time of a moment (thread-safe, unlike std::localtime).
std::tm LocalTime(std::time_t moment);

// Processor time the whole program has used so far (user and system), in seconds.
double ProcessCpuSeconds();

// Monotonic microseconds, for short spans.
uint64_t MonotonicMicros();
inline uint64_t MicrosSince(uint64_t start) {
    return MonotonicMicros() - start;
}

} // namespace platform
