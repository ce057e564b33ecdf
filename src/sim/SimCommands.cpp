// The adapter's command table: how a received byte run splits into commands, the adapter's
// own commands, and the dispatch of the encoder's commands.
#include "SimDevice.h"

#include "SimDeviceParts.h"

#include <algorithm>

namespace sim {

namespace {

// Fixed-length commands of the adapter. 'h' stands for one hexadecimal digit, 'c' for the clock
// step digit 1..8; every other character must match itself.
constexpr std::string_view kCommandPatterns[] = {
    "v",
    "r",
    "o",
    "V3",
    "V5",
    "n",
    "f",
    "e",
    "Mc",
    "m",
    "Cr",
    "Ce",
    "G0:1",
    "D015",
    "j",
    "?07:021",
    "?04:000",
    "?06:000",
    "d",
    "x",
    "R:hhhh:hhhhhhhh",
    "W:hhhh:hhhhhhhh:hhhhhhhh",
};

bool IsHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

bool Matches(char pattern, char c) {
    if (pattern == 'h') return IsHex(c);
    if (pattern == 'c') return c >= '1' && c <= '8';
    return pattern == c;
}

const char* kClockTexts[] = {"94 kHz",  "188 kHz", "375 kHz", "750 kHz",
                             "1.5 MHz", "3 MHz",   "6 MHz",   "12 MHz"};

constexpr uint32_t kLastSvnAnsweringDuringSelfCal = 9356;

} // namespace

using detail::HexValue;

ScanResult ScanCommand(std::string_view buffer) {
    bool partial = false;
    for (std::string_view pattern : kCommandPatterns) {
        const size_t n = std::min(pattern.size(), buffer.size());
        bool ok = true;
        for (size_t i = 0; i < n && ok; ++i)
            ok = Matches(pattern[i], buffer[i]);
        if (!ok) continue;
        if (buffer.size() >= pattern.size()) return {ScanKind::Complete, pattern.size()};
        partial = true;
    }
    if (partial) return {ScanKind::Incomplete, 0};
    // No command starts here: the unknown run goes up to the next line end, or takes what is
    // there, so one mistyped command gets one error reply.
    size_t end = buffer.find_first_of("\r\n");
    if (end == std::string_view::npos) end = buffer.size();
    return {ScanKind::Unknown, std::max<size_t>(end, 1)};
}

std::string SimDevice::AdapterCommand(std::string_view cmd, double now) {
    const std::string volts = fiveVolts_ ? "5.0 V" : "3.3 V";
    if (cmd == "v") return adapter_.version;
    if (cmd == "r") return adapter_.serial;
    if (cmd == "o") return std::to_string(adapter_.revision);
    if (cmd == "V3" || cmd == "V5") {
        fiveVolts_ = cmd == "V5";
        return std::string(cmd) + " supply " + (fiveVolts_ ? "5.0 V" : "3.3 V") + " selected";
    }
    if (cmd == "n") {
        SetSupply(true, now);
        return "ON " + volts;
    }
    if (cmd == "f") {
        SetSupply(false, now);
        return "OFF";
    }
    if (cmd == "e") {
        if (!supplyOn_) return "Supply " + volts + " OFF, 0 mA";
        return "Supply " + volts + " ON, " + std::string(fiveVolts_ ? "48" : "61") + " mA";
    }
    if (cmd.size() == 2 && cmd[0] == 'M') {
        clockStep_ = cmd[1] - '0';
        return std::string(cmd) + " SPI clock " + kClockTexts[clockStep_ - 1];
    }
    if (cmd == "m") return kClockTexts[clockStep_ - 1];
    if (cmd == "Cr") return "Cr SPI Velcor GAME ready";
    if (cmd == "Ce") return "Ce SPI Velcor ready";
    if (cmd == "G0:1") return "G0:1 OK";
    if (cmd == "D015") return "D015 OK";
    if (cmd == "x") return "Reset of Velcor protocol performed";
    return "ERROR unknown command";
}

std::string SimDevice::Execute(std::string_view cmd, double now) {
    Advance(now);
    if (errorReplies_ > 0 && FaultTargets(cmd)) {
        --errorReplies_;
        return "ERROR command failed\r";
    }
    const bool encoderCommand = cmd == "j" || cmd == "d" || cmd[0] == '?' || cmd[0] == 'R' || cmd[0] == 'W';
    if (!encoderCommand) return AdapterCommand(cmd, now) + "\r";
    if (!supplyOn_) return "ERROR encoder not powered\r";
    if (cmd == "j") return variant_.typeCode + variant_.partNumber + "\r";
    if (cmd == "d") return DetailedReport(now) + "\r";
    if (cmd == "?04:000") return PositionFrame(false, now) + "\r";
    if (cmd == "?06:000") return PositionFrame(true, now) + "\r";
    if (cmd == "?07:021") {
        if (!debugUnlocked_) return "ERROR debug access locked\r";
        LatchDebug(now);
        return "?07:021 debug data latched\r";
    }
    // Firmware from build 9357 on does not answer register accesses while it calibrates; the
    // workbench's wait counts the first successful read as the end of the procedure.
    if (selfCal_.running && variant_.hasFirmwareRegisters && variant_.fwSvn > kLastSvnAnsweringDuringSelfCal)
        return "ERROR encoder busy (self-calibration)\r";
    const int length = static_cast<int>(HexValue(cmd.substr(2, 4)));
    const uint32_t address = HexValue(cmd.substr(7, 8));
    if (cmd[0] == 'R') return ReadCommand(address, length, now) + "\r";
    return WriteCommand(address, length, HexValue(cmd.substr(16, 8)), now) + "\r";
}

} // namespace sim
