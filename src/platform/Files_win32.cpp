#include "Files.h"

#include "SerialPort.h"

#include <windows.h>
// After windows.h, which they need.
#include <knownfolders.h>
#include <shlobj.h>

#include <algorithm>

namespace platform {

namespace {

HANDLE Handle(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

} // namespace

TNewFile::~TNewFile() {
    std::string ignored;
    Close(ignored);
}

NewFileResult TNewFile::Create(const std::filesystem::path& path, std::string& why) {
    Close(why);
    // Readers may look while it is written; nobody may delete or rename it, so a recording cannot
    // lose its file unnoticed.
    const HANDLE h = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) return NewFileResult::Exists;
        why = ErrorText(static_cast<int>(error));
        return NewFileResult::Failed;
    }
    handle_ = reinterpret_cast<std::intptr_t>(h);
    return NewFileResult::Created;
}

size_t TNewFile::Write(const void* data, size_t size, std::string& why) {
    if (!IsOpen()) {
        why = ErrorText(ERROR_INVALID_HANDLE);
        return 0;
    }
    const char* bytes = static_cast<const char*>(data);
    size_t done = 0;
    while (done < size) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size - done, 1u << 30));
        DWORD written = 0;
        if (!::WriteFile(Handle(handle_), bytes + done, chunk, &written, nullptr)) {
            why = ErrorText(static_cast<int>(::GetLastError()));
            done += written;
            break;
        }
        if (written == 0) {
            why = ErrorText(ERROR_DISK_FULL);
            break;
        }
        done += written;
    }
    return done;
}

bool TNewFile::Truncate(uint64_t size, std::string& why) {
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(size);
    if (!IsOpen() || !::SetFilePointerEx(Handle(handle_), at, nullptr, FILE_BEGIN) ||
        !::SetEndOfFile(Handle(handle_))) {
        why = ErrorText(IsOpen() ? static_cast<int>(::GetLastError()) : ERROR_INVALID_HANDLE);
        return false;
    }
    return true;
}

bool TNewFile::HasName(std::string& why) const {
    BY_HANDLE_FILE_INFORMATION information{};
    if (!IsOpen() || !::GetFileInformationByHandle(Handle(handle_), &information)) {
        why = ErrorText(IsOpen() ? static_cast<int>(::GetLastError()) : ERROR_INVALID_HANDLE);
        return false;
    }
    return information.nNumberOfLinks > 0;
}

bool TNewFile::Close(std::string& why) {
    if (!IsOpen()) return true;
    const HANDLE h = Handle(handle_);
    handle_ = kNone;
    if (!::CloseHandle(h)) {
        why = ErrorText(static_cast<int>(::GetLastError()));
        return false;
    }
    return true;
}

std::vector<std::filesystem::path> ProgramInstallFolders() {
    std::vector<std::filesystem::path> folders;
    for (const KNOWNFOLDERID* id : {&FOLDERID_ProgramFiles, &FOLDERID_ProgramFilesX86, &FOLDERID_Windows}) {
        wchar_t* text = nullptr;
        if (SUCCEEDED(::SHGetKnownFolderPath(*id, 0, nullptr, &text)) && text && *text)
            folders.emplace_back(text);
        ::CoTaskMemFree(text);
    }
    return folders;
}

bool RemoveFile(const std::filesystem::path& path, std::string& why) {
    if (!::DeleteFileW(path.c_str())) {
        why = ErrorText(static_cast<int>(::GetLastError()));
        return false;
    }
    return true;
}

bool RenameReplacing(const std::filesystem::path& from, const std::filesystem::path& to, std::string& why) {
    if (!::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        why = ErrorText(static_cast<int>(::GetLastError()));
        return false;
    }
    return true;
}

std::filesystem::path UserDataFolder() {
    std::filesystem::path folder;
    wchar_t* text = nullptr;
    if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &text)) && text && *text)
        folder = text;
    ::CoTaskMemFree(text);
    return folder;
}

TFileLock::~TFileLock() {
    Unlock();
}

LockResult TFileLock::TryLock(const std::filesystem::path& path, bool create, std::string& why) {
    Unlock();
    // Shared for delete too: the holder removes the file while it still holds it, and another
    // process may be looking at it at that moment.
    const HANDLE h = ::CreateFileW(path.c_str(), create ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   create ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        why = ErrorText(static_cast<int>(::GetLastError()));
        return LockResult::Failed;
    }
    OVERLAPPED at{};
    if (!::LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
        const DWORD error = ::GetLastError();
        ::CloseHandle(h);
        if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING) return LockResult::Busy;
        why = ErrorText(static_cast<int>(error));
        return LockResult::Failed;
    }
    handle_ = reinterpret_cast<std::intptr_t>(h);
    return LockResult::Locked;
}

void TFileLock::Unlock() {
    if (!IsLocked()) return;
    ::CloseHandle(Handle(handle_)); // closing the handle releases its lock
    handle_ = kNone;
}

} // namespace platform
