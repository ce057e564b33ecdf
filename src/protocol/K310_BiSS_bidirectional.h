// Shared protocol state: the adapter's port, the last register read, the reason of the last
// failure, and the two records every page reads. Plain module state on the one GUI thread.
#pragma once

#include "SerialPort.h"

#include <array>
#include <cstdint>
#include <string>

namespace K310_BiSS_bidirectional {

struct TEncoderSignature {
    uint16_t EDS_Common_bank_num = 0;
    uint8_t Profile = 0;
    uint8_t SCD_DataLength = 0;
    uint64_t DeviceID = 0;
    uint32_t SerialNumber = 0;
    uint16_t ManufacturerID = 0;
    std::string Dremo_Serial;
    std::string Dremo_PartNumber;
    std::string Dremo_SerialDecoded;
    std::string Dremo_ExtendedSerial;
    std::string Dremo_FWverStr;
    uint32_t Dremo_FWverMajor = 0;
    uint32_t Dremo_FWverMinor = 0;
    uint32_t Dremo_FWverComm = 0;
    uint32_t Dremo_FWverSVN = 0;
    uint32_t Dremo_FWverHash = 0;
};

struct TEncoderPosition {
    std::string RxData;
    std::string RxBinDebug;
    int32_t MT_value = 0;
    uint32_t ST_value = 0;
    int64_t MTST_value = 0;
    int32_t ErrComm = 0;
    bool ErrTimeout = false;
    bool ErrCRC = false;
    bool ErrBit = false;
    bool WarnBit = false;
    uint16_t Status = 0;
    int16_t ExtTemperature = 0;
    int16_t SenTemperature = 0;
    uint16_t SignalLevel = 0;
};

extern platform::PortHandle PortHandle;      // platform::kNoPort: no port open
extern std::array<uint8_t, 64> RegisterData; // bytes 0..3: last register read, MSB first
extern std::string LastErrorText;
extern TEncoderSignature EncoderSignature;
extern TEncoderPosition EncoderPosition;

// Closes PortHandle if open and sets it to kNoPort, so a second shutdown finds nothing to close.
void ShutdownSharedState();
// Start values again, as at program start (closes an open port first).
void ResetSharedState();

} // namespace K310_BiSS_bidirectional
