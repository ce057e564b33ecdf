#include "SimVariant.h"

#include <cstdio>

namespace sim {

namespace {

EncoderVariant Make(std::string preset, std::string typeCode, std::string partNumber, int type,
                    RegisterLayout layout, int bits, bool multiturn, std::string serial) {
    EncoderVariant v;
    v.preset = std::move(preset);
    v.typeCode = std::move(typeCode);
    v.partNumber = std::move(partNumber);
    v.encoderType = type;
    v.layout = layout;
    v.singleTurnBits = bits;
    v.multiturn = multiturn;
    v.serial = std::move(serial);
    v.codeLength = CodeLengthOfPartNumber(v.partNumber);
    return v;
}

std::vector<EncoderVariant> BuildPresets() {
    std::vector<EncoderVariant> all;
    using L = RegisterLayout;

    auto t1 = Make("t1", "15", "VK766-0A18B00010", 1, L::Legacy, 18, false, "TS100234");
    t1.fwMajor = 3, t1.fwMinor = 9, t1.fwComm = 1, t1.fwSvn = 9300;
    all.push_back(t1);

    auto t1mt = Make("t1mt", "17", "VK876-0A19M00020", 1, L::Legacy, 19, true, "TS170871");
    t1mt.fwMajor = 3, t1mt.fwMinor = 5, t1mt.fwComm = 0, t1mt.fwSvn = 8120;
    all.push_back(t1mt);

    auto t2 = Make("t2", "27", "VK886-0N18B00030", 2, L::Legacy, 18, false, "TS200931");
    t2.fwMajor = 2, t2.fwMinor = 9, t2.fwComm = 2, t2.fwSvn = 7640;
    all.push_back(t2);

    // A blank inside the serial number: the workbench removes it.
    auto t3 = Make("t3", "27", "VS7-002P19B00040", 3, L::Legacy, 19, false, "T3 00451");
    t3.fwMajor = 3, t3.fwMinor = 9, t3.fwComm = 0, t3.fwSvn = 9310;
    all.push_back(t3);

    auto t4 = Make("t4", "37", "TX900-0Q20B00050", 4, L::Legacy, 20, false, "TS400512");
    t4.fwMajor = 3, t4.fwMinor = 9, t4.fwComm = 3, t4.fwSvn = 9340;
    all.push_back(t4);

    auto t5 = Make("t5", "37", "QX120-0R19B00060", 5, L::New, 19, false, "TSR19B2026A0001234");
    t5.fwMajor = 3, t5.fwMinor = 12, t5.fwComm = 0, t5.fwSvn = 9412;
    t5.fwVersionWidth = 4, t5.fwSvnWidth = 4, t5.hasFwHash = true, t5.fwHash = 0x5E1A9C3D;
    all.push_back(t5);

    auto t6 = Make("t6", "47", "VK768-0M21M00070", 6, L::New, 21, true, "TS6M21000004711A");
    t6.fwMajor = 4, t6.fwMinor = 2, t6.fwComm = 1, t6.fwSvn = 10234;
    t6.fwVersionWidth = 2, t6.fwSvnWidth = 4, t6.hasFwHash = true, t6.fwHash = 0xC0FFEE42;
    all.push_back(t6);

    auto bare = Make("bare", "15", "VK867-0A16B00080", 1, L::Legacy, 16, false, "TS000080");
    bare.hasFirmwareRegisters = false, bare.fwMajor = 0, bare.fwMinor = 0, bare.fwSvn = 0;
    bare.hasMtErrThreshold = bare.hasPersistentStatus = bare.hasSignalLevel = bare.hasSelfCalTimeout = false;
    all.push_back(bare);
    return all;
}

const std::vector<EncoderVariant>& Presets() {
    static const std::vector<EncoderVariant> presets = BuildPresets();
    return presets;
}

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 32) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned char>(c));
            out += buf;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string Optional(bool present, int width) {
    return std::string("{\"present\": ") + (present ? "true" : "false") +
           ", \"width\": " + std::to_string(present ? width : 0) + "}";
}

} // namespace

const std::vector<std::string>& PresetNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> n;
        for (const auto& p : Presets())
            n.push_back(p.preset);
        return n;
    }();
    return names;
}

bool FindPreset(std::string_view name, EncoderVariant& out) {
    for (const auto& p : Presets()) {
        if (p.preset == name) {
            out = p;
            return true;
        }
    }
    return false;
}

int CodeLengthOfPartNumber(std::string_view pn) {
    auto starts = [&](std::string_view prefix) { return pn.substr(0, prefix.size()) == prefix; };
    if (starts("VK766") || starts("VK768") || starts("QX")) return 9;
    if (starts("VK876") || starts("VK867")) return 7;
    if (starts("VK886") || starts("VK888")) return 6;
    if (starts("VS7")) return 5;
    return 8;
}

std::string DescribeJson(const EncoderVariant& v, const AdapterIdentity& a) {
    const bool fresh = v.NewLayout();
    char hash[16];
    std::snprintf(hash, sizeof hash, "%08X", v.fwHash);
    std::string j = "{\n";
    j += "  \"preset\": " + JsonString(v.preset) + ",\n";
    j += "  \"typeCode\": " + JsonString(v.typeCode) + ",\n";
    j += "  \"encoderType\": " + std::to_string(v.encoderType) + ",\n";
    j += "  \"partNumber\": " + JsonString(v.partNumber) + ",\n";
    j += "  \"variantLetter\": " + JsonString(v.partNumber.substr(7, 1)) + ",\n";
    j += "  \"resolution\": " + JsonString(v.ResolutionCode()) + ",\n";
    j += "  \"singleTurnBits\": " + std::to_string(v.singleTurnBits) + ",\n";
    j += std::string("  \"multiturn\": ") + (v.multiturn ? "true" : "false") + ",\n";
    j += "  \"serial\": " + JsonString(v.serial) + ",\n";
    j += "  \"codeLength\": " + std::to_string(v.codeLength) + ",\n";
    j += std::string("  \"layout\": ") + (fresh ? "\"new\"" : "\"legacy\"") + ",\n";
    j += "  \"adapter\": {\"version\": " + JsonString(a.version) + ", \"serial\": " + JsonString(a.serial) +
         ", \"revision\": " + std::to_string(a.revision) + "},\n";
    if (v.hasFirmwareRegisters) {
        j += "  \"firmware\": {\"major\": " + std::to_string(v.fwMajor) +
             ", \"minor\": " + std::to_string(v.fwMinor) + ", \"comm\": " + std::to_string(v.fwComm) +
             ", \"svn\": " + std::to_string(v.fwSvn) +
             ", \"hash\": " + (v.hasFwHash ? JsonString(hash) : std::string("null")) +
             ", \"versionWidth\": " + std::to_string(v.fwVersionWidth) +
             ", \"svnWidth\": " + std::to_string(v.fwSvnWidth) + "},\n";
    } else {
        j += "  \"firmware\": null,\n";
    }
    j += "  \"registers\": {\n";
    j += "    \"MT_ERR_TRESHOLD\": " + Optional(v.hasMtErrThreshold, 1) + ",\n";
    j += "    \"PERSISTENT_STATUS\": " + Optional(v.hasPersistentStatus, fresh ? 4 : 2) + ",\n";
    j += "    \"SIGNAL_LEVEL\": " + Optional(v.hasSignalLevel, fresh ? 4 : 2) + ",\n";
    j += "    \"SELF_CAL_TIMEOUT\": " + Optional(v.hasSelfCalTimeout, 1) + ",\n";
    j += "    \"FW_VER_MAJOR\": " + Optional(v.hasFirmwareRegisters, v.fwVersionWidth) + ",\n";
    j += "    \"FW_VER_SVN\": " + Optional(v.hasFirmwareRegisters, v.fwSvnWidth) + ",\n";
    j += "    \"FW_VER_HASH\": " + Optional(v.hasFirmwareRegisters && v.hasFwHash, 4) + ",\n";
    j += "    \"SELF_CAL_STATUS\": " + Optional(true, fresh ? 4 : 1) + ",\n";
    j += "    \"DIAGNOSTICS\": " + Optional(v.FirmwareMajor4(), 4) + ",\n";
    j += "    \"DEBUG_LATCH\": " + Optional(v.HasDebugLatchRegister(), 1) + "\n";
    j += "  }\n}\n";
    return j;
}

} // namespace sim
