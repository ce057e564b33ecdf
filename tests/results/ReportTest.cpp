// The run's HTML report: device texts escaped (a serial number that is markup runs nothing),
// nothing fetched from outside, the charts there when their series are, and the file written
// whole or not at all under the recording's safe-name rule.
#include "Report.h"
#include "SampleRun.h"
#include "TestSystem.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using Procedures::TCommissioningRunRecord;
using Results::ReportHtml;
using results_test::SampleRun;
using results_test::Utf8;

const char* const kScript = "<script>alert(1)</script>";
const char* const kImage = "\"><img src=x onerror=alert(1)>";

std::string Lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

TEST(Report, DeviceAndJsonTextsAreEscapedEverywhere) {
    TCommissioningRunRecord run = SampleRun("5f0c9a57-1b2c-4d3e-8f40-123456789abc", kScript, 1796985186123);
    run.PartNumber = kImage;
    run.Firmware = kScript;
    run.Operator = "O'Brien & <b>sons</b>";
    run.Verdict = Procedures::kVerdictFail;
    run.VerdictReason = kImage;
    run.Steps[0].Message = kScript;
    run.Steps[0].Figures = std::string("{\"part_number\":\"") + "\\\"><img src=x onerror=alert(1)>" +
                           "\",\"<script>\":\"</script><script>alert(2)</script>\"}";
    run.Steps[1].Limits = "not json <script>alert(3)</script>";
    run.ProfileName = kImage;
    const std::string html = ReportHtml(run);

    EXPECT_NE(html.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
    EXPECT_NE(html.find("&quot;&gt;&lt;img src=x onerror=alert(1)&gt;"), std::string::npos);
    EXPECT_NE(html.find("O&#39;Brien &amp; &lt;b&gt;sons&lt;/b&gt;"), std::string::npos);
    EXPECT_NE(html.find("&lt;/script&gt;&lt;script&gt;alert(2)"), std::string::npos) << "JSON values escaped";
    EXPECT_NE(html.find("not json &lt;script&gt;alert(3)"), std::string::npos) << "text that is no JSON";
    const std::string lower = Lower(html);
    EXPECT_EQ(lower.find("<script"), std::string::npos);
    EXPECT_EQ(lower.find("<img"), std::string::npos);
    EXPECT_EQ(lower.find("<b>"), std::string::npos);
    EXPECT_EQ(lower.find("onerror=alert(1)>"), std::string::npos);
}

TEST(Report, NeedsNothingFromOutside) {
    const std::string html =
        Lower(ReportHtml(SampleRun("5f0c9a57-1b2c-4d3e-8f40-123456789abc", "SN1", 1796985186123)));
    for (const char* reference : {"http:", "https:", "//", "src=", "href=", "url(", "@import", "<link",
                                  "<iframe", "<object", "<embed"}) {
        // Comments in the style sheet are not written, so "//" could only be a reference.
        EXPECT_EQ(html.find(reference), std::string::npos) << reference;
    }
    EXPECT_NE(html.find("<meta charset=\"utf-8\">"), std::string::npos);
    EXPECT_NE(html.find("@page { size: a4;"), std::string::npos);
    EXPECT_NE(html.find("break-inside: avoid"), std::string::npos);
}

TEST(Report, ChartsAppearForTheSeriesRecorded) {
    const TCommissioningRunRecord run =
        SampleRun("5f0c9a57-1b2c-4d3e-8f40-123456789abc", "SN1", 1796985186123);
    const std::string html = ReportHtml(run);
    EXPECT_EQ(Count(html, "<svg "), 3u) << "error map, noise histogram, signal levels";
    EXPECT_NE(html.find("aria-label=\"error map\""), std::string::npos);
    EXPECT_NE(html.find("aria-label=\"noise histogram\""), std::string::npos);
    EXPECT_NE(html.find("aria-label=\"signal level over the power cycles\""), std::string::npos);
    // The error map's 512 points in one line, and its peak-to-peak limit as two lines.
    const size_t line = html.find("<polyline class=\"series\" points=\"");
    ASSERT_NE(line, std::string::npos);
    const std::string points = html.substr(line, html.find("\"/>", line) - line);
    EXPECT_EQ(Count(points, ","), 512u);
    EXPECT_EQ(Count(html, "<line class=\"limit\""), 2u);
    EXPECT_EQ(Count(html, "<rect class=\"bar\""), 24u) << "one bar per histogram bin";
    EXPECT_NE(html.find("peak-to-peak limit 40"), std::string::npos);

    // The steps' verdicts, figures and limits as rows, and the profile written against read back.
    EXPECT_EQ(Count(html, "<section class=\"step\">"), run.Steps.size());
    EXPECT_NE(html.find("<th>peak_to_peak_max</th><td>40</td>"), std::string::npos);
    EXPECT_NE(html.find("<th>POSITION_FILTER</th><td>3</td><td>3</td>"), std::string::npos);

    TCommissioningRunRecord bare = run;
    bare.Series.clear();
    EXPECT_EQ(ReportHtml(bare).find("<svg"), std::string::npos);
}

// A group of figures (the power cycles' signal level) reads as a line per member, escaped like
// every other figure; a group inside a group reads as names and values in one line.
TEST(Report, GroupedFiguresShowALinePerMember) {
    TCommissioningRunRecord run = SampleRun("5f0c9a57-1b2c-4d3e-8f40-123456789abc", "SN1", 1796985186123);
    run.Steps[6].Figures = R"({"cycles":20,"signal_level":{"readings":20,"minimum":1490,"<b>":"<i>",)"
                           R"("deeper":{"a":1}}})";
    const std::string html = ReportHtml(run);
    EXPECT_NE(html.find("<th>signal_level</th><td><div class=\"member\"><span class=\"key\">readings</span> 20</div>"
                        "<div class=\"member\"><span class=\"key\">minimum</span> 1490</div>"
                        "<div class=\"member\"><span class=\"key\">&lt;b&gt;</span> &lt;i&gt;</div>"
                        "<div class=\"member\"><span class=\"key\">deeper</span> a: 1</div></td></tr>"),
              std::string::npos)
        << html;
}

TEST(Report, VerdictOnTopAndReadBackMismatchesMarked) {
    TCommissioningRunRecord run = SampleRun("5f0c9a57-1b2c-4d3e-8f40-123456789abc", "SN1", 1796985186123);
    run.Verdict = Procedures::kVerdictFail;
    run.VerdictReason = "apply-profile: POSITION_FILTER read back 2, written 3";
    for (auto& s : run.Series)
        if (s.Name == "profile-read-back") s.Data = "{\"POSITION_OFFSET\":0,\"POSITION_FILTER\":2}";
    const std::string html = ReportHtml(run);
    const size_t verdict = html.find("<header class=\"verdict fail\"><span class=\"word\">FAIL</span>");
    ASSERT_NE(verdict, std::string::npos);
    EXPECT_LT(verdict, html.find("Serial number"));
    EXPECT_NE(html.find("<tr class=\"differs\"><th>POSITION_FILTER</th><td>3</td><td>2 &#8800;"),
              std::string::npos);
    EXPECT_NE(html.find("<tr><th>POSITION_OFFSET</th><td>0</td><td>0</td>"), std::string::npos);
    EXPECT_NE(html.find("<th>SELF_CAL_ARC</th><td>360</td><td>&ndash;</td>"), std::string::npos)
        << "a register written but not read back shows as missing";
}

TEST(Report, TextsThatAreNotUtf8ShowAsLatin1) {
    std::string bytes;
    for (int b = 1; b <= 255; ++b)
        bytes += static_cast<char>(b);
    TCommissioningRunRecord run = SampleRun("5f0c9a57-1b2c-4d3e-8f40-123456789abc", bytes, 1796985186123);
    run.PartNumber = "\xC5\xBD"
                     "AN-7"; // valid UTF-8 (Ž) stays as it is
    const std::string html = ReportHtml(run);
    EXPECT_TRUE(Results::IsValidUtf8(html));
    EXPECT_NE(html.find("\xC5\xBD"
                        "AN-7"),
              std::string::npos);
    EXPECT_NE(html.find("\xC3\xBF"), std::string::npos) << "0xFF as U+00FF";
    EXPECT_NE(html.find("\xE2\x90\x81"), std::string::npos) << "0x01 as its visible symbol";
    EXPECT_EQ(html.find('\x01'), std::string::npos);

    struct Case {
        std::string text;
        bool utf8;
    };
    const Case cases[] = {
        {"plain", true},     {"\xC5\xBD", true},  {"\xE2\x82\xAC", true},  {"\xF0\x9F\x98\x80", true},
        {"\xC5", false},     {"\xC0\xAF", false}, {"\xED\xA0\x80", false}, {"\xF4\x90\x80\x80", false},
        {"\xE2\x82", false}, {"a\xFF", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Results::IsValidUtf8(c.text), c.utf8) << c.text;
}

class ReportFile : public ::testing::Test {
protected:
    void SetUp() override {
        dir = results_test::NewTempFolder("tarvo-report");
        results_test::SetTimeZone("UTC0");
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir, ec);
        results_test::SetTimeZone(nullptr);
    }
    std::vector<std::string> Files(const fs::path& folder) {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(folder))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    fs::path dir;
};

TEST_F(ReportFile, NamedBySerialAndLocalStartWrittenWhole) {
    const TCommissioningRunRecord run =
        SampleRun("5f0c9a57-1b2c-4d3e-8f40-123456789abc", "../x/y:z", 1796985186123);
    EXPECT_EQ(Results::ReportFileName(run), "___x_y_z_20261211_103306.html");
    EXPECT_EQ(Results::ReportFileName(SampleRun("u", kScript, 1796985186123)),
              "_script_alert(1)__script__20261211_103306.html");

    std::string path, error;
    const fs::path folder = dir / "reports" / "new";
    ASSERT_TRUE(Results::WriteReport(run, Utf8(folder), path, error)) << error;
    EXPECT_EQ(path, Utf8(folder / "___x_y_z_20261211_103306.html"));
    std::ifstream in(platform::PathFromUtf8(path), std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    EXPECT_EQ(content.str(), Results::ReportHtml(run));
    // The same encoder started twice in one second keeps both reports.
    ASSERT_TRUE(Results::WriteReport(run, Utf8(folder), path, error)) << error;
    EXPECT_EQ(path, Utf8(folder / "___x_y_z_20261211_103306_2.html"));
    EXPECT_EQ(Files(folder),
              (std::vector<std::string>{"___x_y_z_20261211_103306.html", "___x_y_z_20261211_103306_2.html"}))
        << "no temporary file left";
}

// A report written to a name of the user's choosing replaces the file there whole (on Windows a
// rename does not replace a file by itself).
TEST_F(ReportFile, AGivenNameReplacesTheFileThere) {
    const fs::path target = dir / "report.html";
    std::ofstream(target, std::ios::binary) << "an older report, longer than nothing";
    const TCommissioningRunRecord run =
        SampleRun("5f0c9a57-1b2c-4d3e-8f40-123456789abc", "SN1", 1796985186123);
    std::string error;
    ASSERT_TRUE(Results::WriteReportFile(run, Utf8(target), error)) << error;
    std::ifstream in(target, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    EXPECT_EQ(content.str(), Results::ReportHtml(run));
    EXPECT_EQ(Files(dir), (std::vector<std::string>{"report.html"})) << "no temporary file left";
}

TEST_F(ReportFile, AFailedWriteLeavesNoFileAndSaysWhy) {
    const TCommissioningRunRecord run =
        SampleRun("5f0c9a57-1b2c-4d3e-8f40-123456789abc", "SN1", 1796985186123);
    std::string path, error;

    // The folder is a file: nothing can be written into it.
    const fs::path notAFolder = dir / "plain-file";
    std::ofstream(notAFolder) << "x";
    EXPECT_FALSE(Results::WriteReport(run, Utf8(notAFolder), path, error));
    EXPECT_NE(error.find(Utf8(notAFolder)), std::string::npos) << error;
#ifdef _WIN32
    EXPECT_GT(error.size(), ("cannot make the report folder " + Utf8(notAFolder) + ": ").size())
        << "the system's reason: " << error;
#else
    EXPECT_NE(error.find("directory"), std::string::npos) << "the system's reason: " << error;
#endif

    // The report's own name is taken by a folder: the rename fails after the whole file was
    // written, and the temporary file goes.
    const fs::path target = dir / "taken.html";
    fs::create_directories(target / "inside");
    error.clear();
    EXPECT_FALSE(Results::WriteReportFile(run, Utf8(target), error));
    EXPECT_NE(error.find("cannot write the report " + Utf8(target)), std::string::npos) << error;
    EXPECT_EQ(Files(dir), (std::vector<std::string>{"plain-file", "taken.html"}));

    // A folder removed under the writer.
    error.clear();
    EXPECT_FALSE(Results::WriteReportFile(run, Utf8(dir / "gone" / "r.html"), error));
#ifdef _WIN32
    EXPECT_NE(error.find("cannot write the report " + Utf8(dir / "gone" / "r.html") + ": "),
              std::string::npos)
        << error;
#else
    EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
#endif
    EXPECT_EQ(Files(dir), (std::vector<std::string>{"plain-file", "taken.html"}));
}

} // namespace
