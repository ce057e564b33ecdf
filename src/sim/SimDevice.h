// The device behind the simulated port: the K310-7K adapter's command table and the Tarvo
// encoder's registers, position frames, self-calibration, diagnostics and debug record. It is
// plain state driven by complete commands and a simulated time in seconds; the server
// (K310Simulator) owns the terminal, the thread, the lock and the transport faults.
#pragma once

#include "SimVariant.h"

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// How a received byte run starts: a whole command of known length, the beginning of one that
// needs more bytes, or something that is no command at all.
enum class ScanKind { Complete, Incomplete, Unknown };
struct ScanResult {
    ScanKind kind;
    size_t length; // bytes the command (or the unknown run) takes from the front
};
// `buffer` must not start with CR or LF (the server drops those between commands).
ScanResult ScanCommand(std::string_view buffer);

// Encoder conditions that feed the status words, the frame's error and warning bits and the
// persistent status.
enum Condition : uint32_t {
    kErrMultiturn = 1u << 0,
    kErrSignalLost = 1u << 1,
    kErrSystem = 1u << 2,
    kErrPower = 1u << 3,
    kErrConfiguration = 1u << 4,
    kErrMagneticPattern = 1u << 5,
    kErrAcceleration = 1u << 6,
    kWarnTemperature = 1u << 8,
    kWarnSignalLow = 1u << 9,
    kWarnSignalHigh = 1u << 10,
    kWarnMagneticPattern = 1u << 11,
    kWarnHighSpeed = 1u << 12,
};
constexpr uint32_t kErrorConditions = 0xFF;
constexpr uint32_t kWarningConditions = 0xFF00;

uint16_t LegacyStatusWord(uint32_t conditions);
uint16_t NewStatusWord(uint32_t conditions);

enum class SelfCalOutcome {
    Success,
    NoCorrection,
    Timeout, // the procedure never finishes; SELF_CAL_TIMEOUT ends it
    OutOfRange,
    NumericalError,
    RadialDisplacement,
    WriteError,
};
bool ParseSelfCalOutcome(std::string_view text, SelfCalOutcome& out);
const char* SelfCalOutcomeName(SelfCalOutcome outcome);

// Register values the device starts with and returns to on factory reset.
struct EncoderConfig {
    uint32_t positionOffset = 0;
    uint32_t positionFilter = 2;
    uint32_t mtErrThreshold = 45;
    uint32_t selfCalArc = 360;
    uint32_t selfCalTimeout = 10;
};

class SimDevice {
public:
    SimDevice(const EncoderVariant& variant, const AdapterIdentity& adapter, uint32_t seed = 1);

    // One complete command as ScanCommand delimited it; the reply ends with CR.
    std::string Execute(std::string_view command, double now);

    const EncoderVariant& Variant() const { return variant_; }
    const AdapterIdentity& Adapter() const { return adapter_; }

    // --- shaft and environment (the physical world around the encoder) ---
    void SetShaft(int64_t st, int64_t turns, double now);
    void SetRotation(double degPerS, double now);
    void SetNoise(double counts) { noiseCounts_ = counts; }
    // Shaft position in counts (turns × counts per turn + single-turn).
    double ShaftCounts(double now);
    void SetTemperatures(int sensorC, int externalRaw);
    void SetSignalBase(double level) { signalBase_ = level; }

    // --- adapter ---
    void SetSupply(bool on, double now);
    bool SupplyOn() const { return supplyOn_; }
    bool FiveVolts() const { return fiveVolts_; }
    int ClockStep() const { return clockStep_; }

    // --- faults that live in the device ---
    void SetConditions(uint32_t mask, bool on);
    uint32_t ActiveConditions() const { return conditions_; }
    uint32_t PersistentConditions() const { return persistent_; }
    void BadCrcNext(int frames) { badCrcFrames_ = frames; }
    void ErrorReplyNext(int commands) { errorReplies_ = commands; }
    // Faults of the "next N commands" kind count and hit only commands that begin with `prefix`
    // (empty: every command), so a fault can be aimed at one step of a procedure.
    void SetFaultTarget(std::string prefix) { faultTarget_ = std::move(prefix); }
    bool FaultTargets(std::string_view cmd) const {
        return faultTarget_.empty() || cmd.substr(0, faultTarget_.size()) == faultTarget_;
    }
    // A register answers this error code (0x26, 0x56, 0x96, 0xEE, 0xF6, 0xF9, 0xE6) until cleared.
    void SetRegisterError(uint32_t address, int code) { registerErrors_[address] = code; }
    void ClearRegisterError(uint32_t address) { registerErrors_.erase(address); }
    void ClearRegisterErrors() { registerErrors_.clear(); }
    // The shaft appears moved by this many counts at the next supply-on (lost position).
    void JumpAtNextPowerUp(int64_t counts) { pendingJump_ = counts; }

    void SetSelfCal(SelfCalOutcome outcome, double seconds) {
        selfCalOutcome_ = outcome;
        selfCalSeconds_ = seconds;
    }
    // One value of the error map, in place of the built-in correction curve.
    void SetErrorMapEntry(int index, int16_t value) { errorMap_[static_cast<size_t>(index)] = value; }

    // --- read back ---
    // The encoder's reading now (offset and multiturn preset applied), without noise.
    void EncoderPosition(double now, int64_t& turns, int64_t& st);
    // The register as a host read would return it (value right-aligned in 4 bytes); 0 when the
    // address is not a register of this variant, else the error code of Velcor.
    int PeekRegister(uint32_t address, int length, uint32_t& value, double now);
    const EncoderConfig& Config() const { return ram_; }
    const EncoderConfig& SavedConfig() const { return nvram_; }
    uint32_t PowerCycles() const { return powerCycles_; }
    bool DebugUnlocked() const { return debugUnlocked_; }
    bool SelfCalRunning() const { return selfCal_.running; }
    uint32_t SelfCalStatusValue() const;
    int16_t ErrorMapEntry(int index) const { return errorMap_[static_cast<size_t>(index)]; }
    uint32_t WriteAccessStatus() const { return writeAccessStatus_; }
    int PositionFrames() const { return positionFrames_; }

    // Brings time-driven state (rotation, operating time, self-calibration) up to `now`.
    void Advance(double now);

    // 132-byte legacy debug block or firmware-4 words of the latched record.
    const std::array<uint8_t, 132>& DebugBlock() const { return debugBlock_; }
    const std::array<int16_t, 56>& DebugSamples() const { return debugSamples_; }

private:
    std::string AdapterCommand(std::string_view cmd, double now);
    std::string PositionFrame(bool longFrame, double now);
    std::string DetailedReport(double now);
    std::string ReadCommand(uint32_t address, int length, double now);
    std::string WriteCommand(uint32_t address, int length, uint32_t value, double now);
    int ReadRegister(uint32_t address, int length, uint32_t& value, double now);
    int WriteRegister(uint32_t address, int length, uint32_t value, double now, std::string& special);
    int Command(uint8_t code, double now, std::string& special);
    void LatchDebug(double now);
    void StartSelfCal(double now);
    void FinishSelfCal(double end);
    void PowerUp(double now);
    void PowerDown(double now);
    uint16_t StatusWord() const;
    uint16_t CurrentStatusWord() const;
    double SignalLevel(double now);
    int64_t NoisyReading(double now, int64_t& turns);
    void TrackSafety();

    EncoderVariant variant_;
    AdapterIdentity adapter_;
    std::mt19937 rng_;

    // adapter
    bool supplyOn_ = false;
    bool fiveVolts_ = true;
    int clockStep_ = 5;

    // physical shaft, in counts of this encoder's resolution
    double shaft_ = 0.0;
    double rateCountsPerS_ = 0.0;
    double noiseCounts_ = 0.0;
    double lastTime_ = 0.0;
    int sensorTemp_ = 34;
    int externalRaw_ = 1023;
    double signalBase_ = 1200.0;

    // encoder
    EncoderConfig ram_, nvram_, factory_;
    int64_t turnAdjust_ = 0; // multiturn preset, kept by the encoder's turn counter
    uint32_t mtPreset_ = 0;
    uint32_t conditions_ = 0;
    uint32_t persistent_ = 0;
    uint32_t writeAccessStatus_ = 0;
    bool debugUnlocked_ = false;
    std::array<uint8_t, 132> debugBlock_{};
    std::array<int16_t, 56> debugSamples_{};
    uint16_t debugCodeA_ = 0, debugCodeB_ = 0;
    uint8_t debugDecodSelect_ = 0, debugDcdTrs_ = 0, debugDcdWrn_ = 0;
    std::array<int16_t, 512> errorMap_{};

    struct SelfCal {
        bool running = false;
        double start = 0, end = 0;
        SelfCalOutcome outcome = SelfCalOutcome::Success;
        uint32_t counter = 0;
        uint32_t resultBits = 0;
    } selfCal_;
    SelfCalOutcome selfCalOutcome_ = SelfCalOutcome::Success;
    double selfCalSeconds_ = 3.0;
    uint16_t eccentricity_ = 0, eccPhase_ = 0;
    int16_t radialShift_ = 0;

    // diagnostics (firmware 4)
    uint32_t powerCycles_ = 1234;
    double operatingSeconds_ = 0;
    uint32_t operatingMinutesBase_ = 52170;
    int tempMin_ = 12, tempMax_ = 47;
    int safetyPer_ = 27400;

    // faults
    int badCrcFrames_ = 0;
    int errorReplies_ = 0;
    std::string faultTarget_;
    std::map<uint32_t, int> registerErrors_;
    std::optional<int64_t> pendingJump_;

    int positionFrames_ = 0;
};

} // namespace sim
