// tarvo-cli's manners towards the person typing: what it refuses, what it makes for them, and
// how it shows what the adapter said.
#include "K310Simulator.h"
#include "RunProgram.h"
#include "ScriptedPeer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using testing_support::ProgramStreams;
using testing_support::RunProgram;

namespace {

class CliManners : public ::testing::Test {
protected:
    void Start(const std::string& preset, bool powerOn) {
        sim::SimOptions options;
        options.preset = preset;
        options.powerOn = powerOn;
        simulator = std::make_unique<sim::K310Simulator>(options);
        std::string error;
        ASSERT_TRUE(simulator->Start(&error)) << error;
    }
    testing_support::ProgramOutput Run(std::vector<std::string> args, const ProgramStreams& streams = {}) {
        args.push_back("--port=" + simulator->SlavePath());
        return RunProgram(TARVO_CLI_PATH, args, streams);
    }
    fs::path TempFolder() {
        std::string pattern = (fs::temp_directory_path() / "tarvo-cli-manners-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) return {};
        folders.push_back(pattern);
        return pattern;
    }
    void TearDown() override {
        for (const auto& f : folders)
            fs::remove_all(f);
    }
    std::unique_ptr<sim::K310Simulator> simulator;
    std::vector<fs::path> folders;
};

TEST(CliCrc, TakesHexTextOnly) {
    struct Row {
        std::vector<std::string> args;
        int exit;
        std::string out, err;
    };
    const std::string tryLine = "Try 'tarvo-cli crc --help'.\n";
    const Row rows[] = {
        {{"crc", "48D143"}, 0, "91\n", ""},
        {{"crc", "48d14"}, 0, "BF\n", ""}, // a lone last digit is the high half of its byte: 48D140
        {{"crc", "ZZ"},
         2,
         "",
         "tarvo-cli: HEXTEXT must be hexadecimal digits (0-9, A-F), not \"ZZ\"\n" + tryLine},
        {{"crc", "48 D1"},
         2,
         "",
         "tarvo-cli: HEXTEXT must be hexadecimal digits (0-9, A-F), not \"48 D1\"\n" + tryLine},
        {{"crc", ""},
         2,
         "",
         "tarvo-cli: HEXTEXT must be hexadecimal digits (0-9, A-F), not \"\"\n" + tryLine},
        {{"crc", "48D143", "--json"}, 2, "", "tarvo-cli: unknown option --json\n" + tryLine},
        {{"crc", "48", "D1"}, 2, "", "tarvo-cli: crc takes exactly one HEXTEXT\n" + tryLine},
        // A text that begins with a dash after "--" is still refused as text, not as an option.
        {{"crc", "--", "-1"},
         2,
         "",
         "tarvo-cli: HEXTEXT must be hexadecimal digits (0-9, A-F), not \"-1\"\n" + tryLine},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args.back());
        const auto r = RunProgram(TARVO_CLI_PATH, row.args);
        EXPECT_EQ(r.exitCode, row.exit);
        EXPECT_EQ(r.out, row.out);
        EXPECT_EQ(r.err, row.err);
    }
}

TEST_F(CliManners, OptionsTakeTheirValueAfterAnEqualsSignToo) {
    Start("t1", true);
    simulator->SetPosition(1234);
    const auto joined = Run({"read", "--count=3", "--interval=1"});
    ASSERT_EQ(joined.exitCode, 0) << joined.err;
    const auto spaced = Run({"read", "--count", "3", "--interval", "1"});
    ASSERT_EQ(spaced.exitCode, 0) << spaced.err;
    EXPECT_EQ(joined.out, spaced.out);
    size_t lines = 0;
    for (char c : joined.out)
        lines += c == '\n';
    EXPECT_EQ(lines, 3u) << joined.out;
}

TEST_F(CliManners, SendTakesJsonAndAnyOfThePortOptions) {
    Start("t1", false);
    const auto r = Run({"send", "--json", "v"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "{\"ok\":true,\"port\":\"" + simulator->SlavePath() +
                         "\",\"result\":0,\"reply\":\"K310-7K v1.09\\r\"}\n");

    // Ports are tried in order; the first that opens takes the command.
    const auto second = RunProgram(
        TARVO_CLI_PATH, {"send", "--port", "/dev/tarvo-none", "--port", simulator->SlavePath(), "v"});
    EXPECT_EQ(second.exitCode, 0) << second.err;
    EXPECT_EQ(second.out, "result 0\nreply K310-7K v1.09\\r\n");

    const auto none = RunProgram(TARVO_CLI_PATH, {"send", "--port", "/dev/tarvo-none", "--json", "v"});
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_EQ(
        none.out.rfind("{\"ok\":false,\"LastErrorText\":\"cannot open /dev/tarvo-none: No such file", 0), 0u)
        << none.out;
}

TEST(CliSendSearch, WithoutAPortTheAdapterIsSearchedFor) {
    // No adapter on this machine: the search's own answer, not a demand for --port.
    const auto r = RunProgram(TARVO_CLI_PATH, {"send", "v"});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_EQ(r.err.rfind("tarvo-cli: no K310-7K adapter found", 0), 0u) << r.err;
}

TEST_F(CliManners, RecordMakesAMissingFolderAndNamesAPathThatIsNoFolder) {
    Start("t1", true);
    const fs::path base = TempFolder();
    ASSERT_FALSE(base.empty());
    const fs::path nested = base / "runs" / "line 3";
    auto r = Run({"record", "--seconds", "0", "--dir", nested.string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(fs::is_directory(nested));
    EXPECT_EQ(r.out.rfind("path: " + nested.string() + "/TEST_", 0), 0u) << r.out;

    const fs::path file = base / "a-file";
    std::ofstream(file) << "x";
    r = Run({"record", "--seconds", "0", "--dir", file.string()});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, "tarvo-cli: --dir " + file.string() +
                         " exists and is not a folder\nTry 'tarvo-cli record --help'.\n");

    // A folder that cannot be made is a failure of the run, with the system's reason.
    r = Run({"record", "--seconds", "0", "--dir", (file / "below").string()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err,
              "tarvo-cli: cannot create the folder " + (file / "below").string() + ": Not a directory\n");
    EXPECT_EQ(r.out, "");
}

TEST_F(CliManners, TheAdaptersReplyIsShownAsItWasSent) {
    // The supply is off: the adapter answers the register read with a sentence.
    Start("t1", false);
    const auto r = Run({"reg", "read", "0x4E", "2"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "tarvo-cli: Error\r\nsCmd: R:0002:0000004E RCV: ERROR encoder not powered\n");
    // The JSON keeps the protocol's own text, as scripts have read it so far.
    const auto json = Run({"reg", "read", "0x4E", "2", "--json"});
    EXPECT_NE(json.out.find("RCV: ERRORencodernotpowered"), std::string::npos) << json.out;
}

TEST_F(CliManners, ReadingsIntoAPipeNobodyReadsEndTheRunWithExitOne) {
    Start("t1", true);
    ProgramStreams streams;
    streams.outReaderGone = true;
    const auto r = Run({"read", "--count", "100000"}, streams);
    EXPECT_EQ(r.killedBy, 0);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "tarvo-cli: cannot write standard output: Broken pipe\n");
}

} // namespace
