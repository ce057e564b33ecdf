#include "K310_SPI_Velcor.h"

#include "DeviceConstants.h"
#include "K310_BiSS_bidirectional.h"
#include "Orodja.h"
#include "SerialPort.h"
#include "Serial_driver.h"
#include "Tarvo_konstante.h"

#include <cstdio>

namespace K310_SPI_Velcor {

using namespace K310_BiSS_bidirectional;
using namespace Tarvo_konstante;

uint8_t EncoderType = 0;
uint8_t VelcorVersion = 0;
int32_t SingleTurnBits = 0;
int32_t SingleTurnCounts = 0;
int32_t MultiTurnBits = 0;
uint32_t SingleTurnMask = 0;

TDebugData DebugData;
uint32_t SelfCalStatus = 0;
std::string SelfCalResultText;

namespace {

const std::string kResetConfirmation = "Reset of Velcor protocol performed";

// The last register command and its cleaned reply, so checks made after a successful read can
// quote them the way the read's own failures do.
std::string gLastCommand;
std::string gLastReply;
// The same reply as the adapter sent it, blanks included, for a person to read.
std::string gLastReplyAsSent;

// The port is closed at program end even when nothing else did it.
struct ShutdownAtExit {
    ~ShutdownAtExit() { ShutdownVelcor(); }
} gShutdownAtExit;

std::string Hex(uint64_t value, int digits) {
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "%0*llX", digits, static_cast<unsigned long long>(value));
    return buffer;
}

std::string Upper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

bool StartsWith(const std::string& text, std::string_view prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool IsHexText(std::string_view text) {
    for (char c : text)
        if (HexDigit(c) < 0) return false;
    return true;
}

// Strict: every character a hex digit, at least one of them.
bool ParseHex(std::string_view text, uint64_t& value) {
    if (text.empty() || text.size() > 16) return false;
    value = 0;
    for (char c : text) {
        const int d = HexDigit(c);
        if (d < 0) return false;
        value = value * 16 + static_cast<uint64_t>(d);
    }
    return true;
}

// Frame fields: a run that is missing or not hex counts as 0.
uint64_t HexOrZero(std::string_view text) {
    uint64_t value = 0;
    return ParseHex(text, value) ? value : 0;
}

// Characters `first`..`first + count - 1`, counted from 1; fewer (or none) when the text is short.
std::string_view Chars(const std::string& text, size_t first, size_t count) {
    if (first - 1 >= text.size()) return {};
    return std::string_view(text).substr(first - 1, count);
}

// A fixed-width field of a position frame: characters `first`..`first + count - 1`, 0 unless all
// of them are there and hexadecimal. Reading the digits of a cut-short field as a smaller number
// would turn a broken frame into a plausible position with the error and warning bits clear.
uint64_t FrameField(const std::string& text, size_t first, size_t count) {
    const std::string_view field = Chars(text, first, count);
    return field.size() == count ? HexOrZero(field) : 0;
}

uint32_t Word32() {
    return (uint32_t{RegisterData[0]} << 24) | (uint32_t{RegisterData[1]} << 16) |
           (uint32_t{RegisterData[2]} << 8) | RegisterData[3];
}

uint16_t Low16() {
    return static_cast<uint16_t>(RegisterData[2] * 256 + RegisterData[3]);
}

std::string Quote(const std::string& text, const std::string& command, const std::string& reply) {
    return text + command + " RCV: " + reply;
}

struct ErrorCode {
    const char* prefix; // upper-cased, without the colon a read reply carries
    const char* text;
};

// The adapter's error replies, tested in this order after "ERROR".
constexpr ErrorCode kErrorCodes[] = {
    {"0X26", "Invalid register address\r\nsCmd: "},
    {"0X56", "Parameter out of range\r\nsCmd: "},
    {"0X96", "Access denied\r\nsCmd: "},
    {"0XEE", "Incorrect number of bytes\r\nsCmd: "},
    {"0XF6", "Write access is locked\r\nsCmd: "},
    {"0XF9", "CRC invalid on write\r\nsCmd: "},
    {"0XE6", "CRC invalid on read\r\nsCmd: "},
};

// The reason for an error reply, or empty when the reply is none of them.
std::string ErrorReplyText(const std::string& reply, bool read) {
    const std::string upper = Upper(reply);
    if (StartsWith(upper, "ERROR")) return "Error\r\nsCmd: ";
    for (const ErrorCode& code : kErrorCodes) {
        const std::string prefix = std::string(code.prefix) + (read ? ":" : "");
        if (StartsWith(upper, prefix)) return code.text;
    }
    return {};
}

bool CommFailed(int32_t result) {
    if (result == Serial_driver::kReplyComplete) return false;
    LastErrorText = "USB Comm Err " + std::to_string(result);
    return true;
}

bool WriteCommand(uint8_t code) {
    return WriteRegister(RegCommand, 1, code);
}

} // namespace

// ---- Register access ------------------------------------------------------------------------

namespace {

// One register command: the result goes to ErrComm, the reply comes back without blanks, and
// both are remembered for messages that quote them. False when the link itself failed.
bool RegisterTransaction(const std::string& command, std::string& reply) {
    const int32_t result = Serial_driver::SendCommand(PortHandle, command, 0, reply);
    EncoderPosition.ErrComm = result;
    gLastReplyAsSent = Orodja::KeepPrintable(reply);
    reply = Orodja::RemoveSpaces(reply);
    gLastCommand = command;
    gLastReply = reply;
    return !CommFailed(result);
}

} // namespace

bool ReadRegister(uint32_t address, uint8_t length) {
    RegisterData.fill(0);
    const std::string command = "R:" + Hex(length, 4) + ":" + Hex(address, 8);
    std::string reply;
    if (!RegisterTransaction(command, reply)) return false;
    return DecodeReadReply(command, reply);
}

bool DecodeReadReply(const std::string& command, const std::string& reply) {
    std::string reason = ErrorReplyText(reply, true);
    if (reason.empty() && !StartsWith(reply, "0x9:")) reason = "Other Error reading register\r\nsCmd: ";
    if (reason.empty() && reply.size() != 14) reason = "Not enough data received back\r\nsCmd: ";
    if (!reason.empty()) {
        LastErrorText = Quote(reason, command, reply);
        return false;
    }
    std::array<uint8_t, 4> bytes{};
    for (size_t i = 0; i < 4; ++i) {
        uint64_t value = 0;
        if (!ParseHex(std::string_view(reply).substr(6 + 2 * i, 2), value)) {
            // Prefix and length fit but the data are not hex: no value is known, so no success.
            LastErrorText = Quote("Invalid data received back\r\nsCmd: ", command, reply);
            return false;
        }
        bytes[i] = static_cast<uint8_t>(value);
    }
    LastErrorText.clear();
    for (size_t i = 0; i < 4; ++i)
        RegisterData[i] = bytes[i];
    return true;
}

bool WriteRegister(uint32_t address, uint8_t length, uint32_t value) {
    if (!ResetVelcorProtocol()) return false;
    LastErrorText.clear();
    const std::string command = "W:" + Hex(length, 4) + ":" + Hex(address, 8) + ":" + Hex(value, 8);
    std::string reply;
    if (!RegisterTransaction(command, reply)) return false;
    return DecodeWriteReply(command, reply);
}

bool DecodeWriteReply(const std::string& command, const std::string& reply) {
    std::string reason = ErrorReplyText(reply, false);
    if (reason.empty() && reply.size() != 3 && reply.size() != 4)
        reason = "Incorrect data received back\r\nsCmd: ";
    if (reason.empty() && !StartsWith(reply, "0x9")) reason = "Other error writing register\r\nsCmd: ";
    if (!reason.empty()) {
        LastErrorText = Quote(reason, command, reply);
        return false;
    }
    LastErrorText.clear();
    return true;
}

bool ResetVelcorProtocol() {
    std::string reply;
    const int32_t result = Serial_driver::SendCommand(PortHandle, "x", 0, reply);
    EncoderPosition.ErrComm = result;
    if (CommFailed(result)) return false;
    return DecodeResetReply(reply);
}

bool DecodeResetReply(const std::string& reply) {
    LastErrorText = Orodja::Trim(reply);
    return LastErrorText == kResetConfirmation;
}

// ---- Identification -------------------------------------------------------------------------

ProbeResult ProbeRegister(uint32_t address, uint8_t length) {
    if (ReadRegister(address, length)) return ProbeResult::Present;
    if (LastErrorText.find("RCV: 0x26:") != std::string::npos) {
        LastErrorText.clear();
        return ProbeResult::Absent;
    }
    if (LastErrorText.find("RCV: 0xee:") != std::string::npos) return ProbeResult::WrongLength;
    return ProbeResult::Failed;
}

bool ProbeRegisters() {
    struct Step {
        uint32_t address;
        uint8_t length;
        bool* flag;
    };
    const Step optional[] = {{RegMtErrThreshold, 1, &HasMtErrThreshold},
                             {RegPersistentStatus, LenPersistentStatus, &HasPersistentStatus},
                             {RegSignalLevel, LenSignalLevel, &HasSignalLevel},
                             {RegSelfCalTimeout, 1, &HasSelfCalTimeout}};
    for (const Step& step : optional) {
        const ProbeResult r = ProbeRegister(step.address, step.length);
        *step.flag = r == ProbeResult::Present;
        if (r == ProbeResult::Failed) return false;
    }
    // The firmware registers are 2 bytes on some encoders and 4 on others: a wrong-length
    // answer to 2 bytes means "try 4".
    struct Sized {
        uint32_t address;
        uint8_t* length;
    };
    for (const Sized& reg : {Sized{RegFwVerMajor, &LenFwVersion}, Sized{RegFwVerSvn, &LenFwVerSvn}}) {
        *reg.length = 2;
        ProbeResult r = ProbeRegister(reg.address, 2);
        if (r == ProbeResult::WrongLength) {
            *reg.length = 4;
            r = ProbeRegister(reg.address, 4);
        }
        HasFirmwareRevision = r == ProbeResult::Present;
        if (r == ProbeResult::Failed) return false;
    }
    return true;
}

namespace {

uint8_t TypeFromReply(const std::string& reply) {
    const char variant = reply.size() >= 10 ? reply[9] : '\0';
    struct Row {
        const char* prefix;
        char variant; // '\0': any
        uint8_t type;
    };
    constexpr Row kRows[] = {{"15", '\0', 1}, {"17", '\0', 1}, {"27", 'N', 2}, {"27", 'P', 3},
                             {"37", 'Q', 4},  {"37", 'R', 5},  {"45", 'M', 6}, {"47", 'M', 6}};
    for (const Row& row : kRows)
        if (StartsWith(reply, row.prefix) && (row.variant == '\0' || row.variant == variant)) return row.type;
    return 0;
}

bool ReadSerialNumber() {
    std::string serial;
    for (int32_t w = 0; w < SerialNumberWords; ++w) {
        if (!ReadRegister(RegSerialNumber + 4 * static_cast<uint32_t>(w), 4)) return false;
        for (size_t i = 0; i < 4; ++i)
            serial += static_cast<char>(RegisterData[i]);
    }
    if (EncoderType == 5) {
        if (!ReadRegister(RegSerialNumber + 16, 2)) return false;
        serial += static_cast<char>(RegisterData[2]);
        serial += static_cast<char>(RegisterData[3]);
    }
    EncoderSignature.Dremo_Serial = Orodja::RemoveSpaces(Orodja::KeepPrintable(serial));
    return true;
}

bool ReadFirmwareVersion() {
    TEncoderSignature& sig = EncoderSignature;
    uint32_t* targets[] = {&sig.Dremo_FWverMajor, &sig.Dremo_FWverMinor, &sig.Dremo_FWverComm};
    const uint32_t addresses[] = {RegFwVerMajor, RegFwVerMinor, RegFwVerComm};
    for (size_t i = 0; i < 3; ++i) {
        if (!ReadRegister(addresses[i], LenFwVersion)) return false;
        *targets[i] = Low16();
    }
    if (!ReadRegister(RegFwVerSvn, LenFwVerSvn)) return false;
    sig.Dremo_FWverSVN = LenFwVerSvn == 2 ? Low16() : Word32();
    sig.Dremo_FWverStr = std::to_string(sig.Dremo_FWverMajor) + "." + std::to_string(sig.Dremo_FWverMinor) +
                         "." + std::to_string(sig.Dremo_FWverComm) + "." + std::to_string(sig.Dremo_FWverSVN);
    if (LenFwVerHash == 4) {
        if (!ReadRegister(RegFwVerHash, 4)) return false;
        sig.Dremo_FWverHash = Word32();
        sig.Dremo_FWverStr += "." + Hex(sig.Dremo_FWverHash, 8);
    }
    return true;
}

} // namespace

bool ReadEncoderSignature() {
    TEncoderSignature& sig = EncoderSignature;
    sig.EDS_Common_bank_num = 0xFFFF;
    sig.Profile = 0;
    sig.SCD_DataLength = 0;
    sig.DeviceID = 0;
    sig.SerialNumber = 0;
    sig.ManufacturerID = 0;
    sig.Dremo_Serial.clear();
    sig.Dremo_PartNumber.clear();
    sig.Dremo_SerialDecoded.clear();
    sig.Dremo_ExtendedSerial.clear();
    sig.Dremo_FWverStr.clear();
    sig.Dremo_FWverMajor = 0;
    sig.Dremo_FWverMinor = 0;
    sig.Dremo_FWverComm = 0;
    sig.Dremo_FWverSVN = 0;

    std::string reply;
    const int32_t result = Serial_driver::SendCommand(PortHandle, "j", 0, reply);
    // A cut-short reply is still parsed: it may carry everything needed.
    if (result != Serial_driver::kReplyComplete)
        LastErrorText = "Problem 1 pri branju identa: j -> " + Orodja::KeepPrintable(reply);
    if (!DecodeIdentification(reply)) return false;

    // Chosen afresh every time, so a legacy encoder connected after a new one is read with its
    // own addresses.
    if (EncoderType == 5 || EncoderType == 6)
        SelectNewLayout();
    else
        SelectLegacyLayout();

    if (!ProbeRegisters()) return false;
    if (!ReadSerialNumber()) return false;
    if (HasFirmwareRevision && !ReadFirmwareVersion()) return false;
    return true;
}

bool DecodeIdentification(const std::string& reply) {
    TEncoderSignature& sig = EncoderSignature;
    if (Upper(reply).find("ERROR") != std::string::npos) {
        LastErrorText = "Problem 2 pri branju identa: j -> " + Orodja::KeepPrintable(reply);
        return false;
    }
    const std::string printable = Orodja::KeepPrintable(reply);
    sig.Dremo_PartNumber = printable.size() > 2 ? printable.substr(2, 16) : std::string();

    const uint8_t type = TypeFromReply(reply);
    if (type == 0) {
        LastErrorText = "Nepoznan tip enkoderja! (" + printable + ")";
        return false;
    }
    EncoderType = type;
    VelcorVersion = (reply[0] >= '0' && reply[0] <= '9') ? static_cast<uint8_t>(reply[0] - '0') : 0;

    SingleTurnCounts = 1;
    SingleTurnBits = 1;
    MultiTurnBits = 0;
    const std::string code = reply.size() > 10 ? reply.substr(10, 3) : std::string();
    int bits = 0;
    bool multiturn = false;
    if (code == "15B") {
        bits = 15;
    } else if (code.size() == 3 && code[0] == '1' && code[1] >= '6' && code[1] <= '9' &&
               (code[2] == 'B' || code[2] == 'M')) {
        bits = 10 + (code[1] - '0');
        multiturn = code[2] == 'M';
    } else if (code.size() == 3 && code[0] == '2' && code[1] >= '0' && code[1] <= '1' &&
               (code[2] == 'B' || code[2] == 'M')) {
        bits = 20 + (code[1] - '0');
        multiturn = code[2] == 'M';
    } else {
        LastErrorText = "Resolucija \"" + code + "\" ni poznana!";
        return false;
    }
    SingleTurnBits = bits;
    SingleTurnCounts = int32_t{1} << bits;
    MultiTurnBits = multiturn ? 16 : 0;
    SingleTurnMask = 0;
    for (int32_t i = 0; i < SingleTurnBits; ++i)
        SingleTurnMask = (SingleTurnMask << 1) | 1u;
    return true;
}

// ---- Position frames and debug data ---------------------------------------------------------

namespace {

void DecodeLayoutC(uint16_t word) {
    TEncoderPosition& pos = EncoderPosition;
    pos.Status = word;
    if (EncoderType == 3) {
        if (pos.ErrBit || pos.WarnBit) {
            pos.ExtTemperature = 0;
        } else {
            pos.ExtTemperature = static_cast<int16_t>(word);
            pos.Status = 0;
        }
        return;
    }
    if (pos.ErrBit) {
        pos.ExtTemperature = 0;
        return;
    }
    pos.ExtTemperature = static_cast<int16_t>(word & 0x7FF);
    struct Flag {
        uint16_t bit, type4, type5;
    };
    constexpr Flag kFlags[] = {{0x8000, 0x110, 0x4000},
                               {0x4000, 0x140, 0x2000},
                               {0x2000, 0x180, 0x1000},
                               {0x1000, 0x102, 0x0800},
                               {0x0800, 0x101, 0x0400}};
    uint16_t status = 0;
    for (const Flag& f : kFlags)
        if (word & f.bit) status |= EncoderType == 4 ? f.type4 : f.type5;
    pos.Status = status;
}

bool LegacyFrame() {
    return EncoderType == 1 || EncoderType == 2 || EncoderType == 6;
}

std::string PositionCommand() {
    return (!LegacyFrame() || MultiTurnBits > 0) ? "?06:000" : "?04:000";
}

} // namespace

bool ReadPosition() {
    TEncoderPosition& pos = EncoderPosition;
    if (EncoderType < 1 || EncoderType > 6) {
        // Without an identification there is no frame layout to decode by.
        LastErrorText = "Encoder not identified";
        return false;
    }
    pos.RxData.clear();
    const int32_t result = Serial_driver::SendCommand(PortHandle, PositionCommand(), 0, pos.RxData);
    pos.ErrComm = result;
    if (CommFailed(result)) return false;
    return DecodePositionFrame();
}

bool DecodePositionFrame() {
    TEncoderPosition& pos = EncoderPosition;
    const bool legacyFrame = LegacyFrame();
    const std::string command = PositionCommand();
    pos.RxData = Orodja::KeepPrintable(pos.RxData);
    const std::string& rx = pos.RxData;

    if (!legacyFrame && MultiTurnBits > 0) {
        // No frame layout carries a multiturn count for these types: the position is kept and
        // the reading is marked as not trustworthy.
        pos.ErrBit = true;
        pos.WarnBit = true;
        pos.ErrCRC = false;
        return true;
    }

    const bool layoutB = legacyFrame && MultiTurnBits > 0;
    const bool layoutC = !legacyFrame;
    uint32_t data = 0;
    size_t crcAt = 7;
    if (layoutB) {
        uint64_t run = 0;
        if (rx.size() < 10 || !ParseHex(Chars(rx, 1, 10), run)) {
            LastErrorText = Quote("Invalid position frame\r\nsCmd: ", command, rx);
            return false;
        }
        pos.MT_value = static_cast<int16_t>(run >> 24);
        data = static_cast<uint32_t>(run & 0xFFFFFF);
        crcAt = 11;
    } else if (layoutC) {
        data = static_cast<uint32_t>(FrameField(rx, 5, 6));
        crcAt = 11;
    } else {
        data = static_cast<uint32_t>(FrameField(rx, 1, 6));
    }

    const uint32_t p = data >> (24 - SingleTurnBits);
    pos.ST_value = p & SingleTurnMask;
    if (layoutB)
        pos.MTST_value = int64_t{pos.MT_value} * (int64_t{SingleTurnMask} + 1) + pos.ST_value;
    else
        pos.MTST_value = p;
    if (!layoutB && !layoutC) pos.MT_value = 0;
    pos.ErrBit = (data & 0x2) == 0;
    pos.WarnBit = (data & 0x1) == 0;

    uint8_t received = static_cast<uint8_t>(FrameField(rx, crcAt, 2));
    if (EncoderType == 1 || EncoderType == 6) received = static_cast<uint8_t>(~received);
    // A reply that is not a whole frame of hex digits (an adapter's ERROR line, line noise, a cut
    // frame, nothing at all) cannot have passed the check, whatever its digits happen to sum to.
    const std::string_view frame = Chars(rx, 1, crcAt + 1);
    const bool wellFormed = frame.size() == crcAt + 1 && IsHexText(frame);
    pos.ErrCRC = !wellFormed || Orodja::HexFrameCrc8(Chars(rx, 1, crcAt - 1)) != received;

    if (layoutC) {
        DecodeLayoutC(static_cast<uint16_t>(FrameField(rx, 1, 4)));
    } else {
        pos.Status = 0;
        pos.ExtTemperature = 0;
    }
    return true;
}

bool ReadDetailedStatus() {
    TEncoderPosition& pos = EncoderPosition;
    pos.RxData.clear();
    const int32_t result = Serial_driver::SendCommand(PortHandle, "d", 0, pos.RxData);
    pos.ErrComm = result;
    if (CommFailed(result)) return false;
    return DecodeDetailedStatus();
}

bool DecodeDetailedStatus() {
    TEncoderPosition& pos = EncoderPosition;
    pos.RxData = Orodja::KeepPrintable(pos.RxData);
    const std::string& rx = pos.RxData;
    if (rx.size() == 15) {
        const uint64_t v = HexOrZero(Chars(rx, 10, 6));
        pos.MTST_value = static_cast<int64_t>(v);
        pos.ST_value = static_cast<uint32_t>(v) & SingleTurnMask;
    } else if (rx.size() == 22) {
        pos.MT_value = static_cast<int16_t>(HexOrZero(Chars(rx, 10, 4)));
        pos.ST_value = static_cast<uint32_t>(HexOrZero(Chars(rx, 17, 6)));
        pos.MTST_value = (int64_t{pos.MT_value} * (int64_t{1} << SingleTurnBits)) | int64_t{pos.ST_value};
    } else {
        LastErrorText = "Nepravilna dol\xC5\xBEina podatkov za ukaz \"d\" (" + rx + ")!";
        return false;
    }
    pos.Status = static_cast<uint16_t>(HexOrZero(Chars(rx, 3, 4)));
    pos.ErrBit = pos.WarnBit = pos.Status != 0;
    pos.ErrCRC = false;
    pos.ExtTemperature = 0;
    return true;
}

namespace {

uint16_t Be16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] * 256 + p[1]);
}

} // namespace

bool LatchDebugData() {
    const uint32_t major = EncoderSignature.Dremo_FWverMajor;
    const uint32_t minor = EncoderSignature.Dremo_FWverMinor;
    std::string latchProblem;
    if (major == 4) {
        if (!WriteCommand(Orodja::kDebugUnlockCode)) return false;
    } else if (minor >= 9) {
        if (!WriteRegister(DEBUG_LATCH, 1, 1)) return false;
    } else {
        std::string reply;
        const int32_t result = Serial_driver::SendCommand(PortHandle, "?07:021", 0, reply);
        if (result != Serial_driver::kReplyComplete)
            latchProblem = "Problem 1 pri latch debug podatkov: ?07:021 -> " + Orodja::KeepPrintable(reply);
        if (Upper(reply).find("ERROR") != std::string::npos)
            latchProblem = "Problem 2 pri latch debug podatkov: ?07:021 -> " + Orodja::KeepPrintable(reply);
        LastErrorText = latchProblem;
    }
    TDebugData& dd = DebugData;
    dd.DecodSelect = 0xFF;
    dd.DcdTrs = 0xFF;
    dd.DcdWrn = 0xFF;

    if (major == 4) {
        for (uint32_t i = 0; i < 28; ++i) {
            if (!ReadRegister(DEBUG_WORDS + 4 * i, 4)) return false;
            dd.Samples[2 * i] = static_cast<int16_t>(Be16(&RegisterData[0]));
            dd.Samples[2 * i + 1] = static_cast<int16_t>(Be16(&RegisterData[2]));
        }
        if (!ReadRegister(DEBUG_CODE_A, 2)) return false;
        dd.CodeA = Low16();
        if (!ReadRegister(DEBUG_CODE_B, 2)) return false;
        dd.CodeB = Low16();
        if (ReadRegister(DEBUG_DCD_TRS, 2)) dd.DcdTrs = static_cast<uint16_t>(RegisterData[0] * 16);
        if (ReadRegister(DEBUG_DCD_WRN, 2)) dd.DcdWrn = static_cast<uint16_t>(RegisterData[0] * 16);
        if (ReadRegister(DEBUG_DECOD_SELECT, 2)) dd.DecodSelect = RegisterData[0];
        return true;
    }

    std::array<uint8_t, 132> block{};
    for (uint32_t i = 0; i < 33; ++i) {
        if (!ReadRegister(DEBUG_BLOCK + 4 * i, 4)) return false;
        for (size_t b = 0; b < 4; ++b)
            block[4 * i + b] = RegisterData[b];
    }
    if (minor >= 9) {
        dd.Header = block[0];
        if (dd.Header != 'D') LastErrorText += "\r\nDebug data header mismatch!";
        for (size_t k = 0; k <= 52; ++k)
            dd.Samples[k] = static_cast<int16_t>(Be16(&block[1 + 2 * k]));
        dd.AbsPos = (uint32_t{block[107]} << 24) | (uint32_t{block[108]} << 16) |
                    (uint32_t{block[109]} << 8) | block[110];
        dd.DecodSelect = block[113];
        dd.CodeA = Be16(&block[114]);
        dd.CodeB = Be16(&block[116]);
        dd.McuTemp = Be16(&block[120]);
        dd.CycleTime = Be16(&block[122]);
        dd.DebugStatus = Be16(&block[124]);
        dd.Vdda = Be16(&block[126]);
        dd.ResetCnt = block[128];
    }
    if (!latchProblem.empty()) {
        // The block was read, but nothing says it was latched just now: the reads must not
        // hide that the latch failed.
        LastErrorText = latchProblem;
        return false;
    }
    return true;
}

bool DebugUnlock() {
    return WriteRegister(DEBUG_UNLOCK, 1, Orodja::kDebugUnlockCode);
}

// ---- Encoder commands -----------------------------------------------------------------------

bool ReadSignalLevel() {
    if (!ReadRegister(RegSignalLevel, LenSignalLevel)) return false;
    if (Word32() >= 65536) {
        LastErrorText = Quote("Signal level out of range\r\nsCmd: ", gLastCommand, gLastReply);
        return false;
    }
    EncoderPosition.SignalLevel = Low16();
    return true;
}

bool ReadSensorTemperature() {
    if (!ReadRegister(RegSensorTemperature, 2)) return false;
    EncoderPosition.SenTemperature = static_cast<int16_t>(Low16());
    return true;
}

bool ReadPersistentStatus() {
    if (!ReadRegister(RegPersistentStatus, LenPersistentStatus)) return false;
    EncoderPosition.Status = Low16();
    return true;
}

bool ClearPersistentStatus() {
    return WriteCommand(CMD_CLEAR_PERSISTENT_STATUS);
}

bool SaveToNvram() {
    return WriteCommand(CMD_SAVE_NVRAM);
}

bool FactoryReset() {
    return WriteCommand(CMD_FACTORY_RESET);
}

bool PresetMultiturn(uint16_t value) {
    if (!WriteRegister(RegMultiturnPreset, 4, value)) return false;
    return WriteCommand(CMD_APPLY_MT_PRESET);
}

bool ReadSelfCalStatus() {
    if (!ReadRegister(RegSelfCalStatus, LenSelfCalStatus)) return false;
    SelfCalStatus = Word32();
    return true;
}

bool StartSelfCalibration(uint16_t arc, uint8_t timeout) {
    // A failed arc or timeout write does not stop the start: the encoder then uses what it has.
    if (arc != 0) WriteRegister(RegSelfCalArc, 2, arc);
    if (timeout != 0) WriteRegister(RegSelfCalTimeout, 1, timeout);
    if (!ReadSelfCalStatus()) return false;
    SelfCalStatus = RegisterData[3];
    if (WriteCommand(CMD_START_SELF_CAL)) return true;
    // Firmware major 2 answers the start command with a retries notice although it started.
    return EncoderSignature.Dremo_FWverMajor == 2 && LastErrorText.find("retries") != std::string::npos;
}

bool ReadSelfCalResults() {
    SelfCalResultText.clear();
    if (!ReadSelfCalStatus()) return false;
    if (!ReadRegister(RegEccentricity, 2)) return false;
    SelfCalResultText += "Eccentricity: " + std::to_string(Low16()) + " um\r\n";
    if (!ReadRegister(RegEccentricityPhase, 2)) return false;
    SelfCalResultText += "Ecc phase: " + std::to_string(Low16()) + " deg\r\n";
    if (!ReadRegister(RegRadialShift, 2)) return false;
    SelfCalResultText += "Radial shift: " + std::to_string(static_cast<int16_t>(Low16())) + " um";
    return true;
}

void WriteAccessStatusText(std::string& text) {
    if (!ReadRegister(WRITE_ACCESS_STATUS, 1)) {
        text = LastErrorText;
        return;
    }
    const uint8_t flags = RegisterData[3];
    const char* description = "Unknown status";
    if (flags & 0x01)
        description = "Access Denied";
    else if (flags & 0x02)
        description = "Value out of range";
    else if (flags & 0x40)
        description = "Command executed";
    else if (flags & 0x80)
        description = "Write lock active";
    else if (flags == 0)
        description = "(no recent write access)";
    text = "Write status: [0x" + Hex(flags, 2) + "] " + description;
}

bool ReadErrorMapEntry(int index, int16_t& value) {
    if (index < 0 || index >= kErrorMapEntries) {
        LastErrorText = "Error map index " + std::to_string(index) + " out of range";
        return false;
    }
    if (!ReadRegister(RegErrorMap + 2 * static_cast<uint32_t>(index), 2)) return false;
    const bool swapped = EncoderSignature.Dremo_FWverMajor == 2;
    value = static_cast<int16_t>(swapped ? RegisterData[3] * 256 + RegisterData[2] : Low16());
    return true;
}

bool ReadErrorMap(std::vector<int16_t>& values) {
    values.clear();
    for (int i = 0; i < kErrorMapEntries; ++i) {
        int16_t v = 0;
        if (!ReadErrorMapEntry(i, v)) return false;
        values.push_back(v);
    }
    return true;
}

// ---- Module state ---------------------------------------------------------------------------

void ResetVelcorState() {
    EncoderType = 0;
    VelcorVersion = 0;
    SingleTurnBits = 0;
    SingleTurnCounts = 0;
    MultiTurnBits = 0;
    SingleTurnMask = 0;
    DebugData = TDebugData{};
    SelfCalStatus = 0;
    SelfCalResultText.clear();
    gLastCommand.clear();
    gLastReply.clear();
    gLastReplyAsSent.clear();
    ResetTarvoKonstanteState();
}

std::string WithReplyAsSent(const std::string& text) {
    const std::string quoted = " RCV: " + gLastReply;
    if (gLastReply == gLastReplyAsSent || text.size() < quoted.size() ||
        text.compare(text.size() - quoted.size(), quoted.size(), quoted) != 0)
        return text;
    return text.substr(0, text.size() - quoted.size()) + " RCV: " + gLastReplyAsSent;
}

void ShutdownVelcor() {
    if (PortHandle != platform::kNoPort && platform::ClosePort(PortHandle)) PortHandle = platform::kNoPort;
    SelfCalResultText.clear();
}

} // namespace K310_SPI_Velcor
