// The results store on real SQLite files in a throwaway folder: what goes in comes back byte for
// byte, a run left unfinished is marked interrupted (and a live one is not), a committed step
// survives its process being killed, and the lists, lookups and exports choose the right runs.
#include "ResultsStore.h"
#include "SampleRun.h"
#include "TestSystem.h"
#include "TimeText.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;
using Procedures::TCommissioningRunRecord;
using Results::TResultsStore;
using results_test::SampleRun;
using results_test::SeriesOf;
using results_test::Utf8;

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = results_test::NewTempFolder("tarvo-results");
        db = dir / "data" / "results.sqlite";
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }

    // Stores `run` as the engine does: header, each step with its series, the verdict.
    void StoreWhole(TResultsStore& store, const TCommissioningRunRecord& run) {
        std::string error;
        ASSERT_TRUE(store.BeginRun(run, error)) << error;
        for (const auto& step : run.Steps)
            ASSERT_TRUE(store.AddStep(run.Uuid, step, SeriesOf(run, step.Order), error)) << error;
        ASSERT_TRUE(store.FinishRun(run.Uuid, run.Verdict, run.VerdictReason, run.EndMs, error)) << error;
    }

    // PRAGMA integrity_check of the file, through SQLite itself.
    static std::string IntegrityCheck(const fs::path& path) {
        sqlite3* handle = nullptr;
        std::string result = "cannot open";
        if (sqlite3_open_v2(Utf8(path).c_str(), &handle, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
            sqlite3_stmt* s = nullptr;
            if (sqlite3_prepare_v2(handle, "PRAGMA integrity_check", -1, &s, nullptr) == SQLITE_OK &&
                sqlite3_step(s) == SQLITE_ROW)
                result = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
            sqlite3_finalize(s);
        }
        sqlite3_close(handle);
        return result;
    }

    fs::path dir;
    fs::path db;
};

Results::TRunFilter Filter(std::string serial, int64_t since = 0, std::string verdict = {}, int limit = 0) {
    Results::TRunFilter f;
    f.SerialNumber = std::move(serial);
    f.SinceMs = since;
    f.Verdict = std::move(verdict);
    f.Limit = limit;
    return f;
}

// Every byte 0x01..0xFF, so no byte of a device text is bent on its way through SQL.
std::string AllBytes() {
    std::string s;
    for (int b = 1; b <= 255; ++b)
        s += static_cast<char>(b);
    return s;
}

TEST_F(StoreTest, EveryFieldComesBackAsStoredByteForByte) {
    TResultsStore store;
    std::string error;
    ASSERT_TRUE(store.Open(db, error)) << error;
    TCommissioningRunRecord run = SampleRun(Results::NewRunUuid(), AllBytes(), 1796985186123);
    std::string reversed = AllBytes();
    std::reverse(reversed.begin(), reversed.end());
    run.PartNumber = reversed;
    run.Firmware = "'; DROP TABLE runs; --";
    run.Operator = "O'Brien \"the\" ; -- operator";
    run.Station = std::string("st\0ation", 8); // a NUL inside: the length counts, not the terminator
    run.AdapterPort = "\xC5\xBD"
                      "elezniki \xff";
    run.Verdict = Procedures::kVerdictFail;
    run.VerdictReason = "error-map: peak-to-peak 30.9 > 20";
    run.Steps[4].Verdict = Procedures::kVerdictFail;
    run.Steps[4].Message = "peak-to-peak 30.9 > 20 ' \" ;";
    StoreWhole(store, run);
    store.Close();

    ASSERT_TRUE(store.Open(db, Results::OpenMode::MustExist, error)) << error;
    TCommissioningRunRecord back;
    ASSERT_TRUE(store.LoadRun(run.Uuid, back, error)) << error;
    EXPECT_EQ(back.Uuid, run.Uuid);
    EXPECT_EQ(back.SerialNumber, run.SerialNumber);
    EXPECT_EQ(back.PartNumber, run.PartNumber);
    EXPECT_EQ(back.Firmware, run.Firmware);
    EXPECT_EQ(back.Operator, run.Operator);
    EXPECT_EQ(back.Station, run.Station);
    EXPECT_EQ(back.AdapterPort, run.AdapterPort);
    EXPECT_EQ(back.AdapterSerial, run.AdapterSerial);
    EXPECT_EQ(back.AdapterVersion, run.AdapterVersion);
    EXPECT_EQ(back.PlanName, run.PlanName);
    EXPECT_EQ(back.PlanHash, run.PlanHash);
    EXPECT_EQ(back.EncoderType, run.EncoderType);
    EXPECT_EQ(back.Layout, run.Layout);
    EXPECT_EQ(back.ProfileName, run.ProfileName);
    EXPECT_EQ(back.Profile, run.Profile);
    EXPECT_EQ(back.StartMs, run.StartMs);
    EXPECT_EQ(back.EndMs, run.EndMs);
    EXPECT_EQ(back.Verdict, run.Verdict);
    EXPECT_EQ(back.VerdictReason, run.VerdictReason);
    ASSERT_EQ(back.Steps.size(), run.Steps.size());
    for (size_t i = 0; i < run.Steps.size(); ++i) {
        const auto &a = run.Steps[i], &b = back.Steps[i];
        EXPECT_EQ(b.Order, a.Order);
        EXPECT_EQ(b.Name, a.Name);
        EXPECT_EQ(b.Verdict, a.Verdict);
        EXPECT_EQ(b.Message, a.Message);
        EXPECT_EQ(b.Figures, a.Figures);
        EXPECT_EQ(b.Limits, a.Limits);
        EXPECT_EQ(b.StartMs, a.StartMs);
        EXPECT_EQ(b.EndMs, a.EndMs);
    }
    ASSERT_EQ(back.Series.size(), run.Series.size());
    for (size_t i = 0; i < run.Series.size(); ++i) {
        EXPECT_EQ(back.Series[i].StepOrder, run.Series[i].StepOrder);
        EXPECT_EQ(back.Series[i].Name, run.Series[i].Name);
        EXPECT_EQ(back.Series[i].Data, run.Series[i].Data);
    }
    // The serial number chooses the run as a bound value too, and the tables are all still there.
    std::vector<TCommissioningRunRecord> runs;
    ASSERT_TRUE(store.ListRuns(Filter(AllBytes()), runs, error)) << error;
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].PartNumber, reversed);
    EXPECT_TRUE(runs[0].Steps.empty()) << "a list carries headers only";
    EXPECT_EQ(IntegrityCheck(db), "ok");
}

TEST_F(StoreTest, OpeningMarksRunsLeftUnfinishedAndLeavesFinishedOnesAlone) {
    std::string error;
    const TCommissioningRunRecord finished = SampleRun(Results::NewRunUuid(), "A1", 1765449000000);
    const TCommissioningRunRecord broken = SampleRun(Results::NewRunUuid(), "B2", 1765449100000);
    {
        TResultsStore store;
        ASSERT_TRUE(store.Open(db, error)) << error;
        StoreWhole(store, finished);
        ASSERT_TRUE(store.BeginRun(broken, error)) << error;
        for (int i = 0; i < 3; ++i)
            ASSERT_TRUE(store.AddStep(broken.Uuid, broken.Steps[i], SeriesOf(broken, i + 1), error)) << error;
        // Closed without its verdict: the program ended in the middle of the run.
    }
    TResultsStore store;
    ASSERT_TRUE(store.Open(db, error)) << error;
    TCommissioningRunRecord back;
    ASSERT_TRUE(store.LoadRun(broken.Uuid, back, error)) << error;
    EXPECT_EQ(back.Verdict, Procedures::kVerdictInterrupted);
    EXPECT_EQ(back.VerdictReason, Results::kUnfinishedReason);
    EXPECT_EQ(back.EndMs, broken.Steps[2].EndMs) << "the end is the last moment the run was known alive";
    EXPECT_EQ(back.Steps.size(), 3u);
    ASSERT_TRUE(store.LoadRun(finished.Uuid, back, error)) << error;
    EXPECT_EQ(back.Verdict, Procedures::kVerdictPass);
    EXPECT_EQ(back.VerdictReason, "");
    EXPECT_EQ(back.EndMs, finished.EndMs);
    EXPECT_FALSE(fs::exists(platform::PathFromUtf8(Utf8(db) + ".run-" + broken.Uuid + ".lock")))
        << "the lock file is cleared away";
}

// The window runs a plan while `tarvo-cli results list` opens the same store: the run going on
// must not be declared interrupted under it.
TEST_F(StoreTest, ARunStillGoingOnElsewhereIsNotMarked) {
    std::string error;
    const TCommissioningRunRecord run = SampleRun(Results::NewRunUuid(), "LIVE", 1765449100000);
    TResultsStore running;
    ASSERT_TRUE(running.Open(db, error)) << error;
    ASSERT_TRUE(running.BeginRun(run, error)) << error;
    ASSERT_TRUE(running.AddStep(run.Uuid, run.Steps[0], {}, error)) << error;

    TResultsStore other;
    ASSERT_TRUE(other.Open(db, error)) << error;
    TCommissioningRunRecord back;
    ASSERT_TRUE(other.LoadRun(run.Uuid, back, error)) << error;
    EXPECT_EQ(back.Verdict, "") << "still going on";

    ASSERT_TRUE(running.AddStep(run.Uuid, run.Steps[1], {}, error)) << error;
    ASSERT_TRUE(running.FinishRun(run.Uuid, Procedures::kVerdictPass, "", run.EndMs, error)) << error;
    ASSERT_TRUE(other.LoadRun(run.Uuid, back, error)) << error;
    EXPECT_EQ(back.Verdict, Procedures::kVerdictPass);
    EXPECT_EQ(back.Steps.size(), 2u);
}

#ifndef _WIN32
// A child process stores steps one after another until it is killed with SIGKILL, in the middle
// of whatever it is doing. Every step it committed is there whole (with its series), none is
// half there, the file is sound, and the run is marked interrupted.
TEST_F(StoreTest, CommittedStepsSurviveTheProcessBeingKilled) {
    // Many kills at staggered moments: a step stored in two commits instead of one is caught
    // only when a kill falls between them.
    for (int attempt = 0; attempt < 24; ++attempt) {
        const int killAfterMs = attempt * 3 % 11;
        SCOPED_TRACE("attempt " + std::to_string(attempt) + ", killed " + std::to_string(killAfterMs) +
                     " ms after the first step");
        fs::remove_all(db.parent_path());
        const std::string uuid = Results::NewRunUuid();
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(ready[0]);
            TResultsStore store;
            std::string error;
            TCommissioningRunRecord run = SampleRun(uuid, "KILLED", 1765449100000);
            if (!store.Open(db, error) || !store.BeginRun(run, error)) ::_exit(3);
            for (int order = 1;; ++order) {
                auto step = run.Steps[static_cast<size_t>(order - 1) % run.Steps.size()];
                step.Order = order;
                // Every step carries an error map, so a half-written step would show as a step
                // without its series.
                const std::vector<Procedures::TCommissioningSeries> series = {
                    {order, "error-map", results_test::JsonNumbers(results_test::ErrorMapValues())}};
                if (!store.AddStep(uuid, step, series, error)) ::_exit(4);
                if (order == 1 && ::write(ready[1], "1", 1) != 1) ::_exit(5);
            }
        }
        ::close(ready[1]);
        char c;
        ASSERT_EQ(::read(ready[0], &c, 1), 1) << "the child stored no step";
        ::close(ready[0]);
        ::usleep(static_cast<useconds_t>(killAfterMs) * 1000);
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the child ended on its own";

        TResultsStore store;
        std::string error;
        ASSERT_TRUE(store.Open(db, error)) << error;
        EXPECT_EQ(IntegrityCheck(db), "ok");
        TCommissioningRunRecord back;
        ASSERT_TRUE(store.LoadRun(uuid, back, error)) << error;
        EXPECT_EQ(back.Verdict, Procedures::kVerdictInterrupted);
        ASSERT_GE(back.Steps.size(), 1u);
        ASSERT_EQ(back.Series.size(), back.Steps.size())
            << "a step without its series, or a series without its step";
        for (size_t i = 0; i < back.Steps.size(); ++i) {
            EXPECT_EQ(back.Steps[i].Order, static_cast<int>(i) + 1);
            EXPECT_EQ(back.Series[i].StepOrder, static_cast<int>(i) + 1);
            EXPECT_EQ(back.Series[i].Data, results_test::JsonNumbers(results_test::ErrorMapValues()));
        }
    }
}
#endif

TEST_F(StoreTest, ListsChooseBySerialStartAndVerdictNewestFirst) {
    TResultsStore store;
    std::string error;
    ASSERT_TRUE(store.Open(db, error)) << error;
    struct Stored {
        const char* uuid;
        const char* serial;
        int64_t start;
        const char* verdict;
    };
    const Stored stored[] = {
        {"00000001-0000-4000-8000-000000000000", "S1", 1000, "PASS"},
        {"00000002-0000-4000-8000-000000000000", "S2", 2000, "FAIL"},
        {"00000003-0000-4000-8000-000000000000", "S1", 3000, "FAIL"},
        {"00000004-0000-4000-8000-000000000000", "S1", 4000, "INTERRUPTED"},
        {"00000005-0000-4000-8000-000000000000", "S10", 5000, "PASS"},
    };
    for (const Stored& s : stored) {
        TCommissioningRunRecord run = SampleRun(s.uuid, s.serial, s.start, 1);
        run.Verdict = s.verdict;
        StoreWhole(store, run);
    }
    struct Case {
        Results::TRunFilter filter;
        std::vector<int> expected; // the runs' numbers, newest first
    };
    const Case cases[] = {
        {Filter(""), {5, 4, 3, 2, 1}},
        {Filter("S1"), {4, 3, 1}},
        {Filter("S1", 3000), {4, 3}},
        {Filter("", 2001), {5, 4, 3}},
        {Filter("", 0, "FAIL"), {3, 2}},
        {Filter("S1", 0, "PASS"), {1}},
        {Filter("S3"), {}},
        {Filter("", 0, "", 2), {5, 4}},
    };
    for (const Case& c : cases) {
        std::vector<TCommissioningRunRecord> runs;
        ASSERT_TRUE(store.ListRuns(c.filter, runs, error)) << error;
        std::vector<int> got;
        for (const auto& r : runs)
            got.push_back(r.Uuid[7] - '0');
        EXPECT_EQ(got, c.expected) << "serial '" << c.filter.SerialNumber << "' since " << c.filter.SinceMs
                                   << " verdict '" << c.filter.Verdict << "' limit " << c.filter.Limit;
    }
}

TEST_F(StoreTest, ARunIsFoundByAUniquePrefixOfItsUuid) {
    TResultsStore store;
    std::string error;
    ASSERT_TRUE(store.Open(db, error)) << error;
    StoreWhole(store, SampleRun("abcd1111-0000-4000-8000-000000000001", "P1", 1000, 2));
    StoreWhole(store, SampleRun("abcd2222-0000-4000-8000-000000000002", "P2", 2000, 2));
    StoreWhole(store, SampleRun("abce0000-0000-4000-8000-000000000003", "P3", 3000, 2));
    struct Case {
        const char* key;
        const char* serial; // the run found, or nullptr
        const char* errorHolds;
    };
    const Case cases[] = {
        {"abcd1", "P1", ""},
        {"ABCD2222", "P2", ""},
        {"abce0000-0000-4000-8000-000000000003", "P3", ""},
        {"abcf", nullptr, "no run abcf"},
        {"abcd", nullptr, "abcd1111-0000-4000-8000-000000000001, abcd2222-0000-4000-8000-000000000002"},
        {"abc", nullptr, "at least 4"},
        {"abcd'--", nullptr, "is not a run's UUID"},
    };
    for (const Case& c : cases) {
        TCommissioningRunRecord run;
        const bool found = store.LoadRun(c.key, run, error);
        EXPECT_EQ(found, c.serial != nullptr) << c.key << ": " << error;
        if (c.serial) {
            EXPECT_EQ(run.SerialNumber, c.serial) << c.key;
            EXPECT_EQ(run.Steps.size(), 2u) << c.key;
        } else {
            EXPECT_NE(error.find(c.errorHolds), std::string::npos) << c.key << ": " << error;
        }
    }
}

// A minimal RFC 4180 reader: records of fields, quoted fields with doubled quotes and line breaks.
std::vector<std::vector<std::string>> ReadCsv(const std::string& text) {
    std::vector<std::vector<std::string>> rows(1, std::vector<std::string>(1));
    bool quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        std::string& field = rows.back().back();
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            rows.back().emplace_back();
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            rows.emplace_back(1);
            ++i;
        } else {
            field += c;
        }
    }
    if (rows.back().size() == 1 && rows.back()[0].empty()) rows.pop_back();
    return rows;
}

TEST_F(StoreTest, CsvExportHasOneQuotedRowPerRunAndStep) {
    TResultsStore store;
    std::string error;
    ASSERT_TRUE(store.Open(db, error)) << error;
    TCommissioningRunRecord run =
        SampleRun("11111111-0000-4000-8000-000000000001", "SN,\"7\"\r\nx", 1796985186123, 3);
    run.Steps[1].Message = "quote \" comma , end";
    StoreWhole(store, run);
    TCommissioningRunRecord empty = SampleRun("22222222-0000-4000-8000-000000000002", "PLAIN", 1796985286123);
    empty.Steps.clear();
    empty.Series.clear();
    empty.Verdict = Procedures::kVerdictInterrupted;
    StoreWhole(store, empty);

    std::ostringstream out;
    ASSERT_TRUE(store.ExportCsv(out, {}, error)) << error;
    const auto rows = ReadCsv(out.str());
    ASSERT_EQ(rows.size(), 1u + 1u + 3u) << out.str();
    const auto& header = rows[0];
    const auto column = [&](const std::string& name) {
        return static_cast<size_t>(std::find(header.begin(), header.end(), name) - header.begin());
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.size(), header.size());
    // Newest run first; it has no step: one row with the step columns empty.
    EXPECT_EQ(rows[1][column("serial_number")], "PLAIN");
    EXPECT_EQ(rows[1][column("run_verdict")], "INTERRUPTED");
    EXPECT_EQ(rows[1][column("step_name")], "");
    for (int i = 0; i < 3; ++i) {
        const auto& row = rows[2 + static_cast<size_t>(i)];
        EXPECT_EQ(row[column("serial_number")], run.SerialNumber);
        EXPECT_EQ(row[column("step_order")], std::to_string(i + 1));
        EXPECT_EQ(row[column("step_name")], run.Steps[static_cast<size_t>(i)].Name);
        EXPECT_EQ(row[column("step_figures")], run.Steps[static_cast<size_t>(i)].Figures);
        EXPECT_EQ(row[column("step_message")], run.Steps[static_cast<size_t>(i)].Message);
    }
    EXPECT_EQ(rows[2][column("run_start")], Results::IsoUtc(run.StartMs));

    std::ostringstream one;
    ASSERT_TRUE(store.ExportCsv(one, Filter("PLAIN"), error)) << error;
    EXPECT_EQ(ReadCsv(one.str()).size(), 2u);
}

TEST_F(StoreTest, OpeningRefusesWhatItCannotUse) {
    std::string error;
    TResultsStore store;
    // Reading commands must not leave an empty store behind.
    EXPECT_FALSE(store.Open(db, Results::OpenMode::MustExist, error));
    EXPECT_NE(error.find(Utf8(db)), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(db));

    // Not a database at all.
    fs::create_directories(db.parent_path());
    std::ofstream(db) << "these are not the droids you are looking for, nor a database file either";
    EXPECT_FALSE(store.Open(db, error));
    EXPECT_NE(error.find("not a database"), std::string::npos) << error;
    fs::remove(db);

    // A store made by a later program.
    ASSERT_TRUE(store.Open(db, error)) << error;
    store.Close();
    sqlite3* handle = nullptr;
    ASSERT_EQ(sqlite3_open(Utf8(db).c_str(), &handle), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(handle, "PRAGMA user_version=99", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(handle);
    EXPECT_FALSE(store.Open(db, error));
    EXPECT_NE(error.find("version 99"), std::string::npos) << error;

    // Bad verdicts and unknown runs.
    fs::remove_all(db.parent_path());
    ASSERT_TRUE(store.Open(db, error)) << error;
    const TCommissioningRunRecord run = SampleRun(Results::NewRunUuid(), "X", 1000, 1);
    ASSERT_TRUE(store.BeginRun(run, error)) << error;
    EXPECT_FALSE(store.FinishRun(run.Uuid, "OK", "", 2000, error));
    EXPECT_NE(error.find("\"OK\" is not a verdict"), std::string::npos) << error;
    EXPECT_FALSE(store.AddStep("no-such-run", run.Steps[0], {}, error));
    EXPECT_NE(error.find("no such run"), std::string::npos) << error;
    EXPECT_FALSE(store.FinishRun("no-such-run", "PASS", "", 2000, error));
    EXPECT_NE(error.find("no such run"), std::string::npos) << error;
}

TEST_F(StoreTest, SchemaVersionAndJournalAreAsDocumented) {
    TResultsStore store;
    std::string error;
    ASSERT_TRUE(store.Open(db, error)) << error;
    store.Close();
    sqlite3* handle = nullptr;
    ASSERT_EQ(sqlite3_open(Utf8(db).c_str(), &handle), SQLITE_OK);
    const auto single = [&](const char* sql) {
        sqlite3_stmt* s = nullptr;
        std::string value;
        if (sqlite3_prepare_v2(handle, sql, -1, &s, nullptr) == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW)
            value = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
        sqlite3_finalize(s);
        return value;
    };
    EXPECT_EQ(single("PRAGMA user_version"), std::to_string(Results::kSchemaVersion));
    EXPECT_EQ(single("PRAGMA journal_mode"), "wal");
    // The serial number's lookup goes through its index, not a scan of every run.
    sqlite3_stmt* s = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(
                  handle,
                  "EXPLAIN QUERY PLAN SELECT * FROM runs WHERE start_ms >= 0 AND serial_number = 'x' "
                  "ORDER BY start_ms DESC, id DESC",
                  -1, &s, nullptr),
              SQLITE_OK);
    std::string plan;
    while (sqlite3_step(s) == SQLITE_ROW)
        plan += reinterpret_cast<const char*>(sqlite3_column_text(s, 3)) + std::string("\n");
    sqlite3_finalize(s);
    EXPECT_NE(plan.find("runs_by_serial"), std::string::npos) << plan;
    sqlite3_close(handle);
}

TEST(RunUuid, IsVersion4LowerCaseAndFresh) {
    std::set<std::string> seen;
    for (int i = 0; i < 1000; ++i) {
        const std::string u = Results::NewRunUuid();
        ASSERT_EQ(u.size(), 36u) << u;
        EXPECT_EQ(u.find_first_not_of("0123456789abcdef-"), std::string::npos) << u;
        EXPECT_TRUE(u[8] == '-' && u[13] == '-' && u[18] == '-' && u[23] == '-') << u;
        EXPECT_EQ(u[14], '4') << u;
        EXPECT_NE(std::string("89ab").find(u[19]), std::string::npos) << u;
        seen.insert(u);
    }
    EXPECT_EQ(seen.size(), 1000u);
}

#ifdef _WIN32
TEST(DefaultResultsPath, IsInTheLocalApplicationDataFolder) {
    const wchar_t* local = ::_wgetenv(L"LOCALAPPDATA");
    ASSERT_NE(local, nullptr);
    EXPECT_EQ(Results::DefaultResultsPath(), fs::path(local) / "tarvo-workbench" / "results.sqlite");
}
#else
TEST(DefaultResultsPath, FollowsXdgDataHomeAndHome) {
    const char* savedXdg = std::getenv("XDG_DATA_HOME");
    const std::string xdg = savedXdg ? savedXdg : "";
    ::setenv("XDG_DATA_HOME", "/srv/data", 1);
    EXPECT_EQ(Results::DefaultResultsPath(), fs::path("/srv/data/tarvo-workbench/results.sqlite"));
    ::setenv("XDG_DATA_HOME", "relative/ignored", 1);
    const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
    if (!home.empty() && home[0] == '/') {
        EXPECT_EQ(Results::DefaultResultsPath(),
                  fs::path(home) / ".local/share/tarvo-workbench/results.sqlite");
    }
    if (savedXdg)
        ::setenv("XDG_DATA_HOME", xdg.c_str(), 1);
    else
        ::unsetenv("XDG_DATA_HOME");
}
#endif

TEST(TimeText, DatesAndTimesAsTypedAndShown) {
#ifdef _WIN32
    // Windows' C library knows no zone names and applies summer time by US rules: a fixed CET.
    results_test::SetTimeZone("CET-1");
    const bool summerTime = false;
#else
    results_test::SetTimeZone("Europe/Ljubljana");
    const bool summerTime = true;
#endif
    struct Case {
        const char* text;
        std::optional<int64_t> ms;
    };
    const Case cases[] = {
        {"2026-12-11T10:33:06Z", 1796985186000},
        {"2026-12-11T10:33:06.123Z", 1796985186123},
        {"2026-12-11T11:33:06+01:00", 1796985186000},
        {"2026-12-11T05:33:06-0500", 1796985186000},
        {"2026-12-11 11:33:06", 1796985186000}, // local: CET, one hour east
        {"2026-12-11T11:33", 1796985180000},
        {"2026-12-11", 1796943600000},                              // local midnight
        {"2026-07-01", summerTime ? 1782856800000 : 1782860400000}, // local midnight in summer time (CEST)
        {"2024-02-29", 1709161200000},
        {"2026-02-29", std::nullopt},
        {"2026-13-01", std::nullopt},
        {"2026-12-11T24:00", std::nullopt},
        {"2026-12-11T10:33:06+1", std::nullopt},
        {"2026-12-11T10:33:06.Z", std::nullopt},
        {"2026-12-1", std::nullopt},
        {"yesterday", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Results::ParseDateTime(c.text), c.ms) << c.text;
    EXPECT_EQ(Results::IsoUtc(1796985186123), "2026-12-11T10:33:06.123Z");
    EXPECT_EQ(Results::IsoUtc(0), "1970-01-01T00:00:00.000Z");
    EXPECT_EQ(Results::LocalWithOffset(1796985186123), "2026-12-11 11:33:06 +01:00");
    if (summerTime) {
        EXPECT_EQ(Results::LocalWithOffset(1782856800000), "2026-07-01 00:00:00 +02:00");
    }
    results_test::SetTimeZone(nullptr);
}

} // namespace
