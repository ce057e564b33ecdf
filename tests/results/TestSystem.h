// What the results tests need of the system, alike on Linux and Windows: a fresh folder named with
// letters the ANSI code page of a western Windows lacks (Č) or has elsewhere than UTF-8 (Ž), so a
// path that reaches SQLite or a report through the ANSI code page fails there, and the time zone
// the local times are shown in.
#pragma once

#include "Files.h"

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

namespace results_test {

inline std::filesystem::path NewTempFolder(const std::string& prefix) {
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / platform::PathFromUtf8(prefix +
                                                                        "-\xC5\xBD"
                                                                        "alec-\xC4\x8C"
                                                                        "as-" +
                                                                        std::to_string(stamp));
    std::filesystem::create_directories(dir);
    return dir;
}

// The path as the programs carry it: UTF-8 on both systems.
inline std::string Utf8(const std::filesystem::path& path) {
    return platform::Utf8FromPath(path);
}

// `zone` as TZ (nullptr: none), in effect for localtime from now on.
inline void SetTimeZone(const char* zone) {
#ifdef _WIN32
    ::_putenv_s("TZ", zone ? zone : "");
    ::_tzset();
#else
    if (zone)
        ::setenv("TZ", zone, 1);
    else
        ::unsetenv("TZ");
    ::tzset();
#endif
}

} // namespace results_test
