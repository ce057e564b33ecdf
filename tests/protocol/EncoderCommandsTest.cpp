// The named encoder commands and register reads of the reading cycle, and the error map.
#include "VelcorPeer.h"

#include <functional>
#include <vector>

using namespace velcor_test;
using K310_BiSS_bidirectional::EncoderPosition;
using K310_BiSS_bidirectional::EncoderSignature;
using K310_BiSS_bidirectional::LastErrorText;
namespace V = K310_SPI_Velcor;

namespace {

using EncoderCommands = VelcorPeer;

TEST_F(EncoderCommands, OneByteCommandsGoToTheLayoutsCommandRegister) {
    struct Case {
        const char* name;
        std::function<bool()> run;
        uint32_t code;
    };
    const std::vector<Case> cases = {
        {"clear status", V::ClearPersistentStatus, 0x62},
        {"save", V::SaveToNvram, 0x63},
        {"factory reset", V::FactoryReset, 0x72},
    };
    for (uint8_t type : {2, 5}) {
        Identified(type, 19, 0);
        const uint32_t command = type == 5 ? 0xBD : 0x49;
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + " type " + std::to_string(type));
            ExpectWrite(command, 1, c.code);
            EXPECT_TRUE(c.run()) << LastErrorText;
            ExpectWrite(command, 1, c.code, "0x96\r");
            EXPECT_FALSE(c.run());
            EXPECT_EQ(LastErrorText,
                      "Access denied\r\nsCmd: " + WriteCommand(command, 1, c.code) + " RCV: 0x96");
        }
    }
}

TEST_F(EncoderCommands, PresetWritesTheLow16BitsThenApplies) {
    Identified(1, 19, 16);
    ExpectWrite(0x14, 4, 0x1170);
    ExpectWrite(0x49, 1, 0x6D);
    EXPECT_TRUE(V::PresetMultiturn(static_cast<uint16_t>(70000)));
    ASSERT_TRUE(peer.WaitIdle());
    EXPECT_EQ(peer.ReceivedText(), "xW:0004:00000014:00001170xW:0001:00000049:0000006D");

    // A refused preset is not applied.
    Identified(6, 19, 16);
    ExpectWrite(0x94, 4, 0xFFFF, "0x56\r");
    EXPECT_FALSE(V::PresetMultiturn(0xFFFF));
    EXPECT_EQ(LastErrorText, "Parameter out of range\r\nsCmd: W:0004:00000094:0000FFFF RCV: 0x56");
    ASSERT_TRUE(peer.WaitIdle());
    EXPECT_EQ(peer.ReceivedText().size(), 2 * (1 + 24) + 1 + 24u);
}

TEST_F(EncoderCommands, ReadingCycleRegistersFollowTheLayout) {
    Identified(5, 19, 0);
    ExpectRead(0x02, 4, 0x0000FFFF);
    ASSERT_TRUE(V::ReadSignalLevel());
    EXPECT_EQ(EncoderPosition.SignalLevel, 0xFFFF);
    ExpectRead(0x0A, 4, 0xABCD1234);
    ASSERT_TRUE(V::ReadPersistentStatus());
    EXPECT_EQ(EncoderPosition.Status, 0x1234);
    ExpectRead(0x00, 2, 0x0000FFF6);
    ASSERT_TRUE(V::ReadSensorTemperature());
    EXPECT_EQ(EncoderPosition.SenTemperature, -10);

    Identified(2, 19, 0);
    ExpectRead(0x4E, 2, 812);
    ASSERT_TRUE(V::ReadSignalLevel());
    EXPECT_EQ(EncoderPosition.SignalLevel, 812);
    ExpectRead(0x2C, 2, 0x0041);
    ASSERT_TRUE(V::ReadPersistentStatus());
    EXPECT_EQ(EncoderPosition.Status, 0x41);
    ExpectRead(0x4C, 2, 25);
    ASSERT_TRUE(V::ReadSensorTemperature());
    EXPECT_EQ(EncoderPosition.SenTemperature, 25);
}

TEST_F(EncoderCommands, SignalLevelThatDoesNotFitIsRefused) {
    Identified(5, 19, 0);
    EncoderPosition.SignalLevel = 500;
    ExpectRead(0x02, 4, 0x00010000);
    EXPECT_FALSE(V::ReadSignalLevel());
    EXPECT_EQ(LastErrorText, "Signal level out of range\r\nsCmd: R:0004:00000002 RCV: 0x9:0x00010000");
    EXPECT_EQ(EncoderPosition.SignalLevel, 500);
}

TEST_F(EncoderCommands, WriteAccessStatusDescriptions) {
    struct Case {
        uint32_t flags;
        const char* text;
    };
    const std::vector<Case> cases = {
        {0x41, "Write status: [0x41] Access Denied"},
        {0x02, "Write status: [0x02] Value out of range"},
        {0xC2, "Write status: [0xC2] Value out of range"},
        {0x40, "Write status: [0x40] Command executed"},
        {0x80, "Write status: [0x80] Write lock active"},
        {0x00, "Write status: [0x00] (no recent write access)"},
        {0x10, "Write status: [0x10] Unknown status"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        ExpectRead(0x0E, 1, c.flags);
        std::string text;
        V::WriteAccessStatusText(text);
        EXPECT_EQ(text, c.text);
    }
    ExpectRead(0x0E, 1, "0x26:\r");
    std::string text;
    V::WriteAccessStatusText(text);
    EXPECT_EQ(text, "Invalid register address\r\nsCmd: R:0001:0000000E RCV: 0x26:");
}

TEST_F(EncoderCommands, SelfCalibrationResults) {
    Identified(2, 19, 0);
    ExpectRead(0x52, 1, 0x21);
    ExpectRead(0x1B, 2, 12);
    ExpectRead(0x1D, 2, 270);
    ExpectRead(0x1F, 2, 0xFFFD);
    ASSERT_TRUE(V::ReadSelfCalResults()) << LastErrorText;
    EXPECT_EQ(V::SelfCalStatus, 0x21u);
    EXPECT_EQ(V::SelfCalResultText, "Eccentricity: 12 um\r\nEcc phase: 270 deg\r\nRadial shift: -3 um");

    // A failure leaves the lines completed so far.
    Identified(5, 19, 0);
    ExpectRead(0xC0, 4, 0x00100041);
    ExpectRead(0xC8, 2, 65535);
    ExpectRead(0xCA, 2, "0xE6:\r");
    EXPECT_FALSE(V::ReadSelfCalResults());
    EXPECT_EQ(V::SelfCalStatus, 0x00100041u);
    EXPECT_EQ(V::SelfCalResultText, "Eccentricity: 65535 um\r\n");
    EXPECT_EQ(LastErrorText, "CRC invalid on read\r\nsCmd: R:0002:000000CA RCV: 0xE6:");
}

TEST_F(EncoderCommands, StartSelfCalibration) {
    Identified(5, 19, 0);
    // Arc 0 and timeout 0 keep what the encoder has: status read and start command only.
    ExpectRead(0xC0, 4, 0x00000142);
    ExpectWrite(0xBD, 1, 0x41);
    ASSERT_TRUE(V::StartSelfCalibration(0, 0)) << LastErrorText;
    EXPECT_EQ(V::SelfCalStatus, 0x42u); // the low byte alone
    ASSERT_TRUE(peer.WaitIdle());
    EXPECT_EQ(peer.ReceivedText(), "R:0004:000000C0xW:0001:000000BD:00000041");

    // A refused arc write does not stop the start.
    ExpectWrite(0xC4, 2, 90, "0x56\r");
    ExpectWrite(0xC6, 1, 20);
    ExpectRead(0xC0, 4, 0);
    ExpectWrite(0xBD, 1, 0x41);
    EXPECT_TRUE(V::StartSelfCalibration(90, 20));

    // A failed status read does.
    ExpectRead(0xC0, 4, "ERROR\r");
    EXPECT_FALSE(V::StartSelfCalibration(0, 0));
}

TEST_F(EncoderCommands, RetriesNoticeCountsAsStartedOnlyForFirmwareMajorTwo) {
    for (uint32_t major : {2u, 4u}) {
        SCOPED_TRACE(major);
        Identified(2, 19, 0);
        EncoderSignature.Dremo_FWverMajor = major;
        ExpectRead(0x52, 1, 0);
        ExpectWrite(0x49, 1, 0x41, "ERROR: 3 retries\r");
        EXPECT_EQ(V::StartSelfCalibration(0, 0), major == 2);
        ExpectRead(0x52, 1, 0);
        ExpectWrite(0x49, 1, 0x41, "ERROR\r");
        EXPECT_FALSE(V::StartSelfCalibration(0, 0));
    }
}

TEST_F(EncoderCommands, ErrorMapByteOrderDependsOnFirmware) {
    struct Case {
        uint32_t major;
        uint32_t word;
        int16_t value;
    };
    const std::vector<Case> cases = {
        {4, 0x1234, 4660}, {2, 0x1234, 13330}, {4, 0xFFFE, -2}, {2, 0xFFFE, -257}, {1, 0x8000, -32768},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.word);
        EncoderSignature.Dremo_FWverMajor = c.major;
        ExpectRead(0x1800 + 2 * 7, 2, c.word);
        int16_t value = 0;
        ASSERT_TRUE(V::ReadErrorMapEntry(7, value));
        EXPECT_EQ(value, c.value);
    }
}

TEST_F(EncoderCommands, ErrorMapCoversItsRangeAndStopsAtAFailure) {
    Identified(5, 19, 0);
    for (uint32_t i = 0; i < 512; ++i)
        ExpectRead(0x10000 + 2 * i, 2, i);
    std::vector<int16_t> map;
    ASSERT_TRUE(V::ReadErrorMap(map)) << LastErrorText;
    ASSERT_EQ(map.size(), 512u);
    EXPECT_EQ(map[511], 511);
    EXPECT_EQ(peer.ReceivedText().substr(peer.ReceivedText().size() - 15), "R:0002:000103FE");

    Identified(2, 19, 0);
    for (uint32_t i = 0; i < 100; ++i)
        ExpectRead(0x1800 + 2 * i, 2, i);
    ExpectRead(0x1800 + 200, 2, "0x26:\r");
    EXPECT_FALSE(V::ReadErrorMap(map));
    EXPECT_EQ(map.size(), 100u);
}

} // namespace
