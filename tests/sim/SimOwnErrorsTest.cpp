// What the simulator refuses of its own user: a --link it cannot keep (before anything is served),
// a position outside the preset's range (k310-sim's flags and the workbench's compact form alike)
// and control commands with values outside their meaning, each with the range it takes.
#include "K310Simulator.h"
#include "RunProgram.h"
#include "RunningSim.h"
#include "SimOptions.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

using simtest::RunningSim;
using testing_support::ProgramStreams;
using testing_support::RunProgram;

namespace {

const std::string kProgram = K310_SIM_PROGRAM;

// A fresh folder of its own for each test.
std::string TempFolder() {
    char dir[] = "/tmp/k310ownXXXXXX";
    const char* made = ::mkdtemp(dir);
    return made ? std::string(made) : std::string();
}

std::string FileText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs k310-sim with `args` and no input to serve; should it serve after all (print a terminal),
// it is told to end, so a wrong acceptance shows as exit 0 with a path printed, not as a hang.
testing_support::ProgramOutput RunUntilServing(const std::vector<std::string>& args) {
    ProgramStreams streams;
    streams.signals.push_back({"/dev/", 0, SIGTERM});
    return RunProgram(kProgram, args, streams);
}

} // namespace

TEST(SimOwnErrors, ALinkThatCannotBeKeptEndsTheProgramBeforeItServes) {
    const std::string folder = TempFolder();
    ASSERT_FALSE(folder.empty());
    const std::string file = folder + "/notes.txt";
    { std::ofstream(file) << "keep me\n"; }
    const std::string subfolder = folder + "/sub";
    ASSERT_EQ(::mkdir(subfolder.c_str(), 0755), 0);

    struct Row {
        std::string link;
        std::string says;
    } rows[] = {
        {folder + "/missing/adapter",
         "cannot make the link " + folder + "/missing/adapter: No such file or directory"},
        {file,
         "cannot make the link " + file + ": it exists and is not a symbolic link; it is left as it is"},
        {subfolder,
         "cannot make the link " + subfolder + ": it exists and is not a symbolic link; it is left as it is"},
        {file + "/adapter", "cannot make the link " + file + "/adapter: Not a directory"},
        {"", "--link needs a path"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.link);
        const auto r = RunUntilServing({"--no-input", "--link=" + row.link});
        EXPECT_EQ(r.exitCode, 2) << r.err;
        EXPECT_EQ(r.out, "") << "no terminal was served";
        EXPECT_EQ(r.err, "k310-sim: " + row.says + "\nTry 'k310-sim --help'.\n");
    }
    // Nothing left behind, nothing clobbered.
    struct stat st {};
    EXPECT_NE(::lstat((folder + "/missing").c_str(), &st), 0);
    EXPECT_EQ(FileText(file), "keep me\n");
    ASSERT_EQ(::lstat(subfolder.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
}

// A link that cannot be made again after an unplug is reported, and the simulator serves on.
TEST(SimOwnErrors, ALinkLostAfterAComeBackIsReportedAndTheSimulatorGoesOn) {
    const std::string folder = TempFolder();
    ASSERT_FALSE(folder.empty());
    const std::string link = folder + "/adapter";
    RunningSim p({"--link", link});
    const std::string first = p.Line();
    ASSERT_EQ(first.rfind("/dev/", 0), 0u) << first;

    // The answer and the note of the serving thread come in either order.
    p.Say("unplug");
    std::set<std::string> lines = {p.Line(), p.Line()};
    EXPECT_EQ(lines, (std::set<std::string>{"unplugged", "ok"}));
    struct stat st {};
    ASSERT_NE(::lstat(link.c_str(), &st), 0) << "the unplug took the link away";
    // Someone puts a file of their own where the link was.
    { std::ofstream(link) << "mine\n"; }
    p.Say("replug");
    lines = {p.Line(), p.Line()};
    std::string second;
    for (const std::string& line : lines)
        if (line.rfind("/dev/", 0) == 0) second = line;
    ASSERT_FALSE(second.empty()) << *lines.begin() << " / " << *lines.rbegin();
    EXPECT_EQ(lines, (std::set<std::string>{second, "ok " + second}));
    EXPECT_EQ(p.ErrLine(),
              "k310-sim: cannot make the link " + link +
                  " again: it exists and is not a symbolic link; it is left as it is (serving on " + second +
                  " without it)");
    EXPECT_EQ(FileText(link), "mine\n");

    p.Say("state");
    const std::string state = p.Line();
    EXPECT_EQ(state.rfind("ok preset=t1", 0), 0u) << state;
    EXPECT_NE(state.find("path=" + second), std::string::npos) << state;
    p.CloseInput();
    EXPECT_EQ(p.Wait(), 0);
    EXPECT_EQ(FileText(link), "mine\n") << "the end of the program leaves the file alone too";
}

TEST(SimOwnErrors, APositionOutsideThePresetsRangeIsRefusedInBothForms) {
    struct Row {
        const char* preset;
        const char* position;
        const char* says; // "" when the position is taken
    } rows[] = {
        {"t1", "0", ""},
        {"t1", "262143", ""},
        {"t1", "262144", "position=262144 is outside 0..262143 for preset t1"},
        {"t1", "300000", "position=300000 is outside 0..262143 for preset t1"},
        {"t1", "-5", "position=-5 is outside 0..262143 for preset t1"},
        {"t1", "99999999999", "position=99999999999 is outside 0..262143 for preset t1"},
        {"t1", "5:3", "position=5:3: preset t1 is a single-turn encoder and counts no turns (turn count 0)"},
        {"t1", "5:0", ""},
        {"bare", "65535", ""},
        {"bare", "65536", "position=65536 is outside 0..65535 for preset bare"},
        {"t4", "1048575", ""},
        {"t4", "1048576", "position=1048576 is outside 0..1048575 for preset t4"},
        {"t1mt", "524287:32767", ""},
        {"t1mt", "0:-32768", ""},
        {"t1mt", "5:-2", ""},
        {"t1mt", "5:32768",
         "position=5:32768: the turn count 32768 is outside -32768..32767 for preset t1mt"},
        {"t1mt", "5:-32769",
         "position=5:-32769: the turn count -32769 is outside -32768..32767 for preset t1mt"},
        {"t1mt", "524288:2",
         "position=524288:2: the single-turn count 524288 is outside 0..524287 for preset t1mt"},
        {"t6", "2097151:-32768", ""},
        {"t6", "2097152", "position=2097152 is outside 0..2097151 for preset t6"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.preset) + " " + row.position);
        const bool taken = std::string(row.says).empty();

        // The workbench's --simulate form, with the preset in front as it must be.
        sim::SimOptions options;
        std::string error;
        EXPECT_EQ(sim::ParseSimOptions(std::string(row.preset) + ",position=" + row.position, options, error),
                  taken);
        EXPECT_EQ(error, row.says);

        // k310-sim's flags, with the preset after the position: judged once all are read.
        const auto r =
            RunProgram(kProgram, {"--position", row.position, "--preset", row.preset, "--describe"});
        if (taken) {
            EXPECT_EQ(r.exitCode, 0) << r.err;
            continue;
        }
        std::string flagSays = row.says;
        flagSays.replace(0, std::string("position=").size(), "--position ");
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "k310-sim: " + flagSays + "\nTry 'k310-sim --help'.\n");
    }
}

TEST(SimOwnErrors, ControlCommandsRefuseValuesOutsideTheirMeaning) {
    sim::SimOptions options;
    std::string error;
    ASSERT_TRUE(sim::ParseSimOptions("t1mt", options, error)) << error;
    sim::K310Simulator simulator(options);
    ASSERT_TRUE(simulator.Start(&error)) << error;
    const std::string help = sim::K310Simulator::ControlHelp();

    struct Row {
        const char* line;
        bool ok;
        const char* says; // in the error answer and, where `inHelp`, in the help text too
        bool inHelp;
    } rows[] = {
        // t1mt: 19 bits, 524288 counts per turn, a 16-bit turn count
        {"position 524287:32767", true, "", false},
        {"position 0:-32768", true, "", false},
        {"position 524288", false, "position 524288 is outside 0..524287 for preset t1mt", false},
        {"position -1", false, "0..524287", false},
        {"position 99999999999", false, "0..524287", false},
        {"position 0:32768", false, "-32768..32767", true},
        {"rotate 360000", true, "", false},
        {"rotate -360000", true, "", false},
        {"rotate 360001", false, "-360000..360000", true},
        {"rotate 1e400", false, "-360000..360000", true},
        {"rotate 0", true, "", false},
        {"noise 524288", true, "", false},
        {"noise 524289", false, "noise 524289 is outside 0..524288 for preset t1mt", false},
        {"noise -0.5", false, "0..524288", false},
        {"noise 0", true, "", false},
        {"temperature -40 1", true, "", false},
        {"temperature 125 2046", true, "", false},
        {"temperature 30 5000", false, "1..2046", true},
        {"temperature 30 0", false, "1..2046", true},
        {"temperature 126 1023", false, "-40..125", true},
        {"temperature -41 1023", false, "-40..125", true},
        {"silent 1000000", true, "", false},
        {"silent 0", true, "", false},
        {"silent 1000001", false, "0..1000000", true},
        {"silent 99999999999", false, "0..1000000", true},
        {"silent -1", false, "0..1000000", true},
        {"badcrc 1000000", true, "", false},
        {"badcrc 0", true, "", false},
        {"badcrc 1000001", false, "0..1000000", true},
        {"errorreply 1000000", true, "", false},
        {"errorreply 0", true, "", false},
        {"errorreply 4294967297", false, "0..1000000", true},
        {"signal 50000", true, "", false},
        {"signal 50000.5", false, "0..50000", true},
        {"regerror FFFFFFFF 96", true, "", false},
        {"regerror FFFFFFFF off", true, "", false},
        {"regerror 100000000 96", false, "0..FFFFFFFF", true},
        {"regerror -1 96", false, "0..FFFFFFFF", true},
        {"garbage 4096", true, "", false},
        {"garbage 0", true, "", false},
        {"garbage 4097", false, "0..4096", true},
        {"delay 600000", true, "", false},
        {"delay 0", true, "", false},
        {"delay 600001", false, "0..600000", true},
        {"jump 34359738367", true, "", false}, // 65536 turns of 524288 counts, less one
        {"jump -34359738367", true, "", false},
        {"jump 0", true, "", false},
        {"jump 34359738368", false, "-34359738367..34359738367 for preset t1mt", false},
        {"selfcal success 255", true, "", false},
        {"selfcal success 255.5", false, "0..255", true},
        {"selfcal timeout -1", false, "0..255", true},
        {"unplug 600001", false, "0..600000", true},
        {"unplug 5 6", false, "unplug [MS]", true},
        {"timescale 0.001", true, "", false},
        {"timescale 10000", true, "", false},
        {"timescale 1", true, "", false},
        {"timescale 0.0009", false, "0.001..10000", true},
        {"timescale 10001", false, "0.001..10000", true},
        {"advance 31536000", true, "", false},
        {"advance 31536001", false, "0..31536000", true},
        {"advance -1", false, "0..31536000", true},
        {"reg 0 4", true, "", false},
        {"reg 0 5", false, "LEN 1..4", true},
        {"reg 0 0", false, "LEN 1..4", true},
        {"reg 100000000 4", false, "0..FFFFFFFF", true},
        {"log 200000", true, "", false},
        {"log 200001", false, "0..200000", true},
        {"cut now", false, "usage: cut", false},
        {"state all", false, "usage: state", false},
        {"replug soon", false, "usage: replug", false},
        {"help me", false, "usage: help", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        const std::string answer = simulator.Control(row.line);
        if (row.ok) {
            EXPECT_EQ(answer.rfind("ok", 0), 0u) << answer;
            continue;
        }
        EXPECT_EQ(answer.rfind("error ", 0), 0u) << answer;
        EXPECT_NE(answer.find(row.says), std::string::npos) << answer;
        if (row.inHelp) {
            EXPECT_NE(help.find(row.says), std::string::npos) << "the help does not say " << row.says;
        }
    }

    // A refused value changes nothing.
    ASSERT_EQ(simulator.Control("position 1000:3"), "ok");
    EXPECT_EQ(simulator.Control("position 524288:3").rfind("error", 0), 0u);
    EXPECT_EQ(simulator.Control("position 1000:40000").rfind("error", 0), 0u);
    int64_t turns = 0, st = 0;
    simulator.EncoderPosition(turns, st);
    EXPECT_EQ(st, 1000);
    EXPECT_EQ(turns, 3);
}
