// tarvo-cli's results commands, the real program against a database filled here: lists with
// their filters, a run shown and exported, its report written, and what it refuses.
#include "ResultsStore.h"
#include "RunProgram.h"
#include "SampleRun.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using testing_support::RunProgram;

const char* const kScript = "<script>alert(1)</script>";

class CliResults : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/tarvo-cli-results-XXXXXX";
        ASSERT_NE(::mkdtemp(name), nullptr);
        dir = name;
        db = (dir / "results.sqlite").string();
        Results::TResultsStore store;
        std::string error;
        ASSERT_TRUE(store.Open(db, error)) << error;
        // Three runs of one encoder, one of another, one left unfinished (interrupted on the
        // next opening).
        const std::pair<const char*, const char*> runs[] = {
            {"aaaa0001-0000-4000-8000-000000000001", "SN-1"},
            {"aaaa0002-0000-4000-8000-000000000002", kScript},
            {"bbbb0003-0000-4000-8000-000000000003", "SN-1"},
            {"cccc0004-0000-4000-8000-000000000004", "SN-1"},
        };
        int64_t start = 1796985186000; // 2026-12-11T10:33:06Z
        for (const auto& [uuid, serial] : runs) {
            auto run = results_test::SampleRun(uuid, serial, start += 3600000);
            if (std::string(uuid).starts_with("bbbb")) {
                run.Verdict = Procedures::kVerdictFail;
                run.VerdictReason = "error-map: peak-to-peak 30.9 > 20";
            }
            ASSERT_TRUE(store.BeginRun(run, error)) << error;
            for (const auto& step : run.Steps)
                ASSERT_TRUE(store.AddStep(run.Uuid, step, results_test::SeriesOf(run, step.Order), error))
                    << error;
            if (!std::string(uuid).starts_with("cccc")) {
                ASSERT_TRUE(store.FinishRun(run.Uuid, run.Verdict, run.VerdictReason, run.EndMs, error))
                    << error;
            }
        }
    }
    void TearDown() override { fs::remove_all(dir); }

    testing_support::ProgramOutput Run(std::vector<std::string> args) {
        args.insert(args.begin(), "results");
        return RunProgram(TARVO_CLI_PATH, args);
    }
    // The UUIDs of a plain list, in its order.
    static std::vector<std::string> Uuids(const std::string& out) {
        std::vector<std::string> uuids;
        std::istringstream lines(out);
        std::string line;
        while (std::getline(lines, line))
            if (line.size() > 36 && line[8] == '-') uuids.push_back(line.substr(0, 36));
        return uuids;
    }
    fs::path dir;
    std::string db;
};

TEST_F(CliResults, ListsChooseRunsNewestFirst) {
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> prefixes;
    };
    const Case cases[] = {
        {{}, {"cccc", "bbbb", "aaaa0002", "aaaa0001"}},
        {{"--serial", "SN-1"}, {"cccc", "bbbb", "aaaa0001"}},
        {{"--serial", kScript}, {"aaaa0002"}},
        {{"--verdict", "fail"}, {"bbbb"}},
        {{"--verdict", "INTERRUPTED"}, {"cccc"}},
        {{"--since", "2026-12-11T13:00:00Z"}, {"cccc", "bbbb"}},
        {{"--since", "2026-12-12"}, {}},
        {{"--serial", "SN-1", "--limit", "1"}, {"cccc"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"list", "--db", db};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const auto r = Run(args);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const auto uuids = Uuids(r.out);
        ASSERT_EQ(uuids.size(), c.prefixes.size()) << r.out;
        for (size_t i = 0; i < uuids.size(); ++i)
            EXPECT_TRUE(uuids[i].starts_with(c.prefixes[i])) << r.out;
    }
    // The terminal gets the serial number's characters, and the unfinished run its verdict.
    const auto all = Run({"list", "--db", db});
    EXPECT_NE(all.out.find(kScript), std::string::npos);
    EXPECT_NE(all.out.find("INTERRUPTED"), std::string::npos);

    const auto asJson = Run({"list", "--db", db, "--serial", "SN-1", "--json"});
    ASSERT_EQ(asJson.exitCode, 0) << asJson.err;
    const json j = json::parse(asJson.out);
    EXPECT_EQ(j["ok"], true);
    ASSERT_EQ(j["runs"].size(), 3u);
    EXPECT_EQ(j["runs"][0]["uuid"], "cccc0004-0000-4000-8000-000000000004");
    EXPECT_EQ(j["runs"][0]["verdict"], "INTERRUPTED");
    EXPECT_EQ(j["runs"][1]["verdict_reason"], "error-map: peak-to-peak 30.9 > 20");
    EXPECT_EQ(j["runs"][2]["start"], "2026-12-11T11:33:06.000Z");
    EXPECT_EQ(j["runs"][2]["part_number"], "VK766-0A18B-0100");
}

TEST_F(CliResults, ShowExportAndReportOneRun) {
    const auto shown = Run({"show", "bbbb", "--db", db});
    ASSERT_EQ(shown.exitCode, 0) << shown.err;
    EXPECT_NE(shown.out.find("Run: bbbb0003-0000-4000-8000-000000000003\n"), std::string::npos);
    EXPECT_NE(shown.out.find("Verdict: FAIL\nReason: error-map: peak-to-peak 30.9 > 20\n"),
              std::string::npos);
    EXPECT_NE(shown.out.find("  5 error-map: PASS"), std::string::npos) << shown.out;
    EXPECT_NE(shown.out.find("Series: error-map (step 5)"), std::string::npos) << shown.out;

    const auto asJson = Run({"show", "AAAA0002", "--db", db, "--json"});
    ASSERT_EQ(asJson.exitCode, 0) << asJson.err;
    const json j = json::parse(asJson.out);
    EXPECT_EQ(j["serial_number"], kScript);
    EXPECT_EQ(j["profile"]["registers"]["POSITION_FILTER"], 3);
    ASSERT_EQ(j["steps"].size(), 9u);
    EXPECT_EQ(j["steps"][4]["limits"]["peak_to_peak_max"], 40);
    EXPECT_EQ(j["series"][2]["name"], "error-map");
    EXPECT_EQ(j["series"][2]["data"]["values"].size(), 512u);

    const auto csv = Run({"export", "--csv", "--db", db, "--serial", "SN-1", "--verdict", "FAIL"});
    ASSERT_EQ(csv.exitCode, 0) << csv.err;
    EXPECT_TRUE(csv.out.starts_with("run_uuid,serial_number,part_number,run_verdict,")) << csv.out;
    size_t rows = 0;
    for (size_t at = csv.out.find("\r\nbbbb0003"); at != std::string::npos;
         at = csv.out.find("\r\nbbbb0003", at + 1))
        ++rows;
    EXPECT_EQ(rows, 9u) << "one row per step";

    const std::string out = (dir / "report.html").string();
    const auto report = Run({"report", "aaaa0002", "--out", out, "--db", db});
    ASSERT_EQ(report.exitCode, 0) << report.err;
    EXPECT_EQ(report.out, "Report: " + out + "\n");
    std::ifstream in(out);
    std::stringstream html;
    html << in.rdbuf();
    EXPECT_NE(html.str().find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
    EXPECT_EQ(html.str().find("<script"), std::string::npos);
}

TEST_F(CliResults, MissingDatabaseAndUnknownRunsFail) {
    const std::string missing = (dir / "none" / "results.sqlite").string();
    struct Case {
        std::vector<std::string> args;
        std::string errHolds;
    };
    const Case cases[] = {
        {{"list", "--db", missing}, "no results database at " + missing},
        {{"show", "aaaa", "--db", missing}, "no results database at " + missing},
        {{"report", "aaaa0001", "--out", (dir / "r.html").string(), "--db", missing},
         "no results database at " + missing},
        {{"show", "dddd", "--db", db}, "no run dddd in " + db},
        {{"show", "aaaa", "--db", db},
         "run aaaa is ambiguous: it begins aaaa0001-0000-4000-8000-000000000001, "
         "aaaa0002-0000-4000-8000-000000000002"},
        {{"report", "aaaa0001", "--out", (dir / "no-folder" / "r.html").string(), "--db", db},
         "cannot write the report " + (dir / "no-folder" / "r.html").string()},
    };
    for (const Case& c : cases) {
        const auto r = Run(c.args);
        EXPECT_EQ(r.exitCode, 1) << c.args[0] << " " << c.args[1];
        EXPECT_NE(r.err.find(c.errHolds), std::string::npos) << r.err;
    }
    EXPECT_FALSE(fs::exists(dir / "none")) << "reading made a database";
    EXPECT_FALSE(fs::exists(dir / "r.html"));

    const auto asJson = Run({"show", "dddd", "--db", db, "--json"});
    EXPECT_EQ(asJson.exitCode, 1);
    EXPECT_EQ(json::parse(asJson.out)["ok"], false);
}

TEST_F(CliResults, BadUsageExitsWithTwo) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"frob"},
        {"list", "--since", "2026-13-01"},
        {"list", "--since", "last week"},
        {"list", "--verdict", "OK"},
        {"list", "--limit", "0"},
        {"list", "extra"},
        {"list", "--out", "x.html"},
        {"show"},
        {"show", "aaaa", "bbbb"},
        {"export"},
        {"export", "--csv", "--json"},
        {"report", "aaaa0001"},
        {"report", "--out", "x.html"},
        {"list", "--nope"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c;
        args.push_back("--db=" + db);
        const auto r = Run(args);
        std::string shown;
        for (const auto& a : c)
            shown += a + " ";
        EXPECT_EQ(r.exitCode, 2) << shown << r.err;
        EXPECT_NE(r.err.find("Try 'tarvo-cli results --help'."), std::string::npos) << shown << r.err;
        EXPECT_EQ(r.out, "") << shown;
    }
    const auto since = Run({"list", "--since", "2026-02-30", "--db", db});
    EXPECT_NE(since.err.find("--since: expected a date YYYY-MM-DD"), std::string::npos) << since.err;
    const auto verdict = Run({"list", "--verdict", "OK", "--db", db});
    EXPECT_NE(verdict.err.find("--verdict: expected PASS, FAIL or INTERRUPTED, not \"OK\""),
              std::string::npos)
        << verdict.err;
    EXPECT_EQ(Run({"--help"}).exitCode, 0);
}

} // namespace
