// The transaction against a scripted device on a real pseudo-terminal.
#include "Clock.h"
#include "K310_BiSS_bidirectional.h"
#include "PseudoTerminal.h"
#include "ScriptedPeer.h"
#include "SerialPort.h"
#include "Serial_driver.h"
#include "StandardDescriptors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono;
using testing_support::Exchange;
using testing_support::ScriptedPeer;

namespace {

class Transaction : public ::testing::Test {
protected:
    void SetUp() override {
        Serial_driver::ResetSerialDriverState();
        int err = 0;
        port = platform::OpenPort(peer.SlavePath(), &err);
        ASSERT_TRUE(port.IsValid()) << platform::ErrorText(err);
        platform::LineSettings s;
        ASSERT_TRUE(platform::ReadLineSettings(port, s));
        ASSERT_TRUE(platform::ApplyAdapterLineSettings(port, s));
    }
    void TearDown() override {
        if (port.IsValid()) platform::ClosePort(port);
        Serial_driver::ResetSerialDriverState();
        platform::SetTickOffsetForTests(0);
    }

    int32_t Send(const std::string& cmd, uint32_t n, std::string& reply) {
        return Serial_driver::SendCommand(port, cmd, n, reply);
    }
    // Until bytes the peer wrote have reached the port's input queue.
    bool WaitForWaitingBytes() {
        for (int i = 0; i < 200; ++i) {
            if (platform::BytesWaiting(port) > 0) return true;
            std::this_thread::sleep_for(milliseconds(1));
        }
        return false;
    }

    ScriptedPeer peer;
    platform::PortHandle port;
};

TEST_F(Transaction, CompletesOnCrOrOnTheNthByte) {
    struct Case {
        const char* name;
        std::string command;
        uint32_t n;
        std::vector<testing_support::Piece> pieces;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"single line", "e", 0, {{"5V ON\r", 0}}, "5V ON\r"},
        {"pieces are joined", "j", 0, {{"27", 0}, {"P19B", 15}, {"XYZ\r", 15}}, "27P19BXYZ\r"},
        {"bytes after the CR are kept", "x", 0, {{"AB\rCD", 0}}, "AB\rCD"},
        {"N counts bytes, CR or not", "v", 7, {{"K310", 0}, {"-7K", 15}}, "K310-7K"},
        {"N > 0 takes every waiting byte", "v", 7, {{"K310-7K v1.09\r", 0}}, "K310-7K v1.09\r"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        peer.Add(Exchange{c.command, c.pieces});
        std::string reply = "stale";
        EXPECT_EQ(Send(c.command, c.n, reply), 0);
        EXPECT_EQ(reply, c.expected);
        ASSERT_TRUE(peer.WaitIdle());
    }
}

TEST_F(Transaction, AllWaitingBytesAreTakenInOnePoll) {
    // 13 bytes already waiting when N = 7: all of them are returned.
    peer.Inject("K310-7K v1.09");
    std::this_thread::sleep_for(milliseconds(20));
    std::string reply;
    EXPECT_EQ(Send("", 7, reply), 0);
    EXPECT_EQ(reply, "K310-7K v1.09");
}

// The adapter speaks only when asked: whatever waits when a command is about to go out belongs
// to an earlier one (the tail of a reply taken by its byte count, a reply that came after its
// time-out) and would otherwise be read as this command's answer.
TEST_F(Transaction, StaleBytesAreDiscardedBeforeEveryCommand) {
    peer.Add("v", "K310-7K");
    std::string reply;
    ASSERT_EQ(Send("v", 7, reply), 0);
    EXPECT_EQ(reply, "K310-7K");
    ASSERT_TRUE(peer.WaitIdle());
    // The rest of the line arrives after the transaction has ended.
    peer.Inject(" v1.09\r");
    ASSERT_TRUE(WaitForWaitingBytes());
    peer.Add("r", "SN42\r");
    ASSERT_EQ(Send("r", 0, reply), 0);
    EXPECT_EQ(reply, "SN42\r");
    ASSERT_TRUE(peer.WaitIdle());

    // A reply that comes after its command timed out.
    Serial_driver::ReplyTimeoutMs = 40;
    peer.Add(Exchange{"j", {{"27TRV-2-AN18B-0100\r", 80}}});
    ASSERT_EQ(Send("j", 0, reply), -1);
    ASSERT_TRUE(peer.WaitIdle());
    ASSERT_TRUE(WaitForWaitingBytes());
    peer.Add("e", "5V ON\r");
    ASSERT_EQ(Send("e", 0, reply), 0);
    EXPECT_EQ(reply, "5V ON\r");
}

// An empty command writes nothing, so it collects what is still coming of the last reply.
TEST_F(Transaction, AnEmptyCommandKeepsWhatWaits) {
    peer.Inject("0x9:0x0000012C\r");
    ASSERT_TRUE(WaitForWaitingBytes());
    std::string reply;
    ASSERT_EQ(Send("", 0, reply), 0);
    EXPECT_EQ(reply, "0x9:0x0000012C\r");
}

TEST(SerialPort, OpeningAPortDiscardsWhatWaitsThere) {
    ScriptedPeer peer;
    peer.Inject("K310-7K v1.09\r"); // left from an earlier user of the port
    std::this_thread::sleep_for(milliseconds(20));
    const platform::PortHandle port = platform::OpenPort(peer.SlavePath());
    ASSERT_TRUE(port.IsValid());
    EXPECT_EQ(platform::BytesWaiting(port), 0);
    platform::ClosePort(port);
}

TEST_F(Transaction, SilenceTimesOutWithAnEmptyReplyAfterTheReplyTime) {
    peer.Add(Exchange{"n", {}});
    std::string reply = "previous";
    const auto t0 = steady_clock::now();
    EXPECT_EQ(Send("n", 0, reply), -1);
    const auto took = duration_cast<milliseconds>(steady_clock::now() - t0).count();
    EXPECT_EQ(reply, "");
    EXPECT_GE(took, 400);
    EXPECT_LT(took, 1500);
}

TEST_F(Transaction, PartialReplyAtTimeOutIsHandedBack) {
    Serial_driver::ReplyTimeoutMs = 60;
    peer.Add(Exchange{"m", {{"1.5 M", 0}}});
    std::string reply;
    EXPECT_EQ(Send("m", 0, reply), -1);
    EXPECT_EQ(reply, "1.5 M");
}

TEST_F(Transaction, ElapsedTimeSurvivesTheTickCounterWrapping) {
    // Start 30 ms before the 32-bit counter wraps; a signed or naive difference would end the
    // wait at once or never.
    platform::SetTickOffsetForTests(0u - platform::TickCountMs() - 30u);
    Serial_driver::ReplyTimeoutMs = 100;
    peer.Add(Exchange{"e", {}});
    std::string reply;
    const auto t0 = steady_clock::now();
    EXPECT_EQ(Send("e", 0, reply), -1);
    const auto took = duration_cast<milliseconds>(steady_clock::now() - t0).count();
    EXPECT_GE(took, 100);
    EXPECT_LT(took, 1000);
}

// The wait hook gets the time a slow reply leaves: once per transaction that waits, however the
// reply comes in pieces, and a reply that arrives while it runs is still taken whole.
TEST_F(Transaction, TheWaitHookRunsOncePerWaitingTransaction) {
    int calls = 0;
    Serial_driver::SetWaitHook([&] {
        ++calls;
        std::this_thread::sleep_for(milliseconds(30)); // longer than the device takes
    });
    peer.Add(Exchange{"j", {{"27", 5}, {"P19B", 15}, {"\r", 15}}});
    std::string reply;
    EXPECT_EQ(Send("j", 0, reply), 0);
    EXPECT_EQ(reply, "27P19B\r");
    EXPECT_EQ(calls, 1);
    ASSERT_TRUE(peer.WaitIdle());

    // A silent device: still once, and the time-out still holds.
    peer.Add(Exchange{"v", {}});
    const auto start = steady_clock::now();
    EXPECT_EQ(Send("v", 0, reply), Serial_driver::kReplyTimedOut);
    EXPECT_LT(steady_clock::now() - start, milliseconds(Serial_driver::ReplyTimeoutMs + 300));
    EXPECT_EQ(calls, 2);
    Serial_driver::SetWaitHook({});
}

TEST_F(Transaction, HungUpPeerFailsTheWriteWithTheOsCodeAndLeavesTheReply) {
    Serial_driver::TraceEnabled = true;
    peer.HangUp();
    // The kernel hangs the terminal end up shortly after the device end closes; wait for that,
    // as an unplug happens well before the next command.
    for (int i = 0; i < 100 && platform::WaitReadable(port, 10) != platform::WaitResult::HungUp; ++i) {
    }
    std::string reply = "untouched";
    const int32_t r = Send("v", 7, reply);
    EXPECT_LT(r, -3);
    EXPECT_EQ(r, -EIO);
    EXPECT_EQ(reply, "untouched");
    EXPECT_EQ(Serial_driver::TraceText, "");
}

// An unplugged adapter while its reply is awaited: the port is lost, which the caller must hear
// at once (to search for the adapter again) rather than as a time-out 400 ms later.
TEST_F(Transaction, HangUpWhileTheReplyIsAwaitedEndsTheTransactionAsALostPort) {
    Serial_driver::TraceEnabled = true;
    peer.Add(Exchange{"?04:000", {{"48D14391\r", 350}}});
    std::thread unplug([&] {
        std::this_thread::sleep_for(milliseconds(60));
        peer.HangUp();
    });
    std::string reply;
    const auto t0 = steady_clock::now();
    const int32_t r = Send("?04:000", 0, reply);
    const auto took = duration_cast<milliseconds>(steady_clock::now() - t0).count();
    unplug.join();
    EXPECT_EQ(r, -EIO);
    EXPECT_LT(took, static_cast<long>(Serial_driver::ReplyTimeoutMs));
    EXPECT_EQ(reply, "");
    EXPECT_EQ(Serial_driver::TraceText, "TX:?04:000\r\nRX:\r\n");
}

TEST_F(Transaction, PacedBytesArriveInOrderWithTheirPauses) {
    peer.Add("R:0004:00000049", "0x9:000000A5\r");
    std::string reply;
    const std::string command = "R:0004:00000049";
    ASSERT_EQ(Serial_driver::SendCommandPaced(port, command, 3, 0, reply), 0);
    EXPECT_EQ(reply, "0x9:000000A5\r");
    const auto got = peer.Received();
    ASSERT_EQ(got.size(), command.size());
    for (size_t i = 0; i < got.size(); ++i)
        EXPECT_EQ(got[i].byte, command[i]);
    const auto span = duration_cast<milliseconds>(got.back().at - got.front().at).count();
    EXPECT_GE(span, 3 * static_cast<long>(command.size() - 1) - 2);
}

TEST_F(Transaction, TraceAddsTwoLinesPerExchangeAlsoOnTimeOut) {
    Serial_driver::TraceEnabled = true;
    Serial_driver::ReplyTimeoutMs = 50;
    peer.Add("n", "ON 5V\r");
    peer.Add(Exchange{"e", {{"5.0", 0}}});
    std::string reply;
    ASSERT_EQ(Send("n", 0, reply), 0);
    ASSERT_EQ(Send("e", 0, reply), -1);
    EXPECT_EQ(Serial_driver::TraceText, "TX:n\r\nRX:ON 5V\r\r\nTX:e\r\nRX:5.0\r\n");
    Serial_driver::ShutdownSerialDriver();
    EXPECT_EQ(Serial_driver::TraceText, "");
}

TEST_F(Transaction, CommandsGoOutExactlyAsGiven) {
    peer.Add("W:0001:00000049:00000041", "0x9\r");
    std::string reply;
    ASSERT_EQ(Send("W:0001:00000049:00000041", 0, reply), 0);
    ASSERT_TRUE(peer.WaitIdle());
    std::this_thread::sleep_for(milliseconds(10));
    EXPECT_EQ(peer.ReceivedText(), "W:0001:00000049:00000041");
}

TEST(SerialPort, ASecondOpenOfAPortInUseFails) {
    ScriptedPeer peer;
    int err = 0;
    const platform::PortHandle first = platform::OpenPort(peer.SlavePath(), &err);
    ASSERT_TRUE(first.IsValid());
    const platform::PortHandle second = platform::OpenPort(peer.SlavePath(), &err);
    EXPECT_FALSE(second.IsValid());
    EXPECT_EQ(err, EBUSY);
    EXPECT_TRUE(platform::IsBusyError(err));
    platform::ClosePort(first);
    const platform::PortHandle again = platform::OpenPort(peer.SlavePath(), &err);
    EXPECT_TRUE(again.IsValid()) << "closing must release the port";
    platform::ClosePort(again);
}

TEST(SerialPort, AClientKilledOnAPseudoTerminalLeavesNoExclusiveFlag) {
    // A killed client closes its descriptor without clearing anything; the simulator keeps the
    // terminal open, so a flag left behind would refuse every later ordinary user.
    ScriptedPeer peer;
    const platform::PortHandle port = platform::OpenPort(peer.SlavePath());
    ASSERT_TRUE(port.IsValid());
    ::close(static_cast<int>(port.Value()));
    const int probe = ::open(peer.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(probe, 0);
    int exclusive = -1;
    ASSERT_EQ(::ioctl(probe, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    ::close(probe);
}

TEST(SerialPort, AdapterLineSettingsKeepOtherFieldsAndRestore) {
    ScriptedPeer peer;
    const platform::PortHandle port = platform::OpenPort(peer.SlavePath());
    ASSERT_TRUE(port.IsValid());
    platform::LineSettings before, applied, after;
    ASSERT_TRUE(platform::ReadLineSettings(port, before));
    ASSERT_TRUE(platform::ApplyAdapterLineSettings(port, before));
    ASSERT_TRUE(platform::ReadLineSettings(port, applied));
    ASSERT_TRUE(platform::WriteLineSettings(port, before));
    ASSERT_TRUE(platform::ReadLineSettings(port, after));
    EXPECT_EQ(0, std::memcmp(before.raw, after.raw, sizeof before.raw));
    platform::ClosePort(port);
}

TEST(SharedState, ShutdownClosesAnOpenPortOnce) {
    namespace s = K310_BiSS_bidirectional;
    ScriptedPeer peer;
    s::ResetSharedState();
    s::PortHandle = platform::OpenPort(peer.SlavePath());
    ASSERT_TRUE(s::PortHandle.IsValid());
    s::LastErrorText = "x";
    s::ShutdownSharedState();
    EXPECT_FALSE(s::PortHandle.IsValid());
    EXPECT_EQ(s::LastErrorText, "");
    s::ShutdownSharedState(); // nothing left to close
    EXPECT_FALSE(s::PortHandle.IsValid());
    // The port is free again.
    const platform::PortHandle again = platform::OpenPort(peer.SlavePath());
    EXPECT_TRUE(again.IsValid());
    platform::ClosePort(again);
}

TEST(SharedState, StartValues) {
    namespace s = K310_BiSS_bidirectional;
    s::ResetSharedState();
    EXPECT_FALSE(s::PortHandle.IsValid());
    for (auto b : s::RegisterData)
        EXPECT_EQ(b, 0);
    EXPECT_EQ(s::EncoderPosition.ErrComm, 0);
    EXPECT_FALSE(s::EncoderPosition.ErrCRC);
    EXPECT_EQ(s::EncoderSignature.Dremo_FWverHash, 0u);
    EXPECT_EQ(Serial_driver::ReplyTimeoutMs, 400u);
    EXPECT_FALSE(Serial_driver::TraceEnabled);
}

// A program started with a standard stream closed would open the adapter's port on that number
// and write its own text to the adapter.
TEST(StandardDescriptors, ClosedOnesAreOpenedOnDevNullSoAPortGetsANumberOfItsOwn) {
    for (const std::vector<int>& closed : std::vector<std::vector<int>>{{0}, {1}, {2}, {0, 1, 2}}) {
        const pid_t child = ::fork();
        if (child == 0) {
            // Nothing here may use the standard streams: the exit status is the answer.
            for (int fd : closed)
                ::close(fd);
            if (!platform::EnsureStandardDescriptors()) ::_exit(10);
            for (int fd = 0; fd <= 2; ++fd) {
                char target[64] = {};
                const std::string link = "/proc/self/fd/" + std::to_string(fd);
                if (::readlink(link.c_str(), target, sizeof target - 1) < 0) ::_exit(20 + fd);
                const bool wasClosed = std::find(closed.begin(), closed.end(), fd) != closed.end();
                if (wasClosed && std::string(target) != "/dev/null") ::_exit(30 + fd);
            }
            platform::PseudoTerminal pty;
            if (!pty.Open(false)) ::_exit(40);
            const platform::PortHandle port = platform::OpenPort(pty.SlavePath());
            ::_exit(port.Value() > 2 ? 0 : 50);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << "closed " << closed.size() << " starting with " << closed[0];
    }
}

} // namespace
