// The recording's writer when the file system fails it: a disk that fills up (the header, or a
// record part-way), a file deleted while it is recorded, and a folder whose name needs more than
// the ANSI code page. Built for Windows too, where it runs under Wine in a folder named with Ž and
// Č, and where an open recording cannot be deleted.
#include "DebugRecording.h"
#include "Files.h"
#include "FillingDisk.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;
using Procedures::TDebugRecordFile;
using Procedures::TRecordSources;
using testing_support::FillingDisk;

namespace {

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

size_t CountFiles(const fs::path& directory) {
    size_t n = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(directory))
        ++n;
    return n;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

struct FakeClock {
    uint64_t now = 5000;
    Procedures::TMillisecondClock Function() {
        return [this] { return now; };
    }
};

TRecordSources Reading(int n) {
    TRecordSources s;
    s.Position.RxData = "48D14391";
    s.Position.ST_value = 74565u + static_cast<uint32_t>(n);
    s.Supply = "ON 5V";
    for (int i = 0; i < 56; ++i)
        s.Debug.Samples[static_cast<size_t>(i)] = static_cast<int16_t>(i * 37 - 1000);
    return s;
}

// A fresh folder per test, named with letters that the ANSI code page of a western Windows lacks
// (Č) or has elsewhere than UTF-8 (Ž), inside another one that holds nothing else.
class RecordingFailures : public ::testing::Test {
protected:
    void SetUp() override {
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        root = fs::temp_directory_path() / ("tarvo-recfile-" + std::to_string(stamp));
        dir = root / platform::PathFromUtf8("Meritve Žalec Čas");
        fs::create_directories(dir);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
    // The file's content up to and including the end of record `n` (0: the header alone), as
    // a writer with unlimited room writes it under the same clock.
    std::string WholeUpTo(int n) {
        const fs::path other = root / "reference";
        fs::create_directories(other);
        FakeClock clock;
        TDebugRecordFile file(clock.Function());
        EXPECT_TRUE(file.Create(other, "rec.csv")) << file.ErrorText();
        for (int i = 1; i <= n; ++i) {
            clock.now += 100;
            EXPECT_TRUE(file.Write(Reading(i)));
        }
        EXPECT_TRUE(file.Close());
        const std::string text = ReadFile(other / "rec.csv");
        fs::remove_all(other);
        return text;
    }

    fs::path root, dir;
};

TEST_F(RecordingFailures, AHeaderThatCannotBeWrittenLeavesNoFile) {
    const uint64_t header = Procedures::RecordingHeader().size() + 2;
    for (const uint64_t room : {uint64_t{0}, uint64_t{1}, header / 2, header - 1}) {
        SCOPED_TRACE(room);
        FillingDisk disk(room);
        TDebugRecordFile file(Procedures::SteadyClockMs, disk.Writer());
        EXPECT_FALSE(file.Create(dir, "TEST_a_b_20240131154502.csv"));
        EXPECT_FALSE(file.IsOpen());
        EXPECT_EQ(CountFiles(dir), 0u) << "a recording without its header has not begun";
        const std::string path = platform::Utf8FromPath(dir / "TEST_a_b_20240131154502.csv");
        EXPECT_TRUE(Contains(file.ErrorText(), path)) << file.ErrorText();
        EXPECT_TRUE(Contains(file.ErrorText(), "No space left on device")) << file.ErrorText();
        EXPECT_FALSE(file.Write(Reading(1)));
        EXPECT_EQ(disk.writes, 1) << "nothing is written after the header failed";
        EXPECT_TRUE(Contains(file.ErrorText(), "No space left on device")) << "the reason stays";
    }
}

// The third record fails wherever the disk fills: at its first byte, in its middle, at its last.
// The file ends with the second record's CR LF, the recording is over, and nothing is written
// afterwards, also once there is room again.
TEST_F(RecordingFailures, ARecordThatCannotBeWrittenIsCutAwayAndEndsTheRecording) {
    const std::string two = WholeUpTo(2);
    const uint64_t third = WholeUpTo(3).size() - two.size();
    for (const uint64_t into : {uint64_t{0}, uint64_t{36}, third - 1}) {
        SCOPED_TRACE(into);
        fs::remove_all(dir);
        fs::create_directories(dir);
        FakeClock clock;
        FillingDisk disk(two.size() + into);
        TDebugRecordFile file(clock.Function(), disk.Writer());
        ASSERT_TRUE(file.Create(dir, "rec.csv")) << file.ErrorText();
        for (int i = 1; i <= 2; ++i) {
            clock.now += 100;
            ASSERT_TRUE(file.Write(Reading(i)));
        }
        clock.now += 100;
        EXPECT_FALSE(file.Write(Reading(3)));
        EXPECT_FALSE(file.IsOpen());
        EXPECT_EQ(disk.written, two.size() + into) << "part of the record did land";
        EXPECT_EQ(ReadFile(dir / "rec.csv"), two);
        EXPECT_TRUE(Contains(file.ErrorText(), platform::Utf8FromPath(dir / "rec.csv"))) << file.ErrorText();
        EXPECT_TRUE(Contains(file.ErrorText(), "No space left on device")) << file.ErrorText();
        EXPECT_EQ(file.Records(), 2);
        EXPECT_EQ(file.Elapsed(), 300u) << "the recording ended with the failed write";

        disk.room = UINT64_MAX;
        clock.now += 100;
        EXPECT_FALSE(file.Write(Reading(4)));
        EXPECT_FALSE(file.Check());
        EXPECT_TRUE(file.Close()) << "already closed";
        EXPECT_EQ(disk.writesWhenFull, 0);
        EXPECT_EQ(ReadFile(dir / "rec.csv"), two);
        EXPECT_TRUE(Contains(file.ErrorText(), "No space left on device")) << file.ErrorText();
        EXPECT_EQ(file.Elapsed(), 300u);
    }
}

#ifndef _WIN32

// Deleted by itself or with its folder, the file is found gone by whichever comes first: a Write
// once ten seconds have passed since the last check, Check, or Close.
TEST_F(RecordingFailures, AFileDeletedWhileItIsRecordedFailsTheRecording) {
    enum class Finder { WriteAfterTenSeconds, Check, Close };
    for (const bool wholeFolder : {false, true}) {
        for (const Finder finder : {Finder::WriteAfterTenSeconds, Finder::Check, Finder::Close}) {
            SCOPED_TRACE(std::to_string(wholeFolder) + " " + std::to_string(int(finder)));
            fs::create_directories(dir);
            FakeClock clock;
            TDebugRecordFile file(clock.Function());
            ASSERT_TRUE(file.Create(dir, "rec.csv")) << file.ErrorText();
            const std::string path = platform::Utf8FromPath(dir / "rec.csv");
            clock.now += 100;
            ASSERT_TRUE(file.Write(Reading(1)));
            if (wholeFolder)
                fs::remove_all(dir);
            else
                fs::remove(dir / "rec.csv");
            bool ok = true;
            switch (finder) {
            case Finder::WriteAfterTenSeconds:
                // Checked at most every ten seconds of the recording's clock: until then the
                // records go into the nameless file.
                clock.now = 5000 + TDebugRecordFile::kNameCheckMs - 1;
                EXPECT_TRUE(file.Write(Reading(2)));
                clock.now += 1;
                ok = file.Write(Reading(3));
                break;
            case Finder::Check:
                ok = file.Check();
                break;
            case Finder::Close:
                ok = file.Close();
                break;
            }
            EXPECT_FALSE(ok);
            EXPECT_FALSE(file.IsOpen());
            EXPECT_TRUE(Contains(file.ErrorText(), path + " was deleted")) << file.ErrorText();
            EXPECT_TRUE(file.Close());
            EXPECT_FALSE(fs::exists(dir / "rec.csv"));
        }
    }
}

#else

// Windows: the file is opened without delete sharing, so it cannot be deleted, nor its folder
// removed, while it is recorded; afterwards it can.
TEST_F(RecordingFailures, AFileBeingRecordedCannotBeDeleted) {
    TDebugRecordFile file;
    ASSERT_TRUE(file.Create(dir, "rec.csv")) << file.ErrorText();
    ASSERT_TRUE(file.Write(Reading(1)));
    std::error_code ec;
    EXPECT_FALSE(fs::remove(dir / "rec.csv", ec));
    EXPECT_TRUE(ec) << "deleted while open";
    fs::remove_all(dir, ec);
    EXPECT_TRUE(fs::exists(dir / "rec.csv"));
    EXPECT_TRUE(file.Check()) << file.ErrorText();
    EXPECT_TRUE(file.Write(Reading(2)));
    EXPECT_TRUE(file.Close()) << file.ErrorText();
    EXPECT_TRUE(fs::remove(dir / "rec.csv", ec)) << ec.message();
}

#endif

// The folder's name reaches the system intact, and the messages name it in UTF-8.
TEST_F(RecordingFailures, AFolderNamedBeyondTheAnsiCodePage) {
    TDebugRecordFile file;
    ASSERT_TRUE(file.Create(dir, "rec.csv")) << file.ErrorText();
    EXPECT_TRUE(Contains(platform::Utf8FromPath(file.Path()), "Meritve Žalec Čas")) << file.Path();
    ASSERT_TRUE(file.Write(Reading(1)));
    ASSERT_TRUE(file.Close());
    EXPECT_EQ(ReadFile(dir / "rec.csv").rfind(Procedures::RecordingHeader() + "\r\n", 0), 0u);
    EXPECT_EQ(Procedures::FreeFilePath(dir, "rec.csv"), dir / "rec_2.csv");

    TDebugRecordFile missing;
    const fs::path nowhere = root / platform::PathFromUtf8("Ni mape Č");
    EXPECT_FALSE(missing.Create(nowhere, "rec.csv"));
    EXPECT_TRUE(Contains(missing.ErrorText(), "Cannot create " + platform::Utf8FromPath(nowhere / "rec.csv")))
        << missing.ErrorText();
    EXPECT_FALSE(fs::exists(nowhere));
}

} // namespace

namespace {

// Where an installed program lies, no recording belongs: the system's program folders, whatever
// their spelling, and what lies within them; nothing beside them.
TEST(RecordingPlace, TheSystemsProgramFoldersAndWhatLiesWithinThem) {
#ifdef _WIN32
    const std::vector<fs::path> folders{L"C:\\Program Files", L"C:\\Program Files (x86)", L"C:\\windows"};
    const struct {
        const wchar_t* path;
        bool system;
    } cases[] = {
        {L"C:\\Program Files\\Tarvo", true},  {L"c:\\PROGRAM FILES\\tarvo\\", true},
        {L"C:/Program Files/Tarvo", true},    {L"C:\\Program Files (x86)\\Tarvo", true},
        {L"C:\\Windows\\System32", true},     {L"C:\\Program Files\\..\\users\\u\\Tarvo", false},
        {L"C:\\Program Files Tarvo", false},  {L"C:\\users\\u\\Desktop\\Tarvo", false},
        {L"D:\\Program Files\\Tarvo", false},
    };
#else
    const std::vector<fs::path> folders{"/opt/programs"};
    const struct {
        const char* path;
        bool system;
    } cases[] = {
        {"/opt/programs", true},
        {"/opt/programs/tarvo/", true},
        {"/opt/programs2/tarvo", false},
        {"/opt/programs/../tarvo", false},
        {"/opt", false},
        {"/usr/bin", true},
        {"/home/u/tarvo", false},
    };
#endif
    for (const auto& c : cases)
        EXPECT_EQ(Procedures::IsSystemLocation(c.path, folders), c.system) << fs::path(c.path).string();
}

// The system's own list: on Windows, Program Files and the Windows folder, as Wine names them too.
TEST(RecordingPlace, TheSystemNamesItsProgramFolders) {
    const auto folders = platform::ProgramInstallFolders();
#ifdef _WIN32
    ASSERT_FALSE(folders.empty());
    for (const auto& folder : folders) {
        EXPECT_TRUE(folder.is_absolute()) << platform::Utf8FromPath(folder);
        EXPECT_TRUE(Procedures::IsSystemLocation(folder / L"Tarvo")) << platform::Utf8FromPath(folder);
    }
    EXPECT_FALSE(Procedures::IsSystemLocation(fs::temp_directory_path()));
#else
    EXPECT_TRUE(folders.empty()) << "POSIX goes by the path alone";
#endif
}

} // namespace
