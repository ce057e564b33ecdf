#include "SystemInfo.h"

#include "Text_win32.h"

#include <windows.h>

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

} // namespace platform
