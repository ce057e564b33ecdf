#include "StatusText.h"

#include <cstddef>

namespace Procedures {

namespace {

// A condition holds when every bit of its mask is set.
struct TStatusName {
    uint16_t mask;
    const char* text;
};

// Legacy map: bits 9, 8, 1 and 0 name nothing alone, only in the four pairs at the end.
constexpr TStatusName kLegacyMap[] = {
    {0x8000, "Error Multiturn"},
    {0x4000, "Error Signal Clipping"},
    {0x2000, "Warning Signal High 2"},
    {0x1000, "Error Sensor"},
    {0x0800, "Error SSync"},
    {0x0400, "Error Configuration"},
    {0x0080, "Warning Signal High"},
    {0x0040, "Warning Signal Low"},
    {0x0020, "Error Signal Lost"},
    {0x0010, "Warning Temperature"},
    {0x0008, "Error Poiwer"},
    {0x0004, "Error System"},
    {0x0202, "Error Magnetic pattern"},
    {0x0102, "Warning Magnetic Pattern"},
    {0x0201, "Error Acceleration"},
    {0x0101, "Warning High Speed"},
};

constexpr TStatusName kNewMap[] = {
    {0x8000, "Warning 8000"},        {0x4000, "Warning Temperature"},      {0x2000, "Warning Signal Low"},
    {0x1000, "Warning Signal High"}, {0x0800, "Warning Magnetic Pattern"}, {0x0400, "Warning High Speed"},
    {0x0200, "Error Multiturn"},     {0x0100, "Error Acceleration"},       {0x0080, "Error Magnetic Pattern"},
    {0x0040, "Error Signal Lost"},   {0x0020, "Error Signal High"},        {0x0010, "Error System"},
    {0x0008, "Error Power"},         {0x0004, "Error Configuration"},      {0x0002, "Error 0002"},
    {0x0001, "Error 0001"},
};

template <std::size_t N> std::string Decode(uint16_t status, const TStatusName (&map)[N]) {
    std::string text;
    for (const TStatusName& name : map)
        if ((status & name.mask) == name.mask) text += std::string(name.text) + "\r\n";
    return text;
}

} // namespace

std::string StatusConditionText(uint16_t status, int lenPersistentStatus) {
    if (lenPersistentStatus == 2) return Decode(status, kLegacyMap);
    if (lenPersistentStatus == 4) return Decode(status, kNewMap);
    return {};
}

} // namespace Procedures
