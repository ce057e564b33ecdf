// The platform services that need no device, the same on every system: the tick counter and its
// wrap, who runs the program, the standard streams, a port that cannot be had, and the
// recording's file in a folder named beyond ASCII.
#include "Clock.h"
#include "Files.h"
#include "SerialPort.h"
#include "StandardDescriptors.h"
#include "SystemInfo.h"
#include "TarvoVersion.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>

#ifndef _WIN32
#include "PseudoTerminal.h"

#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;

// Windows advances its tick counter in steps of up to 16 ms (Wine as well), so a tick difference
// may fall short of the time slept by that much; the microsecond counter is exact.
constexpr uint32_t kTickStepMs = 16;

TEST(Clock, TheTickCounterFollowsASleepAndWrapsHarmlessly) {
    const uint32_t sleepMs = 40;
    const uint32_t before = platform::TickCountMs();
    const uint64_t microsBefore = platform::MonotonicMicros();
    platform::SleepMs(sleepMs);
    const uint32_t slept = platform::TickCountMs() - before;
    EXPECT_GE(slept, sleepMs - kTickStepMs - 1);
    EXPECT_LT(slept, 1000u);
    EXPECT_GE(platform::MicrosSince(microsBefore), (sleepMs - 1) * 1000u);

    // Shortly before the wrap, the unsigned difference still measures the wait.
    platform::SetTickOffsetForTests(0u - platform::TickCountMs() - 5u);
    const uint32_t start = platform::TickCountMs();
    EXPECT_GT(start, 0xFFFF0000u);
    platform::SleepMs(sleepMs);
    const uint32_t end = platform::TickCountMs();
    EXPECT_LT(end, start) << "the counter wrapped";
    EXPECT_GE(end - start, sleepMs - kTickStepMs - 1);
    EXPECT_LT(end - start, 1000u);
    platform::SetTickOffsetForTests(0);
}

TEST(SystemInfo, ComputerAndUserHaveNames) {
    EXPECT_FALSE(platform::ComputerName().empty());
    EXPECT_FALSE(platform::UserName().empty());
}

// On Windows this test program carries the project's version resource, as the programs do.
TEST(SystemInfo, TheProgramFilesVersionAndTheQuestionSound) {
    std::string version = "stale";
#ifdef _WIN32
    EXPECT_TRUE(platform::ProgramFileVersion(version));
    EXPECT_EQ(version, TARVO_VERSION);
    EXPECT_TRUE(platform::PlayQuestionSound());
#else
    EXPECT_FALSE(platform::ProgramFileVersion(version));
    EXPECT_EQ(version, "");
    EXPECT_FALSE(platform::PlayQuestionSound()) << "the toolkit's bell rings instead";
#endif
}

TEST(StandardDescriptors, PresentStreamsAreLeftAsTheyAre) {
    EXPECT_TRUE(platform::EnsureStandardDescriptors());
    EXPECT_TRUE(platform::EnsureStandardDescriptors());
}

// A port that is not there fails to open with the system's reason, and is neither busy nor a
// matter of permission; a handle that is no port fails every operation without harm.
TEST(SerialPort, APortThatIsNotThereAndNoPortAtAll) {
    for (const char* path : {"COM250", "/dev/tarvo-no-such-port"}) {
        SCOPED_TRACE(path);
        int osError = 0;
        const platform::PortHandle port = platform::OpenPort(path, &osError);
        EXPECT_FALSE(port.IsValid());
        EXPECT_EQ(port, platform::kNoPort);
        EXPECT_NE(osError, 0);
        EXPECT_FALSE(platform::ErrorText(osError).empty());
        EXPECT_FALSE(platform::IsBusyError(osError));
        EXPECT_FALSE(platform::IsPermissionError(osError));
    }

    const platform::PortHandle none = platform::kNoPort;
    int osError = 0;
    EXPECT_FALSE(platform::ClosePort(none));
    platform::LineSettings settings;
    EXPECT_FALSE(platform::ReadLineSettings(none, settings, &osError));
    EXPECT_FALSE(settings.valid);
    EXPECT_EQ(platform::BytesWaiting(none, &osError), -1);
    char byte = 0;
    EXPECT_EQ(platform::ReadBytes(none, &byte, 1, &osError), -1);
    EXPECT_FALSE(platform::WriteBytes(none, "v", 1, &osError));
    EXPECT_NE(osError, 0);
    osError = 0;
    EXPECT_EQ(platform::WaitReadable(none, 10, &osError), platform::WaitResult::HungUp);
    EXPECT_NE(osError, 0);
    platform::DiscardInput(none);
}

#ifndef _WIN32
// The watch of a port between transactions: stale bytes are thrown away, so the descriptor is
// quiet again (a watch on it cannot spin), and an unplugged device is a lost port.
TEST(SerialPort, AnIdlePortIsQuietLosesStaleBytesOrIsLost) {
    platform::PseudoTerminal device;
    std::string error;
    ASSERT_TRUE(device.Open(false, &error)) << error;
    const platform::PortHandle port = platform::OpenPort(device.SlavePath());
    ASSERT_TRUE(port.IsValid());
    platform::LineSettings settings;
    ASSERT_TRUE(platform::ReadLineSettings(port, settings));
    ASSERT_TRUE(platform::ApplyAdapterLineSettings(port, settings));
    EXPECT_GE(platform::IdleWatchDescriptor(port), 0);
    EXPECT_EQ(platform::IdleWatchDescriptor(platform::kNoPort), -1);

    int osError = 0;
    EXPECT_EQ(platform::CheckIdlePort(port, &osError), platform::IdleCheck::Quiet);

    const std::string stale(600, 'x'); // more than one read's buffer
    ASSERT_EQ(::write(device.MasterFd(), stale.data(), stale.size()), static_cast<ssize_t>(stale.size()));
    ASSERT_EQ(platform::WaitReadable(port, 2000), platform::WaitResult::Readable);
    // The terminal may hand the bytes over in parts: each check takes what has arrived.
    for (int i = 0; i < 100 && platform::BytesWaiting(port) < static_cast<long>(stale.size()); ++i)
        platform::SleepMs(2);
    EXPECT_EQ(platform::CheckIdlePort(port, &osError), platform::IdleCheck::Discarded);
    EXPECT_EQ(platform::BytesWaiting(port), 0);
    EXPECT_EQ(platform::CheckIdlePort(port, &osError), platform::IdleCheck::Quiet);

    device.Close();
    osError = 0;
    EXPECT_EQ(platform::CheckIdlePort(port, &osError), platform::IdleCheck::Lost);
    EXPECT_NE(osError, 0);
    platform::ClosePort(port);

    osError = 0;
    EXPECT_EQ(platform::CheckIdlePort(platform::kNoPort, &osError), platform::IdleCheck::Lost);
    EXPECT_NE(osError, 0);
}
#else
// No watch on Windows: nothing to watch, nothing to say.
// Windows' event loop cannot watch a serial handle: the window asks the idle port instead (on a
// COM port in serial_port_win32_tests).
TEST(SerialPort, AnIdlePortIsAskedOnWindows) {
    EXPECT_EQ(platform::IdleWatchDescriptor(platform::PortHandle(42)), -1);
    EXPECT_EQ(platform::CheckIdlePort(platform::kNoPort), platform::IdleCheck::Lost);
}
#endif

TEST(SerialPort, AHandleIsAValue) {
    const platform::PortHandle a(42), b(42), c(7);
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    EXPECT_TRUE(a.IsValid());
    EXPECT_FALSE(platform::PortHandle().IsValid());
    EXPECT_EQ(platform::PortHandle(), platform::kNoPort);
}

// UTF-8 text becomes the path the system knows, and back, with letters that a western Windows'
// ANSI code page lacks (Č) or places elsewhere (Ž).
TEST(Files, PathsFromAndToUtf8) {
    const std::string name = "Meritve \xC5\xBD"
                             "alec \xC4\x8C"
                             "as";
    const fs::path path = platform::PathFromUtf8(name);
    EXPECT_EQ(platform::Utf8FromPath(path), name);
#ifdef _WIN32
    EXPECT_EQ(path.wstring(), L"Meritve \u017Dalec \u010Cas");
#else
    EXPECT_EQ(path.native(), name);
#endif
}

// A file created new, never over another; written, cut back and written on from the cut; known by
// its name while it is there; removed.
TEST(Files, ANewFileIsCutBackWhereAskedAndRemoved) {
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    const fs::path dir =
        fs::temp_directory_path() / platform::PathFromUtf8("tarvo-files-\xC4\x8C-" + std::to_string(stamp));
    ASSERT_TRUE(fs::create_directories(dir));
    const auto read = [](const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    };
    std::string why;
    {
        std::ofstream(dir / "taken.csv", std::ios::binary) << "earlier";
        platform::TNewFile file;
        EXPECT_EQ(file.Create(dir / "taken.csv", why), platform::NewFileResult::Exists);
        EXPECT_FALSE(file.IsOpen());
        EXPECT_EQ(read(dir / "taken.csv"), "earlier");
        EXPECT_EQ(file.Create(dir / "missing" / "x.csv", why), platform::NewFileResult::Failed);
        EXPECT_FALSE(why.empty());
    }
    const fs::path path = dir / platform::PathFromUtf8("\xC5\xBD"
                                                       "alec.csv");
    platform::TNewFile file;
    ASSERT_EQ(file.Create(path, why), platform::NewFileResult::Created) << why;
    EXPECT_EQ(file.Write("header\r\nhalf a rec", 19, why), 19u);
    EXPECT_TRUE(file.Truncate(8, why)) << why;
    EXPECT_EQ(file.Write("next\r\n", 6, why), 6u);
    why.clear();
    EXPECT_TRUE(file.HasName(why)) << why;
    EXPECT_TRUE(file.Close(why)) << why;
    EXPECT_EQ(read(path), "header\r\nnext\r\n");

    why.clear();
    EXPECT_EQ(file.Write("x", 1, why), 0u);
    EXPECT_FALSE(why.empty()) << "a closed file says why it takes nothing";
    EXPECT_TRUE(platform::RemoveFile(path, why)) << why;
    EXPECT_FALSE(fs::exists(path));
    why.clear();
    EXPECT_FALSE(platform::RemoveFile(path, why));
    EXPECT_FALSE(why.empty());
    std::error_code ec;
    fs::remove_all(dir, ec);
}

} // namespace
