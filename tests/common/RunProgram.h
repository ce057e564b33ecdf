// Runs a program of ours as a child process and collects what it printed, for the tests of the
// command-line front ends.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

struct ProgramOutput {
    int exitCode = -1; // -1 when it did not exit normally
    std::string out;
    std::string err;
};

// Runs `path` with `args`, standard input from `input`, and waits for it to end.
ProgramOutput RunProgram(const std::string& path, const std::vector<std::string>& args,
                         const std::string& input = {});

} // namespace testing_support
