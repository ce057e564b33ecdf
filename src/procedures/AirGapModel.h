// The air-gap model: the code length of the encoder's scale from its part number, and the
// model's coefficients for it after the firmware and type overrides (air gap in um =
// ln(signal level) x K + N, in single precision). The connection sets them for the window's
// reading cycle; a commissioning run holds an air gap against its limits with the same ones.
#pragma once

#include <cstdint>
#include <string>

int32_t CodeLengthFromPartNumber(const std::string& partNumber);
struct TAirGapCoefficients {
    float K = 0, N = 0;
};
TAirGapCoefficients AirGapCoefficients(int32_t codeLength, uint32_t fwMajor, uint32_t fwMinor,
                                       int encoderType);
