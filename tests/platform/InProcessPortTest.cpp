// The in-process port: a device inside the program seen through the ordinary port API, opened by
// name, exclusive, unplugged like a USB adapter, with the OS's own error codes. The same on every
// system (on Windows it is how the built-in simulator is reached).
#include "InProcessPort.h"
#include "SerialPort.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace {

using platform::InProcessLink;

struct Device {
    std::atomic<int> activity{0};
    std::shared_ptr<InProcessLink> link = InProcessLink::Create([this] { ++activity; });

    std::string ReadAll() {
        std::string got;
        char buffer[256];
        size_t n;
        while ((n = link->Read(buffer, sizeof buffer)) > 0)
            got.append(buffer, n);
        return got;
    }
    void Say(const std::string& text) { ASSERT_EQ(link->Write(text.data(), text.size()), text.size()); }
};

std::string ReadWaiting(platform::PortHandle port) {
    char buffer[256];
    const long n = platform::ReadBytes(port, buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

TEST(InProcessPort, EachPortHasANameOfItsOwnThatNoRealPortHas) {
    Device a, b;
    EXPECT_NE(a.link->Name(), b.link->Name());
    for (const auto& name : {a.link->Name(), b.link->Name()})
        EXPECT_TRUE(platform::inprocess::IsPortName(name)) << name;
    for (const char* real : {"/dev/ttyACM0", "COM5", "\\\\.\\COM12", "sim:", ""})
        EXPECT_FALSE(platform::inprocess::IsPortName(real)) << real;
}

TEST(InProcessPort, OpensOnceByNameAndAgainWhenClosed) {
    Device device;
    int error = 0;
    const platform::PortHandle port = platform::OpenPort(device.link->Name(), &error);
    ASSERT_TRUE(port.IsValid()) << platform::ErrorText(error);

    // A second workbench cannot share the adapter, as on a real port.
    EXPECT_FALSE(platform::OpenPort(device.link->Name(), &error).IsValid());
    EXPECT_TRUE(platform::IsBusyError(error)) << platform::ErrorText(error);

    EXPECT_TRUE(platform::ClosePort(port));
    EXPECT_FALSE(platform::ClosePort(port)) << "a handle closes once";
    const platform::PortHandle again = platform::OpenPort(device.link->Name(), &error);
    EXPECT_TRUE(again.IsValid()) << platform::ErrorText(error);
    platform::ClosePort(again);

    EXPECT_FALSE(platform::OpenPort("sim:999999", &error).IsValid());
    EXPECT_FALSE(platform::IsBusyError(error));
    EXPECT_FALSE(platform::ErrorText(error).empty());
}

TEST(InProcessPort, BytesGoBothWaysWithTheLineSettingsOfAnyPort) {
    Device device;
    const platform::PortHandle port = platform::OpenPort(device.link->Name());
    ASSERT_TRUE(port.IsValid());
    platform::LineSettings saved;
    ASSERT_TRUE(platform::ReadLineSettings(port, saved));
    EXPECT_TRUE(platform::ApplyAdapterLineSettings(port, saved));
    EXPECT_TRUE(platform::WriteLineSettings(port, saved));
    EXPECT_EQ(platform::IdleWatchDescriptor(port), -1) << "nothing the event loop could watch";

    const int before = device.activity;
    ASSERT_TRUE(platform::WriteBytes(port, "v", 1));
    EXPECT_GT(device.activity, before) << "the device is told of the host's bytes";
    EXPECT_EQ(device.ReadAll(), "v");

    EXPECT_EQ(platform::WaitReadable(port, 1), platform::WaitResult::TimedOut);
    device.Say("K310-7K v1.09\r");
    EXPECT_EQ(platform::BytesWaiting(port), 14);
    EXPECT_EQ(platform::WaitReadable(port, 1000), platform::WaitResult::Readable);
    // Every byte as it came, a CR and bytes beyond 0x7F included.
    EXPECT_EQ(ReadWaiting(port), "K310-7K v1.09\r");
    device.Say(std::string("\x00\xFF\r\n", 4));
    EXPECT_EQ(ReadWaiting(port), std::string("\x00\xFF\r\n", 4));
    EXPECT_EQ(platform::BytesWaiting(port), 0);
    platform::ClosePort(port);
}

TEST(InProcessPort, AWaitEndsWhenTheDeviceAnswersFromItsOwnThread) {
    Device device;
    const platform::PortHandle port = platform::OpenPort(device.link->Name());
    ASSERT_TRUE(port.IsValid());
    std::thread answer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        device.Say("e1\r");
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(platform::WaitReadable(port, 10000), platform::WaitResult::Readable);
    answer.join();
    // Woken by the answer, not by the end of the wait.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(ReadWaiting(port), "e1\r");
    platform::ClosePort(port);
}

TEST(InProcessPort, StaleBytesAreDiscardedAtOpenAndWhenIdle) {
    Device device;
    device.Say("answer to an earlier user\r");
    const platform::PortHandle port = platform::OpenPort(device.link->Name());
    ASSERT_TRUE(port.IsValid());
    EXPECT_EQ(platform::BytesWaiting(port), 0);

    EXPECT_EQ(platform::CheckIdlePort(port), platform::IdleCheck::Quiet);
    device.Say("late reply\r");
    EXPECT_EQ(platform::CheckIdlePort(port), platform::IdleCheck::Discarded);
    EXPECT_EQ(platform::CheckIdlePort(port), platform::IdleCheck::Quiet);

    device.Say("junk");
    platform::DiscardInput(port);
    EXPECT_EQ(platform::BytesWaiting(port), 0);
    platform::ClosePort(port);
}

TEST(InProcessPort, AnUnpluggedDeviceIsALostPortAndItsNameIsGone) {
    Device device;
    const std::string name = device.link->Name();
    const platform::PortHandle port = platform::OpenPort(name);
    ASSERT_TRUE(port.IsValid());
    device.Say("unread\r");
    device.link->Close();
    EXPECT_FALSE(device.link->IsOpen());

    int error = 0;
    EXPECT_EQ(platform::WaitReadable(port, 1000, &error), platform::WaitResult::HungUp)
        << "a lost port, even with bytes unread";
    EXPECT_NE(error, 0);
    EXPECT_FALSE(platform::IsBusyError(error));
    error = 0;
    EXPECT_FALSE(platform::WriteBytes(port, "v", 1, &error));
    EXPECT_NE(error, 0);
    char byte;
    EXPECT_EQ(platform::ReadBytes(port, &byte, 1), -1);
    EXPECT_EQ(platform::BytesWaiting(port), -1);
    EXPECT_EQ(platform::CheckIdlePort(port), platform::IdleCheck::Lost);
    platform::LineSettings settings;
    EXPECT_FALSE(platform::ReadLineSettings(port, settings));
    EXPECT_TRUE(platform::ClosePort(port));

    EXPECT_FALSE(platform::OpenPort(name, &error).IsValid());
    EXPECT_EQ(device.link->Write("x", 1), 0u) << "an unplugged device says nothing";
}

TEST(InProcessPort, AHostThatDoesNotReadStopsTheDeviceUntilItReadsAgain) {
    Device device;
    const platform::PortHandle port = platform::OpenPort(device.link->Name());
    ASSERT_TRUE(port.IsValid());
    const std::string flood(1 << 20, 'x');
    const size_t taken = device.link->Write(flood.data(), flood.size());
    EXPECT_GT(taken, 0u);
    EXPECT_LT(taken, flood.size()) << "the host's queue has a limit";
    EXPECT_EQ(device.link->Write("y", 1), 0u);

    const int before = device.activity;
    char buffer[4096];
    EXPECT_EQ(platform::ReadBytes(port, buffer, sizeof buffer), static_cast<long>(sizeof buffer));
    EXPECT_GT(device.activity, before) << "a device waiting to write is told of the room";
    EXPECT_EQ(device.link->Write("y", 1), 1u);
    platform::ClosePort(port);
}

TEST(InProcessPort, HandlesThatAreNoPortAreRefused) {
    int error = 0;
    for (intptr_t value : {intptr_t{-2}, intptr_t{-1000}}) {
        const platform::PortHandle bogus(value);
        EXPECT_EQ(platform::WaitReadable(bogus, 1, &error), platform::WaitResult::HungUp) << value;
        EXPECT_FALSE(platform::WriteBytes(bogus, "v", 1, &error)) << value;
        EXPECT_EQ(platform::BytesWaiting(bogus, &error), -1) << value;
        EXPECT_FALSE(platform::ClosePort(bogus)) << value;
    }
}

} // namespace
