#include "SerialPort.h"

#include "InProcessPort.h"

#include "Text_win32.h"

#include <algorithm>
#include <cstring>
#include <windows.h>

namespace platform {

namespace {

// The readiness wait is a synchronous ReadFile of one byte under time-outs that return at once
// when a byte is there, or after the slice when none comes. Measured under Wine against the
// simulator, it kept the round trip of an instant device within 1.8x of a busy loop and cost
// 0.04 CPU-s per wall-s with a device that answers after 2 ms, where an overlapped WaitCommEvent
// with a bounded WaitForSingleObject took 13x the round trip (Wine polls for the event) and
// three times the processor time. A removed device fails the read at once on Windows; Wine
// only times it out, so the wait asks after each slice whether the port is still there.
constexpr DWORD kWaitSliceMs = 20;
// A device that stops reading cannot hold a write for longer than this.
constexpr DWORD kWriteTimeoutMs = 1000;

// What a PortHandle stands for on Windows.
struct Port {
    HANDLE file = INVALID_HANDLE_VALUE;
    // As the port was found, written back at close.
    bool foundSaved = false;
    DCB foundState{};
    COMMTIMEOUTS foundTimeouts{};
    // The read time-out now set by the wait; 0 while the port has time-outs of anyone else.
    DWORD waitSliceSet = 0;
    // The byte the wait took to see that input is there; it leads the next read.
    bool hasPending = false;
    unsigned char pending = 0;
    // Bytes the last queue count saw that are not read yet: a read of that many never waits.
    DWORD knownQueued = 0;
};

struct SavedSettings {
    DCB state;
    COMMTIMEOUTS timeouts;
};
static_assert(sizeof(SavedSettings) <= sizeof(LineSettings::raw), "LineSettings too small for DCB");

Port* Of(PortHandle handle) {
    return handle.IsValid() ? reinterpret_cast<Port*>(handle.Value()) : nullptr;
}

void SetError(int* osError, DWORD value) {
    if (osError) *osError = static_cast<int>(value);
}

bool Fail(int* osError) {
    SetError(osError, ::GetLastError());
    return false;
}

COMMTIMEOUTS WaitTimeouts(DWORD sliceMs) {
    COMMTIMEOUTS t{};
    // MAXDWORD, MAXDWORD, constant: a read returns at once with what is there, waits for the
    // first byte when nothing is, and gives up after the constant.
    t.ReadIntervalTimeout = MAXDWORD;
    t.ReadTotalTimeoutMultiplier = MAXDWORD;
    t.ReadTotalTimeoutConstant = sliceMs;
    t.WriteTotalTimeoutMultiplier = 0;
    t.WriteTotalTimeoutConstant = kWriteTimeoutMs;
    return t;
}

bool SetWaitSlice(Port& port, DWORD sliceMs, int* osError) {
    if (port.waitSliceSet == sliceMs) return true;
    COMMTIMEOUTS t = WaitTimeouts(sliceMs);
    if (!::SetCommTimeouts(port.file, &t)) {
        port.waitSliceSet = 0;
        return Fail(osError);
    }
    port.waitSliceSet = sliceMs;
    return true;
}

// The input queue's count; false when the port is gone.
bool QueueCount(Port& port, DWORD& count, int* osError) {
    DWORD errors = 0;
    COMSTAT status{};
    if (!::ClearCommError(port.file, &errors, &status)) return Fail(osError);
    count = status.cbInQue;
    port.knownQueued = count;
    return true;
}

bool IsComPortName(const std::string& path) {
    if (path.size() < 4) return false;
    auto upper = [](char c) { return static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c); };
    return upper(path[0]) == 'C' && upper(path[1]) == 'O' && upper(path[2]) == 'M' &&
           std::all_of(path.begin() + 3, path.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

PortHandle OpenPort(const std::string& path, int* osError) {
    if (inprocess::IsPortName(path)) return PortHandle(inprocess::Open(path, osError));
    SetError(osError, 0);
    // COM1 to COM9 open by their bare names as well, but COM10 and above only through the
    // device namespace.
    const std::wstring name = win32::Widen(IsComPortName(path) ? "\\\\.\\" + path : path);
    // No sharing: a port has one user at a time, so a second workbench is refused.
    const HANDLE file =
        ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        SetError(osError, ::GetLastError());
        return kNoPort;
    }
    auto* port = new Port;
    port->file = file;
    port->foundState.DCBlength = sizeof(DCB);
    port->foundSaved =
        ::GetCommState(file, &port->foundState) && ::GetCommTimeouts(file, &port->foundTimeouts);
    // The adapter speaks only when asked: bytes already here answer nobody of ours.
    if (port->foundSaved) ::PurgeComm(file, PURGE_RXCLEAR);
    return PortHandle(reinterpret_cast<intptr_t>(port));
}

bool ClosePort(PortHandle handle) {
    if (inprocess::Owns(handle.Value())) return inprocess::Close(handle.Value());
    Port* port = Of(handle);
    if (!port) return false;
    if (port->foundSaved) {
        // A port that is gone takes neither; it is closed all the same.
        ::SetCommState(port->file, &port->foundState);
        ::SetCommTimeouts(port->file, &port->foundTimeouts);
    }
    const bool closed = ::CloseHandle(port->file) != 0;
    delete port;
    return closed;
}

bool ReadLineSettings(PortHandle handle, LineSettings& out, int* osError) {
    if (inprocess::Owns(handle.Value())) return out.valid = inprocess::Alive(handle.Value(), osError);
    out.valid = false;
    Port* port = Of(handle);
    if (!port) {
        SetError(osError, ERROR_INVALID_HANDLE);
        return false;
    }
    SavedSettings saved{};
    saved.state.DCBlength = sizeof(DCB);
    if (!::GetCommState(port->file, &saved.state) || !::GetCommTimeouts(port->file, &saved.timeouts))
        return Fail(osError);
    std::memcpy(out.raw, &saved, sizeof saved);
    out.valid = true;
    return true;
}

namespace {

// The port and the settings saved from it, for the calls that write settings back.
bool Unpack(PortHandle handle, const LineSettings& settings, Port*& port, SavedSettings& saved,
            int* osError) {
    port = Of(handle);
    if (!port || !settings.valid) {
        SetError(osError, port ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return false;
    }
    std::memcpy(&saved, settings.raw, sizeof saved);
    return true;
}

} // namespace

bool WriteLineSettings(PortHandle handle, const LineSettings& settings, int* osError) {
    if (inprocess::Owns(handle.Value())) return inprocess::Alive(handle.Value(), osError);
    Port* port = nullptr;
    SavedSettings saved{};
    if (!Unpack(handle, settings, port, saved, osError)) return false;
    port->waitSliceSet = 0; // the time-outs are someone else's again
    if (!::SetCommState(port->file, &saved.state) || !::SetCommTimeouts(port->file, &saved.timeouts))
        return Fail(osError);
    return true;
}

bool ApplyAdapterLineSettings(PortHandle handle, const LineSettings& base, int* osError) {
    if (inprocess::Owns(handle.Value())) return inprocess::Alive(handle.Value(), osError);
    Port* port = nullptr;
    SavedSettings saved{};
    if (!Unpack(handle, base, port, saved, osError)) return false;
    DCB state = saved.state;
    state.BaudRate = CBR_115200;
    state.ByteSize = 8;
    state.Parity = NOPARITY;
    state.StopBits = ONESTOPBIT;
    if (!::SetCommState(port->file, &state)) return Fail(osError);
    port->waitSliceSet = 0;
    return SetWaitSlice(*port, kWaitSliceMs, osError);
}

long BytesWaiting(PortHandle handle, int* osError) {
    if (inprocess::Owns(handle.Value())) return inprocess::BytesWaiting(handle.Value(), osError);
    Port* port = Of(handle);
    if (!port) {
        SetError(osError, ERROR_INVALID_HANDLE);
        return -1;
    }
    DWORD count = 0;
    if (!QueueCount(*port, count, osError)) return -1;
    return static_cast<long>(count) + (port->hasPending ? 1 : 0);
}

long ReadBytes(PortHandle handle, void* buffer, size_t count, int* osError) {
    if (inprocess::Owns(handle.Value())) return inprocess::Read(handle.Value(), buffer, count, osError);
    Port* port = Of(handle);
    if (!port) {
        SetError(osError, ERROR_INVALID_HANDLE);
        return -1;
    }
    auto* out = static_cast<unsigned char*>(buffer);
    size_t done = 0;
    if (count > 0 && port->hasPending) {
        out[done++] = port->pending;
        port->hasPending = false;
    }
    if (done == count) return static_cast<long>(done);
    if (port->knownQueued == 0 && done == 0) {
        DWORD queued = 0;
        if (!QueueCount(*port, queued, osError)) return -1;
    }
    // Never more than the queue holds, so the read never waits.
    const DWORD want = static_cast<DWORD>(std::min<size_t>(count - done, port->knownQueued));
    if (want == 0) return static_cast<long>(done);
    DWORD got = 0;
    if (!::ReadFile(port->file, out + done, want, &got, nullptr)) {
        if (done > 0) return static_cast<long>(done);
        SetError(osError, ::GetLastError());
        return -1;
    }
    port->knownQueued -= std::min(got, port->knownQueued);
    return static_cast<long>(done + got);
}

bool WriteBytes(PortHandle handle, const void* data, size_t count, int* osError) {
    if (inprocess::Owns(handle.Value())) return inprocess::Write(handle.Value(), data, count, osError);
    Port* port = Of(handle);
    if (!port) {
        SetError(osError, ERROR_INVALID_HANDLE);
        return false;
    }
    const auto* p = static_cast<const unsigned char*>(data);
    while (count > 0) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(count, 0x10000));
        if (!::WriteFile(port->file, p, chunk, &written, nullptr)) return Fail(osError);
        if (written == 0) {
            // The write time-out ran out with nothing taken: the device has stopped reading.
            SetError(osError, ERROR_TIMEOUT);
            return false;
        }
        p += written;
        count -= written;
    }
    return true;
}

void DiscardInput(PortHandle handle) {
    if (inprocess::Owns(handle.Value())) return inprocess::DiscardInput(handle.Value());
    Port* port = Of(handle);
    if (!port) return;
    ::PurgeComm(port->file, PURGE_RXCLEAR);
    port->hasPending = false;
    port->knownQueued = 0;
}

WaitResult WaitReadable(PortHandle handle, uint32_t timeoutMs, int* osError) {
    if (inprocess::Owns(handle.Value())) return inprocess::WaitReadable(handle.Value(), timeoutMs, osError);
    Port* port = Of(handle);
    if (!port) {
        SetError(osError, ERROR_INVALID_HANDLE);
        return WaitResult::HungUp;
    }
    if (port->hasPending) return WaitResult::Readable;
    const ULONGLONG start = ::GetTickCount64();
    for (;;) {
        DWORD queued = 0;
        if (!QueueCount(*port, queued, osError)) return WaitResult::HungUp;
        if (queued > 0) return WaitResult::Readable;
        const ULONGLONG elapsed = ::GetTickCount64() - start;
        if (elapsed >= timeoutMs) return WaitResult::TimedOut;
        const DWORD slice = static_cast<DWORD>(std::min<ULONGLONG>(kWaitSliceMs, timeoutMs - elapsed));
        if (!SetWaitSlice(*port, slice, osError)) return WaitResult::HungUp;
        DWORD got = 0;
        if (!::ReadFile(port->file, &port->pending, 1, &got, nullptr)) {
            SetError(osError, ::GetLastError());
            return WaitResult::HungUp;
        }
        if (got == 1) {
            port->hasPending = true;
            return WaitResult::Readable;
        }
    }
}

std::string ErrorText(int osError) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(osError), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string out = length > 0 ? win32::Narrow(text, length, CP_UTF8) : std::string();
    if (text) ::LocalFree(text);
    // The system's texts end with a line break, and some with a full stop before it.
    while (!out.empty() &&
           (out.back() == '\r' || out.back() == '\n' || out.back() == ' ' || out.back() == '.'))
        out.pop_back();
    if (out.empty()) out = "system error " + std::to_string(osError);
    return out;
}

bool IsPermissionError(int) {
    // A port has no owner to ask for access on Windows: "access denied" on a serial port means
    // another program has it (IsBusyError).
    return false;
}

bool IsBusyError(int osError) {
    return osError == ERROR_ACCESS_DENIED || osError == ERROR_SHARING_VIOLATION;
}

DeviceAccess DeviceAccessOf(const std::string&) {
    return {};
}

// Windows' event loop cannot watch a serial handle: the window asks CheckIdlePort instead.
intptr_t IdleWatchDescriptor(PortHandle) {
    return -1;
}

IdleCheck CheckIdlePort(PortHandle handle, int* osError) {
    if (inprocess::Owns(handle.Value())) return inprocess::CheckIdle(handle.Value(), osError);
    Port* port = Of(handle);
    if (!port) {
        SetError(osError, ERROR_INVALID_HANDLE);
        return IdleCheck::Lost;
    }
    // The queue's count fails once the device is gone (Wine included).
    DWORD queued = 0;
    if (!QueueCount(*port, queued, osError)) return IdleCheck::Lost;
    if (queued == 0 && !port->hasPending) return IdleCheck::Quiet;
    ::PurgeComm(port->file, PURGE_RXCLEAR);
    port->hasPending = false;
    port->knownQueued = 0;
    return IdleCheck::Discarded;
}

std::string PortKey(const std::string& path) {
    std::string key = path.rfind("\\\\.\\", 0) == 0 ? path.substr(4) : path;
    for (char& c : key)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return key;
}

} // namespace platform
