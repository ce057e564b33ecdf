#include "SystemInfo.h"

#include "Text_win32.h"

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <cwchar>
#include <vector>

namespace platform {

// The buffers have the sizes the workbench has always used: a computer name of up to 15
// characters (the longest Windows gives one), a user name of up to 255. A name that does not
// fit, like one whose call fails, is empty. Both come back in the local 8-bit code page, as the
// window reads them.

std::string ComputerName() {
    wchar_t buffer[16] = {};
    DWORD size = 16;
    if (!::GetComputerNameW(buffer, &size)) return {};
    return win32::Narrow(buffer, size, CP_ACP);
}

std::string UserName() {
    wchar_t buffer[256] = {};
    DWORD size = 256;
    if (!::GetUserNameW(buffer, &size) || size == 0) return {};
    return win32::Narrow(buffer, size - 1, CP_ACP); // the count includes the closing zero
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (!wide) return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i)
        arguments.push_back(win32::Narrow(wide[i], ::wcslen(wide[i]), CP_UTF8));
    ::LocalFree(wide);
    return arguments;
}

bool ProgramFileVersion(std::string& text) {
    text.clear();
    std::vector<wchar_t> file(MAX_PATH);
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, file.data(), static_cast<DWORD>(file.size()));
        if (n == 0) return true;
        if (n < file.size()) break;
        file.resize(file.size() * 2);
    }
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(file.data(), &ignored);
    if (size == 0) return true;
    std::vector<unsigned char> info(size);
    if (!::GetFileVersionInfoW(file.data(), 0, size, info.data())) return true;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!::VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || !fixed ||
        length < sizeof(VS_FIXEDFILEINFO))
        return true;
    text = std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
           std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
           std::to_string(HIWORD(fixed->dwFileVersionLS)) + "." +
           std::to_string(LOWORD(fixed->dwFileVersionLS));
    return true;
}

bool PlayQuestionSound() {
    return ::MessageBeep(MB_ICONQUESTION) != 0;
}

} // namespace platform
