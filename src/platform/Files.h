// Files the programs write record by record (the debug-data recording), and the file names the
// programs carry as UTF-8 text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// A path from UTF-8 text and back. On Windows a std::string becomes a path through the ANSI code
// page, so a folder named with letters such as Ž or Č would not be found; these go through UTF-8 on
// both systems. On POSIX the bytes are taken as they are.
inline std::filesystem::path PathFromUtf8(std::string_view text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}
inline std::string Utf8FromPath(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

enum class NewFileResult { Created, Exists, Failed };

// A file created new (never replacing one), written straight to the system with no buffer of our
// own, so whatever Write reports written is the system's; it can be cut back to a length, and asked
// whether it still has a name. On Windows it is opened without delete sharing: nobody can delete it,
// or the folder it lies in, while it is open. Closed by the destructor.
class TNewFile {
public:
    TNewFile() = default;
    ~TNewFile();
    TNewFile(const TNewFile&) = delete;
    TNewFile& operator=(const TNewFile&) = delete;

    // Exists when a file of that name is there already (left as it is); Failed with the system's
    // reason in `why`.
    NewFileResult Create(const std::filesystem::path& path, std::string& why);
    bool IsOpen() const { return handle_ != kNone; }
    // Appends `size` bytes; returns how many the system took, fewer than `size` only with the
    // reason in `why` (a full disk takes part of a write, then nothing).
    size_t Write(const void* data, size_t size, std::string& why);
    // Cuts the file to `size` bytes; the next Write continues there.
    bool Truncate(uint64_t size, std::string& why);
    // False when the file has no name any more (deleted, its folder removed), or with `why` when
    // the system cannot say.
    bool HasName(std::string& why) const;
    bool Close(std::string& why);

private:
    static constexpr std::intptr_t kNone = -1;
    std::intptr_t handle_ = kNone; // a descriptor on POSIX, a HANDLE on Windows
};

// The folders where the system keeps installed programs and itself, which belong to no user:
// Program Files (both of them) and the Windows folder on Windows; none on POSIX, whose rule
// (/usr) goes by the path alone.
std::vector<std::filesystem::path> ProgramInstallFolders();

// Deletes a file; false with the reason in `why`.
bool RemoveFile(const std::filesystem::path& path, std::string& why);

// Gives the file `from` the name `to` in one step, replacing a file of that name: readers see the
// old file or the new one, never a part. Both in one folder. On Windows a plain rename refuses an
// existing target, hence MoveFileEx with replacing (and the rename on the disk when it returns).
bool RenameReplacing(const std::filesystem::path& from, const std::filesystem::path& to, std::string& why);

// The folder where programs keep a user's own data: $XDG_DATA_HOME (when it is an absolute path)
// or ~/.local/share on POSIX, the local application data folder (%LOCALAPPDATA%) on Windows. Empty
// when the system names none.
std::filesystem::path UserDataFolder();

enum class LockResult { Locked, Busy, Failed };

// An exclusive lock on a file that the system drops when the holder ends, however it ends (killed
// included): how one process tells another that something it started is still going on. Unlocked
// and closed by the destructor.
class TFileLock {
public:
    TFileLock() = default;
    ~TFileLock();
    TFileLock(const TFileLock&) = delete;
    TFileLock& operator=(const TFileLock&) = delete;

    // Opens (creating it when `create` is set) and locks `path` without waiting: Busy when another
    // holder has it, Failed with the system's reason in `why` (a missing file without `create`
    // included).
    LockResult TryLock(const std::filesystem::path& path, bool create, std::string& why);
    bool IsLocked() const { return handle_ != kNone; }
    void Unlock();

private:
    static constexpr std::intptr_t kNone = -1;
    std::intptr_t handle_ = kNone;
};

} // namespace platform
