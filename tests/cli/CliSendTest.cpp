// tarvo-cli's first subcommands, run as a program against a scripted device.
#include "CliSendArguments.h"
#include "CliText.h"
#include "RunProgram.h"
#include "ScriptedPeer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using testing_support::RunProgram;
using testing_support::ScriptedPeer;

namespace {

TEST(CliText, EscapingRoundTrips) {
    struct Case {
        std::string bytes;
        std::string escaped;
    };
    const std::vector<Case> cases = {
        {"K310-7K v1.09\r", "K310-7K v1.09\\r"},
        {"a\nb\\c", "a\\nb\\\\c"},
        {std::string("\x00\x7F\xFF\t", 4), "\\x00\\x7F\\xFF\\x09"},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(cli::EscapeBytes(c.bytes), c.escaped);
        EXPECT_EQ(cli::UnescapeBytes(c.escaped), c.bytes);
    }
    EXPECT_EQ(cli::UnescapeBytes("x\\t\\\"\\0"), std::string("x\t\"\0", 4));
    for (const char* bad : {"\\", "\\q", "\\x4", "\\xG0"})
        EXPECT_FALSE(cli::UnescapeBytes(bad)) << bad;
}

TEST(CliText, Numbers) {
    EXPECT_EQ(cli::ParseNumber("255", 255), 255u);
    EXPECT_EQ(cli::ParseNumber("0x1800", 0xFFFFFFFF), 0x1800u);
    EXPECT_FALSE(cli::ParseNumber("256", 255));
    EXPECT_FALSE(cli::ParseNumber("0x", 255));
    EXPECT_FALSE(cli::ParseNumber("-1", 255));
    EXPECT_FALSE(cli::ParseNumber("99999999999999999999999", ~0ull));
}

TEST(CliSendArguments, ValuesAndTheFirstProblem) {
    std::string problem;
    const auto all = cli::ParseSendArguments({"--pace", "0x0A", "--port", "/dev/a", "R:0002:0000004E\\r",
                                              "--min-reply", "4294967295", "--port", "/dev/b"},
                                             &problem);
    ASSERT_TRUE(all) << problem;
    EXPECT_FALSE(all->help);
    EXPECT_EQ(all->ports, (std::vector<std::string>{"/dev/a", "/dev/b"})); // tried in this order
    EXPECT_EQ(all->command, "R:0002:0000004E\r");
    EXPECT_EQ(all->minReply, 4294967295u);
    EXPECT_EQ(all->pace, 10);

    const auto empty = cli::ParseSendArguments({"--port", "p", ""}, &problem);
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->command, "");

    // Help wins over what follows it, not over a problem before it.
    EXPECT_FALSE(cli::ParseSendArguments({"--bogus", "-h"}, &problem));
    const auto help = cli::ParseSendArguments({"v", "-h", "--bogus"}, &problem);
    ASSERT_TRUE(help);
    EXPECT_TRUE(help->help);

    const std::vector<std::pair<std::vector<std::string>, std::string>> bad = {
        {{"--port"}, "--port needs a value"},
        {{"--port", "p", "--pace", "--help", "v"}, "--pace needs a value"},
        {{"--port", "p", "--pace=256", "v"}, "--pace needs a number of milliseconds 0..255"},
        {{"--port", "p", "--min-reply", "4294967296", "v"}, "--min-reply needs a number 0..4294967295"},
        {{"--port", "p", "v", "w"}, "only one COMMAND may be given"},
        {{"--port", "p", "\\x4"}, "malformed escape in COMMAND"},
        {{"--json=1", "v"}, "--json takes no value"},
        {{"--port", "p"}, "COMMAND is missing"},
    };
    for (const auto& [args, reason] : bad) {
        problem.clear();
        EXPECT_FALSE(cli::ParseSendArguments(args, &problem)) << reason;
        EXPECT_EQ(problem, reason);
    }
}

TEST(CliCrc, PrintsTwoUpperCaseDigits) {
    const std::vector<std::pair<std::string, std::string>> cases = {{"48D143", "91\n"}, {"abcd", "3C\n"}};
    for (const auto& [hex, out] : cases) {
        const auto r = RunProgram(TARVO_CLI_PATH, {"crc", hex});
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.out, out);
    }
}

TEST(CliSend, PrintsResultAndEscapedReply) {
    ScriptedPeer peer;
    peer.Add("v", "K310-7K v1.09\r\x01");
    auto r = RunProgram(TARVO_CLI_PATH, {"send", "--port", peer.SlavePath(), "--min-reply", "7", "v"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    // The reply may have arrived in one piece or in two; what is printed is what was taken.
    EXPECT_EQ(r.out.rfind("result 0\nreply K310-7K", 0), 0u) << r.out;

    peer.Add("W:0001:00000049:000000A5", "0x9\r");
    r = RunProgram(TARVO_CLI_PATH,
                   {"send", "--port", peer.SlavePath(), "--pace", "1", "W:0001:00000049:000000A5"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "result 0\nreply 0x9\\r\n");

    // The command's escapes are sent as bytes.
    peer.Add("x\r", "Reset of Velcor protocol performed\r");
    r = RunProgram(TARVO_CLI_PATH, {"send", "--port", peer.SlavePath(), "x\\r"});
    EXPECT_EQ(r.out, "result 0\nreply Reset of Velcor protocol performed\\r\n");
}

TEST(CliSend, TimeOutExitsOne) {
    ScriptedPeer peer;
    peer.Add(testing_support::Exchange{"m", {{"1.5", 0}}});
    const auto r = RunProgram(TARVO_CLI_PATH, {"send", "--port", peer.SlavePath(), "m"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "result -1\nreply 1.5\n");
}

TEST(CliSend, UnopenablePortNamesPathAndError) {
    const auto r = RunProgram(TARVO_CLI_PATH, {"send", "--port", "/dev/does-not-exist-tty", "v"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("/dev/does-not-exist-tty"), std::string::npos);
    EXPECT_NE(r.err.find("No such file"), std::string::npos);
}

TEST(CliUsage, BadUsageExitsTwoWithUsageAndHelpExitsZero) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"frobnicate"},
        {"crc"},
        {"crc", "12", "34"},
        {"send", "--port", "/dev/null"},
        {"send", "--port", "/dev/null", "--pace", "256", "v"},
        {"send", "--port", "/dev/null", "--min-reply", "x", "v"},
        {"send", "--port", "/dev/null", "\\q"},
        {"send", "--port", "/dev/null", "--bogus", "v"},
    };
    for (const auto& args : bad) {
        const auto r = RunProgram(TARVO_CLI_PATH, args);
        EXPECT_EQ(r.exitCode, 2) << (args.empty() ? "" : args[0]);
        // The problem and where to read more, not the whole help again.
        const std::string sub = args.empty() || args[0] == "frobnicate" ? "" : args[0] + " ";
        EXPECT_EQ(r.err.substr(r.err.find('\n') + 1), "Try 'tarvo-cli " + sub + "--help'.\n") << r.err;
        EXPECT_EQ(r.err.find("Usage: tarvo-cli"), std::string::npos);
    }
    for (const auto& args :
         std::vector<std::vector<std::string>>{{"--help"}, {"crc", "--help"}, {"send", "--help"}}) {
        const auto r = RunProgram(TARVO_CLI_PATH, args);
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_NE(r.out.find("Usage: tarvo-cli"), std::string::npos);
    }
}

} // namespace
