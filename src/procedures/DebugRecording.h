// The debug-data recording's file: its name, its header, one record per reading and the duration
// line, and a writer that keeps the file. The window decides when to start and stop and where the
// file goes; everything about what lands in the file is here, so the window and tarvo-cli write
// the same file.
//
// The file is semicolon-separated text with CR LF line ends, 75 columns, every field followed by
// ";". A field that holds a line break, a ";" or a double quote is enclosed in double quotes with
// its inner quotes doubled, so that a reading with status conditions (whose Error field carries
// each name with its CR LF) or an odd supply text still reads back as one record of 75 fields.
// Every other field is written as it is.
#pragma once

#include "Files.h"
#include "K310_BiSS_bidirectional.h"
#include "K310_SPI_Velcor.h"

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace Procedures {

constexpr int kRecordFieldCount = 75;

// ---- file name ------------------------------------------------------------------------------

// The local date and time as 14 digits, "YYYYMMDDHHMMSS".
std::string RecordingTimeStamp(const std::tm& local);

// `text` with every character that cannot stand in a file name on either system replaced by '_':
// path separators, the characters Windows reserves (<>:"/\|?*), control characters, bytes of 127
// and above, and the dots of a ".." run. So a serial number such as "../x" cannot steer the file
// into another directory.
std::string FileNamePart(std::string_view text);

// "TEST_" + part number + "_" + serial + "_" + time stamp + ".csv", both texts made safe with
// FileNamePart. Before any identification both are empty: "TEST___20240131154502.csv".
std::string RecordingFileName(std::string_view partNumber, std::string_view serial,
                              const std::tm& localStart);

// `name` itself when `exists` says it is free, else the first free of name_2.csv, name_3.csv, ...
// (the number goes before the extension). Starting twice in one second must not overwrite the
// first recording.
std::string FreeFileName(const std::string& name, const std::function<bool(const std::string&)>& exists);
// The same against a directory on disk.
std::filesystem::path FreeFilePath(const std::filesystem::path& directory, const std::string& name);

// True for a folder that belongs to the system rather than the user (under /usr, or the usr/bin
// or usr/local/bin of a tree unpacked elsewhere; on Windows within Program Files or the Windows
// folder, whatever Wine or an administrator lets a user write there), where an installed program's
// own folder lies and no recording belongs: the window records into the user's documents folder
// instead.
bool IsSystemLocation(const std::filesystem::path& path);
// The same with the system's program folders given (`installFolders`, the system's own from
// platform::ProgramInstallFolders in the form above); folders compare without regard to case on
// Windows.
bool IsSystemLocation(const std::filesystem::path& path,
                      const std::vector<std::filesystem::path>& installFolders);

// ---- content --------------------------------------------------------------------------------

// "Time(ms);RX;...;DcdWrn;MIS1;...;MIS56;" without its line end: 75 column names.
std::string RecordingHeader();

// What one record is made of: the reading of the pass, its decoded status text (each condition
// name followed by CR LF, StatusText.h), the supply text the window shows (the adapter's last "e"
// reply, trimmed), the latched debug data, and the milliseconds since the recording started.
struct TRecordSources {
    uint64_t TimeMs = 0;
    K310_BiSS_bidirectional::TEncoderPosition Position;
    std::string StatusText;
    std::string Supply;
    K310_SPI_Velcor::TDebugData Debug;
};

// A field as it goes into the file: as it is, or enclosed in double quotes with its inner quotes
// doubled when it holds CR, LF, ";" or a double quote.
std::string CsvField(std::string_view field);

// The 75 fields in column order, before quoting: numbers in decimal without leading zeros or
// groups (signed where the source is), Status as 16 binary digits, CodeA and CodeB as 9.
std::vector<std::string> RecordFields(const TRecordSources& sources);

// One record as written: each field (quoted where needed) followed by ";", trimmed of blanks and
// control characters at both ends, then CR LF.
std::string RecordLine(const TRecordSources& sources);

// "Record duration: " + seconds + " sec.", the seconds rounded half to even (2.5 s gives 2).
std::string DurationLine(uint64_t elapsedMs);

// ---- the file -------------------------------------------------------------------------------

// Milliseconds from a monotonic 64-bit counter: a recording may run for weeks, past the point
// where a 32-bit tick count wraps or a signed 32-bit span overflows.
using TMillisecondClock = std::function<uint64_t()>;
uint64_t SteadyClockMs();

// How the writer hands bytes to its open file: returns how many of `data` landed, fewer only with
// the reason in `why`. The default is the file's own Write; tests pass one that runs out of space
// after so many bytes, as a filling disk does.
using TRecordWriteFunction =
    std::function<size_t(platform::TNewFile& file, std::string_view data, std::string& why)>;

// One recording: created with its header, a record per reading, closed. Each record goes to the
// operating system whole as soon as it is formed, so a crash loses no reading already recorded.
// The file never holds a broken record: a write that fails cuts the file back to the end of the
// last whole record and ends the recording (the file is closed, nothing is written afterwards);
// a header that cannot be written leaves no file at all. A file deleted while it is recorded (its
// folder removed) fails the recording too. Failures return false and leave the reason, naming the
// file, in ErrorText(); the front end reports it.
class TDebugRecordFile {
public:
    // How long a recording runs, at most, between two checks that its file still has a name.
    static constexpr uint64_t kNameCheckMs = 10000;

    explicit TDebugRecordFile(TMillisecondClock clock = SteadyClockMs, TRecordWriteFunction write = {});
    TDebugRecordFile(const TDebugRecordFile&) = delete;
    TDebugRecordFile& operator=(const TDebugRecordFile&) = delete;

    // Creates the file `name` in `directory`, or name_2.csv, ... when the name is taken (never
    // replacing a file), writes the header and starts the clock of the Time(ms) column. False when
    // the file cannot be made or its header cannot be written; then no file is left behind.
    bool Create(const std::filesystem::path& directory, const std::string& name);
    // One record; its Time(ms) field is the time since Create (TimeMs of `sources` is ignored).
    // When kNameCheckMs have passed since the last check, it first checks that the file still has
    // a name. False when the record could not be written whole (the file is cut back to its last
    // whole record and closed) or the file is gone (closed); then IsOpen() is false.
    bool Write(const TRecordSources& sources);
    // Checks now that the file still has a name, for a front end that writes nothing for a while
    // (its readings failing). False when it is gone (the recording is then closed), or when no
    // recording is open.
    bool Check();
    // Closes the file; false when it is gone or the system reports the close failed. The duration
    // is taken first, so DurationLine(Elapsed()) afterwards gives the memo's line. Nothing to do
    // (true) once closed, also by a failure, whose ErrorText stays.
    bool Close();

    bool IsOpen() const { return file_.IsOpen(); }
    const std::filesystem::path& Path() const { return path_; }
    const std::string& ErrorText() const { return error_; }
    // Milliseconds since Create; once closed (or ended by a failure), the recording's whole length.
    uint64_t Elapsed() const;
    int Records() const { return records_; }

private:
    // Writes `data` whole at the end; else cuts the file back to `whole_`, closes it and says why.
    bool Append(const std::string& data, const char* what);
    bool CheckName();
    void End();
    std::string PathText() const;
    // Why a check found the file gone, or could not tell (`why` from the system).
    std::string GoneText(const std::string& why) const;

    TMillisecondClock clock_;
    TRecordWriteFunction write_;
    platform::TNewFile file_;
    std::filesystem::path path_;
    std::string error_;
    uint64_t start_ = 0;
    uint64_t closedAfter_ = 0;
    uint64_t checkedAt_ = 0;
    uint64_t whole_ = 0; // length of the file up to the end of its last whole line
    int records_ = 0;
};

} // namespace Procedures
