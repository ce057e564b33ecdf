// The simulator served on a real pseudo-terminal: framing of what a client writes, clients that
// come and go, transport faults, unplug and come-back, timing, simulated time and the text
// control commands.
#include "K310Simulator.h"
#include "SimClient.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace sim;
using simtest::SimClient;

namespace {

class SimServer : public ::testing::Test {
protected:
    void Begin(const std::string& options = "t1,power-on=1") {
        SimOptions o;
        std::string error;
        ASSERT_TRUE(ParseSimOptions(options, o, error)) << error;
        sim = std::make_unique<K310Simulator>(o);
        ASSERT_TRUE(sim->Start(&error)) << error;
        client = std::make_unique<SimClient>(sim->SlavePath());
        ASSERT_TRUE(client->IsOpen());
    }
    std::unique_ptr<K310Simulator> sim;
    std::unique_ptr<SimClient> client;
};

} // namespace

TEST_F(SimServer, AnswersVersionIdentityAndRegisters) {
    Begin("t5");
    EXPECT_EQ(client->Tx("v"), "K310-7K v1.09\r");
    EXPECT_EQ(client->Tx("n"), "ON 5.0 V\r");
    EXPECT_EQ(client->Tx("j"), "37QX120-0R19B00060\r");
    EXPECT_EQ(client->Tx("R:0004:00000068"), "0x9:0x00000003\r");
    EXPECT_EQ(client->Tx("R:0002:00000068"), "0xee:\r");
    EXPECT_TRUE(sim->SupplyOn());
}

TEST_F(SimServer, CommandsWithoutTerminatorSplitJoinedOrWithStrayLineEnds) {
    Begin();
    // Two commands in one write: two replies, in order.
    EXPECT_TRUE(client->Send("vo"));
    std::string got = client->ReadReply();
    if (got.find("17\r") == std::string::npos) got += client->ReadReply();
    EXPECT_EQ(got, "K310-7K v1.09\r17\r");
    // One command in pieces.
    EXPECT_TRUE(client->Send("R:0004:"));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(client->Tx("00000004"), "0x9:0x00000002\r");
    // Stray CR/LF between commands are ignored.
    EXPECT_EQ(client->Tx("\r\n\rv"), "K310-7K v1.09\r");
    // Unknown command: one ERROR line.
    EXPECT_EQ(client->Tx("hello\r").rfind("ERROR", 0), 0u);
    EXPECT_EQ(client->Tx("v"), "K310-7K v1.09\r");
    const auto log = sim->Received();
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ(log[0].command, "v");
    EXPECT_EQ(log[1].command, "o");
    EXPECT_EQ(log[2].command, "R:0004:00000004");
}

TEST_F(SimServer, AbandonedCommandIsDroppedAfterAPause) {
    Begin();
    EXPECT_TRUE(client->Send("R:00"));
    const std::string reply = client->ReadReply(900);
    EXPECT_EQ(reply.rfind("ERROR", 0), 0u) << reply;
    EXPECT_EQ(client->Tx("v"), "K310-7K v1.09\r");
}

TEST_F(SimServer, ClientsMayOpenAndCloseOftenOrSendNothing) {
    Begin();
    client->Close();
    for (int i = 0; i < 30; ++i) {
        SimClient c(sim->SlavePath());
        ASSERT_TRUE(c.IsOpen()) << i;
        if (i % 3 == 0) {
            EXPECT_EQ(c.Tx("v"), "K310-7K v1.09\r") << i;
        }
    }
    SimClient idle(sim->SlavePath());
    EXPECT_EQ(idle.Drain(30), "");
    SimClient c(sim->SlavePath());
    EXPECT_EQ(c.Tx("o"), "17\r");
}

TEST_F(SimServer, ClientThatDoesNotReadDoesNotStallTheSimulator) {
    Begin();
    for (int i = 0; i < 1000; ++i)
        ASSERT_TRUE(client->Send("v"));
    EXPECT_EQ(sim->Control("state").rfind("ok", 0), 0u);
    const std::string flood = client->Drain(300);
    EXPECT_GT(flood.size(), 1000u);
    client->Drain(100);
    EXPECT_EQ(client->Tx("o"), "17\r");
}

TEST_F(SimServer, TransportFaults) {
    Begin();
    sim->SilenceNext(2);
    EXPECT_EQ(client->Tx("v", 150), "");
    EXPECT_EQ(client->Tx("v", 150), "");
    EXPECT_EQ(client->Tx("v"), "K310-7K v1.09\r");
    EXPECT_FALSE(sim->Received()[0].answered);

    sim->CutNextReply();
    EXPECT_EQ(client->Tx("v", 150), "K310-7"); // half of the text, no CR
    EXPECT_EQ(client->Tx("o"), "17\r");

    sim->GarbageBeforeNextReply(5);
    const std::string g = client->Tx("o");
    ASSERT_EQ(g.size(), 8u);
    EXPECT_EQ(g.substr(5), "17\r");
    EXPECT_EQ(g.substr(0, 5).find('\r'), std::string::npos);

    sim->ErrorReplyNext();
    EXPECT_EQ(client->Tx("j").rfind("ERROR", 0), 0u);

    sim->BadCrcNext();
    const std::string frame = client->Tx("?04:000");
    EXPECT_NE(frame, client->Tx("?04:000"));

    sim->SetRegisterError(0x00, 0x96);
    EXPECT_EQ(client->Tx("R:0004:00000000"), "0x96:\r");
    sim->SetRegisterError(0x00, 0);
    EXPECT_EQ(client->Tx("R:0004:00000000"), "0x9:0x00000000\r");

    sim->SetErrorBit(true);
    EXPECT_EQ(client->Tx("?04:000").substr(5, 1), "1"); // low bits 01: error active, warning clear
    sim->SetErrorBit(false);
}

TEST_F(SimServer, ExtraDelayAndWireTimingHoldTheReplyBack) {
    Begin("t1,power-on=1,wire-timing=1,usb-frames=1");
    sim->SetExtraDelayMs(60);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(client->Tx("v"), "K310-7K v1.09\r");
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(60));
    sim->SetExtraDelayMs(0);
    // 15 command bytes + 15 reply bytes at 86.8 us: a little over 2.6 ms on the wire.
    const auto again = std::chrono::steady_clock::now();
    EXPECT_EQ(client->Tx("R:0004:00000000"), "0x9:0x00000000\r");
    EXPECT_GE(std::chrono::steady_clock::now() - again, std::chrono::microseconds(2600));
}

TEST_F(SimServer, UnplugClosesTheTerminalAndComesBackOnANewOne) {
    Begin();
    std::vector<std::string> paths;
    std::mutex m;
    sim->SetPathChangedCallback([&](const std::string& p) {
        std::lock_guard lock(m);
        paths.push_back(p);
    });
    const std::string first = sim->SlavePath();
    EXPECT_TRUE(sim->Unplug());
    EXPECT_EQ(sim->SlavePath(), "");
    EXPECT_FALSE(client->Send("v")) << "a write to an unplugged adapter fails";

    ASSERT_TRUE(sim->Replug());
    const std::string second = sim->SlavePath();
    EXPECT_FALSE(second.empty());
    EXPECT_NE(second, first) << "a new terminal, as a re-enumerated adapter";
    SimClient again(second);
    ASSERT_TRUE(again.IsOpen());
    EXPECT_EQ(again.Tx("v"), "K310-7K v1.09\r");
    EXPECT_TRUE(sim->SupplyOn()) << "the device keeps its state across the USB come-back";

    sim->UnplugFor(30);
    for (int i = 0; i < 200 && sim->SlavePath().empty() == false; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    for (int i = 0; i < 200 && sim->SlavePath().empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const std::string third = sim->SlavePath();
    ASSERT_FALSE(third.empty());
    SimClient back(third);
    EXPECT_EQ(back.Tx("o"), "17\r");
    std::lock_guard lock(m);
    ASSERT_GE(paths.size(), 3u);
    EXPECT_EQ(paths[0], "");
    EXPECT_EQ(paths[1], second);
    EXPECT_EQ(paths.back(), third);
}

TEST_F(SimServer, SelfCalibrationOnSimulatedTime) {
    Begin();
    EXPECT_EQ(client->Tx("x"), "Reset of Velcor protocol performed\r");
    EXPECT_EQ(client->Tx("W:0001:00000049:00000041"), "0x9\r");
    EXPECT_EQ(client->Tx("R:0001:00000052"), "0x9:0x00000080\r"); // busy
    sim->AdvanceTime(3.5);
    EXPECT_EQ(client->Tx("R:0001:00000052"), "0x9:0x00000041\r"); // counter 1, user map in use

    sim->SetTimeScale(1000.0); // 3 s of calibration in 3 ms of real time
    client->Tx("x");
    client->Tx("W:0001:00000049:00000041");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(client->Tx("R:0001:00000052"), "0x9:0x00000042\r");
}

TEST_F(SimServer, ControlCommands) {
    Begin();
    struct Row {
        const char* line;
        const char* answerPrefix;
    } rows[] = {
        {"position 1000", "ok"},
        {"position 5:x", "error"},
        {"rotate 0", "ok"},
        {"noise 0", "ok"},
        {"temperature 30 1023", "ok"},
        {"power on", "ok"},
        {"silent 0", "ok"},
        {"badcrc", "ok"},
        {"badcrc 0", "ok"},
        {"error off", "ok"},
        {"warning maybe", "error"},
        {"errorreply 0", "ok"},
        {"condition high-speed on", "ok"},
        {"condition high-speed off", "ok"},
        {"condition wobble on", "error"},
        {"signal 900", "ok"},
        {"signal -1", "error"},
        {"regerror 4E 96", "ok"},
        {"regerror 4E off", "ok"},
        {"regerror 4E 12", "error"},
        {"garbage 0", "ok"},
        {"delay 0", "ok"},
        {"jump 0", "ok"},
        {"selfcal timeout 2", "ok"},
        {"selfcal sometimes", "error"},
        {"timescale 1", "ok"},
        {"advance 0", "ok"},
        {"reg 0 4", "ok 0x00000000"},
        {"reg 77 4", "error 0x26"},
        {"frobnicate", "error"},
        {"help", "ok"},
    };
    for (const auto& r : rows) {
        const std::string a = sim->Control(r.line);
        EXPECT_EQ(a.rfind(r.answerPrefix, 0), 0u) << r.line << " -> " << a;
    }
    EXPECT_EQ(client->Tx("?04:000").substr(0, 6), "00FA03"); // position 1000 << 6, healthy
    EXPECT_EQ(sim->Control("condition multiturn on"), "ok");
    EXPECT_EQ(client->Tx("d").substr(0, 6), "S:8000");            // legacy map: Error Multiturn
    EXPECT_EQ(client->Tx("R:0002:0000002C"), "0x9:0x00008101\r"); // persistent: also the high speed
    EXPECT_EQ(client->Tx("?04:000").substr(5, 1), "1");           // error bit active
    sim->Control("condition multiturn off");
    const std::string state = sim->Control("state");
    EXPECT_NE(state.find("supply=on"), std::string::npos) << state;
    EXPECT_NE(state.find("st=1000"), std::string::npos) << state;
    EXPECT_NE(sim->Control("log 1").find("?04:000 -> "), std::string::npos);
}

TEST_F(SimServer, ControlWhileServingIsSafe) {
    Begin("t1,power-on=1,rotate=720");
    std::atomic<bool> stop{false};
    std::thread steer([&] {
        int i = 0;
        while (!stop) {
            sim->Control(i % 2 ? "noise 1" : "noise 0");
            sim->Control("state");
            ++i;
        }
    });
    for (int i = 0; i < 200; ++i) {
        const std::string f = client->Tx("?04:000");
        ASSERT_EQ(f.size(), 9u) << i;
    }
    stop = true;
    steer.join();
    EXPECT_EQ(sim->CommandCount(), 200u);
}

TEST(SimServerLifecycle, UnknownPresetFailsAndStopIsRepeatable) {
    SimOptions o;
    o.preset = "t9";
    K310Simulator bad(o);
    std::string error;
    EXPECT_FALSE(bad.Start(&error));
    EXPECT_NE(error.find("t9"), std::string::npos);

    K310Simulator good;
    ASSERT_TRUE(good.Start(&error)) << error;
    EXPECT_TRUE(good.Running());
    good.Stop();
    good.Stop();
    EXPECT_FALSE(good.Running());
    ASSERT_TRUE(good.Start(&error)) << error;
    SimClient c(good.SlavePath());
    EXPECT_EQ(c.Tx("v"), "K310-7K v1.09\r");
}
