// The Win32 serial port against a device: a COM port that Wine maps to k310-sim (scripts/test-windows
// names it in TARVO_TEST_COM_PORT and starts the simulator with --adapter-serial SN4711). Without
// the variable there is no device, and the tests are skipped.
#include "AdapterDiscovery.h"
#include "Clock.h"
#include "SerialPort.h"
#include "Serial_driver.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <windows.h>

namespace {

std::string TestPort() {
    const char* port = std::getenv("TARVO_TEST_COM_PORT");
    return port ? port : "";
}

class ComPort : public ::testing::Test {
protected:
    void SetUp() override {
        if (TestPort().empty()) GTEST_SKIP() << "TARVO_TEST_COM_PORT names no port";
        Serial_driver::ResetSerialDriverState();
    }
    void TearDown() override {
        if (port.IsValid()) platform::ClosePort(port);
        Serial_driver::ResetSerialDriverState();
    }
    void OpenConfigured() {
        int osError = 0;
        port = platform::OpenPort(TestPort(), &osError);
        ASSERT_TRUE(port.IsValid()) << platform::ErrorText(osError);
        ASSERT_TRUE(platform::ReadLineSettings(port, found, &osError)) << platform::ErrorText(osError);
        ASSERT_TRUE(platform::ApplyAdapterLineSettings(port, found, &osError))
            << platform::ErrorText(osError);
    }
    platform::PortHandle port;
    platform::LineSettings found;
};

// Another program's settings on the port, as the system keeps them between users.
struct RawSettings {
    DCB state{};
    COMMTIMEOUTS timeouts{};
};

bool ReadRaw(RawSettings& out) {
    const std::wstring name = L"\\\\.\\" + std::wstring(TestPort().begin(), TestPort().end());
    const HANDLE h =
        ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    out.state.DCBlength = sizeof(DCB);
    const bool ok = ::GetCommState(h, &out.state) && ::GetCommTimeouts(h, &out.timeouts);
    ::CloseHandle(h);
    return ok;
}

bool WriteRawBaud(DWORD baud) {
    const std::wstring name = L"\\\\.\\" + std::wstring(TestPort().begin(), TestPort().end());
    const HANDLE h =
        ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DCB state{};
    state.DCBlength = sizeof(DCB);
    bool ok = ::GetCommState(h, &state);
    state.BaudRate = baud;
    ok = ok && ::SetCommState(h, &state);
    ::CloseHandle(h);
    return ok;
}

TEST_F(ComPort, TheTransactionCollectsRepliesByCrAndByCount) {
    OpenConfigured();
    std::string greeting;
    ASSERT_EQ(Serial_driver::SendCommand(port, "v", 0, greeting), 0);
    EXPECT_EQ(greeting.rfind("K310-7K v", 0), 0u) << greeting;
    EXPECT_EQ(greeting.back(), '\r');

    // By count: complete at 7 bytes; the rest of the line is discarded before the next command,
    // so the next reply is its own.
    std::string model;
    ASSERT_EQ(Serial_driver::SendCommand(port, "v", 7, model), 0);
    EXPECT_EQ(model.substr(0, 7), "K310-7K");
    std::string serial;
    ASSERT_EQ(Serial_driver::SendCommand(port, "r", 0, serial), 0);
    EXPECT_EQ(serial, "SN4711\r");
}

TEST_F(ComPort, InputThatWaitsBeforeACommandIsDiscarded) {
    OpenConfigured();
    ASSERT_TRUE(platform::WriteBytes(port, "v", 1));
    // The greeting arrives and nobody reads it: it answers no command of the next transaction.
    for (int i = 0; i < 100 && platform::BytesWaiting(port) < 14; ++i)
        platform::SleepMs(5);
    ASSERT_GT(platform::BytesWaiting(port), 0);
    std::string serial;
    ASSERT_EQ(Serial_driver::SendCommand(port, "r", 0, serial), 0);
    EXPECT_EQ(serial, "SN4711\r");
}

// Between transactions the window asks the idle port what it has to say: nothing, or stale bytes
// (a reply nobody waits for any more), which are thrown away, also the one the readiness wait took.
TEST_F(ComPort, AnIdlePortIsQuietOrLosesItsStaleBytes) {
    OpenConfigured();
    EXPECT_EQ(platform::CheckIdlePort(port), platform::IdleCheck::Quiet);
    for (bool waitTookAByte : {false, true}) {
        SCOPED_TRACE(waitTookAByte ? "the wait holds the first byte" : "all in the queue");
        ASSERT_TRUE(platform::WriteBytes(port, "v", 1));
        if (waitTookAByte) {
            ASSERT_EQ(platform::WaitReadable(port, 400), platform::WaitResult::Readable);
        }
        for (int i = 0; i < 100 && platform::BytesWaiting(port) < 14; ++i)
            platform::SleepMs(5);
        ASSERT_GT(platform::BytesWaiting(port), 0);
        EXPECT_EQ(platform::CheckIdlePort(port), platform::IdleCheck::Discarded);
        EXPECT_EQ(platform::BytesWaiting(port), 0);
        EXPECT_EQ(platform::CheckIdlePort(port), platform::IdleCheck::Quiet);
    }
}

// The readiness wait takes the first byte to see that input is there; every byte still comes out
// once, in order, and counts as waiting until it is read.
TEST_F(ComPort, TheWaitsByteLeadsTheNextRead) {
    OpenConfigured();
    std::string expected;
    ASSERT_EQ(Serial_driver::SendCommand(port, "v", 0, expected), 0);
    ASSERT_TRUE(platform::WriteBytes(port, "v", 1));
    ASSERT_EQ(platform::WaitReadable(port, 400), platform::WaitResult::Readable);
    EXPECT_GE(platform::BytesWaiting(port), 1);
    std::string got;
    const uint32_t start = platform::TickCountMs();
    while (got.find('\r') == std::string::npos && platform::TickCountMs() - start < 1000) {
        if (platform::WaitReadable(port, 100) != platform::WaitResult::Readable) continue;
        char buffer[64];
        const long waiting = platform::BytesWaiting(port);
        ASSERT_GT(waiting, 0);
        const long n = platform::ReadBytes(port, buffer, std::min<size_t>(sizeof buffer, waiting));
        ASSERT_GT(n, 0);
        got.append(buffer, static_cast<size_t>(n));
    }
    EXPECT_EQ(got, expected);
    EXPECT_EQ(platform::BytesWaiting(port), 0);
}

TEST_F(ComPort, NoReplyTimesOutAfterTheReplyTime) {
    OpenConfigured();
    Serial_driver::ReplyTimeoutMs = 100;
    std::string reply = "x";
    const uint64_t start = platform::MonotonicMicros();
    // An empty command writes nothing: nothing comes.
    EXPECT_EQ(Serial_driver::SendCommand(port, "", 0, reply), -1);
    const uint64_t tookMs = platform::MicrosSince(start) / 1000;
    EXPECT_EQ(reply, "");
    EXPECT_GE(tookMs, 100u - 16u); // the tick counter's steps
    EXPECT_LT(tookMs, 400u);
}

// Line settings and time-outs are one saved whole: writing back what was read restores both, and
// closing gives the port back with the settings it was found with.
TEST_F(ComPort, ThePortIsGivenBackAsItWasFound) {
    ASSERT_TRUE(WriteRawBaud(9600));
    RawSettings before;
    ASSERT_TRUE(ReadRaw(before));

    OpenConfigured();
    platform::LineSettings applied, restored;
    ASSERT_TRUE(platform::ReadLineSettings(port, applied));
    EXPECT_NE(0, std::memcmp(found.raw, applied.raw, sizeof found.raw)) << "the adapter's settings differ";
    std::string reply;
    ASSERT_EQ(Serial_driver::SendCommand(port, "v", 0, reply), 0);
    ASSERT_TRUE(platform::WriteLineSettings(port, found));
    ASSERT_TRUE(platform::ReadLineSettings(port, restored));
    EXPECT_EQ(0, std::memcmp(found.raw, restored.raw, sizeof found.raw));

    // Applied again, then closed: the port keeps nothing of ours.
    ASSERT_TRUE(platform::ApplyAdapterLineSettings(port, found));
    ASSERT_TRUE(platform::ClosePort(port));
    port = platform::kNoPort;
    RawSettings after;
    ASSERT_TRUE(ReadRaw(after));
    EXPECT_EQ(after.state.BaudRate, 9600u);
    EXPECT_EQ(after.state.ByteSize, before.state.ByteSize);
    EXPECT_EQ(after.state.Parity, before.state.Parity);
    EXPECT_EQ(after.state.StopBits, before.state.StopBits);
    EXPECT_EQ(after.timeouts.ReadIntervalTimeout, before.timeouts.ReadIntervalTimeout);
    EXPECT_EQ(after.timeouts.ReadTotalTimeoutConstant, before.timeouts.ReadTotalTimeoutConstant);
    EXPECT_EQ(after.timeouts.WriteTotalTimeoutConstant, before.timeouts.WriteTotalTimeoutConstant);
    ASSERT_TRUE(WriteRawBaud(115200));
}

// Windows names a port in any case, with or without the device namespace: each spelling opens
// the same port, so the search must try it once. No device needed: nothing here answers.
TEST(PortNames, EverySpellingOfAPortIsTriedOnce) {
    EXPECT_EQ(platform::PortKey("com5"), platform::PortKey("COM5"));
    EXPECT_EQ(platform::PortKey("\\\\.\\COM12"), platform::PortKey("Com12"));
    EXPECT_NE(platform::PortKey("COM1"), platform::PortKey("COM12"));

    Serial_driver::ResetSerialDriverState();
    const auto result = AdapterDiscovery::FindAdapter({"com251", "\\\\.\\COM251"}, [] {
        return std::vector<AdapterDiscovery::Candidate>{{"COM251", 251}, {"COM252", 252}};
    });
    ASSERT_EQ(result.tried.size(), 2u);
    EXPECT_EQ(result.tried[0].path, "com251");
    EXPECT_EQ(result.tried[1].path, "COM252");
}

} // namespace
