// What the three programs share on the command line: the option forms, the answer to bad usage,
// and what happens when nobody reads their output any more.
#include "RunProgram.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using testing_support::ProgramStreams;
using testing_support::RunProgram;

struct Program {
    const char* path;
    const char* name;
};
const Program kPrograms[] = {
    {TARVO_WORKBENCH_PATH, "tarvo-workbench"},
    {TARVO_CLI_PATH, "tarvo-cli"},
    {K310_SIM_PATH, "k310-sim"},
};

// Bad usage is the problem and one line that points to the help, exit 2; never the whole help
// text again.
void ExpectUsageError(const testing_support::ProgramOutput& r, const std::string& program,
                      const std::string& problem, const std::string& tryLine) {
    EXPECT_EQ(r.exitCode, 2);
    // The toolkit's own note about this machine's session (no XDG_RUNTIME_DIR here) is not ours.
    std::string err = r.err;
    if (err.rfind("QStandardPaths: ", 0) == 0) err.erase(0, err.find('\n') + 1);
    EXPECT_EQ(err, program + ": " + problem + "\n" + tryLine + "\n");
    EXPECT_EQ(r.out, "");
}

TEST(Conventions, BadUsageNamesTheProblemAndPointsToTheHelp) {
    struct Row {
        const char* path;
        const char* program;
        std::vector<std::string> args;
        std::string problem;
        std::string tryLine;
    };
    const Row rows[] = {
        {TARVO_WORKBENCH_PATH,
         "tarvo-workbench",
         {"--frobnicate"},
         "unknown option --frobnicate",
         "Try 'tarvo-workbench --help'."},
        {TARVO_WORKBENCH_PATH,
         "tarvo-workbench",
         {"--version=2"},
         "--version takes no value",
         "Try 'tarvo-workbench --help'."},
        {TARVO_WORKBENCH_PATH,
         "tarvo-workbench",
         {"--record"},
         "--record needs a value",
         "Try 'tarvo-workbench --help'."},
        {TARVO_WORKBENCH_PATH,
         "tarvo-workbench",
         {"extra"},
         "unexpected argument extra",
         "Try 'tarvo-workbench --help'."},
        {TARVO_CLI_PATH,
         "tarvo-cli",
         {"frobnicate"},
         "unknown subcommand frobnicate",
         "Try 'tarvo-cli --help'."},
        {TARVO_CLI_PATH,
         "tarvo-cli",
         {"read", "--count=x"},
         "--count needs a number 1..1000000000",
         "Try 'tarvo-cli read --help'."},
        {TARVO_CLI_PATH,
         "tarvo-cli",
         {"identify", "--json=yes"},
         "--json takes no value",
         "Try 'tarvo-cli identify --help'."},
        {K310_SIM_PATH,
         "k310-sim",
         {"--frobnicate"},
         "unknown option --frobnicate",
         "Try 'k310-sim --help'."},
        {K310_SIM_PATH, "k310-sim", {"--describe=1"}, "--describe takes no value", "Try 'k310-sim --help'."},
        {K310_SIM_PATH, "k310-sim", {"--noise"}, "--noise needs a value", "Try 'k310-sim --help'."},
        {K310_SIM_PATH, "k310-sim", {"t1"}, "unexpected argument \"t1\"", "Try 'k310-sim --help'."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.program) + " " + row.args[0]);
        ExpectUsageError(RunProgram(row.path, row.args), row.program, row.problem, row.tryLine);
    }
}

TEST(Conventions, AnUnknownPresetIsBadUsageThatListsThePresets) {
    const std::string presets = "(presets: t1 t1mt t2 t3 t4 t5 t6 bare)";
    ExpectUsageError(RunProgram(TARVO_WORKBENCH_PATH, {"--simulate=t9"}), "tarvo-workbench",
                     "unknown preset \"t9\" " + presets, "Try 'tarvo-workbench --help'.");
    // The same option, both forms, in the simulator itself.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--preset=t9", "--describe"}, {"--preset", "t9", "--describe"}})
        ExpectUsageError(RunProgram(K310_SIM_PATH, args), "k310-sim", "unknown preset \"t9\" " + presets,
                         "Try 'k310-sim --help'.");
}

TEST(Conventions, ValueAfterABlankOrAnEqualsSignIsTheSame) {
    const auto spaced =
        RunProgram(K310_SIM_PATH, {"--preset", "t6", "--adapter-serial", "S-1", "--describe"});
    const auto joined = RunProgram(K310_SIM_PATH, {"--preset=t6", "--adapter-serial=S-1", "--describe"});
    ASSERT_EQ(spaced.exitCode, 0) << spaced.err;
    EXPECT_EQ(joined.exitCode, 0) << joined.err;
    EXPECT_EQ(joined.out, spaced.out);
    EXPECT_NE(joined.out.find("S-1"), std::string::npos);
}

TEST(Conventions, OutputNobodyReadsIsAFailureNotASignal) {
    // A pipe whose reader has gone ("tarvo-cli read | head -1"): every program says so on stderr
    // and exits 1; none is ended by SIGPIPE halfway through what it was doing.
    struct Row {
        const char* path;
        const char* name;
        std::vector<std::string> args;
    };
    const Row rows[] = {
        {TARVO_WORKBENCH_PATH, "tarvo-workbench", {"--version"}},
        {TARVO_CLI_PATH, "tarvo-cli", {"--version"}},
        {TARVO_CLI_PATH, "tarvo-cli", {"crc", "48D143"}},
        {K310_SIM_PATH, "k310-sim", {"--describe"}},
        // Serving: the terminal's path is the first line; the simulator stops when it cannot say it.
        {K310_SIM_PATH, "k310-sim", {"--no-input"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.name) + " " + row.args[0]);
        ProgramStreams streams;
        streams.outReaderGone = true;
        const auto r = RunProgram(row.path, row.args, streams);
        EXPECT_EQ(r.killedBy, 0);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.err, std::string(row.name) + ": cannot write standard output: Broken pipe\n");
    }
}

} // namespace
