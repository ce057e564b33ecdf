// The station's results database: every commissioning run with its steps and series, in one
// SQLite file. A step is committed when it ends, so a program that crashes or is killed loses at
// most the step in progress; a run found unfinished when the store is opened was interrupted and
// is marked so. Device texts reach SQL only as bound parameters and come back byte for byte.
#pragma once

#include "CommissioningRecord.h"
#include "Files.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

struct sqlite3;

namespace Results {

// The schema this program writes (PRAGMA user_version). A store of a later version is refused.
inline constexpr int kSchemaVersion = 1;

// The reason a run found unfinished on opening is given.
inline constexpr const char* kUnfinishedReason =
    "the run did not finish (found unfinished when the store was opened)";

// $XDG_DATA_HOME/tarvo-workbench/results.sqlite or ~/.local/share/... on Linux,
// %LOCALAPPDATA%\tarvo-workbench\results.sqlite on Windows; empty when the system names no folder.
std::filesystem::path DefaultResultsPath();

// A fresh run identity: a version 4 UUID, lower case.
std::string NewRunUuid();

// Which runs a list or an export covers; an empty or zero field does not restrict.
struct TRunFilter {
    std::string SerialNumber; // exactly this serial number
    int64_t SinceMs = 0;      // started at or after (ms since 1970 UTC)
    std::string Verdict;      // PASS, FAIL or INTERRUPTED
    int Limit = 0;            // at most this many, newest first
};

enum class OpenMode {
    CreateIfMissing, // the folders and the file are made when they are not there
    MustExist,       // a missing file is an error (reading commands must not leave an empty store)
};

class TResultsStore {
public:
    TResultsStore();
    ~TResultsStore();
    TResultsStore(const TResultsStore&) = delete;
    TResultsStore& operator=(const TResultsStore&) = delete;

    // Opens (or creates) the store, brings its schema to kSchemaVersion and marks the runs left
    // unfinished by a process that has ended INTERRUPTED. A run whose process still goes on (it
    // holds its run's lock file beside the store) is left alone.
    bool Open(const std::filesystem::path& path, OpenMode mode, std::string& error);
    bool Open(const std::filesystem::path& path, std::string& error) {
        return Open(path, OpenMode::CreateIfMissing, error);
    }
    void Close();
    bool IsOpen() const { return db_ != nullptr; }
    const std::filesystem::path& Path() const { return path_; }

    // The run's header, without a verdict (its steps and series are not stored here). Takes the
    // run's lock until FinishRun.
    bool BeginRun(const Procedures::TCommissioningRunRecord& run, std::string& error);
    // One step and the series that go with it, in one transaction: all of it or nothing.
    bool AddStep(const std::string& uuid, const Procedures::TCommissioningStepRecord& step,
                 const std::vector<Procedures::TCommissioningSeries>& series, std::string& error);
    // The verdict (PASS, FAIL or INTERRUPTED), its reason and the end; drops the run's lock.
    bool FinishRun(const std::string& uuid, const std::string& verdict, const std::string& reason,
                   int64_t endMs, std::string& error);

    // Run headers (no steps or series), newest first.
    bool ListRuns(const TRunFilter& filter, std::vector<Procedures::TCommissioningRunRecord>& runs,
                  std::string& error);
    // The whole record of the run whose UUID is `uuidOrPrefix` or begins with it (at least 4
    // characters); an unknown or ambiguous prefix is an error naming it.
    bool LoadRun(const std::string& uuidOrPrefix, Procedures::TCommissioningRunRecord& run,
                 std::string& error);
    // One CSV row per run and step (a run without steps has one row with the step columns empty),
    // a header line first, RFC 4180 quoting, CR LF line ends.
    bool ExportCsv(std::ostream& out, const TRunFilter& filter, std::string& error);

private:
    bool Execute(const char* sql, std::string& error);
    bool Migrate(std::string& error);
    bool MarkUnfinished(std::string& error);
    std::filesystem::path LockPath(const std::string& uuid) const;

    sqlite3* db_ = nullptr;
    std::filesystem::path path_;
    // The runs this process has begun and not finished, each holding its lock file.
    std::map<std::string, std::unique_ptr<platform::TFileLock>> runLocks_;
};

} // namespace Results
