// The device end the simulator serves: a pseudo-terminal where the system has them (a client
// opens its path like a serial port, from this program or another), or an in-process port where
// it has none (Windows: only this program's port API reaches it, by its name). Private to
// src/sim; used by the serving thread, and Wake() from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace sim {

class SimTerminal {
public:
    virtual ~SimTerminal() = default;
    // A new terminal under a new name (Path()); false with the reason.
    virtual bool Open(std::string* error) = 0;
    // Unplugged: a client's next use of it fails; the name is not given out again at once.
    virtual void Close() = 0;
    // Closed for good when the simulator stops: nothing of the old terminal is held any more.
    virtual void Shutdown() { Close(); }
    virtual bool IsOpen() const = 0;
    virtual std::string Path() const = 0;
    // Bytes for the client: how many were taken, or -1 when none fit now (wait to write).
    virtual long Write(const char* data, size_t count) = 0;
    // Bytes from the client without waiting: 0 when none.
    virtual long Read(char* buffer, size_t count) = 0;
    // Waits for bytes from the client, for room to write when `wantWrite`, for Wake(), or for
    // `timeoutUs` (-1: no limit).
    virtual void Wait(int64_t timeoutUs, bool wantWrite) = 0;
    virtual void Wake() = 0;
    // The serving thread's own settings, called on it once.
    virtual void PrepareServingThread() {}
};

// A pseudo-terminal where there are any, else an in-process port.
std::unique_ptr<SimTerminal> MakeTerminal(bool inProcess);
// Whether this system has pseudo-terminals for the simulator.
bool HasPseudoTerminals();

} // namespace sim
