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
    std::vector<int> closed;    // of 0, 1, 2: closed when the program starts
    std::string outFile;        // standard output goes to this file (e.g. /dev/full) instead
    bool outReaderGone = false; // standard output is a pipe whose reader has gone
    // Signals sent to the program while it runs, in the order given: each `delayMs` after the
    // previous one was sent (the first: after the start), and not before `afterOutput` (when set)
    // has appeared on its standard output.
    struct Signal {
        std::string afterOutput;
        int delayMs = 0;
        int number = 0;
    };
    std::vector<Signal> signals;
};

// Runs `path` with `args`, standard input from `input`, and waits for it to end.
ProgramOutput RunProgram(const std::string& path, const std::vector<std::string>& args,
                         const std::string& input = {});
ProgramOutput RunProgram(const std::string& path, const std::vector<std::string>& args,
                         const ProgramStreams& streams);

} // namespace testing_support
