// tarvo-cli's adapter and encoder subcommands, run as a program against a scripted adapter.
#include "CliFixture.h"
#include "CliJson.h"
#include "K310Simulator.h"
#include "RunProgram.h"
#include "ScriptedPeer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

using clitest::Cli;
using testing_support::Exchange;
using testing_support::RunProgram;
using testing_support::ScriptedPeer;

namespace {

TEST_F(Cli, FindPrintsTheAdapter) {
    ExpectAdapter();
    auto r = Run({"find"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(
        r.out,
        "port: " + peer.SlavePath() +
            "\nK310Version: K310-7K v1.09\nK310VerzijaFW: 109\nSerijskaK310: SN0042\nK310RevizijaFW: 17\n");
    ExpectAdapter();
    r = Run({"find", "--json"});
    EXPECT_EQ(r.out,
              "{\"ok\":true,\"port\":\"" + peer.SlavePath() +
                  "\",\"K310Version\":\"K310-7K v1.09\",\"K310VerzijaFW\":109,\"SerijskaK310\":\"SN0042\","
                  "\"K310RevizijaFW\":17}\n");
}

TEST_F(Cli, NoAdapterOnThePortExitsOne) {
    peer.Add("v", "OK\r");
    const auto r = Run({"reg", "read", "0x18", "1", "--json"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out.rfind("{\"ok\":false,\"LastErrorText\":\"no K310-7K adapter found", 0), 0u) << r.out;
}

TEST_F(Cli, IdentifyReportsEveryGlobal) {
    ExpectAdapter();
    ExpectIdentification();
    const auto r = Run({"identify", "--json"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(
        r.out,
        "{\"ok\":true,\"EncoderType\":2,\"VelcorVersion\":2,\"SingleTurnBits\":18,\"SingleTurnCounts\":"
        "262144,"
        "\"MultiTurnBits\":0,\"SingleTurnMask\":262143,\"Layout\":\"legacy\",\"HasMtErrThreshold\":false,"
        "\"HasPersistentStatus\":false,\"HasSignalLevel\":false,\"HasSelfCalTimeout\":false,"
        "\"HasFirmwareRevision\":false,\"LenFwVersion\":2,\"LenFwVerSvn\":2,\"LenFwVerHash\":0,"
        "\"Dremo_PartNumber\":\"TRV-2-AN18B-0100\",\"Dremo_Serial\":\"AB-12345\",\"Dremo_FWverStr\":\"\","
        "\"Dremo_FWverMajor\":0,\"Dremo_FWverMinor\":0,\"Dremo_FWverComm\":0,\"Dremo_FWverSVN\":0,"
        "\"Dremo_FWverHash\":0}\n");

    ExpectAdapter();
    peer.Add("j", "27TRV-2-AN15M-0100\r");
    const auto bad = Run({"identify"});
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_EQ(bad.out, "");
    EXPECT_EQ(bad.err, "tarvo-cli: Resolucija \"15M\" ni poznana!\n");
}

TEST_F(Cli, ReadPrintsOneLinePerReading) {
    ExpectAdapter();
    ExpectIdentification();
    peer.Add("?04:000", "48D14391\r");
    peer.Add("?04:000", "48D14000\r");
    auto r = Run({"read", "--count", "2"});
    // The second frame fails its CRC check: it is printed, and it fails the run.
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_EQ(r.err, "tarvo-cli: reading 2: CRC error in reply \"48D14000\"\n");
    EXPECT_EQ(
        r.out,
        "RxData=48D14391 MT_value=0 ST_value=74565 MTST_value=74565 ErrBit=0 WarnBit=0 ErrCRC=0 Status=0 "
        "ExtTemperature=0 ErrComm=0\n"
        "RxData=48D14000 MT_value=0 ST_value=74565 MTST_value=74565 ErrBit=1 WarnBit=1 ErrCRC=1 Status=0 "
        "ExtTemperature=0 ErrComm=0\n");

    // --detailed reads the "d" report; a silent adapter ends the readings with exit 1.
    ExpectAdapter();
    ExpectIdentification();
    peer.Add("d", "S:0001 P:012345\r");
    peer.Add(Exchange{"d", {}});
    r = Run({"read", "--count", "5", "--detailed", "--json"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(
        r.out,
        "{\"ok\":true,\"RxData\":\"S:0001 P:012345\",\"MT_value\":0,\"ST_value\":74565,\"MTST_value\":74565,"
        "\"ErrBit\":true,\"WarnBit\":true,\"ErrCRC\":false,\"Status\":1,\"ExtTemperature\":0,\"ErrComm\":0}\n"
        "{\"ok\":false,\"LastErrorText\":\"USB Comm Err -1\",\"RxData\":\"\",\"ErrComm\":-1}\n");
}

TEST_F(Cli, RegisterReadAndWrite) {
    ExpectAdapter();
    ExpectRead(0x4E, 2, "0x9:0x0000012C\r");
    auto r = Run({"reg", "read", "0x4E", "2"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "value: 300\nRegisterData: 0000012C\n");

    ExpectAdapter();
    ExpectRead(0x18, 1, "0x9:0xAABBCCDD\r");
    r = Run({"reg", "read", "24", "1", "--json"});
    EXPECT_EQ(r.out, "{\"ok\":true,\"value\":221,\"RegisterData\":\"AABBCCDD\"}\n");

    ExpectAdapter();
    ExpectRead(0x18, 1, "0x26:\r");
    r = Run({"reg", "read", "0x18", "1", "--json"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out,
              "{\"ok\":false,\"LastErrorText\":\"Invalid register address\\r\\nsCmd: R:0001:00000018 RCV: "
              "0x26:\",\"ErrComm\":0}\n");

    ExpectAdapter();
    ExpectWrite(0x12, 2, 32000);
    r = Run({"reg", "write", "0x12", "2", "32000"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "value: 32000\n");

    ExpectAdapter();
    ExpectWrite(0x12, 2, 32000, "0xF6\r");
    r = Run({"reg", "write", "0x12", "2", "32000"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "tarvo-cli: Write access is locked\r\nsCmd: W:0002:00000012:00007D00 RCV: 0xF6\n");
}

TEST_F(Cli, PowerAndClock) {
    ExpectAdapter();
    peer.Add("V3", "V3\r");
    peer.Add("n", "ON\r");
    peer.Add("e", " 3.3V ON, 42 mA \r");
    auto r = Run({"power", "on", "--volts", "3.3"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "command: V3\nreply: V3\non: ON\nstatus: 3.3V ON, 42 mA\n");

    // A refused voltage is reported, and the supply is still switched on as the window does.
    ExpectAdapter();
    peer.Add("V5", "ERR\r");
    peer.Add("n", "ON\r");
    peer.Add("e", "5V ON\r");
    r = Run({"power", "on", "--json"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(
        r.out,
        "{\"ok\":false,\"LastErrorText\":\"Setting power supply (V5) not successfull! (ERR)\",\"ErrComm\":0,"
        "\"status\":\"5V ON\"}\n");

    ExpectAdapter();
    peer.Add("M8", "OK\r");
    peer.Add("m", "12 MHz\r");
    r = Run({"clock", "8"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "step: 8\nFrequency: 12 MHz\n");
}

TEST_F(Cli, EncoderCommandsIdentifyFirst) {
    ExpectAdapter();
    ExpectIdentification();
    ExpectWrite(0x14, 4, 0xFFFF);
    ExpectWrite(0x49, 1, 0x6D);
    auto r = Run({"preset-mt", "-1"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "MT_preset: 65535\n");

    ExpectAdapter();
    ExpectIdentification();
    ExpectWrite(0x49, 1, 0x63, "0x96\r");
    r = Run({"save", "--json"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(
        r.out,
        "{\"ok\":false,\"LastErrorText\":\"Access denied\\r\\nsCmd: W:0001:00000049:00000063 RCV: 0x96\","
        "\"ErrComm\":0}\n");

    // write-status and reset talk to the device as it is.
    ExpectAdapter();
    ExpectRead(0x0E, 1, 0x40);
    r = Run({"write-status"});
    EXPECT_EQ(r.out, "Write status: [0x40] Command executed\n");
    ExpectAdapter();
    peer.Add("x", "Reset of Velcor protocol performed\r");
    r = Run({"reset", "--json"});
    EXPECT_EQ(r.out, "{\"ok\":true,\"LastErrorText\":\"Reset of Velcor protocol performed\"}\n");
}

TEST_F(Cli, SelfCalibrationStatus) {
    ExpectAdapter();
    ExpectIdentification();
    ExpectRead(0x52, 1, 0x21);
    ExpectRead(0x1B, 2, 12);
    ExpectRead(0x1D, 2, 270);
    ExpectRead(0x1F, 2, 0xFFFD);
    const auto r = Run({"selfcal", "status"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out,
              "SelfCalStatus: 00100001\nEccentricity: 12 um\nEcc phase: 270 deg\nRadial shift: -3 um\n");
}

TEST(CliUsageEncoder, BadUsageExitsTwoAndHelpOnEveryLevel) {
    const std::vector<std::vector<std::string>> bad = {
        {"read", "--count", "0"},
        {"read", "--count"},
        {"read", "extra"},
        {"reg", "read", "0x18"},
        {"reg", "read", "x", "1"},
        {"reg", "read", "1", "256"},
        {"reg", "write", "1", "1"},
        {"power"},
        {"power", "off", "--volts", "5"},
        {"power", "on", "--volts", "12"},
        {"clock", "9"},
        {"clock", "0"},
        {"preset-mt", "65536"},
        {"preset-mt", "-32769"},
        {"selfcal", "go"},
        {"selfcal", "status", "--arc", "5"},
        {"identify", "--bogus"},
        {"find", "--port"},
    };
    for (const auto& args : bad) {
        const auto r = RunProgram(TARVO_CLI_PATH, args);
        EXPECT_EQ(r.exitCode, 2) << args[0] << " " << args[1];
        // One line with the problem, one pointing to the subcommand's help.
        EXPECT_EQ(r.err.rfind("tarvo-cli: ", 0), 0u) << r.err;
        EXPECT_EQ(r.err.substr(r.err.find('\n') + 1), "Try 'tarvo-cli " + args[0] + " --help'.\n") << r.err;
    }
    for (const char* sub : {"find", "power", "clock", "identify", "read", "reg", "errmap", "debug", "selfcal",
                            "save", "factory-reset", "preset-mt", "clear-status", "write-status", "reset"}) {
        const auto r = RunProgram(TARVO_CLI_PATH, {sub, "--help"});
        EXPECT_EQ(r.exitCode, 0) << sub;
        EXPECT_EQ(r.out.rfind(std::string("Usage: tarvo-cli ") + sub, 0), 0u) << sub;
    }
}

TEST(CliJson, StringsAreAlwaysValidJson) {
    EXPECT_EQ(cli::JsonString("a\"b\\c\r\n\t"), "\"a\\\"b\\\\c\\r\\n\\t\"");
    EXPECT_EQ(cli::JsonString(std::string("\x01\x7F", 2)), "\"\\u0001\\u007F\"");
    // UTF-8 passes; a lone high byte is its Latin-1 character.
    EXPECT_EQ(cli::JsonString("dol\xC5\xBEina"), "\"dol\xC5\xBEina\"");
    EXPECT_EQ(cli::JsonString("\xFF\xC5"), "\"\\u00FF\\u00C5\"");
}

} // namespace

namespace {

// The whole path against the simulated adapter and encoder: supply on, identify, read.
TEST(CliAgainstSimulator, PowerOnIdentifyAndRead) {
    sim::SimOptions options;
    options.preset = "t5";
    sim::K310Simulator simulator(options);
    std::string error;
    ASSERT_TRUE(simulator.Start(&error)) << error;
    const std::vector<std::string> port = {"--port", simulator.SlavePath()};
    auto run = [&](std::vector<std::string> args) {
        args.insert(args.end(), port.begin(), port.end());
        return RunProgram(TARVO_CLI_PATH, args);
    };

    auto r = run({"identify"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err.rfind("tarvo-cli: Problem 2 pri branju identa: j -> ", 0), 0u) << r.err;

    r = run({"power", "on"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(simulator.SupplyOn());

    r = run({"identify", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (const char* field :
         {"\"ok\":true", "\"EncoderType\":5,", "\"SingleTurnBits\":19,", "\"Layout\":\"new\"",
          "\"HasMtErrThreshold\":true", "\"HasPersistentStatus\":true", "\"HasSignalLevel\":true",
          "\"HasSelfCalTimeout\":true", "\"HasFirmwareRevision\":true", "\"LenFwVersion\":4,",
          "\"LenFwVerSvn\":4,"})
        EXPECT_NE(r.out.find(field), std::string::npos) << field << " in " << r.out;

    simulator.SetPosition(1234);
    r = run({"read", "--count", "100"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    size_t lines = 0;
    for (size_t at = 0; (at = r.out.find(" ST_value=1234 ", at)) != std::string::npos; ++at)
        ++lines;
    EXPECT_EQ(lines, 100u) << r.out.substr(0, 300);
    EXPECT_EQ(r.out.find("ErrCRC=1"), std::string::npos);
}

TEST(CliAgainstSimulator, SelfCalibrationErrorMapAndDebugData) {
    sim::SimOptions options;
    options.preset = "t6";
    options.powerOn = true;
    options.selfCalSeconds = 0.6;
    sim::K310Simulator simulator(options);
    std::string error;
    ASSERT_TRUE(simulator.Start(&error)) << error;
    auto run = [&](std::vector<std::string> args) {
        args.push_back("--port");
        args.push_back(simulator.SlavePath());
        return RunProgram(TARVO_CLI_PATH, args);
    };

    auto r = run({"selfcal", "start", "--arc", "180", "--wait", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("\"finished\":true"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Eccentricity: "), std::string::npos) << r.out;
    uint32_t arc = 0;
    ASSERT_TRUE(simulator.PeekRegister(0xC4, 2, arc));
    EXPECT_EQ(arc, 180u);

    r = run({"errmap"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::vector<int> values;
    for (size_t at = 0, end; (end = r.out.find('\n', at)) != std::string::npos; at = end + 1)
        values.push_back(std::stoi(r.out.substr(at, end - at)));
    ASSERT_EQ(values.size(), 512u);
    simulator.Inspect([&](sim::SimDevice& d, double) {
        for (int i = 0; i < 512; ++i)
            ASSERT_EQ(values[static_cast<size_t>(i)], d.ErrorMapEntry(i)) << i;
    });

    r = run({"debug", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(r.out.rfind("{\"ok\":true,\"Header\":", 0), 0u) << r.out;
}

} // namespace
