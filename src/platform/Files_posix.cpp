#include "Files.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

std::string Reason(int error) {
    return std::strerror(error);
}

} // namespace

TNewFile::~TNewFile() {
    std::string ignored;
    Close(ignored);
}

NewFileResult TNewFile::Create(const std::filesystem::path& path, std::string& why) {
    Close(why);
    int fd;
    do {
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        if (errno == EEXIST) return NewFileResult::Exists;
        why = Reason(errno);
        return NewFileResult::Failed;
    }
    handle_ = fd;
    return NewFileResult::Created;
}

size_t TNewFile::Write(const void* data, size_t size, std::string& why) {
    if (!IsOpen()) {
        why = Reason(EBADF);
        return 0;
    }
    const char* bytes = static_cast<const char*>(data);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(static_cast<int>(handle_), bytes + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            why = Reason(n < 0 ? errno : ENOSPC);
            break;
        }
        done += static_cast<size_t>(n);
    }
    return done;
}

bool TNewFile::Truncate(uint64_t size, std::string& why) {
    const int fd = static_cast<int>(handle_);
    if (!IsOpen() || ::ftruncate(fd, static_cast<off_t>(size)) != 0 ||
        ::lseek(fd, static_cast<off_t>(size), SEEK_SET) < 0) {
        why = Reason(IsOpen() ? errno : EBADF);
        return false;
    }
    return true;
}

bool TNewFile::HasName(std::string& why) const {
    struct stat status {};
    if (!IsOpen() || ::fstat(static_cast<int>(handle_), &status) != 0) {
        why = Reason(IsOpen() ? errno : EBADF);
        return false;
    }
    return status.st_nlink > 0;
}

bool TNewFile::Close(std::string& why) {
    if (!IsOpen()) return true;
    const int fd = static_cast<int>(handle_);
    handle_ = kNone;
    // The descriptor is gone after close whatever it says, also after EINTR: never close twice.
    if (::close(fd) != 0 && errno != EINTR) {
        why = Reason(errno);
        return false;
    }
    return true;
}

std::vector<std::filesystem::path> ProgramInstallFolders() {
    return {};
}

bool RemoveFile(const std::filesystem::path& path, std::string& why) {
    if (::unlink(path.c_str()) != 0) {
        why = Reason(errno);
        return false;
    }
    return true;
}

bool RenameReplacing(const std::filesystem::path& from, const std::filesystem::path& to, std::string& why) {
    if (::rename(from.c_str(), to.c_str()) != 0) {
        why = Reason(errno);
        return false;
    }
    return true;
}

std::filesystem::path UserDataFolder() {
    // The XDG rule: a relative value is invalid and is ignored.
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && data[0] == '/') return data;
    if (const char* home = std::getenv("HOME"); home && home[0] == '/')
        return std::filesystem::path(home) / ".local" / "share";
    if (const passwd* pw = ::getpwuid(::geteuid()); pw && pw->pw_dir && pw->pw_dir[0] == '/')
        return std::filesystem::path(pw->pw_dir) / ".local" / "share";
    return {};
}

TFileLock::~TFileLock() {
    Unlock();
}

LockResult TFileLock::TryLock(const std::filesystem::path& path, bool create, std::string& why) {
    Unlock();
    int fd;
    do {
        // Only looking (no `create`): reading is enough for flock, so a lock file another user
        // made can still be asked.
        fd = ::open(path.c_str(), (create ? O_RDWR | O_CREAT : O_RDONLY) | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        why = Reason(errno);
        return LockResult::Failed;
    }
    // flock, not fcntl's record locks: those belong to the process and vanish when any descriptor
    // of the file closes, so a second look at the same file from this process would drop the lock.
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK) return LockResult::Busy;
        why = Reason(error);
        return LockResult::Failed;
    }
    handle_ = fd;
    return LockResult::Locked;
}

void TFileLock::Unlock() {
    if (!IsLocked()) return;
    ::close(static_cast<int>(handle_)); // closing the last descriptor drops the lock
    handle_ = kNone;
}

} // namespace platform
