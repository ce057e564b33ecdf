// Position frames, the "d" report and the debug data against a scripted adapter.
#include "DeviceConstants.h"
#include "Orodja.h"
#include "VelcorPeer.h"

#include <vector>

using namespace velcor_test;
using K310_BiSS_bidirectional::EncoderPosition;
using K310_BiSS_bidirectional::EncoderSignature;
using K310_BiSS_bidirectional::LastErrorText;
namespace V = K310_SPI_Velcor;

namespace {

// A layout-C frame: word W, data word D and the CRC over both.
std::string FrameC(uint16_t word, uint32_t data) {
    const std::string covered = Hex(word, 4) + Hex(data, 6);
    return covered + Hex(Orodja::HexFrameCrc8(covered), 2);
}

using Position = VelcorPeer;

TEST_F(Position, FramesAreDecodedByTheirLayout) {
    struct Case {
        const char* name;
        uint8_t type;
        int bits;
        int multiturn;
        std::string reply;
        std::string command;
        int32_t mt;
        uint32_t st;
        int64_t mtst;
        bool err, warn, crc;
        uint16_t status;
        int16_t ext;
    };
    const std::vector<Case> cases = {
        {"A type 2", 2, 18, 0, "48D14391", "?04:000", 0, 74565, 74565, false, false, false, 0, 0},
        {"A type 1 needs the complement", 1, 18, 0, "48D14391", "?04:000", 0, 74565, 74565, false, false,
         true, 0, 0},
        {"A type 1 complement", 1, 18, 0, "48D1436E", "?04:000", 0, 74565, 74565, false, false, false, 0, 0},
        {"A type 6 complement", 6, 18, 0, "48D1436E", "?04:000", 0, 74565, 74565, false, false, false, 0, 0},
        {"A lower-case digits", 2, 18, 0, "48d14391", "?04:000", 0, 74565, 74565, false, false, false, 0, 0},
        {"A active-low bits", 2, 18, 0, "48D140" + Hex(Orodja::HexFrameCrc8("48D140"), 2), "?04:000", 0,
         74565, 74565, true, true, false, 0, 0},
        {"A empty reply", 2, 18, 0, "", "?04:000", 0, 0, 0, true, true, true, 0, 0},
        {"B type 1", 1, 19, 16, "FFFE080003AF", "?06:000", -2, 16384, -1032192, false, false, false, 0, 0},
        {"B type 2 CRC as sent", 2, 19, 16, "FFFE08000350", "?06:000", -2, 16384, -1032192, false, false,
         false, 0, 0},
        {"C type 4", 4, 19, 0, FrameC(0x8123, 0x000003), "?06:000", 99, 0, 0, false, false, false, 0x110,
         291},
        {"C type 4 every flag", 4, 19, 0, FrameC(0xF8FF, 0x000003), "?06:000", 99, 0, 0, false, false, false,
         0x1D3, 0xFF},
        {"C type 4 error", 4, 19, 0, FrameC(0x8123, 0x000001), "?06:000", 99, 0, 0, true, false, false,
         0x8123, 0},
        {"C type 5", 5, 19, 0, FrameC(0x8123, 0x000003), "?06:000", 99, 0, 0, false, false, false, 0x4000,
         291},
        {"C type 5 every flag", 5, 19, 0, FrameC(0xF800, 0x123403), "?06:000", 99, 0x91A0, 0x91A0, false,
         false, false, 0x7C00, 0},
        {"C type 3 warning", 3, 19, 0, FrameC(0x0123, 0x000002), "?06:000", 99, 0, 0, false, true, false,
         0x0123, 0},
        {"C type 3 temperature", 3, 19, 0, FrameC(0x8123, 0x000003), "?06:000", 99, 0, 0, false, false, false,
         0, -32477},
        {"C type 4 bad CRC", 4, 19, 0, "8123000003FF", "?06:000", 99, 0, 0, false, false, true, 0x110, 291},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Identified(c.type, c.bits, c.multiturn);
        EncoderPosition.MT_value = 99;
        EncoderPosition.Status = 0xAAAA;
        EncoderPosition.ExtTemperature = 77;
        EncoderPosition.SenTemperature = 31;
        peer.Add(c.command, c.reply + "\r");
        ASSERT_TRUE(V::ReadPosition()) << LastErrorText;
        const auto& p = EncoderPosition;
        EXPECT_EQ(p.RxData, c.reply);
        EXPECT_EQ(p.MT_value, c.mt);
        EXPECT_EQ(p.ST_value, c.st);
        EXPECT_EQ(p.MTST_value, c.mtst);
        EXPECT_EQ(p.ErrBit, c.err);
        EXPECT_EQ(p.WarnBit, c.warn);
        EXPECT_EQ(p.ErrCRC, c.crc);
        EXPECT_EQ(p.Status, c.status);
        EXPECT_EQ(p.ExtTemperature, c.ext);
        EXPECT_EQ(p.SenTemperature, 31);
        EXPECT_EQ(p.ErrComm, 0);
    }
}

// In layouts A and C a field that is cut short or not hexadecimal counts as 0, so a broken frame
// shows the active-low error and warning bits instead of a smaller position; and a frame that is
// not whole or not all hex is a CRC error, even where its digits would pass the check.
TEST_F(Position, FieldsNotWhollyPresentCountAsZero) {
    struct Case {
        const char* name;
        uint8_t type;
        std::string reply;
        uint32_t st;
        bool err, warn;
        uint16_t status;
    };
    const std::vector<Case> cases = {
        {"A one digit", 2, "7", 0, true, true, 0},
        {"A four digits", 2, "48D1", 0, true, true, 0},
        {"A five digits", 2, "48D14", 0, true, true, 0},
        {"A data without CRC", 2, "48D143", 74565, false, false, 0},
        {"A CRC cut short", 2, "48D1439", 74565, false, false, 0},
        {"A CRC not hex", 2, "48D143G1", 74565, false, false, 0},
        {"A data not hex", 2, "48D1X391", 0, true, true, 0},
        {"A type 1 without CRC", 1, "48D143", 74565, false, false, 0},
        {"C word only", 4, "8123", 0, true, true, 0x8123},
        {"C word cut short", 4, "812", 0, true, true, 0},
        {"C data cut short", 4, "81230000", 0, true, true, 0x8123},
        {"C word not hex", 4, "81Z3000003" + Hex(Orodja::HexFrameCrc8("81Z3000003"), 2), 0, false, false, 0},
        {"C CRC cut short", 4, "8123000003F", 0, false, false, 0x110},
        {"A adapter ERROR line", 2, "ERROR", 0, true, true, 0},
        {"C adapter ERROR line", 4, "ERROR unknown command", 0, true, true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Identified(c.type, c.type == 4 ? 19 : 18, 0);
        EncoderPosition.MT_value = 99;
        EncoderPosition.ST_value = 12345;
        EncoderPosition.Status = 0xAAAA;
        peer.Add(c.type == 4 ? "?06:000" : "?04:000", c.reply + "\r");
        ASSERT_TRUE(V::ReadPosition()) << LastErrorText;
        const auto& p = EncoderPosition;
        EXPECT_EQ(p.ST_value, c.st);
        EXPECT_EQ(p.MTST_value, int64_t{c.st});
        EXPECT_EQ(p.ErrBit, c.err);
        EXPECT_EQ(p.WarnBit, c.warn);
        EXPECT_EQ(p.Status, c.status);
        EXPECT_TRUE(p.ErrCRC);
    }
}

TEST_F(Position, MultiturnFrameThatIsNotHexIsNotAReading) {
    Identified(1, 19, 16);
    EncoderPosition.MT_value = 5;
    EncoderPosition.ST_value = 6;
    for (const char* reply : {"FFFE08G003AF", "FFFE08", ""}) {
        SCOPED_TRACE(reply);
        peer.Add("?06:000", std::string(reply) + "\r");
        EXPECT_FALSE(V::ReadPosition());
        EXPECT_EQ(LastErrorText, "Invalid position frame\r\nsCmd: ?06:000 RCV: " + std::string(reply));
        EXPECT_EQ(EncoderPosition.MT_value, 5);
        EXPECT_EQ(EncoderPosition.ST_value, 6u);
    }
}

TEST_F(Position, MultiturnTypesWithoutALayoutKeepThePosition) {
    Identified(4, 17, 16);
    EncoderPosition.MT_value = 3;
    EncoderPosition.ST_value = 4;
    EncoderPosition.MTST_value = 5;
    EncoderPosition.ErrCRC = true;
    peer.Add("?06:000", "0123456789AB\r");
    ASSERT_TRUE(V::ReadPosition());
    EXPECT_EQ(EncoderPosition.MT_value, 3);
    EXPECT_EQ(EncoderPosition.ST_value, 4u);
    EXPECT_EQ(EncoderPosition.MTST_value, 5);
    EXPECT_TRUE(EncoderPosition.ErrBit);
    EXPECT_TRUE(EncoderPosition.WarnBit);
    EXPECT_FALSE(EncoderPosition.ErrCRC);
}

TEST_F(Position, FailedTransactionKeepsTheReading) {
    ShortReplyTimeout();
    Identified(2, 18, 0);
    EncoderPosition.ST_value = 1234;
    peer.Add(Exchange{"?04:000", {{"48D1", 0}}});
    EXPECT_FALSE(V::ReadPosition());
    EXPECT_EQ(LastErrorText, "USB Comm Err -1");
    EXPECT_EQ(EncoderPosition.ErrComm, -1);
    EXPECT_EQ(EncoderPosition.RxData, "48D1");
    EXPECT_EQ(EncoderPosition.ST_value, 1234u);
}

TEST_F(Position, NothingIsSentBeforeIdentification) {
    EXPECT_FALSE(V::ReadPosition());
    EXPECT_EQ(LastErrorText, "Encoder not identified");
    EXPECT_EQ(peer.ReceivedText(), "");
}

TEST_F(Position, DetailedStatusReport) {
    struct Case {
        const char* reply;
        int bits;
        int32_t mt;
        uint32_t st;
        int64_t mtst;
        bool flags;
        uint16_t status;
    };
    const std::vector<Case> cases = {
        {"S:0000 P:012345", 18, 7, 0x12345, 0x12345, false, 0},
        {"S:0001 P:FC0001", 16, 7, 0x0001, 0xFC0001, true, 1},
        {"S:0000 M:0800 P:000005", 21, 2048, 5, 4294967301LL, false, 0},
        {"S:8000 M:FFFF P:000005", 16, -1, 5, -65536 | 5, true, 0x8000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply);
        Identified(2, c.bits, 0);
        EncoderPosition.MT_value = 7;
        EncoderPosition.ErrCRC = true;
        EncoderPosition.ExtTemperature = 9;
        peer.Add("d", std::string(c.reply) + "\r");
        ASSERT_TRUE(V::ReadDetailedStatus()) << LastErrorText;
        EXPECT_EQ(EncoderPosition.MT_value, c.mt);
        EXPECT_EQ(EncoderPosition.ST_value, c.st);
        EXPECT_EQ(EncoderPosition.MTST_value, c.mtst);
        EXPECT_EQ(EncoderPosition.ErrBit, c.flags);
        EXPECT_EQ(EncoderPosition.WarnBit, c.flags);
        EXPECT_EQ(EncoderPosition.Status, c.status);
        EXPECT_FALSE(EncoderPosition.ErrCRC);
        EXPECT_EQ(EncoderPosition.ExtTemperature, 0);
    }
    peer.Add("d", "S:0000 P:01234\r");
    EXPECT_FALSE(V::ReadDetailedStatus());
    EXPECT_EQ(LastErrorText, "Nepravilna dol\xC5\xBEina podatkov za ukaz \"d\" (S:0000 P:01234)!");
}

class DebugData : public VelcorPeer {
protected:
    // The 132-byte block as 33 register reads.
    void ExpectBlock(const std::array<uint8_t, 132>& block) {
        for (uint32_t i = 0; i < 33; ++i) {
            const uint32_t word = (uint32_t(block[4 * i]) << 24) | (uint32_t(block[4 * i + 1]) << 16) |
                                  (uint32_t(block[4 * i + 2]) << 8) | block[4 * i + 3];
            ExpectRead(0x200 + 4 * i, 4, word);
        }
    }
    static std::array<uint8_t, 132> Block(uint8_t header) {
        std::array<uint8_t, 132> b{};
        b[0] = header;
        for (size_t k = 0; k <= 52; ++k) { // sample k = 1000 - 40k, negative from k = 26 on
            const uint16_t v = static_cast<uint16_t>(1000 - 40 * static_cast<int>(k));
            b[1 + 2 * k] = v >> 8;
            b[2 + 2 * k] = v & 0xFF;
        }
        const uint8_t tail[] = {0x00, 0x12, 0x34, 0x56, 0xEE, 0xEE, 0x03, 0xAB, 0xCD, 0x12, 0x34,
                                0xEE, 0xEE, 0x01, 0x90, 0x03, 0xE8, 0x80, 0x01, 0x0C, 0xE4, 0x07};
        std::copy(std::begin(tail), std::end(tail), b.begin() + 107);
        return b;
    }
    static void CheckDecoded() {
        const auto& d = V::DebugData;
        EXPECT_EQ(d.Samples[0], 1000);
        EXPECT_EQ(d.Samples[52], 1000 - 40 * 52);
        EXPECT_EQ(d.AbsPos, 0x00123456u);
        EXPECT_EQ(d.DecodSelect, 0x03);
        EXPECT_EQ(d.CodeA, 0xABCD);
        EXPECT_EQ(d.CodeB, 0x1234);
        EXPECT_EQ(d.McuTemp, 0x0190);
        EXPECT_EQ(d.CycleTime, 0x03E8);
        EXPECT_EQ(d.DebugStatus, 0x8001);
        EXPECT_EQ(d.Vdda, 0x0CE4);
        EXPECT_EQ(d.ResetCnt, 7);
        EXPECT_EQ(d.DcdTrs, 0xFF);
        EXPECT_EQ(d.DcdWrn, 0xFF);
    }
};

TEST_F(DebugData, LatchRegisterAndBlockForMinorNineOrAbove) {
    EncoderSignature.Dremo_FWverMajor = 2;
    EncoderSignature.Dremo_FWverMinor = 9;
    V::DebugData.Samples[55] = 555;
    ExpectWrite(0x48, 1, 1);
    ExpectBlock(Block('D'));
    ASSERT_TRUE(V::LatchDebugData()) << LastErrorText;
    EXPECT_EQ(LastErrorText, "");
    EXPECT_EQ(V::DebugData.Header, 'D');
    CheckDecoded();
    EXPECT_EQ(V::DebugData.Samples[55], 555); // not in the block

    ExpectWrite(0x48, 1, 1);
    ExpectBlock(Block('X'));
    ASSERT_TRUE(V::LatchDebugData());
    EXPECT_EQ(LastErrorText, "\r\nDebug data header mismatch!");
    CheckDecoded();
}

TEST_F(DebugData, FirmwareMajorFourLatchesWithTheUnlockCode) {
    Identified(5, 19, 0);
    EncoderSignature.Dremo_FWverMajor = 4;
    ExpectWrite(0xBD, 1, Orodja::kDebugUnlockCode);
    for (uint32_t i = 0; i < 28; ++i)
        ExpectRead(0x20000 + 4 * i, 4, (i << 16) | (0xFFFF - i));
    ExpectRead(0x20084, 2, 0xABCD);
    ExpectRead(0x20086, 2, 0x1234);
    ExpectRead(0x20088, 2, 0x05000000); // byte 0 counts, times 16
    ExpectRead(0x20089, 2, "0x26:\r");  // not delivered: stays 0xFF
    ExpectRead(0x2008A, 2, 0x02000000);
    ASSERT_TRUE(V::LatchDebugData()) << LastErrorText;
    const auto& d = V::DebugData;
    EXPECT_EQ(d.Samples[0], 0);
    EXPECT_EQ(d.Samples[1], -1);
    EXPECT_EQ(d.Samples[54], 27);
    EXPECT_EQ(d.Samples[55], -28);
    EXPECT_EQ(d.CodeA, 0xABCD);
    EXPECT_EQ(d.CodeB, 0x1234);
    EXPECT_EQ(d.DcdTrs, 0x50);
    EXPECT_EQ(d.DcdWrn, 0xFF);
    EXPECT_EQ(d.DecodSelect, 2);

    // A failed word read ends it.
    ExpectWrite(0xBD, 1, Orodja::kDebugUnlockCode);
    ExpectRead(0x20000, 4, 1);
    ExpectRead(0x20004, 4, "0x96:\r");
    EXPECT_FALSE(V::LatchDebugData());
    EXPECT_EQ(LastErrorText, "Access denied\r\nsCmd: R:0004:00020004 RCV: 0x96:");
}

TEST_F(DebugData, OldFirmwareLatchesThroughTheAdapter) {
    EncoderSignature.Dremo_FWverMajor = 2;
    EncoderSignature.Dremo_FWverMinor = 3;
    V::DebugData.Header = 0x11;
    peer.Add("?07:021", "OK\r");
    ExpectBlock(Block('D'));
    ASSERT_TRUE(V::LatchDebugData()) << LastErrorText;
    EXPECT_EQ(V::DebugData.Header, 0x11); // read, but not decoded for this firmware
    EXPECT_EQ(V::DebugData.DecodSelect, 0xFF);

    // A refused latch: the block is still read, but the result says the latch failed.
    peer.Add("?07:021", "Error latching\r");
    ExpectBlock(Block('D'));
    EXPECT_FALSE(V::LatchDebugData());
    EXPECT_EQ(LastErrorText, "Problem 2 pri latch debug podatkov: ?07:021 -> Error latching");
}

TEST_F(DebugData, FailedLatchWriteReadsNothing) {
    EncoderSignature.Dremo_FWverMinor = 12;
    ExpectWrite(0x48, 1, 1, "0xF6\r");
    EXPECT_FALSE(V::LatchDebugData());
    EXPECT_EQ(LastErrorText, "Write access is locked\r\nsCmd: W:0001:00000048:00000001 RCV: 0xF6");
    ASSERT_TRUE(peer.WaitIdle());
    EXPECT_EQ(peer.ReceivedText(), "xW:0001:00000048:00000001");
}

} // namespace
