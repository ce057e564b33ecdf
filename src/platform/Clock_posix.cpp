#include "Clock.h"

#include <atomic>
#include <time.h>

namespace platform {

namespace {
std::atomic<uint32_t> gTickOffset{0};
}

uint32_t TickCountMs() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    const uint64_t ms =
        static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms) + gTickOffset.load(std::memory_order_relaxed);
}

uint64_t MonotonicMicros() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
}

void SetTickOffsetForTests(uint32_t offset) {
    gTickOffset.store(offset, std::memory_order_relaxed);
}

std::tm LocalTime(std::time_t moment) {
    std::tm local{};
    ::localtime_r(&moment, &local);
    return local;
}

void SleepMs(uint32_t ms) {
    timespec ts{static_cast<time_t>(ms / 1000u), static_cast<long>(ms % 1000u) * 1000000L};
    while (::nanosleep(&ts, &ts) != 0) {
    }
}

double ProcessCpuSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

} // namespace platform
