// UTF-16 and 8-bit text at the Windows API's edge, for the Win32 implementations only.
#pragma once

#include <string>

namespace platform::win32 {

// `codePage` is CP_UTF8 for texts of our own making, CP_ACP for texts handed to the toolkit as
// local 8-bit text.
std::string Narrow(const wchar_t* text, size_t length, unsigned codePage);
std::wstring Widen(const std::string& text);

} // namespace platform::win32
