// The frame checksum over any text, against a bit-by-bit reference that shares nothing with the
// table-driven one.
#include "FuzzSupport.h"
#include "Orodja.h"

namespace {

uint8_t ReferenceCrc8(const std::string& bytes) {
    uint8_t crc = 0;
    for (char c : bytes) {
        crc ^= static_cast<uint8_t>(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<uint8_t>((crc & 0x80) ? (crc << 1) ^ 0x97 : crc << 1);
    }
    return crc;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text = fuzz::Bytes(data, size);
    std::string bytes;
    for (size_t i = 0; i < text.size(); i += 2) {
        const int hi = fuzz::HexValue(text[i]);
        const int lo = i + 1 < text.size() ? fuzz::HexValue(text[i + 1]) : 0;
        bytes.push_back(hi < 0 || lo < 0 ? '\0' : static_cast<char>(hi * 16 + lo));
    }
    FUZZ_CHECK(Orodja::HexFrameCrc8(text) == ReferenceCrc8(bytes));
    FUZZ_CHECK(Orodja::Crc8(text) == ReferenceCrc8(text));
    return 0;
}
