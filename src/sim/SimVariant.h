// The simulated adapter's identity and the encoder variants it can carry, as named presets that
// tests, demos and the workbench's --simulate choose by name.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

enum class RegisterLayout { Legacy, New };

struct EncoderVariant {
    std::string preset;
    std::string typeCode;   // first two characters of the "j" reply
    std::string partNumber; // 16 characters; 8th = variant letter, 9th..11th = resolution code
    int encoderType = 1;    // 1..6, as the host derives it from type code and variant letter
    RegisterLayout layout = RegisterLayout::Legacy;
    int singleTurnBits = 18;
    bool multiturn = false;
    std::string serial; // 8 characters (legacy), 16 (new) or 18 (type 5)

    bool hasFirmwareRegisters = true;
    int fwMajor = 3, fwMinor = 9, fwComm = 0;
    uint32_t fwSvn = 0;
    int fwVersionWidth = 2; // width of FW_VER_MAJOR/_MINOR/_COMM
    int fwSvnWidth = 2;     // width of FW_VER_SVN
    bool hasFwHash = false;
    uint32_t fwHash = 0;

    bool hasMtErrThreshold = true;
    bool hasPersistentStatus = true;
    bool hasSignalLevel = true;
    bool hasSelfCalTimeout = true;

    int codeLength = 8; // code length of the scale, from the part number prefix

    int SingleTurnCounts() const { return 1 << singleTurnBits; }
    // The turn counter: 16 bits on a multiturn encoder (the frame's word and the "d" report carry
    // it, and the host reads it as a signed number), none on a single-turn one.
    int TurnBits() const { return multiturn ? 16 : 0; }
    int64_t MinTurns() const { return multiturn ? -(int64_t{1} << (TurnBits() - 1)) : 0; }
    int64_t MaxTurns() const { return multiturn ? (int64_t{1} << (TurnBits() - 1)) - 1 : 0; }
    std::string ResolutionCode() const { return partNumber.substr(8, 3); }
    bool FirmwareMajor4() const { return hasFirmwareRegisters && fwMajor == 4; }
    bool FirmwareMajor2() const { return hasFirmwareRegisters && fwMajor == 2; }
    // The dedicated latch register exists from firmware minor 9 on; older firmware latches
    // through the adapter's "?07:021", firmware 4 through COMMAND.
    bool HasDebugLatchRegister() const { return hasFirmwareRegisters && fwMajor != 4 && fwMinor >= 9; }
    bool NewLayout() const { return layout == RegisterLayout::New; }
};

struct AdapterIdentity {
    std::string version = "K310-7K v1.09";
    std::string serial = "K7A2039104";
    int revision = 17;
};

const std::vector<std::string>& PresetNames();
// False when no preset has that name.
bool FindPreset(std::string_view name, EncoderVariant& out);
// Code length of the scale as the workbench derives it from the part number.
int CodeLengthOfPartNumber(std::string_view partNumber);
// One JSON object describing adapter and encoder variant (k310-sim --describe).
std::string DescribeJson(const EncoderVariant& variant, const AdapterIdentity& adapter);

} // namespace sim
