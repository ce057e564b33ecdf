// The results store's speed against its targets: storing one run (its header, eight steps each
// with an error map of 512 points, its verdict; every commit flushed to the disk) within 5 ms, and
// finding one encoder's runs among 100,000 within 20 ms, through the store and through the whole
// 'tarvo-cli results list --serial S' process (start, open, query, print, exit).
// The store lies in the folder given as the first argument (default: the current one), so the
// figures are those of a real disk, not of a memory file system. Prints figures and ratios
// (figure / target, at most 1 meets the target); asserts nothing.
#include "ResultsStore.h"
#include "SampleRun.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

void Report(const char* what, double ms, double targetMs) {
    std::printf("%-52s %9.3f ms   target %5.1f ms   ratio %.3f\n", what, ms, targetMs, ms / targetMs);
}

constexpr int kRuns = 100000;
constexpr int kRunsPerSerial = 10;

std::string SerialOf(int encoder) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "SN-%06d", encoder);
    return buffer;
}

// 100,000 finished runs of 10,000 encoders in one transaction, straight through SQLite into the
// store's own tables (the store commits each step, which is what a station wants and what would
// make this fill take minutes).
bool Fill(const fs::path& db) {
    sqlite3* h = nullptr;
    if (sqlite3_open(db.c_str(), &h) != SQLITE_OK) return false;
    sqlite3_exec(h, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(
        h,
        "INSERT INTO runs (uuid, serial_number, part_number, verdict, verdict_reason, plan_name, "
        "plan_hash, station, operator, adapter_port, adapter_serial, adapter_version, encoder_type, "
        "layout, firmware, profile_name, profile_json, start_ms, end_ms) VALUES (?1, ?2, "
        "'VK766-0A18B-0100', ?3, '', 'quick', 'hash', 'bench-3', 'M. Novak', '/dev/ttyACM0', "
        "'SN0042', 'K310-7K v1.09', 1, 'legacy', '2.07', 't1', '{}', ?4, ?4 + 60000)",
        -1, &s, nullptr);
    const int64_t t0 = 1767225600000; // 2026-01-01
    for (int i = 0; i < kRuns; ++i) {
        char uuid[40];
        std::snprintf(uuid, sizeof uuid, "%08x-0000-4000-8000-%012x", i * 2654435761u, i);
        const std::string serial = SerialOf(i % (kRuns / kRunsPerSerial));
        sqlite3_bind_text(s, 1, uuid, -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(s, 2, serial.data(), static_cast<int>(serial.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(s, 3, i % 7 == 0 ? "FAIL" : "PASS", -1, SQLITE_STATIC);
        sqlite3_bind_int64(s, 4, t0 + int64_t(i) * 90000);
        if (sqlite3_step(s) != SQLITE_DONE) return false;
        sqlite3_reset(s);
    }
    sqlite3_finalize(s);
    const bool ok = sqlite3_exec(h, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(h);
    return ok;
}

double RunProcessMs(const std::vector<std::string>& args, bool& ok) {
    std::vector<char*> argv;
    std::vector<std::string> copy = args;
    for (std::string& a : copy)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const auto start = Clock::now();
    pid_t pid = -1;
    ok = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (ok) ::waitpid(pid, &status, 0);
    const double ms = MsSince(start);
    ok = ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return ms;
}

} // namespace

int main(int argc, char** argv) {
    const fs::path base = argc > 1 ? fs::path(argv[1]) : fs::current_path();
    const fs::path folder = base / "bench-results-store";
    fs::remove_all(folder);
    std::string error;

    // ---- storing runs
    {
        Results::TResultsStore store;
        if (!store.Open(folder / "store.sqlite", error)) {
            std::fprintf(stderr, "bench_results: %s\n", error.c_str());
            return 1;
        }
        const std::string errorMap = results_test::JsonNumbers(results_test::ErrorMapValues());
        constexpr int kStored = 40;
        std::vector<double> times;
        for (int n = 0; n < kStored + 2; ++n) {
            auto run =
                results_test::SampleRun(Results::NewRunUuid(), SerialOf(n), 1767225600000 + n * 60000, 8);
            const auto start = Clock::now();
            bool ok = store.BeginRun(run, error);
            for (const auto& step : run.Steps)
                ok = ok && store.AddStep(run.Uuid, step, {{step.Order, "error-map", errorMap}}, error);
            ok = ok && store.FinishRun(run.Uuid, "PASS", "", run.EndMs, error);
            if (!ok) {
                std::fprintf(stderr, "bench_results: %s\n", error.c_str());
                return 1;
            }
            if (n >= 2) times.push_back(MsSince(start)); // the first two warm the file up
        }
        double sum = 0;
        for (const double t : times)
            sum += t;
        std::printf("storing a run: header, 8 steps each with a 512-point error map, verdict (%d runs)\n",
                    kStored);
        Report("  mean", sum / kStored, 5.0);
        Report("  median", Median(times), 5.0);
    }

    // ---- finding one encoder's runs among 100,000
    const fs::path db = folder / "100k.sqlite";
    {
        Results::TResultsStore store;
        if (!store.Open(db, error)) {
            std::fprintf(stderr, "bench_results: %s\n", error.c_str());
            return 1;
        }
    }
    const auto fillStart = Clock::now();
    if (!Fill(db)) {
        std::fprintf(stderr, "bench_results: filling the store failed\n");
        return 1;
    }
    std::printf("a store of %d runs (%d encoders) filled in %.1f s, %.1f MB\n", kRuns, kRuns / kRunsPerSerial,
                MsSince(fillStart) / 1000, static_cast<double>(fs::file_size(db)) / 1e6);
    {
        Results::TResultsStore store;
        const auto openStart = Clock::now();
        if (!store.Open(db, Results::OpenMode::MustExist, error)) {
            std::fprintf(stderr, "bench_results: %s\n", error.c_str());
            return 1;
        }
        const double openMs = MsSince(openStart);
        std::vector<double> times;
        size_t found = 0;
        for (int i = 0; i < 200; ++i) {
            Results::TRunFilter filter;
            filter.SerialNumber = SerialOf((i * 37) % (kRuns / kRunsPerSerial));
            std::vector<Procedures::TCommissioningRunRecord> runs;
            const auto start = Clock::now();
            if (!store.ListRuns(filter, runs, error)) {
                std::fprintf(stderr, "bench_results: %s\n", error.c_str());
                return 1;
            }
            times.push_back(MsSince(start));
            found += runs.size();
        }
        std::printf("one encoder's runs among %d (%zu runs found per query)\n", kRuns, found / 200);
        Report("  opening the store", openMs, 20.0);
        Report("  ListRuns(serial), median of 200", Median(times), 20.0);
    }
    {
        std::vector<double> times;
        bool allOk = true;
        for (int i = 0; i < 15; ++i) {
            bool ok = false;
            times.push_back(RunProcessMs(
                {TARVO_CLI_PATH, "results", "list", "--serial", SerialOf(i * 101), "--db", db.string()}, ok));
            allOk = allOk && ok;
        }
        if (!allOk) std::printf("  (tarvo-cli results list failed)\n");
        Report("  tarvo-cli results list --serial S, median of 15", Median(times), 20.0);
        bool ok = false;
        Report("  (tarvo-cli --version, the process alone)", RunProcessMs({TARVO_CLI_PATH, "--version"}, ok),
               20.0);
    }
    fs::remove_all(folder);
    return 0;
}
