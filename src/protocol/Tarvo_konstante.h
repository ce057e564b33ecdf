// The encoder's register layout as the connected encoder needs it: addresses, read lengths,
// the number of serial-number words and which optional registers answered. Legacy encoders
// (types 1 to 4) and new ones (types 5, 6) keep the same registers at different addresses, so
// the identification chooses one layout and everything else reads these variables.
#pragma once

#include <cstdint>

namespace Tarvo_konstante {

// Addresses of the active layout.
extern uint32_t RegPositionOffset;
extern uint32_t RegPositionFilter;
extern uint32_t RegMultiturnPreset;
extern uint32_t RegMtErrThreshold;
extern uint32_t RegPersistentStatus;
extern uint32_t RegSignalLevel;
extern uint32_t RegSensorTemperature;
extern uint32_t RegCommand;
extern uint32_t RegSelfCalStatus;
extern uint32_t RegSelfCalArc;
extern uint32_t RegSelfCalTimeout;
extern uint32_t RegEccentricity;
extern uint32_t RegEccentricityPhase;
extern uint32_t RegRadialShift;
extern uint32_t RegFwVerMajor;
extern uint32_t RegFwVerMinor;
extern uint32_t RegFwVerComm;
extern uint32_t RegFwVerSvn;
extern uint32_t RegFwVerHash;
extern uint32_t RegSerialNumber;
extern uint32_t RegErrorMap;

// Read lengths in bytes; LenFwVerHash 0 means the encoder has no hash register.
extern uint8_t LenPersistentStatus;
extern uint8_t LenSignalLevel;
extern uint8_t LenSelfCalStatus;
extern uint8_t LenFwVersion;
extern uint8_t LenFwVerSvn;
extern uint8_t LenFwVerHash;
extern int32_t SerialNumberWords;

// Optional registers found by the probe at identification.
extern bool HasMtErrThreshold;
extern bool HasPersistentStatus;
extern bool HasSignalLevel;
extern bool HasSelfCalTimeout;
extern bool HasFirmwareRevision;

// Registers at the same address in both layouts.
constexpr uint32_t WRITE_ACCESS_STATUS = 0x0E;
constexpr uint32_t SAFETY_RT = 0x10;
constexpr uint32_t SAFETY_PER = 0x12;
constexpr uint32_t POWER_CYCLES = 0x34;
constexpr uint32_t OPERATING_TIME = 0x38;
constexpr uint32_t OP_TEMP_MIN = 0x3C;
constexpr uint32_t OP_TEMP_MAX = 0x3E;
constexpr uint32_t DEBUG_LATCH = 0x48;
constexpr uint32_t DEBUG_UNLOCK = 0x49; // the debug-unlock code goes here in either layout
constexpr uint32_t DEBUG_BLOCK = 0x200;
constexpr uint32_t DEBUG_WORDS = 0x20000;
constexpr uint32_t DEBUG_CODE_A = 0x20084;
constexpr uint32_t DEBUG_CODE_B = 0x20086;
constexpr uint32_t DEBUG_DCD_TRS = 0x20088;
constexpr uint32_t DEBUG_DCD_WRN = 0x20089;
constexpr uint32_t DEBUG_DECOD_SELECT = 0x2008A;
constexpr int kErrorMapEntries = 512;
constexpr int32_t kSafetyPerResetValue = 32000;

// One-byte codes written to COMMAND.
constexpr uint8_t CMD_START_SELF_CAL = 0x41;
constexpr uint8_t CMD_CLEAR_PERSISTENT_STATUS = 0x62;
constexpr uint8_t CMD_SAVE_NVRAM = 0x63;
constexpr uint8_t CMD_APPLY_MT_PRESET = 0x6D;
constexpr uint8_t CMD_FACTORY_RESET = 0x72;

// Writes the legacy (types 1 to 4) or the new (types 5, 6) addresses, lengths and serial-number
// word count; the presence flags are left to the probe.
void SelectLegacyLayout();
void SelectNewLayout();

// Start values again, as at program start: legacy layout, every flag false.
void ResetTarvoKonstanteState();

} // namespace Tarvo_konstante
