#include "DebugRecording.h"

#include "Files.h"
#include "Orodja.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cwctype>
#include <initializer_list>
#include <system_error>
#include <vector>

namespace Procedures {

namespace {

bool IsReservedInName(unsigned char c) {
    if (c < 32 || c >= 127) return true;
    switch (c) {
    case '<':
    case '>':
    case ':':
    case '"':
    case '/':
    case '\\':
    case '|':
    case '?':
    case '*':
        return true;
    default:
        return false;
    }
}

std::string Numbered(const std::string& name, int n) {
    if (n < 2) return name;
    const std::string suffix = "_" + std::to_string(n);
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) return name + suffix;
    return name.substr(0, dot) + suffix + name.substr(dot);
}

std::string Dec(long long v) {
    return std::to_string(v);
}

std::string UDec(unsigned long long v) {
    return std::to_string(v);
}

} // namespace

std::string RecordingTimeStamp(const std::tm& t) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04d%02d%02d%02d%02d%02d", t.tm_year + 1900, t.tm_mon + 1,
                  t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return buffer;
}

std::string FileNamePart(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (IsReservedInName(static_cast<unsigned char>(c))) c = '_';
    // Every dot of a run of two or more: ".." must not survive as a path step, while a single dot
    // inside a part number is harmless.
    for (size_t i = 0; i + 1 < out.size(); ++i) {
        if (out[i] == '.' && out[i + 1] == '.') {
            size_t j = i;
            while (j < out.size() && out[j] == '.')
                out[j++] = '_';
            i = j;
        }
    }
    return out;
}

std::string RecordingFileName(std::string_view partNumber, std::string_view serial,
                              const std::tm& localStart) {
    return "TEST_" + FileNamePart(partNumber) + "_" + FileNamePart(serial) + "_" +
           RecordingTimeStamp(localStart) + ".csv";
}

std::string FreeFileName(const std::string& name, const std::function<bool(const std::string&)>& exists) {
    constexpr int kLast = 100000;
    for (int n = 1; n < kLast; ++n) {
        const std::string candidate = Numbered(name, n);
        if (!exists(candidate)) return candidate;
    }
    return Numbered(name, kLast);
}

std::filesystem::path FreeFilePath(const std::filesystem::path& directory, const std::string& name) {
    return directory / platform::PathFromUtf8(FreeFileName(name, [&](const std::string& candidate) {
               // A name that cannot even be looked at is left to the creation to report.
               std::error_code ec;
               return std::filesystem::exists(directory / platform::PathFromUtf8(candidate), ec);
           }));
}

namespace {

// Whether `path` is `folder` or lies within it, by their names alone.
bool IsWithin(const std::filesystem::path& path, const std::filesystem::path& folder) {
    const auto key = [](const std::filesystem::path& p) {
        std::vector<std::filesystem::path::string_type> parts;
        for (const auto& part : p.lexically_normal()) {
            auto text = part.native();
            if (text.empty()) continue;
#ifdef _WIN32
            for (auto& c : text)
                c = static_cast<wchar_t>(std::towlower(c));
            if (text == L"\\" || text == L"/") text = L"\\";
#endif
            parts.push_back(std::move(text));
        }
        return parts;
    };
    const auto inner = key(path), outer = key(folder);
    return !outer.empty() && inner.size() >= outer.size() &&
           std::equal(outer.begin(), outer.end(), inner.begin());
}

} // namespace

bool IsSystemLocation(const std::filesystem::path& path) {
    return IsSystemLocation(path, platform::ProgramInstallFolders());
}

bool IsSystemLocation(const std::filesystem::path& path,
                      const std::vector<std::filesystem::path>& installFolders) {
    for (const auto& folder : installFolders)
        if (IsWithin(path, folder)) return true;
    const std::filesystem::path normal = path.lexically_normal();
    auto it = normal.begin();
    if (it == normal.end() || *it != "/") return false;
    ++it;
    if (it != normal.end() && *it == "usr") return true;
    // The program folder of an installed tree unpacked under another root (dpkg -x, a staging
    // prefix) is no more the user's than /usr/bin itself.
    std::vector<std::string> parts;
    for (const auto& part : normal)
        if (!part.empty()) parts.push_back(part.string());
    const auto endsWith = [&](std::initializer_list<const char*> tail) {
        if (parts.size() < tail.size()) return false;
        auto at = parts.end() - static_cast<std::ptrdiff_t>(tail.size());
        for (const char* name : tail)
            if (*at++ != name) return false;
        return true;
    };
    return endsWith({"usr", "bin"}) || endsWith({"usr", "local", "bin"});
}

std::string RecordingHeader() {
    std::string header = "Time(ms);RX;MT;ST;Error;Status;Supply;Signal;Temperature;CodeA;CodeB;ResetCnt;"
                         "CycleTime(clks);DecodSelect;AbsPos;McuTemp;Vdda;DcdTrs;DcdWrn;";
    for (int i = 1; i <= 56; ++i)
        header += "MIS" + std::to_string(i) + ";";
    return header;
}

std::string CsvField(std::string_view field) {
    if (field.find_first_of("\r\n;\"") == std::string_view::npos) return std::string(field);
    std::string out = "\"";
    for (char c : field) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::vector<std::string> RecordFields(const TRecordSources& s) {
    const auto& p = s.Position;
    const auto& d = s.Debug;
    std::vector<std::string> f;
    f.reserve(kRecordFieldCount);
    f.push_back(UDec(s.TimeMs));
    f.push_back(p.RxData);
    f.push_back(Dec(p.MT_value));
    f.push_back(UDec(p.ST_value));
    f.push_back(s.StatusText);
    f.push_back(Orodja::ToBinaryText(16, d.DebugStatus));
    f.push_back(s.Supply);
    f.push_back(UDec(p.SignalLevel));
    f.push_back(Dec(p.SenTemperature));
    f.push_back(Orodja::ToBinaryText(9, d.CodeA));
    f.push_back(Orodja::ToBinaryText(9, d.CodeB));
    f.push_back(UDec(d.ResetCnt));
    f.push_back(UDec(d.CycleTime));
    f.push_back(UDec(d.DecodSelect));
    f.push_back(UDec(d.AbsPos));
    f.push_back(UDec(d.McuTemp));
    f.push_back(UDec(d.Vdda));
    f.push_back(UDec(d.DcdTrs));
    f.push_back(UDec(d.DcdWrn));
    for (int16_t sample : d.Samples)
        f.push_back(Dec(sample));
    return f;
}

std::string RecordLine(const TRecordSources& sources) {
    std::string record;
    for (const std::string& field : RecordFields(sources))
        record += CsvField(field) + ";";
    return Orodja::Trim(record) + "\r\n";
}

std::string DurationLine(uint64_t elapsedMs) {
    const double seconds = std::nearbyint(static_cast<double>(elapsedMs) / 1000.0);
    return "Record duration: " + UDec(static_cast<unsigned long long>(seconds)) + " sec.";
}

uint64_t SteadyClockMs() {
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

TDebugRecordFile::TDebugRecordFile(TMillisecondClock clock, TRecordWriteFunction write)
    : clock_(std::move(clock)), write_(std::move(write)) {
    if (!write_)
        write_ = [](platform::TNewFile& file, std::string_view data, std::string& why) {
            return file.Write(data.data(), data.size(), why);
        };
}

std::string TDebugRecordFile::PathText() const {
    return platform::Utf8FromPath(path_);
}

std::string TDebugRecordFile::GoneText(const std::string& why) const {
    // Without a reason the system did answer: the file has no name any more.
    return why.empty() ? PathText() + " was deleted while it was recorded"
                       : "Cannot check " + PathText() + ": " + why;
}

bool TDebugRecordFile::Create(const std::filesystem::path& directory, const std::string& name) {
    if (IsOpen()) Close();
    error_.clear();
    records_ = 0;
    closedAfter_ = 0;
    whole_ = 0;
    // Exclusive creation: a name that turns up between looking and creating is skipped too.
    platform::NewFileResult result = platform::NewFileResult::Exists;
    std::string why;
    for (int n = 1; n < 10000 && result == platform::NewFileResult::Exists; ++n) {
        path_ = directory / platform::PathFromUtf8(Numbered(name, n));
        result = file_.Create(path_, why);
    }
    if (result == platform::NewFileResult::Failed) {
        error_ = "Cannot create " + PathText() + ": " + why;
        return false;
    }
    if (result == platform::NewFileResult::Exists) {
        error_ = "Cannot create " + PathText() + ": every numbered name is taken";
        return false;
    }
    start_ = checkedAt_ = clock_();
    if (Append(RecordingHeader() + "\r\n", "the header of")) return true;
    // A recording without its header has not begun: nothing of it stays on the disk.
    if (!platform::RemoveFile(path_, why)) error_ += "; the file could not be removed either: " + why;
    return false;
}

bool TDebugRecordFile::Write(const TRecordSources& sources) {
    if (!IsOpen()) {
        // A recording ended by a failure keeps saying why.
        if (error_.empty()) error_ = "No recording file is open";
        return false;
    }
    const uint64_t now = clock_();
    if (now - checkedAt_ >= kNameCheckMs && !CheckName()) return false;
    TRecordSources timed = sources;
    timed.TimeMs = now - start_;
    if (!Append(RecordLine(timed), "")) return false;
    ++records_;
    return true;
}

bool TDebugRecordFile::Check() {
    if (!IsOpen()) {
        if (error_.empty()) error_ = "No recording file is open";
        return false;
    }
    return CheckName();
}

bool TDebugRecordFile::Close() {
    if (!IsOpen()) return true;
    closedAfter_ = clock_() - start_;
    std::string unnamed, unclosed;
    const bool named = file_.HasName(unnamed);
    const bool closed = file_.Close(unclosed);
    if (!named) {
        error_ = GoneText(unnamed);
        return false;
    }
    if (!closed) {
        error_ = "Cannot close " + PathText() + ": " + unclosed;
        return false;
    }
    return true;
}

uint64_t TDebugRecordFile::Elapsed() const {
    return IsOpen() ? clock_() - start_ : closedAfter_;
}

void TDebugRecordFile::End() {
    closedAfter_ = clock_() - start_;
    std::string ignored; // the reason that ended the recording is the one worth reporting
    file_.Close(ignored);
}

bool TDebugRecordFile::CheckName() {
    checkedAt_ = clock_();
    std::string why;
    if (file_.HasName(why)) return true;
    error_ = GoneText(why);
    End();
    return false;
}

bool TDebugRecordFile::Append(const std::string& data, const char* what) {
    std::string why;
    const size_t written = write_(file_, data, why);
    if (written == data.size()) {
        whole_ += written;
        return true;
    }
    error_ = std::string("Cannot write ") + what + (*what ? " " : "") + PathText() + ": " +
             (why.empty() ? "the write was cut short" : why);
    // Part of the line may have landed: the file ends on its last whole line again, or says so.
    if (written > 0 && !file_.Truncate(whole_, why))
        error_ += "; cutting it back to its last whole record failed too: " + why;
    End();
    return false;
}

} // namespace Procedures
