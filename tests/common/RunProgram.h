// Runs a program of ours as a child process and collects what it printed, for the tests of the
// command-line front ends.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace testing_support {

struct ProgramOutput {
    int exitCode = -1; // -1 when it did not exit normally
    int killedBy = 0;  // the signal that ended it, if one did
    std::string out;
    std::string err;
};

// How the child's standard streams are set up, beyond input from a string and output collected.
struct ProgramStreams {
    std::string input;
    std::vector<int> closed; // of 0, 1, 2: closed when the program starts
    std::string outFile;     // standard output goes to this file (e.g. /dev/full) instead
    // Signals sent to the program while it runs: (milliseconds after its start, signal number),
    // in the order given. The first as soon as `signalWhenOutputHas` appears on its standard
    // output, when that is set.
    std::vector<std::pair<int, int>> signals;
    std::string signalWhenOutputHas;
};

// Runs `path` with `args`, standard input from `input`, and waits for it to end.
ProgramOutput RunProgram(const std::string& path, const std::vector<std::string>& args,
                         const std::string& input = {});
ProgramOutput RunProgram(const std::string& path, const std::vector<std::string>& args,
                         const ProgramStreams& streams);

} // namespace testing_support
