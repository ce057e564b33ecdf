// A serial port served by a device inside this program: the built-in simulator where the system
// has no pseudo-terminals (Windows). The host side is the ordinary port API (OpenPort with the
// port's name, then the same PortHandle calls as for a real port), so the transaction and
// everything above it cannot tell the two apart; the device side is an InProcessLink.
//
// Like a USB adapter, a link can be unplugged (Close): the host's open handle then reports a
// lost port, and the name no longer opens. A device that comes back creates a new link under a
// new name, as a re-enumerated adapter comes back under a new COM number.
#pragma once

#include "SerialPort.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform {

class InProcessLink {
public:
    // A new port named "sim:N" (N counts up for the program's life). `onHostActivity` is called
    // whenever the host writes, reads or closes, without any lock held, so the device's own wait
    // can end; it must not call back into the link.
    static std::shared_ptr<InProcessLink> Create(std::function<void()> onHostActivity);
    ~InProcessLink();
    InProcessLink(const InProcessLink&) = delete;
    InProcessLink& operator=(const InProcessLink&) = delete;

    const std::string& Name() const;
    // Bytes the host wrote, at most `count`, without waiting; 0 when none wait.
    size_t Read(char* buffer, size_t count);
    // Queues bytes for the host without waiting; returns how many fit (the host's input queue has
    // the size of a USB adapter's, so a host that stops reading stops the device's output).
    size_t Write(const char* data, size_t count);
    // Unplugged: the host's handle is lost and the name is free of this link.
    void Close();
    bool IsOpen() const;

    struct Shared;

private:
    explicit InProcessLink(std::shared_ptr<Shared> shared);
    std::shared_ptr<Shared> shared_;
};

// The host's side, for the port API's implementations only.
namespace inprocess {
// Whether `path` names an in-process port (whether or not one exists under it now).
bool IsPortName(const std::string& path);
bool Owns(intptr_t handle);
intptr_t Open(const std::string& name, int* osError);
bool Close(intptr_t handle);
long BytesWaiting(intptr_t handle, int* osError);
long Read(intptr_t handle, void* buffer, size_t count, int* osError);
bool Write(intptr_t handle, const void* data, size_t count, int* osError);
void DiscardInput(intptr_t handle);
WaitResult WaitReadable(intptr_t handle, uint32_t timeoutMs, int* osError);
IdleCheck CheckIdle(intptr_t handle, int* osError);
// Line settings are accepted and kept as they come; the link has no baud rate.
bool Alive(intptr_t handle, int* osError);
} // namespace inprocess

} // namespace platform
