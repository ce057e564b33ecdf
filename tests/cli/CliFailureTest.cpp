// tarvo-cli when things go wrong around it: standard streams closed or failing, candidates that
// are no adapter, late replies, lost ports and failed readings in long runs, options without
// their values, and raw reply bytes on the terminal.
#include "CliFixture.h"
#include "K310Simulator.h"
#include "Orodja.h"
#include "SerialPort.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using clitest::Cli;
using testing_support::Exchange;
using testing_support::ProgramStreams;
using testing_support::RunProgram;
using testing_support::ScriptedPeer;

namespace {

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// A program started with standard output or error closed must not open the adapter's port on
// that number: its own text would go to the adapter.
TEST_F(Cli, ClosedStandardStreamsNeverReachTheAdapter) {
    struct Row {
        int closed;
        std::vector<std::string> args;
        std::vector<std::string> replies; // to the readings
        int exitCode;
    } rows[] = {
        {1, {"read", "--count", "3"}, {"48D14391\r", "48D14391\r", "48D14391\r"}, 0},
        // The wrong-length report is a failed reading, reported on standard error.
        {2, {"read", "--count", "3", "--detailed"}, {"S:0000 P:012345\r", "S:00\r", "S:0000 P:012345\r"}, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.closed);
        ExpectAdapter();
        ExpectIdentification();
        const std::string command = row.args.back() == "--detailed" ? "d" : "?04:000";
        for (const auto& reply : row.replies)
            peer.Add(command, reply);
        ProgramStreams streams;
        streams.closed = {row.closed};
        const auto r = Run(row.args, streams);
        EXPECT_EQ(r.exitCode, row.exitCode) << r.err;
        ASSERT_TRUE(peer.WaitIdle());
        std::this_thread::sleep_for(std::chrono::milliseconds(30)); // stray bytes would be here now
        const std::string received = peer.ReceivedText();
        EXPECT_EQ(received.find("RxData"), std::string::npos) << received;
        EXPECT_EQ(received.find("tarvo-cli"), std::string::npos) << received;
        EXPECT_EQ(Count(received, command), row.replies.size()) << received;
        EXPECT_EQ(peer.Unexpected(), "");
    }
}

// Output that cannot be written is a failure: a script must not take a run for a success whose
// results went nowhere.
TEST_F(Cli, AFailingStandardOutputIsAnError) {
    ProgramStreams full;
    full.outFile = "/dev/full";

    ExpectAdapter();
    auto r = Run({"find"}, full);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "tarvo-cli: cannot write standard output: No space left on device\n");

    // A long run stops at the first reading that cannot be written.
    ExpectAdapter();
    ExpectIdentification();
    for (int i = 0; i < 5; ++i)
        peer.Add("?04:000", "48D14391\r");
    r = Run({"read", "--count", "5"}, full);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "tarvo-cli: cannot write standard output: No space left on device\n");
    EXPECT_EQ(Count(peer.ReceivedText(), "?04:000"), 1u);

    r = RunProgram(TARVO_CLI_PATH, {"crc", "48D143"}, full);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "tarvo-cli: cannot write standard output: No space left on device\n");
}

TEST_F(Cli, KeepGoingReportsAFailedReadingAndReadsOn) {
    struct Row {
        bool keepGoing;
        size_t readings; // lines printed
    } rows[] = {{false, 1}, {true, 2}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.keepGoing);
        ExpectAdapter();
        ExpectIdentification();
        peer.Add("?04:000", "48D14391\r");
        peer.Add(Exchange{"?04:000", {}}); // no answer in time
        if (row.keepGoing) peer.Add("?04:000", "48D14391\r");
        std::vector<std::string> args = {"read", "--count", "3"};
        if (row.keepGoing) args.push_back("--keep-going");
        const auto r = Run(args);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(Count(r.out, "RxData=48D14391 "), row.readings) << r.out;
        EXPECT_EQ(r.err, "tarvo-cli: reading 2: USB Comm Err -1\n");
        ASSERT_TRUE(peer.WaitIdle(1500));
    }
}

TEST_F(Cli, KeepGoingStillEndsOnALostPort) {
    ExpectAdapter();
    ExpectIdentification();
    peer.Add("?04:000", "48D14391\r");
    peer.Add(Exchange{"?04:000", {}, true}); // unplugged while the reading awaits its reply
    const auto r = Run({"read", "--count", "4", "--keep-going"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(Count(r.out, "RxData="), 1u) << r.out;
    EXPECT_EQ(r.err, "tarvo-cli: reading 2: USB Comm Err -5\n");
}

// An adapter's ERROR line or line noise in place of a frame fails the reading; an encoder that
// reports its own error and warning bits in a sound frame does not.
TEST_F(Cli, AReplyThatFailsItsCrcIsAFailedReading) {
    const std::string activeLow = "48D140" + clitest::Hex(Orodja::HexFrameCrc8("48D140"), 2);
    struct Row {
        const char* name;
        std::string reply;
        bool failed;
    } rows[] = {
        {"adapter ERROR line", "ERROR 3", true},
        {"line noise", "Zq7#", true},
        {"nothing", "", true},
        {"sound frame, encoder error and warning", activeLow, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        for (const bool json : {false, true}) {
            ExpectAdapter();
            ExpectIdentification();
            peer.Add("?04:000", row.reply + "\r");
            peer.Add("?04:000", "48D14391\r");
            std::vector<std::string> args = {"read", "--count", "2"};
            if (json) args.push_back("--json");
            const auto r = Run(args);
            EXPECT_EQ(r.exitCode, row.failed ? 1 : 0) << r.out << r.err;
            if (json) {
                const std::string first = r.out.substr(0, r.out.find('\n'));
                EXPECT_EQ(first.find(R"("ok":false)") != std::string::npos, row.failed) << first;
                if (row.failed) {
                    EXPECT_NE(first.find(R"("LastErrorText":"CRC error in reply \")" + row.reply + R"(\"")"),
                              std::string::npos)
                        << first;
                }
                EXPECT_NE(first.find(R"("ErrCRC":)" + std::string(row.failed ? "true" : "false")),
                          std::string::npos);
            } else if (row.failed) {
                EXPECT_EQ(r.err, "tarvo-cli: reading 1: CRC error in reply \"" + row.reply + "\"\n");
                // Still a line for it (with ErrCRC=1), and the next reading goes on.
                EXPECT_NE(r.out.find("ErrCRC=1 "), std::string::npos) << r.out;
                EXPECT_NE(r.out.find("\nRxData=48D14391 "), std::string::npos) << r.out;
            } else {
                EXPECT_EQ(r.err, "");
                EXPECT_NE(r.out.find("ErrBit=1 WarnBit=1 ErrCRC=0"), std::string::npos) << r.out;
            }
            ASSERT_TRUE(peer.WaitIdle(1500));
        }
    }
}

TEST_F(Cli, AnOptionWithoutItsValueIsNamed) {
    struct Row {
        std::vector<std::string> args;
        std::string problem;
    } rows[] = {
        {{"read", "--count", "--port", "/dev/null"}, "tarvo-cli: --count needs a value\n"},
        {{"selfcal", "start", "--arc", "--wait"}, "tarvo-cli: --arc needs a value\n"},
        {{"find", "--port", "--json"}, "tarvo-cli: --port needs a value\n"},
        {{"send", "--port", "--pace", "3", "v"}, "tarvo-cli: --port needs a value\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args[1]);
        const auto r = RunProgram(TARVO_CLI_PATH, row.args);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_EQ(r.err.rfind(row.problem, 0), 0u) << r.err;
    }
}

// Reply bytes may be anything; on a terminal a control sequence among them would be obeyed.
TEST_F(Cli, RawReplyBytesReachTheTerminalOnlyAsPrintableText) {
    ExpectAdapter();
    ExpectRead(0x18, 1, "\x1B[2J0x26\x07:\r");
    auto r = Run({"reg", "read", "0x18", "1"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "tarvo-cli: Other Error reading register\r\nsCmd: R:0001:00000018 RCV: [2J0x26:\n");

    ExpectAdapter();
    peer.Add("e", "Supply 5.0 V\x1B]0;x\x07 ON, 48 mA\r");
    r = Run({"power", "status"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "status: Supply 5.0 V]0;x ON, 48 mA\n");

    // Our own texts keep their letters.
    ExpectAdapter();
    ExpectIdentification();
    peer.Add("d", "S:00\r");
    r = Run({"read", "--detailed"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "tarvo-cli: reading 1: Nepravilna dol\xC5\xBEina podatkov za ukaz \"d\" (S:00)!\n");
}

// Every candidate that is not taken says why, so "no adapter found" can be acted on.
TEST(CliDiscovery, EveryPortTriedSaysWhyItWasNotTaken) {
    ScriptedPeer silent, erroring, garbage, held;
    erroring.Add("v", "ERROR unknown command\r");
    garbage.Add("v", "\x01\x1B[2JHELLO\xFF\xFE\r");
    const platform::PortHandle holder = platform::OpenPort(held.SlavePath());
    ASSERT_TRUE(holder.IsValid());
    const std::string file = ::testing::TempDir() + "tarvo-cli-not-a-port";
    std::ofstream(file) << "v\n";

    const auto r =
        RunProgram(TARVO_CLI_PATH, {"find", "--port", "/dev/tarvo-none", "--port", "/dev/null", "--port",
                                    file, "--port", silent.SlavePath(), "--port", erroring.SlavePath(),
                                    "--port", garbage.SlavePath(), "--port", held.SlavePath()});
    platform::ClosePort(holder);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "tarvo-cli: no K310-7K adapter found\n"
                     "  /dev/tarvo-none: cannot open: No such file or directory\n"
                     "  /dev/null: not a serial port: Inappropriate ioctl for device\n"
                     "  " +
                         file +
                         ": not a serial port: Inappropriate ioctl for device\n"
                         "  " +
                         silent.SlavePath() +
                         ": no answer to \"v\" within 400 ms\n"
                         "  " +
                         erroring.SlavePath() +
                         ": answered \"ERROR unknown command\", not a K310-7K\n"
                         "  " +
                         garbage.SlavePath() +
                         ": answered \"[2JHELLO\", not a K310-7K\n"
                         "  " +
                         held.SlavePath() + ": busy: another program has it open\n");
    ::unlink(file.c_str());
}

// The adapter speaks only when asked, so a reply that comes after its command timed out is
// stale: it must not be read as the answer to the next command, in this run or the next.
TEST(CliAgainstSimulator, ALateReplyIsNotTheAnswerToTheNextCommand) {
    for (const char* late : {"v", "j"}) {
        SCOPED_TRACE(late);
        sim::SimOptions options;
        options.powerOn = true;
        sim::K310Simulator simulator(options);
        std::string error;
        ASSERT_TRUE(simulator.Start(&error)) << error;
        const std::string port = simulator.SlavePath();
        simulator.Control("delay 450");
        auto r = RunProgram(TARVO_CLI_PATH, {"send", "--port", port, late});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.out, "result -1\nreply \n");
        simulator.Control("delay 0");
        std::this_thread::sleep_for(std::chrono::milliseconds(120)); // the late reply is in by now
        r = RunProgram(TARVO_CLI_PATH, {"find", "--port", port});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_NE(r.out.find("\nK310Version: K310-7K v1.09\n"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("\nSerijskaK310: K7A2039104\n"), std::string::npos) << r.out;
    }
}

} // namespace
