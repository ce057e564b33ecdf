// The operating system's serial port, as thin as the transaction and the adapter search need.
// A port is a PortHandle, opaque above this folder (a descriptor here, a Windows HANDLE there);
// error codes are the OS's own (errno here, GetLastError on Windows), so callers can negate them
// into transaction results, and ask IsPermissionError / IsBusyError what they mean.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// An open port as the layers above see it: copied, compared and stored, never looked into.
class PortHandle {
public:
    constexpr PortHandle() = default;
    constexpr explicit PortHandle(intptr_t value) : value_(value) {}
    constexpr intptr_t Value() const { return value_; }
    constexpr bool IsValid() const { return value_ != -1; }
    friend constexpr bool operator==(PortHandle, PortHandle) = default;

private:
    intptr_t value_ = -1; // -1 is the invalid value of both systems
};

inline constexpr PortHandle kNoPort{};

// The port's configuration as the OS keeps it, opaque to callers: read it, apply the adapter's
// line settings on top of a copy, write the saved copy back when the device was not ours.
struct LineSettings {
    alignas(8) unsigned char raw[128] = {};
    bool valid = false;
};

// Opens an existing device read/write with exclusive access, so a second workbench cannot share
// the adapter; what an earlier user left in its input queue is discarded. Returns the handle or
// kNoPort with the OS error code in *osError (IsBusyError when another program has the port).
// On Windows a bare "COMn" opens "\\.\COMn".
PortHandle OpenPort(const std::string& path, int* osError = nullptr);
// On Windows the line settings and time-outs the port had when it was opened are written back
// first: the wait sets time-outs, and the OS keeps them for the next program.
bool ClosePort(PortHandle handle);

bool ReadLineSettings(PortHandle handle, LineSettings& out, int* osError = nullptr);
bool WriteLineSettings(PortHandle handle, const LineSettings& settings, int* osError = nullptr);
// 115200 baud, 8 data bits, no parity, 1 stop bit, raw bytes; every other field of `base` kept.
bool ApplyAdapterLineSettings(PortHandle handle, const LineSettings& base, int* osError = nullptr);

// Bytes waiting in the input queue, or -1 with *osError set.
long BytesWaiting(PortHandle handle, int* osError = nullptr);
// Reads at most `count` bytes without blocking; returns the number read or -1.
long ReadBytes(PortHandle handle, void* buffer, size_t count, int* osError = nullptr);
// Writes all bytes; false with *osError on the first failure.
bool WriteBytes(PortHandle handle, const void* data, size_t count, int* osError = nullptr);

// Throws away whatever waits in the input queue (a tty's; anything else is left alone).
void DiscardInput(PortHandle handle);

enum class WaitResult { Readable, TimedOut, HungUp };
// Blocks until input is waiting, the port is lost, or `timeoutMs` passes. A hang-up, an error
// or an invalid handle is HungUp even when the port also reports itself readable (a hung-up
// terminal does, for ever), with the OS code of a lost port in *osError: EBADF for an invalid
// handle, else EIO (Windows: the code of the failed call).
WaitResult WaitReadable(PortHandle handle, uint32_t timeoutMs, int* osError = nullptr);

// Between transactions the adapter has nothing to say: its port has news only when it is lost
// (unplugged) or when stale bytes arrive (a reply after its time-out). An event loop can watch for
// both on this descriptor, which becomes readable then; -1 where there is none to watch (Windows,
// whose event loop cannot watch a serial handle, and the in-process port): there the window asks
// CheckIdlePort on a timer instead.
intptr_t IdleWatchDescriptor(PortHandle handle);

enum class IdleCheck { Quiet, Discarded, Lost };
// What a port on which no transaction runs has to say, without waiting: nothing (Quiet); stale
// bytes, which are read and thrown away, so a watch on the descriptor is quiet again (Discarded);
// or the port is lost (Lost, the OS code in *osError as WaitReadable gives it).
IdleCheck CheckIdlePort(PortHandle handle, int* osError = nullptr);

// What names one port, so two spellings of it are tried once: the path itself on POSIX; on
// Windows, where "com5", "COM5" and "\\.\COM5" open the same port, its name in capitals
// without the device-namespace prefix.
std::string PortKey(const std::string& path);

// A readable explanation of an OS error code.
std::string ErrorText(int osError);
// The OS refused for want of rights (the user may be let in, see DeviceGroup).
bool IsPermissionError(int osError);
// Another program (or another workbench) has the port.
bool IsBusyError(int osError);
// Who may open a device file: tells the user whom to ask for access.
struct DeviceAccess {
    bool known = false; // false where the OS has no such notion (Windows) or the file is gone
    std::string owner;  // user name (or number)
    std::string group;  // group name (or number)
    unsigned mode = 0;  // permission bits, 0777 at most
    bool GroupMayReadWrite() const { return (mode & 060) == 060; }
};
DeviceAccess DeviceAccessOf(const std::string& path);

} // namespace platform
