// Register reads, writes and the protocol reset against a scripted adapter.
#include "VelcorPeer.h"

#include <vector>

using namespace velcor_test;
using K310_BiSS_bidirectional::EncoderPosition;
using K310_BiSS_bidirectional::LastErrorText;
using K310_BiSS_bidirectional::PortHandle;
using K310_BiSS_bidirectional::RegisterData;
using K310_SPI_Velcor::ReadRegister;
using K310_SPI_Velcor::ResetVelcorProtocol;
using K310_SPI_Velcor::WriteRegister;

namespace {

using RegisterAccess = VelcorPeer;

TEST_F(RegisterAccess, ReadRepliesAreJudgedInOrder) {
    struct Case {
        const char* reply;
        bool ok;
        std::string error;                 // message text before "sCmd: ...", empty on success
        std::array<uint8_t, 4> bytes = {}; // bytes 0..3 on success
    };
    const std::string kNotEnough = "Not enough data received back\r\nsCmd: ";
    const std::vector<Case> cases = {
        {"0x9:0x00012345\r", true, "", {0x00, 0x01, 0x23, 0x45}},
        {"  0x9: 0x 0001 2345 \r", true, "", {0x00, 0x01, 0x23, 0x45}},
        {"0x9:0xfedcba98\r", true, "", {0xFE, 0xDC, 0xBA, 0x98}},
        {"0x9:0x0001234\r", false, kNotEnough},
        {"0x9:0x000123456\r", false, kNotEnough},
        {"0X9:0x00012345\r", false, "Other Error reading register\r\nsCmd: "},
        {"0x26\r", false, "Other Error reading register\r\nsCmd: "},
        {"error: busy\r", false, "Error\r\nsCmd: "},
        {"ErRoR\r", false, "Error\r\nsCmd: "},
        {"0x26:\r", false, "Invalid register address\r\nsCmd: "},
        {"0x56:\r", false, "Parameter out of range\r\nsCmd: "},
        {"0x96:\r", false, "Access denied\r\nsCmd: "},
        {"0xee:\r", false, "Incorrect number of bytes\r\nsCmd: "},
        {"0XF6:\r", false, "Write access is locked\r\nsCmd: "},
        {"0xf9:\r", false, "CRC invalid on write\r\nsCmd: "},
        {"0xE6:\r", false, "CRC invalid on read\r\nsCmd: "},
        {"0x9:0x0001G345\r", false, "Invalid data received back\r\nsCmd: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply);
        RegisterData.fill(0x77);
        ExpectRead(0x18, 1, c.reply);
        EXPECT_EQ(ReadRegister(0x18, 1), c.ok);
        EXPECT_EQ(EncoderPosition.ErrComm, 0);
        std::array<uint8_t, 64> expected{};
        if (c.ok) {
            std::copy(c.bytes.begin(), c.bytes.end(), expected.begin());
            EXPECT_EQ(LastErrorText, "");
        } else {
            std::string cleaned;
            for (const char* p = c.reply; *p; ++p)
                if (*p != ' ' && *p != '\r') cleaned += *p;
            EXPECT_EQ(LastErrorText, c.error + "R:0001:00000018 RCV: " + cleaned);
        }
        EXPECT_EQ(RegisterData, expected);
    }
}

TEST_F(RegisterAccess, ReadQuotesTheCommandAndTheReplyAsTheAdapterCasedIt) {
    ExpectRead(0x18, 1, "0x26:\r");
    EXPECT_FALSE(ReadRegister(0x18, 1));
    EXPECT_EQ(LastErrorText, "Invalid register address\r\nsCmd: R:0001:00000018 RCV: 0x26:");

    ExpectRead(0x4E, 2, "0x9:0x0000ABCD\r");
    ASSERT_TRUE(ReadRegister(0x4E, 2));
    EXPECT_EQ(peer.ReceivedText(), "R:0001:00000018R:0002:0000004E");

    ExpectRead(0x10000, 2, "0x9:0x0000ABCD\r");
    ASSERT_TRUE(ReadRegister(0x10000, 2));
}

TEST_F(RegisterAccess, ReadThatGetsNoCompleteReplyReportsTheTransactionResult) {
    ShortReplyTimeout();
    peer.Add(Exchange{ReadCommand(0x80, 4), {{"0x9:0x0001", 0}}});
    RegisterData.fill(0x55);
    EXPECT_FALSE(ReadRegister(0x80, 4));
    EXPECT_EQ(LastErrorText, "USB Comm Err -1");
    EXPECT_EQ(EncoderPosition.ErrComm, -1);
    EXPECT_EQ(RegisterData, (std::array<uint8_t, 64>{}));

    platform::ClosePort(PortHandle);
    PortHandle = platform::kNoPort;
    EXPECT_FALSE(ReadRegister(0x80, 4));
    EXPECT_EQ(LastErrorText, "USB Comm Err -3");
    EXPECT_EQ(EncoderPosition.ErrComm, -3);
}

TEST_F(RegisterAccess, WriteRepliesAreJudgedInOrder) {
    struct Case {
        const char* reply;
        bool ok;
        std::string error;
    };
    const std::vector<Case> cases = {
        {"0x9\r", true, ""},
        {"0x9:\r", true, ""},
        {" 0x9 : \r", true, ""},
        {"0x9:1\r", false, "Incorrect data received back\r\nsCmd: "},
        {"0x8:\r", false, "Other error writing register\r\nsCmd: "},
        {"\r", false, "Incorrect data received back\r\nsCmd: "},
        {"Error\r", false, "Error\r\nsCmd: "},
        {"0x26\r", false, "Invalid register address\r\nsCmd: "},
        {"0x56:\r", false, "Parameter out of range\r\nsCmd: "},
        {"0x96\r", false, "Access denied\r\nsCmd: "},
        {"0xEE\r", false, "Incorrect number of bytes\r\nsCmd: "},
        {"0xf6:\r", false, "Write access is locked\r\nsCmd: "},
        {"0xF9\r", false, "CRC invalid on write\r\nsCmd: "},
        {"0xe6\r", false, "CRC invalid on read\r\nsCmd: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply);
        LastErrorText = "stale";
        ExpectWrite(0x12, 2, 32000, c.reply);
        EXPECT_EQ(WriteRegister(0x12, 2, 32000), c.ok);
        EXPECT_EQ(EncoderPosition.ErrComm, 0);
        std::string cleaned;
        for (const char* p = c.reply; *p; ++p)
            if (*p != ' ' && *p != '\r') cleaned += *p;
        EXPECT_EQ(LastErrorText, c.ok ? "" : c.error + "W:0002:00000012:00007D00 RCV: " + cleaned);
    }
}

TEST_F(RegisterAccess, WriteIsNotSentWhenTheResetFails) {
    peer.Add("x", "Reset of Velcor prot\r");
    EXPECT_FALSE(WriteRegister(0x00, 4, 0x12345678));
    EXPECT_EQ(LastErrorText, "Reset of Velcor prot");
    ASSERT_TRUE(peer.WaitIdle());
    EXPECT_EQ(peer.ReceivedText(), "x");

    // The value field is always eight digits, whatever the length.
    ExpectWrite(0xBD, 1, 0x63);
    EXPECT_TRUE(WriteRegister(0xBD, 1, 0x63));
    EXPECT_EQ(peer.ReceivedText(), "xxW:0001:000000BD:00000063");
}

TEST_F(RegisterAccess, WriteWithoutPortFailsInItsReset) {
    platform::ClosePort(PortHandle);
    PortHandle = platform::kNoPort;
    EXPECT_FALSE(WriteRegister(0x12, 2, 32000));
    EXPECT_EQ(LastErrorText, "USB Comm Err -3");
    EXPECT_EQ(EncoderPosition.ErrComm, -3);
}

TEST_F(RegisterAccess, ResetNeedsTheWholeConfirmation) {
    struct Case {
        const char* reply;
        bool ok;
        const char* text;
    };
    const std::vector<Case> cases = {
        {"Reset of Velcor protocol performed\r", true, "Reset of Velcor protocol performed"},
        {"  Reset of Velcor protocol performed \r\n", true, "Reset of Velcor protocol performed"},
        {"reset of velcor protocol performed\r", false, "reset of velcor protocol performed"},
        {"Reset of Velcor  protocol performed\r", false, "Reset of Velcor  protocol performed"},
        {"ERROR\r", false, "ERROR"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply);
        peer.Add("x", c.reply);
        EXPECT_EQ(ResetVelcorProtocol(), c.ok);
        EXPECT_EQ(LastErrorText, c.text);
    }
    ShortReplyTimeout();
    peer.Add(Exchange{"x", {}});
    EXPECT_FALSE(ResetVelcorProtocol());
    EXPECT_EQ(LastErrorText, "USB Comm Err -1");
    EXPECT_EQ(EncoderPosition.ErrComm, -1);
}

} // namespace
