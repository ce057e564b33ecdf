// k310-sim as a user runs it: help, describe, the terminal path on the first line, control
// commands on standard input, a link that follows come-backs, and a clean end on end of input
// or SIGTERM.
#include "RunProgram.h"
#include "RunningSim.h"
#include "SimClient.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using simtest::RunningSim;
using simtest::SimClient;
using testing_support::RunProgram;

namespace {

const std::string kProgram = K310_SIM_PROGRAM;

std::string TempLink() {
    char dir[] = "/tmp/k310simXXXXXX";
    const char* made = ::mkdtemp(dir);
    return made ? std::string(made) + "/adapter" : std::string();
}

bool IsLinkTo(const std::string& link, const std::string& target) {
    char buf[256] = {};
    const ssize_t n = ::readlink(link.c_str(), buf, sizeof buf - 1);
    return n > 0 && std::string(buf, static_cast<size_t>(n)) == target;
}

} // namespace

TEST(K310SimProgram, HelpDocumentsOptionsPresetsAndControls) {
    const auto r = RunProgram(kProgram, {"--help"});
    EXPECT_EQ(r.exitCode, 0);
    for (const char* word : {"--preset",     "--position", "--rotate",   "--noise", "--wire-timing",
                             "--usb-frames", "--power-on", "--describe", "--link",  "--no-input",
                             "t1mt",         "t5",         "bare",       "unplug",  "silent",
                             "garbage",      "badcrc",     "regerror",   "jump",    "selfcal"})
        EXPECT_NE(r.out.find(word), std::string::npos) << word;
}

TEST(K310SimProgram, DescribePrintsTheVariantAsJson) {
    struct Row {
        const char* preset;
        const char* fragments[3];
    } rows[] = {
        {"t5", {"\"typeCode\": \"37\"", "\"layout\": \"new\"", "\"versionWidth\": 4"}},
        {"bare", {"\"firmware\": null", "\"SIGNAL_LEVEL\": {\"present\": false", "\"resolution\": \"16B\""}},
        {"t6", {"\"DIAGNOSTICS\": {\"present\": true", "\"multiturn\": true", "\"hash\": \"C0FFEE42\""}},
    };
    for (const auto& row : rows) {
        const auto r = RunProgram(kProgram, {"--preset", row.preset, "--describe"});
        EXPECT_EQ(r.exitCode, 0) << row.preset;
        EXPECT_EQ(r.out.front(), '{');
        for (const char* f : row.fragments)
            EXPECT_NE(r.out.find(f), std::string::npos) << row.preset << " " << f;
    }
    const auto r = RunProgram(kProgram, {"--describe", "--adapter-version", "1.08"});
    EXPECT_NE(r.out.find("K310-7K v1.08"), std::string::npos);
}

TEST(K310SimProgram, RefusesWhatItDoesNotKnow) {
    struct Row {
        std::vector<std::string> args;
        const char* says;
    } rows[] = {{{"--preset", "t9"}, "t9"},
                {{"--noise", "loud"}, "noise"},
                {{"--frobnicate"}, "frobnicate"},
                {{"--preset"}, "needs a value"}};
    for (const auto& row : rows) {
        const auto r = RunProgram(kProgram, row.args);
        EXPECT_EQ(r.exitCode, 2) << row.says;
        EXPECT_NE(r.err.find(row.says), std::string::npos) << r.err;
    }
}

TEST(K310SimProgram, ServesThePrintedTerminalAndObeysStandardInput) {
    const std::string link = TempLink();
    RunningSim p({"--preset", "t5", "--link", link, "--position", "1000"});
    const std::string path = p.Line();
    ASSERT_EQ(path.rfind("/dev/", 0), 0u) << path;
    EXPECT_TRUE(IsLinkTo(link, path));
    {
        SimClient c(link);
        ASSERT_TRUE(c.IsOpen());
        EXPECT_EQ(c.Tx("v"), "K310-7K v1.09\r");
        EXPECT_EQ(c.Tx("j").rfind("ERROR", 0), 0u) << "supply still off";
        EXPECT_EQ(c.Tx("n"), "ON 5.0 V\r");
        EXPECT_EQ(c.Tx("j"), "37QX120-0R19B00060\r");
        EXPECT_EQ(c.Tx("R:0004:00000040"), "0x9:0x54535231\r"); // "TSR1"
    }
    p.Say("state");
    const std::string state = p.Line();
    EXPECT_EQ(state.rfind("ok preset=t5 supply=on", 0), 0u) << state;
    EXPECT_NE(state.find("st=1000"), std::string::npos) << state;
    p.Say("bogus");
    EXPECT_EQ(p.Line().rfind("error", 0), 0u);

    p.Say("replug");
    const std::string second = p.Line();
    const std::string answer = p.Line();
    const std::string newPath = second.rfind("ok ", 0) == 0 ? second.substr(3) : second;
    EXPECT_NE(newPath, path);
    EXPECT_TRUE(IsLinkTo(link, newPath)) << second << " / " << answer;
    {
        SimClient c(newPath);
        EXPECT_EQ(c.Tx("o"), "17\r");
    }
    p.CloseInput();
    EXPECT_EQ(p.Wait(), 0);
    struct stat st {};
    EXPECT_NE(::lstat(link.c_str(), &st), 0) << "the link goes with the program";
}

TEST(K310SimProgram, EndsCleanlyOnSigterm) {
    RunningSim p({"--power-on", "--no-input"});
    p.CloseInput(); // without --no-input this alone would end it
    const std::string path = p.Line();
    ASSERT_EQ(path.rfind("/dev/", 0), 0u) << path;
    SimClient c(path);
    EXPECT_EQ(c.Tx("j").substr(0, 2), "15");
    p.Signal(SIGTERM);
    EXPECT_EQ(p.Wait(), 0);
}

// Started with a standard stream closed, the program must not serve its terminal on that
// number: its own lines would reach the client as if the adapter had sent them.
TEST(K310SimProgram, ClosedStandardStreamsAreOpenedOnDevNull) {
    for (int closed : {1, 2}) {
        SCOPED_TRACE(closed);
        const std::string link = TempLink();
        RunningSim p({"--link", link}, closed);
        struct stat st {};
        for (int i = 0; i < 300 && ::lstat(link.c_str(), &st) != 0; ++i)
            ::usleep(10000);
        char target[256] = {};
        const std::string fd = "/proc/" + std::to_string(p.Pid()) + "/fd/" + std::to_string(closed);
        ASSERT_GT(::readlink(fd.c_str(), target, sizeof target - 1), 0);
        EXPECT_STREQ(target, "/dev/null");
        SimClient c(link);
        ASSERT_TRUE(c.IsOpen());
        ASSERT_TRUE(c.Send("v"));
        EXPECT_EQ(c.ReadReply(), "K310-7K v1.09\r");
        p.Say("quit");
        EXPECT_EQ(p.Wait(), 0);
    }
}
