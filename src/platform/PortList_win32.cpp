#include "PortList.h"

#include "Text_win32.h"

#include <vector>
#include <windows.h>

namespace platform {

namespace {

// Registry texts may carry their closing zero in the stored length, or stop before it.
std::string RegistryText(const wchar_t* text, size_t length) {
    size_t n = 0;
    while (n < length && text[n] != L'\0')
        ++n;
    return win32::Narrow(text, n, CP_UTF8);
}

} // namespace

PortList SystemPortList(int* osError) {
    PortList list;
    list.kind = PortListKind::SerialCommKey;
    if (osError) *osError = 0;
    HKEY key = nullptr;
    LONG rc = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key);
    if (rc == ERROR_FILE_NOT_FOUND) return list; // no serial port at all: Windows has no key then
    if (rc != ERROR_SUCCESS) {
        if (osError) *osError = static_cast<int>(rc);
        return list;
    }
    DWORD maxName = 0, maxData = 0;
    rc = ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &maxName,
                            &maxData, nullptr, nullptr);
    if (rc == ERROR_SUCCESS) {
        // The key is volatile: a port that arrives meanwhile may bring longer texts, and is
        // read again with room for them.
        std::vector<wchar_t> name(maxName + 1);
        std::vector<wchar_t> data(maxData / sizeof(wchar_t) + 1);
        for (DWORD index = 0;;) {
            DWORD nameLength = static_cast<DWORD>(name.size());
            DWORD dataBytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
            DWORD type = 0;
            rc = ::RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type,
                                 reinterpret_cast<BYTE*>(data.data()), &dataBytes);
            if (rc == ERROR_MORE_DATA) {
                name.resize(name.size() * 2 + 256);
                data.resize(data.size() * 2 + 256);
                continue;
            }
            if (rc != ERROR_SUCCESS) break; // ERROR_NO_MORE_ITEMS ends the list
            PortListEntry entry{RegistryText(name.data(), nameLength), {}};
            if (type == REG_SZ || type == REG_EXPAND_SZ)
                entry.data = RegistryText(data.data(), dataBytes / sizeof(wchar_t));
            list.entries.push_back(std::move(entry));
            ++index;
        }
        if (rc != ERROR_NO_MORE_ITEMS && osError) *osError = static_cast<int>(rc);
    } else if (osError) {
        *osError = static_cast<int>(rc);
    }
    ::RegCloseKey(key);
    return list;
}

} // namespace platform
