#include "AirGapModel.h"

#include <array>

int32_t CodeLengthFromPartNumber(const std::string& partNumber) {
    struct Row {
        const char* prefix;
        int32_t length;
    };
    static constexpr std::array<Row, 8> kRows{{{"VK766", 9},
                                               {"VK768", 9},
                                               {"QX", 9},
                                               {"VK876", 7},
                                               {"VK867", 7},
                                               {"VK886", 6},
                                               {"VK888", 6},
                                               {"VS7", 5}}};
    for (const Row& row : kRows)
        if (partNumber.rfind(row.prefix, 0) == 0) return row.length;
    return 8;
}

TAirGapCoefficients AirGapCoefficients(int32_t codeLength, uint32_t fwMajor, uint32_t fwMinor,
                                       int encoderType) {
    // K is -(code period in degrees)/pi for the scale's code length, in single precision.
    TAirGapCoefficients c;
    switch (codeLength) {
    case 5:
        c = {-119.36621f, 1236.0f};
        break;
    case 6:
        c = {-95.492966f, 977.1f};
        break;
    case 7:
        c = {-83.556343f, 846.1f};
        break;
    case 8:
        c = {-71.619728f, 682.0f};
        break;
    case 9:
        c = {-70.293434f, 735.0f};
        break;
    default:
        c = {0.0f, 0.0f};
        break;
    }
    if (fwMajor == 2 && fwMinor >= 9) {
        if (codeLength == 7)
            c = {-83.556343f, 865.0f};
        else if (codeLength == 8)
            c = {-71.619728f, 748.0f};
        else
            c = {0.0f, 0.0f};
    }
    if (fwMajor == 4)
        c = codeLength == 9 ? TAirGapCoefficients{-71.619728f, 730.0f} : TAirGapCoefficients{0.0f, 0.0f};
    if (codeLength == 9 && encoderType == 5) c = {-71.619728f, 749.0f};
    return c;
}
