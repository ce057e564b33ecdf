#include "ResultsStore.h"

#include "TimeText.h"

#include <sqlite3.h>

#include <algorithm>
#include <random>
#include <system_error>

namespace Results {

using Procedures::TCommissioningRunRecord;
using Procedures::TCommissioningSeries;
using Procedures::TCommissioningStepRecord;

namespace {

// ---- schema -------------------------------------------------------------------------------------

// Each entry takes the store from version `from` to `from + 1`; a later schema adds one entry and
// never edits an old one, so a store of any age is brought up to date step by step.
struct TMigration {
    int from;
    const char* sql;
};

// Times are milliseconds since 1970-01-01 UTC. A run's verdict is NULL while it goes on. Device
// texts are TEXT holding the device's bytes as they came (not necessarily UTF-8); nothing in SQL
// looks inside them but comparisons of whole values.
constexpr TMigration kMigrations[] = {
    {0, R"sql(
CREATE TABLE runs (
    id INTEGER PRIMARY KEY,
    uuid TEXT NOT NULL UNIQUE,
    serial_number TEXT NOT NULL,
    part_number TEXT NOT NULL,
    verdict TEXT CHECK (verdict IN ('PASS', 'FAIL', 'INTERRUPTED')),
    verdict_reason TEXT NOT NULL DEFAULT '',
    plan_name TEXT NOT NULL,
    plan_hash TEXT NOT NULL,
    station TEXT NOT NULL,
    operator TEXT NOT NULL,
    adapter_port TEXT NOT NULL,
    adapter_serial TEXT NOT NULL,
    adapter_version TEXT NOT NULL,
    encoder_type INTEGER NOT NULL,
    layout TEXT NOT NULL,
    firmware TEXT NOT NULL,
    profile_name TEXT NOT NULL,
    profile_json TEXT NOT NULL,
    start_ms INTEGER NOT NULL,
    end_ms INTEGER NOT NULL DEFAULT 0
);
CREATE INDEX runs_by_serial ON runs (serial_number, start_ms);
CREATE INDEX runs_by_start ON runs (start_ms);
CREATE INDEX runs_by_verdict ON runs (verdict, start_ms);
CREATE TABLE steps (
    run_id INTEGER NOT NULL REFERENCES runs (id) ON DELETE CASCADE,
    step_order INTEGER NOT NULL,
    name TEXT NOT NULL,
    verdict TEXT NOT NULL,
    message TEXT NOT NULL,
    figures_json TEXT NOT NULL,
    limits_json TEXT NOT NULL,
    start_ms INTEGER NOT NULL,
    end_ms INTEGER NOT NULL,
    PRIMARY KEY (run_id, step_order)
);
CREATE TABLE series (
    id INTEGER PRIMARY KEY,
    run_id INTEGER NOT NULL REFERENCES runs (id) ON DELETE CASCADE,
    step_order INTEGER NOT NULL,
    name TEXT NOT NULL,
    data_json TEXT NOT NULL
);
CREATE INDEX series_by_run ON series (run_id, step_order);
)sql"},
};

constexpr const char* kRunColumns =
    "id, uuid, serial_number, part_number, verdict, verdict_reason, plan_name, plan_hash, station, operator, "
    "adapter_port, adapter_serial, adapter_version, encoder_type, layout, firmware, profile_name, "
    "profile_json, start_ms, end_ms";

bool IsVerdict(const std::string& v) {
    return v == Procedures::kVerdictPass || v == Procedures::kVerdictFail ||
           v == Procedures::kVerdictInterrupted;
}

// ---- statements ---------------------------------------------------------------------------------

class TStatement {
public:
    TStatement(sqlite3* db, const char* sql) : db_(db) {
        rc_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr);
    }
    ~TStatement() { sqlite3_finalize(stmt_); }
    TStatement(const TStatement&) = delete;
    TStatement& operator=(const TStatement&) = delete;

    bool Ok() const { return rc_ == SQLITE_OK || rc_ == SQLITE_ROW || rc_ == SQLITE_DONE; }
    // Texts with their length: a device text keeps every byte, also a NUL.
    TStatement& Text(int index, const std::string& value) {
        if (Ok())
            Check(sqlite3_bind_text(stmt_, index, value.data(), static_cast<int>(value.size()),
                                    SQLITE_TRANSIENT));
        return *this;
    }
    TStatement& Int(int index, int64_t value) {
        if (Ok()) Check(sqlite3_bind_int64(stmt_, index, value));
        return *this;
    }
    TStatement& Null(int index) {
        if (Ok()) Check(sqlite3_bind_null(stmt_, index));
        return *this;
    }
    // SQLITE_ROW (a row to read), SQLITE_DONE, or an error code.
    int Step() {
        if (!Ok()) return rc_;
        rc_ = sqlite3_step(stmt_);
        return rc_;
    }
    bool Run() { return Step() == SQLITE_DONE; }
    std::string ColumnText(int column) const {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
        return text ? std::string(text, static_cast<size_t>(sqlite3_column_bytes(stmt_, column)))
                    : std::string();
    }
    int64_t ColumnInt(int column) const { return sqlite3_column_int64(stmt_, column); }
    bool ColumnIsNull(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }
    std::string Error() const { return sqlite3_errmsg(db_); }

private:
    void Check(int rc) {
        if (rc != SQLITE_OK) rc_ = rc;
    }
    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
    int rc_ = SQLITE_OK;
};

// A transaction that rolls back unless committed.
class TTransaction {
public:
    explicit TTransaction(sqlite3* db) : db_(db) {}
    ~TTransaction() {
        if (open_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    // IMMEDIATE: the write lock is taken at the start (waiting up to the busy timeout), so a
    // transaction that reads and then writes is never refused halfway for another writer.
    bool Begin(std::string& error) {
        open_ = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
        if (!open_) error = sqlite3_errmsg(db_);
        return open_;
    }
    bool Commit(std::string& error) {
        if (sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
            error = sqlite3_errmsg(db_);
            return false;
        }
        open_ = false;
        return true;
    }

private:
    sqlite3* db_;
    bool open_ = false;
};

void ReadRunHeader(const TStatement& s, TCommissioningRunRecord& run) {
    run.Uuid = s.ColumnText(1);
    run.SerialNumber = s.ColumnText(2);
    run.PartNumber = s.ColumnText(3);
    run.Verdict = s.ColumnIsNull(4) ? std::string() : s.ColumnText(4);
    run.VerdictReason = s.ColumnText(5);
    run.PlanName = s.ColumnText(6);
    run.PlanHash = s.ColumnText(7);
    run.Station = s.ColumnText(8);
    run.Operator = s.ColumnText(9);
    run.AdapterPort = s.ColumnText(10);
    run.AdapterSerial = s.ColumnText(11);
    run.AdapterVersion = s.ColumnText(12);
    run.EncoderType = static_cast<int>(s.ColumnInt(13));
    run.Layout = s.ColumnText(14);
    run.Firmware = s.ColumnText(15);
    run.ProfileName = s.ColumnText(16);
    run.Profile = s.ColumnText(17);
    run.StartMs = s.ColumnInt(18);
    run.EndMs = s.ColumnInt(19);
}

// The WHERE clause of a filter, with placeholders only (values are bound by BindFilter): its
// text depends on which fields are set, never on what they hold.
std::string FilterWhere(const TRunFilter& filter) {
    std::string where = " WHERE start_ms >= ?1";
    if (!filter.SerialNumber.empty()) where += " AND serial_number = ?2";
    if (!filter.Verdict.empty()) where += " AND verdict = ?3";
    return where;
}

void BindFilter(TStatement& s, const TRunFilter& filter) {
    s.Int(1, filter.SinceMs);
    if (!filter.SerialNumber.empty()) s.Text(2, filter.SerialNumber);
    if (!filter.Verdict.empty()) s.Text(3, filter.Verdict);
}

// One CSV field, RFC 4180: quoted when it holds a comma, a quote or a line break, inner quotes
// doubled. Leading spaces are kept as they are.
std::string CsvField(const std::string& value) {
    if (value.find_first_of(",\"\r\n") == std::string::npos) return value;
    std::string out = "\"";
    for (const char c : value) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::string TimeOrEmpty(int64_t ms) {
    return ms ? IsoUtc(ms) : std::string();
}

} // namespace

// ---- paths and identities -----------------------------------------------------------------------

std::filesystem::path DefaultResultsPath() {
    const std::filesystem::path folder = platform::UserDataFolder();
    if (folder.empty()) return {};
    return folder / "tarvo-workbench" / "results.sqlite";
}

std::string NewRunUuid() {
    std::random_device device;
    uint8_t bytes[16];
    for (int i = 0; i < 16; i += 4) {
        const uint32_t word = device();
        for (int j = 0; j < 4; ++j)
            bytes[i + j] = static_cast<uint8_t>(word >> (8 * j));
    }
    bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x40); // version 4
    bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80); // the RFC 4122 variant
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 15];
    }
    return text;
}

// ---- the store ----------------------------------------------------------------------------------

TResultsStore::TResultsStore() = default;

TResultsStore::~TResultsStore() {
    Close();
}

void TResultsStore::Close() {
    // Runs begun here and not finished stay unfinished in the store; without their lock files the
    // next opening marks them interrupted.
    for (auto& [uuid, lock] : runLocks_) {
        std::string ignored;
        platform::RemoveFile(LockPath(uuid), ignored);
        lock->Unlock();
    }
    runLocks_.clear();
    if (db_) sqlite3_close_v2(db_);
    db_ = nullptr;
}

std::filesystem::path TResultsStore::LockPath(const std::string& uuid) const {
    std::filesystem::path p = path_;
    p += ".run-" + uuid + ".lock";
    return p;
}

bool TResultsStore::Execute(const char* sql, std::string& error) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        error = message ? message : sqlite3_errmsg(db_);
        sqlite3_free(message);
        return false;
    }
    return true;
}

bool TResultsStore::Open(const std::filesystem::path& path, OpenMode mode, std::string& error) {
    Close();
    path_ = path;
    const std::string where = platform::Utf8FromPath(path);
    std::error_code ec;
    if (mode == OpenMode::MustExist && !std::filesystem::exists(path, ec)) {
        error = "no results database at " + where;
        return false;
    }
    if (path.has_parent_path()) {
        std::filesystem::create_directories(path.parent_path(), ec);
        if (ec) {
            error = "cannot make the folder of the results database " + where + ": " + ec.message();
            return false;
        }
    }
    const int flags = SQLITE_OPEN_READWRITE | (mode == OpenMode::CreateIfMissing ? SQLITE_OPEN_CREATE : 0);
    if (sqlite3_open_v2(where.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
        error = "cannot open the results database " + where + ": " +
                (db_ ? sqlite3_errmsg(db_) : "out of memory");
        Close();
        return false;
    }
    sqlite3_extended_result_codes(db_, 1);
    // Another program (the window beside tarvo-cli) may hold the write lock for a step's commit:
    // wait for it rather than fail.
    sqlite3_busy_timeout(db_, 5000);
    std::string why;
    // WAL: a commit is one append to the log, readers do not block the writer, and a program
    // killed at any point leaves every commit before it whole (the log is in the system's hands
    // once the commit returns). synchronous=NORMAL: in WAL mode the log is flushed to the disk at
    // each checkpoint, not at each commit, so a committed step survives the program being killed
    // or crashing; a cut of the computer's power may lose the last commits before the checkpoint
    // but never corrupts the file. FULL (a flush per commit) made storing a run of eight steps
    // take about 37 ms instead of about 2 (bench/results).
    {
        TStatement wal(db_, "PRAGMA journal_mode=WAL");
        if (wal.Step() != SQLITE_ROW) {
            error = "cannot open the results database " + where + ": " + wal.Error();
            Close();
            return false;
        }
        if (wal.ColumnText(0) != "wal") {
            error = "the results database " + where + " cannot use a write-ahead log (journal mode " +
                    wal.ColumnText(0) + ")";
            Close();
            return false;
        }
    }
    if (!Execute("PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=ON", why) || !Migrate(why) ||
        !MarkUnfinished(why)) {
        error = "cannot open the results database " + where + ": " + why;
        Close();
        return false;
    }
    return true;
}

namespace {

bool UserVersion(sqlite3* db, int& version, std::string& error) {
    TStatement s(db, "PRAGMA user_version");
    if (s.Step() != SQLITE_ROW) {
        error = s.Error();
        return false;
    }
    version = static_cast<int>(s.ColumnInt(0));
    return true;
}

} // namespace

bool TResultsStore::Migrate(std::string& error) {
    int version;
    // A store that is up to date is only read: opening it to list runs writes nothing.
    if (!UserVersion(db_, version, error)) return false;
    if (version == kSchemaVersion) return true;
    TTransaction t(db_);
    if (!t.Begin(error)) return false;
    // Read again inside the write transaction: two programs opening a new store at once must not
    // both create the tables.
    if (!UserVersion(db_, version, error)) return false;
    if (version > kSchemaVersion) {
        error = "its schema is version " + std::to_string(version) + ", newer than this program's (" +
                std::to_string(kSchemaVersion) + ")";
        return false;
    }
    for (const TMigration& m : kMigrations) {
        if (m.from < version) continue;
        if (!Execute(m.sql, error)) {
            error = "schema update from version " + std::to_string(m.from) + " failed: " + error;
            return false;
        }
        version = m.from + 1;
    }
    if (!Execute(("PRAGMA user_version=" + std::to_string(version)).c_str(), error)) return false;
    return t.Commit(error);
}

bool TResultsStore::MarkUnfinished(std::string& error) {
    const char* const kUnfinished = "SELECT id, uuid FROM runs WHERE verdict IS NULL";
    {
        // Most openings find nothing to mark: they take no write lock.
        TStatement s(db_, kUnfinished);
        const int rc = s.Step();
        if (rc == SQLITE_DONE) return true;
        if (rc != SQLITE_ROW) {
            error = s.Error();
            return false;
        }
    }
    TTransaction t(db_);
    if (!t.Begin(error)) return false;
    std::vector<std::pair<int64_t, std::string>> unfinished;
    {
        TStatement s(db_, kUnfinished);
        int rc;
        while ((rc = s.Step()) == SQLITE_ROW)
            unfinished.emplace_back(s.ColumnInt(0), s.ColumnText(1));
        if (rc != SQLITE_DONE) {
            error = s.Error();
            return false;
        }
    }
    // A run whose program still holds its lock goes on elsewhere. A lock file that is missing or
    // free belongs to a program that has ended.
    std::vector<std::unique_ptr<platform::TFileLock>> taken;
    std::vector<std::string> takenUuids;
    for (const auto& [id, uuid] : unfinished) {
        auto lock = std::make_unique<platform::TFileLock>();
        std::string why;
        const platform::LockResult r = lock->TryLock(LockPath(uuid), false, why);
        if (r == platform::LockResult::Busy) continue;
        // The end: the last moment the run is known to have been alive.
        TStatement u(db_, "UPDATE runs SET verdict = 'INTERRUPTED', verdict_reason = ?1, end_ms = "
                          "max(start_ms, coalesce((SELECT max(end_ms) FROM steps WHERE run_id = ?2), 0)) "
                          "WHERE id = ?2 AND verdict IS NULL");
        if (!u.Text(1, kUnfinishedReason).Int(2, id).Run()) {
            error = "marking run " + uuid + " interrupted failed: " + u.Error();
            return false;
        }
        if (r == platform::LockResult::Locked) {
            taken.push_back(std::move(lock));
            takenUuids.push_back(uuid);
        }
    }
    if (!t.Commit(error)) return false;
    for (const std::string& uuid : takenUuids) {
        std::string ignored;
        platform::RemoveFile(LockPath(uuid), ignored);
    }
    return true;
}

bool TResultsStore::BeginRun(const TCommissioningRunRecord& run, std::string& error) {
    if (!db_) {
        error = "the results database is not open";
        return false;
    }
    if (run.Uuid.empty() || runLocks_.count(run.Uuid)) {
        error = "run " + run.Uuid + ": no UUID, or begun already";
        return false;
    }
    auto lock = std::make_unique<platform::TFileLock>();
    std::string why;
    if (lock->TryLock(LockPath(run.Uuid), true, why) != platform::LockResult::Locked) {
        error = "cannot lock run " + run.Uuid + " (" + platform::Utf8FromPath(LockPath(run.Uuid)) +
                "): " + (why.empty() ? "held by another program" : why);
        return false;
    }
    TStatement s(
        db_, "INSERT INTO runs (uuid, serial_number, part_number, verdict, verdict_reason, plan_name, "
             "plan_hash, station, operator, adapter_port, adapter_serial, adapter_version, encoder_type, "
             "layout, firmware, profile_name, profile_json, start_ms, end_ms) "
             "VALUES (?1, ?2, ?3, NULL, '', ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, 0)");
    s.Text(1, run.Uuid)
        .Text(2, run.SerialNumber)
        .Text(3, run.PartNumber)
        .Text(4, run.PlanName)
        .Text(5, run.PlanHash)
        .Text(6, run.Station)
        .Text(7, run.Operator)
        .Text(8, run.AdapterPort)
        .Text(9, run.AdapterSerial)
        .Text(10, run.AdapterVersion)
        .Int(11, run.EncoderType)
        .Text(12, run.Layout)
        .Text(13, run.Firmware)
        .Text(14, run.ProfileName)
        .Text(15, run.Profile)
        .Int(16, run.StartMs);
    if (!s.Run()) {
        error = "storing the start of run " + run.Uuid + " failed: " + s.Error();
        platform::RemoveFile(LockPath(run.Uuid), why);
        return false;
    }
    runLocks_[run.Uuid] = std::move(lock);
    return true;
}

bool TResultsStore::AddStep(const std::string& uuid, const TCommissioningStepRecord& step,
                            const std::vector<TCommissioningSeries>& series, std::string& error) {
    if (!db_) {
        error = "the results database is not open";
        return false;
    }
    const std::string what =
        "storing step " + std::to_string(step.Order) + " (" + step.Name + ") of run " + uuid;
    std::string why;
    TTransaction t(db_);
    if (!t.Begin(why)) {
        error = what + " failed: " + why;
        return false;
    }
    int64_t runId;
    {
        TStatement s(db_, "SELECT id FROM runs WHERE uuid = ?1");
        const int rc = s.Text(1, uuid).Step();
        if (rc != SQLITE_ROW) {
            error = what + " failed: " + (rc == SQLITE_DONE ? "no such run in the store" : s.Error());
            return false;
        }
        runId = s.ColumnInt(0);
    }
    {
        TStatement s(
            db_, "INSERT INTO steps (run_id, step_order, name, verdict, message, figures_json, limits_json, "
                 "start_ms, end_ms) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)");
        s.Int(1, runId)
            .Int(2, step.Order)
            .Text(3, step.Name)
            .Text(4, step.Verdict)
            .Text(5, step.Message)
            .Text(6, step.Figures)
            .Text(7, step.Limits)
            .Int(8, step.StartMs)
            .Int(9, step.EndMs);
        if (!s.Run()) {
            error = what + " failed: " + s.Error();
            return false;
        }
    }
    for (const TCommissioningSeries& one : series) {
        TStatement s(db_, "INSERT INTO series (run_id, step_order, name, data_json) VALUES (?1, ?2, ?3, ?4)");
        s.Int(1, runId)
            .Int(2, one.StepOrder ? one.StepOrder : step.Order)
            .Text(3, one.Name)
            .Text(4, one.Data);
        if (!s.Run()) {
            error = what + " failed at its series " + one.Name + ": " + s.Error();
            return false;
        }
    }
    if (!t.Commit(why)) {
        error = what + " failed: " + why;
        return false;
    }
    return true;
}

bool TResultsStore::FinishRun(const std::string& uuid, const std::string& verdict, const std::string& reason,
                              int64_t endMs, std::string& error) {
    if (!db_) {
        error = "the results database is not open";
        return false;
    }
    if (!IsVerdict(verdict)) {
        error =
            "finishing run " + uuid + ": \"" + verdict + "\" is not a verdict (PASS, FAIL or INTERRUPTED)";
        return false;
    }
    TStatement s(db_, "UPDATE runs SET verdict = ?1, verdict_reason = ?2, end_ms = ?3 WHERE uuid = ?4");
    if (!s.Text(1, verdict).Text(2, reason).Int(3, endMs).Text(4, uuid).Run()) {
        error = "storing the end of run " + uuid + " failed: " + s.Error();
        return false;
    }
    if (sqlite3_changes(db_) == 0) {
        error = "storing the end of run " + uuid + " failed: no such run in the store";
        return false;
    }
    if (const auto it = runLocks_.find(uuid); it != runLocks_.end()) {
        std::string ignored;
        platform::RemoveFile(LockPath(uuid), ignored);
        runLocks_.erase(it);
    }
    return true;
}

bool TResultsStore::ListRuns(const TRunFilter& filter, std::vector<TCommissioningRunRecord>& runs,
                             std::string& error) {
    runs.clear();
    if (!db_) {
        error = "the results database is not open";
        return false;
    }
    const std::string sql = std::string("SELECT ") + kRunColumns + " FROM runs" + FilterWhere(filter) +
                            " ORDER BY start_ms DESC, id DESC LIMIT ?4";
    TStatement s(db_, sql.c_str());
    BindFilter(s, filter);
    s.Int(4, filter.Limit > 0 ? filter.Limit : -1);
    int rc;
    while ((rc = s.Step()) == SQLITE_ROW) {
        runs.emplace_back();
        ReadRunHeader(s, runs.back());
    }
    if (rc != SQLITE_DONE) {
        error = "listing runs failed: " + s.Error();
        return false;
    }
    return true;
}

bool TResultsStore::LoadRun(const std::string& uuidOrPrefix, TCommissioningRunRecord& run,
                            std::string& error) {
    run = {};
    if (!db_) {
        error = "the results database is not open";
        return false;
    }
    std::string prefix = uuidOrPrefix;
    std::transform(prefix.begin(), prefix.end(), prefix.begin(),
                   [](char c) { return c >= 'A' && c <= 'F' ? static_cast<char>(c - 'A' + 'a') : c; });
    if (prefix.size() < 4 || prefix.size() > 36 ||
        prefix.find_first_not_of("0123456789abcdef-") != std::string::npos) {
        error = "\"" + uuidOrPrefix + "\" is not a run's UUID or the start of one (at least 4 hex digits)";
        return false;
    }
    // Every UUID that begins with the prefix lies in [prefix, prefix with its last character
    // raised by one): a range the UUID index answers directly.
    std::string upper = prefix;
    upper.back() = static_cast<char>(upper.back() + 1);
    int64_t runId = 0;
    {
        const std::string sql = std::string("SELECT ") + kRunColumns +
                                " FROM runs WHERE uuid >= ?1 AND uuid < ?2 ORDER BY uuid LIMIT 6";
        TStatement s(db_, sql.c_str());
        s.Text(1, prefix).Text(2, upper);
        std::vector<std::string> matches;
        int rc;
        while ((rc = s.Step()) == SQLITE_ROW) {
            if (matches.empty()) {
                runId = s.ColumnInt(0);
                ReadRunHeader(s, run);
            }
            matches.push_back(s.ColumnText(1));
        }
        if (rc != SQLITE_DONE) {
            error = "reading run " + uuidOrPrefix + " failed: " + s.Error();
            return false;
        }
        if (matches.empty()) {
            error = "no run " + uuidOrPrefix + " in " + platform::Utf8FromPath(path_);
            return false;
        }
        if (matches.size() > 1) {
            error = "run " + uuidOrPrefix + " is ambiguous: it begins ";
            for (size_t i = 0; i < matches.size() && i < 5; ++i)
                error += (i ? ", " : "") + matches[i];
            if (matches.size() > 5) error += ", ...";
            run = {};
            return false;
        }
    }
    {
        TStatement s(db_,
                     "SELECT step_order, name, verdict, message, figures_json, limits_json, start_ms, end_ms "
                     "FROM steps WHERE run_id = ?1 ORDER BY step_order");
        s.Int(1, runId);
        int rc;
        while ((rc = s.Step()) == SQLITE_ROW) {
            TCommissioningStepRecord step;
            step.Order = static_cast<int>(s.ColumnInt(0));
            step.Name = s.ColumnText(1);
            step.Verdict = s.ColumnText(2);
            step.Message = s.ColumnText(3);
            step.Figures = s.ColumnText(4);
            step.Limits = s.ColumnText(5);
            step.StartMs = s.ColumnInt(6);
            step.EndMs = s.ColumnInt(7);
            run.Steps.push_back(std::move(step));
        }
        if (rc != SQLITE_DONE) {
            error = "reading the steps of run " + run.Uuid + " failed: " + s.Error();
            return false;
        }
    }
    {
        TStatement s(
            db_, "SELECT step_order, name, data_json FROM series WHERE run_id = ?1 ORDER BY step_order, id");
        s.Int(1, runId);
        int rc;
        while ((rc = s.Step()) == SQLITE_ROW)
            run.Series.push_back({static_cast<int>(s.ColumnInt(0)), s.ColumnText(1), s.ColumnText(2)});
        if (rc != SQLITE_DONE) {
            error = "reading the series of run " + run.Uuid + " failed: " + s.Error();
            return false;
        }
    }
    return true;
}

bool TResultsStore::ExportCsv(std::ostream& out, const TRunFilter& filter, std::string& error) {
    if (!db_) {
        error = "the results database is not open";
        return false;
    }
    const std::string sql =
        "SELECT r.uuid, r.serial_number, r.part_number, r.verdict, r.verdict_reason, r.plan_name, "
        "r.plan_hash, "
        "r.station, r.operator, r.adapter_port, r.adapter_serial, r.adapter_version, r.encoder_type, "
        "r.layout, "
        "r.firmware, r.profile_name, r.start_ms, r.end_ms, s.step_order, s.name, s.verdict, s.message, "
        "s.figures_json, s.limits_json, s.start_ms, s.end_ms "
        "FROM (SELECT * FROM runs" +
        FilterWhere(filter) +
        " ORDER BY start_ms DESC, id DESC LIMIT ?4) AS r LEFT JOIN steps AS s ON s.run_id = r.id "
        "ORDER BY r.start_ms DESC, r.id DESC, s.step_order";
    TStatement s(db_, sql.c_str());
    BindFilter(s, filter);
    s.Int(4, filter.Limit > 0 ? filter.Limit : -1);
    out << "run_uuid,serial_number,part_number,run_verdict,verdict_reason,plan_name,plan_hash,station,"
           "operator,"
           "adapter_port,adapter_serial,adapter_version,encoder_type,layout,firmware,profile_name,run_start,"
           "run_end,step_order,step_name,step_verdict,step_message,step_figures,step_limits,step_start,step_"
           "end\r\n";
    int rc;
    while ((rc = s.Step()) == SQLITE_ROW) {
        const bool hasStep = !s.ColumnIsNull(18);
        std::string line;
        for (int c = 0; c <= 11; ++c)
            line += CsvField(s.ColumnText(c)) + ",";
        line += std::to_string(s.ColumnInt(12)) + ",";
        for (int c = 13; c <= 15; ++c)
            line += CsvField(s.ColumnText(c)) + ",";
        line += TimeOrEmpty(s.ColumnInt(16)) + "," + TimeOrEmpty(s.ColumnInt(17)) + ",";
        if (hasStep) {
            line += std::to_string(s.ColumnInt(18)) + ",";
            for (int c = 19; c <= 23; ++c)
                line += CsvField(s.ColumnText(c)) + ",";
            line += TimeOrEmpty(s.ColumnInt(24)) + "," + TimeOrEmpty(s.ColumnInt(25));
        } else {
            line += ",,,,,,,";
        }
        out << line << "\r\n";
    }
    if (rc != SQLITE_DONE) {
        error = "exporting runs failed: " + s.Error();
        return false;
    }
    out.flush();
    if (!out) {
        error = "exporting runs failed: the output could not be written";
        return false;
    }
    return true;
}

} // namespace Results
