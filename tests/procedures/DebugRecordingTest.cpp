// The debug-data file: its name, header, records and duration line, and the writer on a real
// directory. A record with status conditions is read back by an independent CSV reader
// (python3's csv module), which is what a spreadsheet or a script does with the file.
#include "DebugRecording.h"
#include "RunProgram.h"
#include "StatusText.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;
using Procedures::TRecordSources;

namespace {

std::tm Stamp(int year, int month, int day, int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return t;
}

std::vector<std::string> Split(const std::string& text, const std::string& by) {
    std::vector<std::string> parts;
    size_t at = 0;
    for (size_t end; (end = text.find(by, at)) != std::string::npos; at = end + by.size())
        parts.push_back(text.substr(at, end - at));
    parts.push_back(text.substr(at));
    return parts;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A fresh directory per test, removed afterwards.
class TempDir : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "tarvo-rec-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }
    fs::path dir;
};

// A reading with every field set to something that shows its format.
TRecordSources Sample() {
    TRecordSources s;
    s.TimeMs = 1250;
    s.Position.RxData = "FFFE080003AF";
    s.Position.MT_value = -2;
    s.Position.ST_value = 4294967295u;
    s.Position.SignalLevel = 65535;
    s.Position.SenTemperature = -40;
    s.Supply = "5.02V 41mA";
    s.Debug.DebugStatus = 0x8001;
    s.Debug.CodeA = 0x1FF;
    s.Debug.CodeB = 0x200;
    s.Debug.ResetCnt = 200;
    s.Debug.CycleTime = 65535;
    s.Debug.DecodSelect = 255;
    s.Debug.AbsPos = 4294967295u;
    s.Debug.McuTemp = 3100;
    s.Debug.Vdda = 3300;
    s.Debug.DcdTrs = 0xFF;
    s.Debug.DcdWrn = 16;
    for (int i = 0; i < 56; ++i)
        s.Debug.Samples[static_cast<size_t>(i)] = static_cast<int16_t>(i * 100 - 5);
    s.Debug.Samples[55] = -32768;
    return s;
}

TEST(RecordingName, PartNumberSerialAndStamp) {
    struct Row {
        const char* part;
        const char* serial;
        const char* name;
    };
    const Row rows[] = {
        {"VK876-0A19M00020", "TS170871", "TEST_VK876-0A19M00020_TS170871_20240131154502.csv"},
        {"", "", "TEST___20240131154502.csv"}, // before any identification
        {"PN", "../x", "TEST_PN____x_20240131154502.csv"},
        {"PN", "..\\..\\boot", "TEST_PN_______boot_20240131154502.csv"},
        {"A<B>C:D", "E\"F|G?H*I", "TEST_A_B_C_D_E_F_G_H_I_20240131154502.csv"},
        {"V1.2", "S N\x01\x7F\xE9", "TEST_V1.2_S N____20240131154502.csv"}, // one dot stays
        {"...", "/", "TEST_______20240131154502.csv"},
    };
    const std::tm t = Stamp(2024, 1, 31, 15, 45, 2);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string name = Procedures::RecordingFileName(row.part, row.serial, t);
        EXPECT_EQ(name, row.name);
        // Whatever the identification said, the file stays in the chosen directory.
        const fs::path path = fs::path("/data/rec") / name;
        EXPECT_EQ(path.lexically_normal().parent_path(), fs::path("/data/rec"));
    }
    EXPECT_EQ(Procedures::RecordingTimeStamp(Stamp(2025, 12, 3, 4, 5, 6)), "20251203040506");
}

TEST(RecordingName, TakenNamesGetANumberBeforeTheExtension) {
    std::set<std::string> taken;
    auto exists = [&](const std::string& n) { return taken.count(n) > 0; };
    EXPECT_EQ(Procedures::FreeFileName("TEST_a_b_1.csv", exists), "TEST_a_b_1.csv");
    taken = {"TEST_a_b_1.csv"};
    EXPECT_EQ(Procedures::FreeFileName("TEST_a_b_1.csv", exists), "TEST_a_b_1_2.csv");
    taken = {"TEST_a_b_1.csv", "TEST_a_b_1_2.csv", "TEST_a_b_1_3.csv"};
    EXPECT_EQ(Procedures::FreeFileName("TEST_a_b_1.csv", exists), "TEST_a_b_1_4.csv");
}

TEST(RecordingName, SystemLocations) {
    EXPECT_TRUE(Procedures::IsSystemLocation("/usr"));
    EXPECT_TRUE(Procedures::IsSystemLocation("/usr/bin"));
    EXPECT_TRUE(Procedures::IsSystemLocation("/usr/local/bin/"));
    EXPECT_FALSE(Procedures::IsSystemLocation("/usr/../home/u"));
    EXPECT_FALSE(Procedures::IsSystemLocation("/home/u/usr"));
    EXPECT_FALSE(Procedures::IsSystemLocation("/usrdata"));
    EXPECT_FALSE(Procedures::IsSystemLocation("usr/bin"));
    EXPECT_FALSE(Procedures::IsSystemLocation("/opt/tarvo"));
    // A package unpacked under another root keeps its programs in that root's usr/bin.
    EXPECT_TRUE(Procedures::IsSystemLocation("/tmp/root/usr/bin"));
    EXPECT_TRUE(Procedures::IsSystemLocation("/tmp/root/usr/local/bin/"));
    EXPECT_FALSE(Procedures::IsSystemLocation("/home/u/usr/src"));
    EXPECT_FALSE(Procedures::IsSystemLocation("/home/u/bin"));
    EXPECT_FALSE(Procedures::IsSystemLocation("/home/u/tarvo/build/src/app"));
}

TEST(RecordingContent, HeaderHasSeventyFiveColumnsEndingWithMis56) {
    const std::string header = Procedures::RecordingHeader();
    const auto names = Split(header, ";");
    ASSERT_EQ(names.size(), 76u); // 75 names and what follows the last ";"
    EXPECT_EQ(names.back(), "");
    EXPECT_EQ(names[0], "Time(ms)");
    EXPECT_EQ(names[4], "Error");
    EXPECT_EQ(names[12], "CycleTime(clks)");
    EXPECT_EQ(names[18], "DcdWrn");
    EXPECT_EQ(names[19], "MIS1");
    EXPECT_EQ(names[74], "MIS56");
    EXPECT_EQ(header.substr(header.size() - 6), "MIS56;");
}

TEST(RecordingContent, FieldsInColumnOrderAndFormat) {
    const auto f = Procedures::RecordFields(Sample());
    ASSERT_EQ(f.size(), 75u);
    struct Row {
        int column; // 1-based, as the file's columns
        const char* text;
    };
    const Row rows[] = {
        {1, "1250"},
        {2, "FFFE080003AF"},
        {3, "-2"},
        {4, "4294967295"},
        {5, ""},
        {6, "1000000000000001"},
        {7, "5.02V 41mA"},
        {8, "65535"},
        {9, "-40"},
        {10, "111111111"},
        {11, "000000000"},
        {12, "200"},
        {13, "65535"},
        {14, "255"},
        {15, "4294967295"},
        {16, "3100"},
        {17, "3300"},
        {18, "255"},
        {19, "16"},
        {20, "-5"},
        {21, "95"},
        {74, "5395"},
        {75, "-32768"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(f[static_cast<size_t>(row.column - 1)], row.text) << "column " << row.column;
}

TEST(RecordingContent, PlainRecordIsWrittenAsItIs) {
    TRecordSources s;
    s.TimeMs = 7;
    s.Position.RxData = "48D14391";
    s.Position.ST_value = 74565;
    s.Supply = "ON 5V";
    s.Debug.Samples[0] = -5;
    std::string expected =
        "7;48D14391;0;74565;;0000000000000000;ON 5V;0;0;000000000;000000000;0;0;0;0;0;0;0;0;-5;";
    for (int i = 2; i <= 56; ++i)
        expected += "0;";
    EXPECT_EQ(Procedures::RecordLine(s), expected + "\r\n");
}

TEST(RecordingContent, FieldsWithSeparatorsAreQuoted) {
    struct Row {
        const char* field;
        const char* written;
    };
    const Row rows[] = {
        {"", ""},
        {"5.02V 41mA", "5.02V 41mA"},
        {"a;b", "\"a;b\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"Error Multiturn\r\nError SSync\r\n", "\"Error Multiturn\r\nError SSync\r\n\""},
        {"lone\n", "\"lone\n\""},
    };
    for (const Row& row : rows)
        EXPECT_EQ(Procedures::CsvField(row.field), row.written) << row.field;
}

TEST(RecordingContent, DurationRoundsHalfToEven) {
    struct Row {
        uint64_t ms;
        const char* line;
    };
    const Row rows[] = {
        {0, "Record duration: 0 sec."},
        {499, "Record duration: 0 sec."},
        {500, "Record duration: 0 sec."},
        {1500, "Record duration: 2 sec."},
        {2500, "Record duration: 2 sec."},
        {3500, "Record duration: 4 sec."},
        {3501, "Record duration: 4 sec."},
        // Longer than a 32-bit tick count can span (about 49.7 days).
        {5000000000ull, "Record duration: 5000000 sec."},
    };
    for (const Row& row : rows)
        EXPECT_EQ(Procedures::DurationLine(row.ms), row.line) << row.ms;
}

// A clock the test moves by hand.
struct FakeClock {
    uint64_t now = 1000000;
    Procedures::TMillisecondClock Function() {
        return [this] { return now; };
    }
};

using RecordingFile = TempDir;

TEST_F(RecordingFile, WithoutReadingsOnlyTheHeader) {
    FakeClock clock;
    Procedures::TDebugRecordFile file(clock.Function());
    ASSERT_TRUE(file.Create(dir, "TEST___20240131154502.csv")) << file.ErrorText();
    EXPECT_EQ(file.Path(), dir / "TEST___20240131154502.csv");
    clock.now += 2500;
    ASSERT_TRUE(file.Close());
    EXPECT_EQ(Procedures::DurationLine(file.Elapsed()), "Record duration: 2 sec.");
    EXPECT_EQ(ReadFile(dir / "TEST___20240131154502.csv"), Procedures::RecordingHeader() + "\r\n");
}

TEST_F(RecordingFile, EachRecordIsOnDiskBeforeTheNextAndTimeNeverWraps) {
    FakeClock clock;
    Procedures::TDebugRecordFile file(clock.Function());
    ASSERT_TRUE(file.Create(dir, "rec.csv"));
    const std::string header = Procedures::RecordingHeader() + "\r\n";
    TRecordSources s = Sample();
    s.TimeMs = 999; // the writer's own clock decides
    clock.now += 250;
    ASSERT_TRUE(file.Write(s));
    std::string onDisk = ReadFile(dir / "rec.csv");
    ASSERT_EQ(onDisk.rfind(header, 0), 0u);
    EXPECT_EQ(onDisk.substr(header.size(), 4), "250;");
    EXPECT_EQ(onDisk.substr(onDisk.size() - 10), ";-32768;\r\n");

    clock.now += 5000000000ull; // 58 days: past the wrap of a 32-bit tick count
    ASSERT_TRUE(file.Write(s));
    onDisk = ReadFile(dir / "rec.csv");
    EXPECT_NE(onDisk.find("\r\n5000000250;FFFE080003AF;"), std::string::npos);
    EXPECT_EQ(file.Records(), 2);
    ASSERT_TRUE(file.Close());
    EXPECT_EQ(Procedures::DurationLine(file.Elapsed()), "Record duration: 5000000 sec.");
}

TEST_F(RecordingFile, ASecondRecordingInTheSameSecondKeepsTheFirst) {
    Procedures::TDebugRecordFile first, second;
    ASSERT_TRUE(first.Create(dir, "TEST_a_b_20240131154502.csv"));
    ASSERT_TRUE(first.Write(Sample()));
    ASSERT_TRUE(first.Close());
    const std::string firstContent = ReadFile(dir / "TEST_a_b_20240131154502.csv");

    EXPECT_EQ(Procedures::FreeFilePath(dir, "TEST_a_b_20240131154502.csv"),
              dir / "TEST_a_b_20240131154502_2.csv");
    ASSERT_TRUE(second.Create(dir, "TEST_a_b_20240131154502.csv"));
    EXPECT_EQ(second.Path(), dir / "TEST_a_b_20240131154502_2.csv");
    ASSERT_TRUE(second.Close());
    EXPECT_EQ(ReadFile(dir / "TEST_a_b_20240131154502.csv"), firstContent);
}

TEST_F(RecordingFile, FailuresSayWhichFileAndWhy) {
    Procedures::TDebugRecordFile file;
    EXPECT_FALSE(file.Create(dir / "missing", "rec.csv"));
    EXPECT_NE(file.ErrorText().find((dir / "missing" / "rec.csv").string()), std::string::npos)
        << file.ErrorText();
    EXPECT_FALSE(file.IsOpen());
    EXPECT_FALSE(file.Write(Sample()));
    EXPECT_TRUE(file.Close());
}

// Every record, also one whose Error field holds two condition names with their line ends and
// whose supply text holds a ";" and quotes, reads back as its 75 fields.
TEST_F(RecordingFile, ACsvReaderReadsEveryRecordAsSeventyFiveFields) {
    FakeClock clock;
    Procedures::TDebugRecordFile file(clock.Function());
    ASSERT_TRUE(file.Create(dir, "rec.csv"));
    TRecordSources plain = Sample();
    TRecordSources conditions = Sample();
    conditions.StatusText = Procedures::StatusConditionText(0x8800, 2);
    ASSERT_EQ(conditions.StatusText, "Error Multiturn\r\nError SSync\r\n");
    conditions.Supply = "5V; \"ON\"";
    clock.now += 10;
    ASSERT_TRUE(file.Write(plain));
    clock.now += 10;
    ASSERT_TRUE(file.Write(conditions));
    clock.now += 10;
    ASSERT_TRUE(file.Write(plain));
    ASSERT_TRUE(file.Close());

    // The record with two conditions spans three physical lines.
    const std::string raw = ReadFile(dir / "rec.csv");
    EXPECT_EQ(Split(raw, "\r\n").size(), 1u + 1 + 3 + 1 + 1); // header, plain, three, plain, after the end

    // The reader prints each row's fields separated by 0x1F, line ends shown as \r and \n.
    const char* script =
        "import csv,sys\n"
        "with open(sys.argv[1], newline='', encoding='latin-1') as f:\n"
        "    for row in csv.reader(f, delimiter=';'):\n"
        "        print('\\x1f'.join(x.replace('\\r','\\\\r').replace('\\n','\\\\n') for x in row))\n";
    const auto r = testing_support::RunProgram(TARVO_PYTHON3, {"-c", script, (dir / "rec.csv").string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    auto rows = Split(r.out, "\n");
    ASSERT_EQ(rows.back(), "");
    rows.pop_back();
    ASSERT_EQ(rows.size(), 4u) << r.out;
    for (size_t i = 0; i < rows.size(); ++i) {
        const auto fields = Split(rows[i], "\x1f");
        ASSERT_EQ(fields.size(), 76u) << "row " << i;
        EXPECT_EQ(fields.back(), "") << "row " << i;
        if (i == 0) continue;
        EXPECT_EQ(fields[19], "-5");
        EXPECT_EQ(fields[74], "-32768");
    }
    EXPECT_EQ(Split(rows[0], "\x1f")[0], "Time(ms)");
    const auto withConditions = Split(rows[2], "\x1f");
    EXPECT_EQ(withConditions[0], "20");
    EXPECT_EQ(withConditions[4], "Error Multiturn\\r\\nError SSync\\r\\n");
    EXPECT_EQ(withConditions[5], "1000000000000001");
    EXPECT_EQ(withConditions[6], "5V; \"ON\"");
    EXPECT_EQ(Split(rows[3], "\x1f")[0], "30");
}

} // namespace
