// One simulated K310-7K adapter with its Tarvo encoder, served on a new pseudo-terminal by a
// thread of its own. Clients open SlavePath() like a serial port; tests and the workbench steer
// the device through the thread-safe control API (typed calls, or Control() with the same text
// commands that k310-sim reads on its standard input).
#pragma once

#include "SimDevice.h"
#include "SimOptions.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace platform {
class PseudoTerminal;
}

namespace sim {

// Simulated time: real time times a scale, plus whatever the tests add, so time-driven
// behaviour (rotation, self-calibration, operating time) can be sped up or stepped.
class SimClock {
public:
    SimClock();
    double Now() const;
    void SetScale(double scale);
    double Scale() const { return scale_; }
    void Advance(double seconds) { offset_ += seconds; }

private:
    std::chrono::steady_clock::time_point base_;
    double atBase_ = 0.0;
    double scale_ = 1.0;
    double offset_ = 0.0;
};

struct ReceivedCommand {
    std::string command; // as delimited, without stray line ends
    std::string reply;   // as produced by the device, before transport faults
    bool answered = true;
};

class K310Simulator {
public:
    explicit K310Simulator(const SimOptions& options = {});
    ~K310Simulator();
    K310Simulator(const K310Simulator&) = delete;
    K310Simulator& operator=(const K310Simulator&) = delete;

    // Builds the device from `options` (unknown preset: false with the reason), opens the
    // pseudo-terminal and starts serving.
    bool Start(std::string* error = nullptr);
    void Stop();
    bool Running() const;
    std::string SlavePath() const;
    // Called on the serving thread with the new path after a come-back, "" after an unplug.
    void SetPathChangedCallback(std::function<void(const std::string&)> callback);

    // --- shaft and environment ---
    void SetPosition(int64_t st, int64_t turns = 0);
    void SetRotation(double degPerS);
    void SetNoise(double counts);
    void SetTemperatures(int sensorC, int externalRaw);
    void SetSupply(bool on);

    // --- faults ---
    void SilenceNext(int commands);                  // no reply at all for the next N commands
    void CutNextReply();                             // the next reply loses its second half and its CR
    void BadCrcNext(int frames = 1);                 // next position frames carry a wrong CRC
    void SetErrorBit(bool on);                       // an encoder error (frame bit, status word, persistent)
    void SetWarningBit(bool on);                     // an encoder warning
    void SetCondition(uint32_t conditions, bool on); // any of sim::Condition
    void SetSignalLevel(double level);               // mean signal level over the turn
    void ErrorReplyNext(int commands = 1);           // "ERROR ..." instead of the next replies
    // silent, cut, garbage and errorreply count and hit only commands beginning with `prefix`
    // ("?" for position reads, "f" for the supply-off command); "" for every command again.
    void SetFaultTarget(const std::string& prefix);
    void SetRegisterError(uint32_t address, int code); // code 0 clears
    void GarbageBeforeNextReply(int bytes);
    void SetExtraDelayMs(int ms); // on every reply
    void JumpAtNextPowerUp(int64_t counts);
    void SetSelfCal(SelfCalOutcome outcome, double seconds);
    // Unplug: the terminal closes; a client's next write fails. Replug: back on a new terminal.
    bool Unplug();
    bool Replug(std::string* error = nullptr);
    // Unplug now, come back on a new terminal after `ms` (served by the thread).
    void UnplugFor(int ms);

    // --- time ---
    void SetTimeScale(double scale);
    void AdvanceTime(double seconds);
    double Now() const;

    // --- read back ---
    bool SupplyOn() const;
    std::vector<ReceivedCommand> Received() const;
    void ClearReceived();
    size_t CommandCount() const;
    // Register as a host read returns it; false for a read the device refuses.
    bool PeekRegister(uint32_t address, int length, uint32_t& value) const;
    uint32_t PowerCycles() const;
    void EncoderPosition(int64_t& turns, int64_t& st) const;
    EncoderVariant Variant() const;
    // Runs `fn` with the device under the lock (tests inspect state this way).
    void Inspect(const std::function<void(SimDevice&, double now)>& fn) const;

    // One control command line (see ControlHelp()); the answer begins "ok" or "error".
    std::string Control(const std::string& line);
    static const char* ControlHelp();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace sim
