// Who and where the program runs, for the window's caption and the user-dependent pages, and
// what it was started with.
#pragma once

#include <string>
#include <vector>

namespace platform {

std::string ComputerName();
std::string UserName();

// The program's arguments, its own name first, as UTF-8. Windows hands main() its arguments in the
// ANSI code page, where letters such as Č have no place and arrive as '?'; there they are read from
// the UTF-16 command line instead. On POSIX they are argv as it is.
std::vector<std::string> ProgramArguments(int argc, char** argv);

} // namespace platform
