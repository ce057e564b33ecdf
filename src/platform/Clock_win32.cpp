#include "Clock.h"

#include <atomic>
#include <windows.h>

namespace platform {

namespace {
std::atomic<uint32_t> gTickOffset{0};
}

uint32_t TickCountMs() {
    // The 64-bit counter, cut to 32 bits: it wraps as GetTickCount does, and callers take
    // unsigned 32-bit differences.
    return static_cast<uint32_t>(::GetTickCount64()) + gTickOffset.load(std::memory_order_relaxed);
}

uint64_t MonotonicMicros() {
    static const LONGLONG frequency = [] {
        LARGE_INTEGER f{};
        ::QueryPerformanceFrequency(&f);
        return f.QuadPart;
    }();
    LARGE_INTEGER now{};
    ::QueryPerformanceCounter(&now);
    const auto count = static_cast<uint64_t>(now.QuadPart);
    const auto freq = static_cast<uint64_t>(frequency);
    return count / freq * 1000000u + count % freq * 1000000u / freq;
}

void SetTickOffsetForTests(uint32_t offset) {
    gTickOffset.store(offset, std::memory_order_relaxed);
}

std::tm LocalTime(std::time_t moment) {
    std::tm local{};
    ::localtime_s(&local, &moment);
    return local;
}

void SleepMs(uint32_t ms) {
    ::Sleep(ms);
}

double ProcessCpuSeconds() {
    FILETIME created, exited, kernel, user;
    if (!::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0.0;
    const auto seconds = [](const FILETIME& t) {
        return static_cast<double>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) * 1e-7;
    };
    return seconds(kernel) + seconds(user);
}

} // namespace platform
