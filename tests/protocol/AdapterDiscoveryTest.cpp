// Finding the adapter among candidate ports, each a real pseudo-terminal with a scripted device.
#include "AdapterDiscovery.h"
#include "ScriptedPeer.h"
#include "SerialPort.h"
#include "Serial_driver.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <termios.h>
#include <thread>
#include <unistd.h>

using testing_support::Exchange;
using testing_support::ScriptedPeer;
namespace D = AdapterDiscovery;
namespace fs = std::filesystem;

namespace {

class Discovery : public ::testing::Test {
protected:
    void SetUp() override {
        Serial_driver::ResetSerialDriverState();
        Serial_driver::ReplyTimeoutMs = 80;
    }
    void TearDown() override {
        if (result.handle.IsValid()) platform::ClosePort(result.handle);
        Serial_driver::ResetSerialDriverState();
    }
    static void AdapterAnswers(ScriptedPeer& p, std::vector<testing_support::Piece> version) {
        p.Add(Exchange{"v", std::move(version)});
        p.Add("r", " SN-0042 \r");
        p.Add("o", "17\r");
    }
    D::Result result;
};

TEST_F(Discovery, FirstAdapterAmongTheCandidatesStaysOpen) {
    ScriptedPeer other, adapter, second;
    other.Add("v", "HELLO FROM A MODEM\r");
    termios before{};
    {
        const platform::PortHandle port = platform::OpenPort(other.SlavePath());
        ASSERT_TRUE(port.IsValid());
        const int fd = static_cast<int>(port.Value());
        // Settings of its own that the probe's 115200 8N1 raw would change.
        ASSERT_EQ(::tcgetattr(fd, &before), 0);
        cfsetispeed(&before, B9600);
        cfsetospeed(&before, B9600);
        before.c_cflag = (before.c_cflag & ~CSIZE) | CS7 | PARENB;
        ASSERT_EQ(::tcsetattr(fd, TCSANOW, &before), 0);
        ASSERT_EQ(::tcgetattr(fd, &before), 0);
        platform::ClosePort(port);
    }
    AdapterAnswers(adapter, {{"K310-7K v1.09\r", 0}});
    const std::string missing = "/dev/tarvo-no-such-port";
    int between = 0;
    result = D::FindAdapter(
        {},
        [&] {
            return std::vector<D::Candidate>{
                {missing, 1}, {other.SlavePath(), 2}, {adapter.SlavePath(), 3}, {second.SlavePath(), 4}};
        },
        [&] { ++between; });
    ASSERT_TRUE(result.found);
    EXPECT_EQ(result.port.path, adapter.SlavePath());
    EXPECT_EQ(result.port.number, 3);
    EXPECT_TRUE(result.handle.IsValid());
    EXPECT_EQ(result.rawVersion, "K310-7K v1.09\r");
    EXPECT_EQ(result.K310Version, "K310-7K v1.09");
    EXPECT_EQ(result.K310VerzijaFW, 109);
    EXPECT_EQ(result.SerijskaK310, "SN0042");
    EXPECT_EQ(result.K310RevizijaFW, 17);
    ASSERT_EQ(result.tried.size(), 3u); // the search ends at the adapter
    ASSERT_EQ(result.openFailures.size(), 1u);
    EXPECT_EQ(result.openFailures[0].path, missing);
    EXPECT_NE(result.openFailures[0].osError, 0);
    EXPECT_EQ(between, 2); // after each port that opened
    EXPECT_EQ(other.ReceivedText(), "v");
    EXPECT_EQ(second.ReceivedText(), "");

    // The other device's port was closed again, with the line settings it had before the probe.
    const platform::PortHandle reopened = platform::OpenPort(other.SlavePath());
    ASSERT_TRUE(reopened.IsValid());
    termios after{};
    ASSERT_EQ(::tcgetattr(static_cast<int>(reopened.Value()), &after), 0);
    EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
    EXPECT_EQ(after.c_cflag & (CSIZE | PARENB), before.c_cflag & (CSIZE | PARENB));
    platform::ClosePort(reopened);
}

TEST_F(Discovery, ExplicitPathsComeFirstAndEachPathOnce) {
    ScriptedPeer silent, adapter;
    AdapterAnswers(adapter, {{"K310-7K v2.01\r", 0}});
    result = D::FindAdapter({silent.SlavePath(), adapter.SlavePath(), silent.SlavePath()}, [&] {
        return std::vector<D::Candidate>{{adapter.SlavePath(), 0}, {silent.SlavePath(), 1}};
    });
    ASSERT_TRUE(result.found);
    ASSERT_EQ(result.tried.size(), 2u);
    EXPECT_EQ(result.tried[0].path, silent.SlavePath());
    EXPECT_EQ(result.tried[1].path, adapter.SlavePath());
    EXPECT_EQ(result.port.number, -1);
    EXPECT_EQ(result.K310VerzijaFW, 201);
}

TEST_F(Discovery, VersionLineInPiecesDoesNotLeakIntoTheSerialNumber) {
    ScriptedPeer adapter;
    AdapterAnswers(adapter, {{"K310-7K", 0}, {" v1.09\r", 30}});
    result = D::FindAdapter({adapter.SlavePath()}, [] { return std::vector<D::Candidate>{}; });
    ASSERT_TRUE(result.found);
    EXPECT_EQ(result.K310Version, "K310-7K v1.09");
    EXPECT_EQ(result.K310VerzijaFW, 109);
    EXPECT_EQ(result.SerijskaK310, "SN0042");
    EXPECT_EQ(result.K310RevizijaFW, 17);
}

TEST_F(Discovery, ModelNameAloneIsEnough) {
    // Seven bytes and no line end: found, without a version, and the serial is its own.
    ScriptedPeer adapter;
    AdapterAnswers(adapter, {{"K310-7K", 0}});
    result = D::FindAdapter({adapter.SlavePath()}, [] { return std::vector<D::Candidate>{}; });
    ASSERT_TRUE(result.found);
    EXPECT_EQ(result.K310Version, "K310-7K");
    EXPECT_EQ(result.K310VerzijaFW, 0);
    EXPECT_EQ(result.SerijskaK310, "SN0042");
}

TEST_F(Discovery, AdapterWithoutSerialOrRevisionStillCounts) {
    ScriptedPeer adapter;
    adapter.Add("v", "K310-7K\r");
    adapter.Add(Exchange{"r", {}});
    adapter.Add("o", "rev abc\r");
    result = D::FindAdapter({adapter.SlavePath()}, [] { return std::vector<D::Candidate>{}; });
    ASSERT_TRUE(result.found);
    EXPECT_EQ(result.K310VerzijaFW, 0);
    EXPECT_EQ(result.SerijskaK310, "");
    EXPECT_EQ(result.K310RevizijaFW, 0);
}

TEST_F(Discovery, NothingFound) {
    ScriptedPeer silent, partial;
    partial.Add("v", "K310-"); // too short a model name, and no more
    result = D::FindAdapter({}, [&] {
        return std::vector<D::Candidate>{{silent.SlavePath(), 0}, {partial.SlavePath(), 1}};
    });
    EXPECT_FALSE(result.found);
    EXPECT_FALSE(result.handle.IsValid());
    EXPECT_EQ(result.tried.size(), 2u);
    EXPECT_TRUE(result.openFailures.empty());
}

// "No adapter" alone cannot be acted on; each candidate not taken says why, in words the
// command line and the window can both show.
TEST_F(Discovery, EveryCandidateNotTakenSaysWhy) {
    ScriptedPeer silent, partial, erroring, garbage, held;
    partial.Add("v", "K31");
    erroring.Add("v", "ERROR command failed\r");
    garbage.Add("v", "\x01\x1B[2JHELLO\xFF\xFE\r");
    const platform::PortHandle holder = platform::OpenPort(held.SlavePath());
    ASSERT_TRUE(holder.IsValid());
    const std::string file = ::testing::TempDir() + "tarvo-discovery-not-a-port";
    std::ofstream(file) << "v\n";
    // A file that even the administrator may not open for writing stands in for a port of a
    // group the user is not in.
    const std::string locked = "/sys/kernel/mm/transparent_hugepage/hpage_pmd_size";
    const int probe = ::open(locked.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    const bool haveLocked = probe < 0 && errno == EACCES;
    if (probe >= 0) ::close(probe);

    std::vector<std::string> paths = {"/dev/tarvo-none",   "/dev/null",         file,
                                      silent.SlavePath(),  partial.SlavePath(), erroring.SlavePath(),
                                      garbage.SlavePath(), held.SlavePath()};
    if (haveLocked) paths.push_back(locked);
    result = D::FindAdapter(paths, [] { return std::vector<D::Candidate>{}; });
    platform::ClosePort(holder);
    ::unlink(file.c_str());
    ASSERT_FALSE(result.found);

    struct Expected {
        D::RejectReason reason;
        std::string text;
    };
    std::vector<Expected> expected = {
        {D::RejectReason::CannotOpen, "/dev/tarvo-none: cannot open: No such file or directory"},
        {D::RejectReason::NotSerial, "/dev/null: not a serial port: Inappropriate ioctl for device"},
        {D::RejectReason::NotSerial, file + ": not a serial port: Inappropriate ioctl for device"},
        {D::RejectReason::NoAnswer, silent.SlavePath() + ": no answer to \"v\" within 80 ms"},
        {D::RejectReason::NoAnswer,
         partial.SlavePath() + ": no complete answer to \"v\" within 80 ms (\"K31\")"},
        {D::RejectReason::WrongGreeting,
         erroring.SlavePath() + ": answered \"ERROR command failed\", not a K310-7K"},
        {D::RejectReason::WrongGreeting, garbage.SlavePath() + ": answered \"[2JHELLO\", not a K310-7K"},
        {D::RejectReason::Busy, held.SlavePath() + ": busy: another program has it open"},
    };
    if (haveLocked)
        expected.push_back(
            {D::RejectReason::CannotOpen,
             locked + ": cannot open: Permission denied (the device's permissions (mode 0444, owner "
                      "root) keep everyone but its owner out; the udev rule 70-tarvo-k310-7k.rules of "
                      "the tarvo-workbench package lets the person at the desk open the adapter)"});
    ASSERT_EQ(result.rejected.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(expected[i].text);
        EXPECT_EQ(result.rejected[i].path, paths[i]);
        EXPECT_EQ(result.rejected[i].reason, expected[i].reason);
        EXPECT_EQ(D::RejectionText(result.rejected[i]), expected[i].text);
    }
    // The window's permission line keeps its source.
    EXPECT_EQ(result.openFailures.size(), haveLocked ? 3u : 2u);
}

TEST(DiscoveryAdvice, JoiningTheGroupIsAdvisedOnlyWhenTheGroupMayReadAndWrite) {
    const std::string udev = "keep everyone but its owner out; the udev rule 70-tarvo-k310-7k.rules of the "
                             "tarvo-workbench package lets the person at the desk open the adapter";
    struct Row {
        platform::DeviceAccess access;
        std::string advice;
    };
    const Row rows[] = {
        {{true, "root", "dialout", 0660}, "the device belongs to group \"dialout\"; add your user to it"},
        {{true, "root", "uucp", 0664}, "the device belongs to group \"uucp\"; add your user to it"},
        {{true, "root", "root", 0600}, "the device's permissions (mode 0600, owner root) " + udev},
        // Read alone is not enough to talk to the adapter.
        {{true, "root", "dialout", 0640}, "the device's permissions (mode 0640, owner root) " + udev},
        {{false, "", "", 0}, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.access.mode);
        EXPECT_EQ(AdapterDiscovery::PermissionAdvice(row.access), row.advice);
    }
}

} // namespace
