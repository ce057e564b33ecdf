// --version of the three programs: the package's changelog, the man pages and the window's
// caption all take the same number, so a program that prints another (or none) is a fault.
#include "RunProgram.h"
#include "TarvoVersion.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

namespace {

using testing_support::RunProgram;

TEST(Version, IsFourDecimalNumbers) {
    EXPECT_TRUE(std::regex_match(std::string(TARVO_VERSION), std::regex(R"(\d+\.\d+\.\d+\.\d+)")))
        << TARVO_VERSION;
}

TEST(Version, EveryProgramPrintsTheBuildsVersionAndSucceeds) {
    struct Row {
        const char* path;
        const char* name;
    };
    const Row rows[] = {
        {TARVO_WORKBENCH_PATH, "tarvo-workbench"},
        {TARVO_CLI_PATH, "tarvo-cli"},
        {K310_SIM_PATH, "k310-sim"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        // The workbench answers without a display: help2man and package scripts run it headless.
        const auto result = RunProgram(row.path, {"--version"});
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.out, std::string(row.name) + " " + TARVO_VERSION + "\n");
        EXPECT_EQ(result.err, "");
    }
}

TEST(Version, HelpNamesTheVersionOption) {
    // help2man builds the man pages from --help; an option missing there is missing from the page.
    for (const char* path : {TARVO_WORKBENCH_PATH, TARVO_CLI_PATH, K310_SIM_PATH}) {
        SCOPED_TRACE(path);
        const auto result = RunProgram(path, {"--help"});
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_NE(result.out.find("--version"), std::string::npos);
    }
}

} // namespace
