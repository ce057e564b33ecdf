// A pseudo-terminal pair: the device end (master) for a simulated or scripted adapter, and the
// path of the terminal end that the workbench opens like a serial port.
#pragma once

#include <string>

namespace platform {

class PseudoTerminal {
public:
    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // Creates a new pair in raw mode. `holdOpen` keeps a descriptor of the terminal end open
    // inside, so the device end survives clients that open and close the port (otherwise the
    // device end reads a hang-up whenever no client has it open).
    bool Open(bool holdOpen = true, std::string* error = nullptr);
    // Closes both ends: a client's next write fails as on an unplugged adapter.
    void Close();

    bool IsOpen() const { return masterFd_ >= 0; }
    int MasterFd() const { return masterFd_; }
    const std::string& SlavePath() const { return slavePath_; }

private:
    int masterFd_ = -1;
    int heldSlaveFd_ = -1;
    std::string slavePath_;
};

} // namespace platform
