// The encoder's Velcor protocol as the K310-7K adapter carries it: register reads and writes
// with their error codes, identification and register layout, position frames, the "d"
// report, debug data and the named encoder commands. Every operation returns a truth value and
// leaves its reason in K310_BiSS_bidirectional::LastErrorText; results land in the shared
// records of K310_BiSS_bidirectional and in the globals below.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace K310_SPI_Velcor {

// Identification globals; 0 until an encoder has been identified.
extern uint8_t EncoderType;   // 1..6
extern uint8_t VelcorVersion; // digit value of the first character of the reply to "j"
extern int32_t SingleTurnBits;
extern int32_t SingleTurnCounts;
extern int32_t MultiTurnBits; // 0 single-turn, 16 multiturn
extern uint32_t SingleTurnMask;

enum class ProbeResult { Absent, Present, Failed, WrongLength };

struct TDebugData {
    uint8_t Header = 0;
    std::array<int16_t, 56> Samples{};
    uint32_t AbsPos = 0;
    uint8_t DecodSelect = 0;
    uint16_t CodeA = 0;
    uint16_t CodeB = 0;
    uint16_t McuTemp = 0;
    uint16_t CycleTime = 0;
    uint16_t DebugStatus = 0;
    uint16_t Vdda = 0;
    uint8_t ResetCnt = 0;
    uint16_t DcdTrs = 0;
    uint16_t DcdWrn = 0;
};

extern TDebugData DebugData;
extern uint32_t SelfCalStatus;
extern std::string SelfCalResultText;

// Register access. A read clears RegisterData and fills bytes 0..3; a write is preceded by a
// protocol reset ("x"). Each stores its transaction result in EncoderPosition.ErrComm.
bool ReadRegister(uint32_t address, uint8_t length);
bool WriteRegister(uint32_t address, uint8_t length, uint32_t value);
bool ResetVelcorProtocol();

// Identification: type, resolution, layout, optional registers, serial number, firmware.
bool ReadEncoderSignature();
ProbeResult ProbeRegister(uint32_t address, uint8_t length);
bool ProbeRegisters();

// Position frame, "d" report and debug data.
bool ReadPosition();
bool ReadDetailedStatus();
bool LatchDebugData();
// Unlocks the encoder's debug registers: the debug-unlock code written to 0x49, in either layout.
bool DebugUnlock();

// Encoder commands and the registers of the reading cycle.
bool ReadSignalLevel();
bool ReadSensorTemperature();
bool ReadPersistentStatus();
bool ClearPersistentStatus();
bool SaveToNvram();
bool FactoryReset();
bool PresetMultiturn(uint16_t value);
bool ReadSelfCalStatus();
bool StartSelfCalibration(uint16_t arc, uint8_t timeout);
bool ReadSelfCalResults();
void WriteAccessStatusText(std::string& text);

// Error map entry i (0..511) as a signed value, with the byte order of firmware major 2 swapped.
bool ReadErrorMapEntry(int index, int16_t& value);
// The whole map; on failure `values` holds the entries read before it.
bool ReadErrorMap(std::vector<int16_t>& values);

// The decoding steps of the replies above, apart from their transactions, so that any bytes can
// be put through them (the fuzz targets do). Each does what its operation does once the reply is
// in, and leaves the same state behind.
// Register read, the reply with blanks removed: RegisterData bytes 0..3, or the reason.
bool DecodeReadReply(const std::string& command, const std::string& reply);
// Register write, the reply with blanks removed.
bool DecodeWriteReply(const std::string& command, const std::string& reply);
// Protocol reset ("x"), the reply as received.
bool DecodeResetReply(const std::string& reply);
// Identification ("j"), the reply as received: type, version, resolution and part number; the
// layout, the probes and the serial number are left to ReadEncoderSignature.
bool DecodeIdentification(const std::string& reply);
// The position frame in EncoderPosition.RxData as received, by the identified frame layout.
bool DecodePositionFrame();
// The "d" report in EncoderPosition.RxData as received.
bool DecodeDetailedStatus();

// `text` (a LastErrorText) with the register reply it quotes at its end (" RCV: " and the reply
// without blanks, as the messages are made) shown as the adapter sent it: printable characters,
// inner blanks kept. For a person reading a failure; other texts come back unchanged.
std::string WithReplyAsSent(const std::string& text);

// Start values again, as at program start (the layout too).
void ResetVelcorState();
// Program end: closes PortHandle if still open, empties SelfCalResultText.
void ShutdownVelcor();

} // namespace K310_SPI_Velcor
