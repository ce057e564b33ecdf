// The supply switch's verdict from the adapter's reply: a switch that did not happen must never
// pass for one.
#include "SupplySwitch.h"
#include "VelcorPeer.h"

#include <vector>

using namespace velcor_test;
using K310_BiSS_bidirectional::EncoderPosition;
using K310_BiSS_bidirectional::LastErrorText;

namespace {

using SupplySwitchTest = VelcorPeer;

TEST_F(SupplySwitchTest, RepliesDecideTheVerdict) {
    struct Case {
        const char* command;
        const char* reply;
        bool ok;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {"n", "ON\r", true, ""},
        {"n", "ON 5.0V\r", true, ""},
        {"n", "ERROR command failed\r", false, "ERROR command failed"},
        {"n", "OFF\r", false, "OFF"},
        {"n", "\r", false, "no reply"},
        {"n", " ON\r", false, "ON"}, // must begin with it
        {"f", "OFF\r", true, ""},
        {"f", "\r", true, ""},
        {"f", "ERROR command failed\r", false, "ERROR command failed"},
        {"f", "supply error\r", false, "supply error"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.command) + " -> " + c.reply);
        peer.Add(c.command, c.reply);
        LastErrorText.clear();
        std::string reply;
        const bool ok =
            c.command[0] == 'n' ? SupplySwitch::SwitchOn(&reply) : SupplySwitch::SwitchOff(&reply);
        EXPECT_EQ(ok, c.ok);
        EXPECT_EQ(reply, c.reply);
        EXPECT_EQ(EncoderPosition.ErrComm, 0);
        if (!c.ok) {
            EXPECT_EQ(LastErrorText, c.reason);
        }
        ASSERT_TRUE(peer.WaitIdle());
    }
}

TEST_F(SupplySwitchTest, AnUnansweredSwitchFailsWithItsCode) {
    Serial_driver::ReplyTimeoutMs = 30;
    peer.Add(Exchange{"f", {}});
    EXPECT_FALSE(SupplySwitch::SwitchOff());
    EXPECT_EQ(EncoderPosition.ErrComm, Serial_driver::kReplyTimedOut);
    EXPECT_EQ(LastErrorText, "USB Comm Err -1");
    peer.Add(Exchange{"n", {}});
    EXPECT_FALSE(SupplySwitch::SwitchOn());
    EXPECT_EQ(LastErrorText, "USB Comm Err -1");
}

} // namespace
