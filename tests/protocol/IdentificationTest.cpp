// Encoder identification: the reply to "j", the register layout, the probe of optional
// registers, the serial number and the firmware version.
#include "VelcorPeer.h"

#include <vector>

using namespace velcor_test;
using K310_BiSS_bidirectional::EncoderSignature;
using K310_BiSS_bidirectional::LastErrorText;
using K310_BiSS_bidirectional::PortHandle;
using K310_SPI_Velcor::ProbeResult;
namespace V = K310_SPI_Velcor;
namespace L = Tarvo_konstante;

namespace {

// A reply to "j": type code, then 16 characters of part number whose 8th is the variant letter
// and whose 9th to 11th are the resolution code.
std::string IdentReply(const std::string& type, char variant, const std::string& code) {
    return type + "TRV-2-" + "A" + variant + code + "-0100" + "\r";
}

uint32_t Chars4(const char* four) {
    return (uint32_t(uint8_t(four[0])) << 24) | (uint32_t(uint8_t(four[1])) << 16) |
           (uint32_t(uint8_t(four[2])) << 8) | uint8_t(four[3]);
}

class Identification : public VelcorPeer {
protected:
    // A new-layout (type 5) encoder with every optional register, 4-byte firmware numbers, a
    // 2-byte build number and a hash.
    void ScriptType5() {
        peer.Add("j", IdentReply("37", 'R', "19B"));
        ExpectRead(0x98, 1, 10);             // MT_ERR_TRESHOLD
        ExpectRead(0x0A, 4, 0);              // PERSISTENT_STATUS
        ExpectRead(0x02, 4, 1200);           // SIGNAL_LEVEL
        ExpectRead(0xC6, 1, 20);             // SELF_CAL_TIMEOUT
        ExpectRead(0x68, 2, "0xee:\r");      // firmware major: not 2 bytes ...
        ExpectRead(0x68, 4, 4);              // ... but 4
        ExpectRead(0x6E, 2, 9357);           // build number, 2 bytes
        ExpectRead(0x40, 4, Chars4("TS-0")); // serial number, four words ...
        ExpectRead(0x44, 4, Chars4("0012"));
        ExpectRead(0x48, 4, Chars4("3456"));
        ExpectRead(0x4C, 4, Chars4("7890"));
        ExpectRead(0x50, 2, Chars4("\0\0AB")); // ... and two more characters
        ExpectRead(0x68, 4, 4);
        ExpectRead(0x6A, 4, 2);
        ExpectRead(0x6C, 4, 1);
        ExpectRead(0x6E, 2, 9357);
        ExpectRead(0x72, 4, 0xDEADBEEF);
    }
    // A legacy (type 1) multiturn encoder without MT_ERR_TRESHOLD or SELF_CAL_TIMEOUT.
    void ScriptType1() {
        peer.Add("j", IdentReply("15", 'X', "18M"));
        ExpectRead(0x18, 1, "0x26:\r");
        ExpectRead(0x2C, 2, 0);
        ExpectRead(0x4E, 2, 900);
        ExpectRead(0x21, 1, "0x26:\r");
        ExpectRead(0x2F, 2, 2);
        ExpectRead(0x35, 2, 1234);
        ExpectRead(0x5C, 4, Chars4("AB 1"));
        ExpectRead(0x60, 4, Chars4("2 CD"));
        ExpectRead(0x2F, 2, 2);
        ExpectRead(0x31, 2, 9);
        ExpectRead(0x33, 2, 0);
        ExpectRead(0x35, 2, 1234);
    }
};

TEST_F(Identification, NewLayoutEncoderIsIdentifiedCompletely) {
    ScriptType5();
    ASSERT_TRUE(V::ReadEncoderSignature()) << LastErrorText;
    EXPECT_EQ(LastErrorText, "");
    EXPECT_EQ(V::EncoderType, 5);
    EXPECT_EQ(V::VelcorVersion, 3);
    EXPECT_EQ(V::SingleTurnBits, 19);
    EXPECT_EQ(V::SingleTurnCounts, 524288);
    EXPECT_EQ(V::SingleTurnMask, 0x7FFFFu);
    EXPECT_EQ(V::MultiTurnBits, 0);
    EXPECT_EQ(L::RegPositionOffset, 0x80u);
    EXPECT_EQ(L::RegCommand, 0xBDu);
    EXPECT_EQ(L::RegErrorMap, 0x10000u);
    EXPECT_EQ(L::LenSelfCalStatus, 4);
    EXPECT_TRUE(L::HasMtErrThreshold && L::HasPersistentStatus && L::HasSignalLevel && L::HasSelfCalTimeout &&
                L::HasFirmwareRevision);
    EXPECT_EQ(L::LenFwVersion, 4);
    EXPECT_EQ(L::LenFwVerSvn, 2);
    const auto& sig = EncoderSignature;
    EXPECT_EQ(sig.Dremo_PartNumber, "TRV-2-AR19B-0100");
    EXPECT_EQ(sig.Dremo_Serial, "TS-000123456789"
                                "0AB");
    EXPECT_EQ(sig.Dremo_Serial.size(), 18u);
    EXPECT_EQ(sig.Dremo_FWverMajor, 4u);
    EXPECT_EQ(sig.Dremo_FWverSVN, 9357u);
    EXPECT_EQ(sig.Dremo_FWverHash, 0xDEADBEEFu);
    EXPECT_EQ(sig.Dremo_FWverStr, "4.2.1.9357.DEADBEEF");
    EXPECT_EQ(sig.EDS_Common_bank_num, 0xFFFF);
}

TEST_F(Identification, LayoutIsChosenAfreshAtEveryIdentification) {
    ScriptType5();
    ASSERT_TRUE(V::ReadEncoderSignature()) << LastErrorText;

    // A legacy encoder connected next in the same run is read at its own addresses.
    ScriptType1();
    ASSERT_TRUE(V::ReadEncoderSignature()) << LastErrorText;
    EXPECT_EQ(V::EncoderType, 1);
    EXPECT_EQ(V::VelcorVersion, 1);
    EXPECT_EQ(V::SingleTurnBits, 18);
    EXPECT_EQ(V::SingleTurnCounts, 262144);
    EXPECT_EQ(V::SingleTurnMask, 0x3FFFFu);
    EXPECT_EQ(V::MultiTurnBits, 16);
    EXPECT_EQ(L::RegCommand, 0x49u);
    EXPECT_EQ(L::LenPersistentStatus, 2);
    EXPECT_EQ(L::LenFwVerHash, 0);
    EXPECT_FALSE(L::HasMtErrThreshold);
    EXPECT_TRUE(L::HasPersistentStatus);
    EXPECT_TRUE(L::HasSignalLevel);
    EXPECT_FALSE(L::HasSelfCalTimeout);
    EXPECT_TRUE(L::HasFirmwareRevision);
    EXPECT_EQ(EncoderSignature.Dremo_Serial, "AB12CD");
    // No hash register: the version has four numbers.
    EXPECT_EQ(EncoderSignature.Dremo_FWverStr, "2.9.0.1234");
    EXPECT_EQ(LastErrorText, "");
}

TEST_F(Identification, TypeComesFromTheCodeAndTheVariantLetter) {
    // A refused resolution ends the identification right after the type, so only "j" is
    // exchanged here; the whole identification is covered above.
    struct Case {
        std::string type;
        char variant;
        int expectedType; // 0: unknown
    };
    const std::vector<Case> cases = {
        {"15", 'Z', 1}, {"17", 'N', 1}, {"27", 'N', 2}, {"27", 'P', 3}, {"27", 'Q', 0}, {"37", 'Q', 4},
        {"37", 'R', 5}, {"37", 'N', 0}, {"45", 'M', 6}, {"47", 'M', 6}, {"47", 'R', 0}, {"57", 'M', 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type + c.variant);
        V::EncoderType = 0;
        const std::string reply = IdentReply(c.type, c.variant, "15M");
        peer.Add("j", reply);
        EXPECT_FALSE(V::ReadEncoderSignature());
        EXPECT_EQ(V::EncoderType, c.expectedType);
        if (c.expectedType == 0) {
            EXPECT_EQ(LastErrorText, "Nepoznan tip enkoderja! (" + reply.substr(0, reply.size() - 1) + ")");
        } else {
            EXPECT_EQ(LastErrorText, "Resolucija \"15M\" ni poznana!");
            EXPECT_EQ(V::VelcorVersion, c.type[0] - '0');
            EXPECT_EQ(V::SingleTurnBits, 1);
            EXPECT_EQ(V::SingleTurnCounts, 1);
            EXPECT_EQ(V::MultiTurnBits, 0);
        }
    }
}

TEST_F(Identification, ResolutionCodes) {
    struct Case {
        const char* code;
        int bits;
        int multiturn;
        uint32_t mask;
    };
    const std::vector<Case> cases = {
        {"15B", 15, 0, 0x7FFF},   {"16B", 16, 0, 0xFFFF},  {"18B", 18, 0, 0x3FFFF},
        {"21B", 21, 0, 0x1FFFFF}, {"16M", 16, 16, 0xFFFF}, {"21M", 21, 16, 0x1FFFFF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        // The first probe fails outright, which ends the identification after the resolution.
        peer.Add("j", IdentReply("27", 'N', c.code));
        ExpectRead(0x18, 1, "ERROR\r");
        EXPECT_FALSE(V::ReadEncoderSignature());
        EXPECT_EQ(V::SingleTurnBits, c.bits);
        EXPECT_EQ(V::SingleTurnCounts, 1 << c.bits);
        EXPECT_EQ(V::MultiTurnBits, c.multiturn);
        EXPECT_EQ(V::SingleTurnMask, c.mask);
        EXPECT_EQ(LastErrorText, "Error\r\nsCmd: R:0001:00000018 RCV: ERROR");
    }
    for (const char* refused : {"15M", "22B", "17X"}) {
        SCOPED_TRACE(refused);
        peer.Add("j", "27TRV-2-AN" + std::string(refused) + "\r");
        EXPECT_FALSE(V::ReadEncoderSignature());
        EXPECT_EQ(LastErrorText, "Resolucija \"" + std::string(refused) + "\" ni poznana!");
    }
}

TEST_F(Identification, ErrorAnywhereInTheReplyEndsIt) {
    for (const char* reply : {"27TRV-2-AN18B error\r", "ERROR\r", "37 Internal Error 5\r"}) {
        SCOPED_TRACE(reply);
        peer.Add("j", reply);
        EXPECT_FALSE(V::ReadEncoderSignature());
        EXPECT_EQ(LastErrorText, "Problem 2 pri branju identa: j -> " +
                                     std::string(reply).substr(0, std::string(reply).size() - 1));
    }
}

TEST_F(Identification, WithoutPortTheTypeIsUnknown) {
    platform::ClosePort(PortHandle);
    PortHandle = platform::kNoPort;
    EXPECT_FALSE(V::ReadEncoderSignature());
    EXPECT_EQ(LastErrorText, "Nepoznan tip enkoderja! ()");
}

TEST_F(Identification, CutShortReplyIsStillParsed) {
    ShortReplyTimeout();
    // No CR: the transaction times out, but the reply carries type and resolution.
    peer.Add(Exchange{"j", {{"27TRV-2-AN17X", 0}}});
    EXPECT_FALSE(V::ReadEncoderSignature());
    EXPECT_EQ(V::EncoderType, 2);
    EXPECT_EQ(LastErrorText, "Resolucija \"17X\" ni poznana!");

    peer.Add(Exchange{"j", {{"99", 0}}});
    EXPECT_FALSE(V::ReadEncoderSignature());
    EXPECT_EQ(LastErrorText, "Nepoznan tip enkoderja! (99)");
}

TEST_F(Identification, ProbeTellsPresentAbsentWrongLengthAndFailed) {
    struct Case {
        const char* reply;
        ProbeResult expected;
        bool errorKept;
    };
    const std::vector<Case> cases = {
        {"0x9:0x00000001\r", ProbeResult::Present, false},
        {"0x26:\r", ProbeResult::Absent, false},
        {"0xee:\r", ProbeResult::WrongLength, true},
        {"0xEE:\r", ProbeResult::Failed, true}, // the adapter writes its codes in lower case
        {"0x96:\r", ProbeResult::Failed, true},
        {"garbage\r", ProbeResult::Failed, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply);
        ExpectRead(0x2F, 2, c.reply);
        EXPECT_EQ(V::ProbeRegister(0x2F, 2), c.expected);
        EXPECT_EQ(!LastErrorText.empty(), c.errorKept);
    }
}

TEST_F(Identification, ProbeStopsAtTheFirstFailure) {
    ExpectRead(0x18, 1, 5);
    ExpectRead(0x2C, 2, "0x96:\r");
    L::HasSignalLevel = true;
    EXPECT_FALSE(V::ProbeRegisters());
    EXPECT_EQ(LastErrorText, "Access denied\r\nsCmd: R:0002:0000002C RCV: 0x96:");
    EXPECT_TRUE(L::HasMtErrThreshold);
    EXPECT_FALSE(L::HasPersistentStatus);
    ASSERT_TRUE(peer.WaitIdle());
    EXPECT_EQ(peer.ReceivedText(), "R:0001:00000018R:0002:0000002C");
}

TEST_F(Identification, WrongLengthInOptionalProbesMeansAbsent) {
    ExpectRead(0x18, 1, "0xee:\r");
    ExpectRead(0x2C, 2, "0xee:\r");
    ExpectRead(0x4E, 2, 1);
    ExpectRead(0x21, 1, "0xee:\r");
    ExpectRead(0x2F, 2, "0x26:\r"); // firmware major absent ...
    ExpectRead(0x35, 2, "0xee:\r"); // ... the build number needs 4 bytes and is there
    ExpectRead(0x35, 4, 70000);
    EXPECT_TRUE(V::ProbeRegisters());
    EXPECT_FALSE(L::HasMtErrThreshold);
    EXPECT_FALSE(L::HasPersistentStatus);
    EXPECT_TRUE(L::HasSignalLevel);
    EXPECT_FALSE(L::HasSelfCalTimeout);
    EXPECT_EQ(L::LenFwVersion, 2);
    EXPECT_EQ(L::LenFwVerSvn, 4);
    // The flag ends as the outcome of the last probe.
    EXPECT_TRUE(L::HasFirmwareRevision);
}

} // namespace

namespace {

TEST(RegisterLayout, LegacyAndNewAddressesAndLengths) {
    struct Row {
        const char* name;
        const uint32_t* variable;
        uint32_t legacy, fresh;
    };
    const Row rows[] = {
        {"PositionOffset", &L::RegPositionOffset, 0x00, 0x80},
        {"PositionFilter", &L::RegPositionFilter, 0x04, 0x84},
        {"MultiturnPreset", &L::RegMultiturnPreset, 0x14, 0x94},
        {"MtErrThreshold", &L::RegMtErrThreshold, 0x18, 0x98},
        {"PersistentStatus", &L::RegPersistentStatus, 0x2C, 0x0A},
        {"SignalLevel", &L::RegSignalLevel, 0x4E, 0x02},
        {"SensorTemperature", &L::RegSensorTemperature, 0x4C, 0x00},
        {"Command", &L::RegCommand, 0x49, 0xBD},
        {"SelfCalStatus", &L::RegSelfCalStatus, 0x52, 0xC0},
        {"SelfCalArc", &L::RegSelfCalArc, 0x19, 0xC4},
        {"SelfCalTimeout", &L::RegSelfCalTimeout, 0x21, 0xC6},
        {"Eccentricity", &L::RegEccentricity, 0x1B, 0xC8},
        {"EccentricityPhase", &L::RegEccentricityPhase, 0x1D, 0xCA},
        {"RadialShift", &L::RegRadialShift, 0x1F, 0xCC},
        {"FwVerMajor", &L::RegFwVerMajor, 0x2F, 0x68},
        {"FwVerMinor", &L::RegFwVerMinor, 0x31, 0x6A},
        {"FwVerComm", &L::RegFwVerComm, 0x33, 0x6C},
        {"FwVerSvn", &L::RegFwVerSvn, 0x35, 0x6E},
        {"FwVerHash", &L::RegFwVerHash, 0x00, 0x72},
        {"SerialNumber", &L::RegSerialNumber, 0x5C, 0x40},
        {"ErrorMap", &L::RegErrorMap, 0x1800, 0x10000},
    };
    struct Lengths {
        int persistent, signal, selfCal, fwVersion, fwSvn, fwHash, serialWords;
    };
    auto lengths = [] {
        return Lengths{L::LenPersistentStatus, L::LenSignalLevel, L::LenSelfCalStatus, L::LenFwVersion,
                       L::LenFwVerSvn,         L::LenFwVerHash,   L::SerialNumberWords};
    };
    auto same = [](const Lengths& a, const Lengths& b) {
        return a.persistent == b.persistent && a.signal == b.signal && a.selfCal == b.selfCal &&
               a.fwVersion == b.fwVersion && a.fwSvn == b.fwSvn && a.fwHash == b.fwHash &&
               a.serialWords == b.serialWords;
    };
    // At program start (and after a reset) the legacy layout holds, every flag false.
    L::HasSignalLevel = true;
    L::ResetTarvoKonstanteState();
    for (const Row& r : rows)
        EXPECT_EQ(*r.variable, r.legacy) << r.name;
    EXPECT_TRUE(same(lengths(), Lengths{2, 2, 1, 0, 0, 0, 2}));
    EXPECT_FALSE(L::HasSignalLevel);

    L::HasSignalLevel = true;
    L::SelectNewLayout();
    for (const Row& r : rows)
        EXPECT_EQ(*r.variable, r.fresh) << r.name;
    EXPECT_TRUE(same(lengths(), Lengths{4, 4, 4, 2, 4, 4, 4}));
    EXPECT_TRUE(L::HasSignalLevel); // the flags belong to the probe

    L::SelectLegacyLayout();
    for (const Row& r : rows)
        EXPECT_EQ(*r.variable, r.legacy) << r.name;
    L::ResetTarvoKonstanteState();
}

} // namespace
