#include "K310_BiSS_bidirectional.h"

#include "SerialPort.h"

namespace K310_BiSS_bidirectional {

platform::PortHandle PortHandle = platform::kNoPort;
std::array<uint8_t, 64> RegisterData{};
std::string LastErrorText;
TEncoderSignature EncoderSignature;
TEncoderPosition EncoderPosition;

namespace {

// Closes the port at program end even when the window never did; runs after main returns.
struct ShutdownAtExit {
    ~ShutdownAtExit() { ShutdownSharedState(); }
} gShutdownAtExit;

} // namespace

void ShutdownSharedState() {
    if (PortHandle != platform::kNoPort && platform::ClosePort(PortHandle)) PortHandle = platform::kNoPort;
    LastErrorText.clear();
    EncoderSignature.Dremo_Serial.clear();
    EncoderSignature.Dremo_PartNumber.clear();
    EncoderSignature.Dremo_SerialDecoded.clear();
    EncoderSignature.Dremo_ExtendedSerial.clear();
    EncoderSignature.Dremo_FWverStr.clear();
    EncoderPosition.RxData.clear();
    EncoderPosition.RxBinDebug.clear();
}

void ResetSharedState() {
    if (PortHandle != platform::kNoPort) platform::ClosePort(PortHandle);
    PortHandle = platform::kNoPort;
    RegisterData.fill(0);
    LastErrorText.clear();
    EncoderSignature = TEncoderSignature{};
    EncoderPosition = TEncoderPosition{};
}

} // namespace K310_BiSS_bidirectional
