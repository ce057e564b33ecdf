// Who and where the program runs, for the window's caption and the user-dependent pages, and
// what it was started with.
#pragma once

#include <string>
#include <vector>

namespace platform {

std::string ComputerName();
std::string UserName();

// The file version in the program file's own version resource, as four decimal numbers joined by
// "." (empty when the file has none). False where programs carry no such resource (POSIX): the
// caller then has the version it was built with.
bool ProgramFileVersion(std::string& text);

// The system's question sound (Windows: the "Question" event's sound, MessageBeep). False where
// the system has no such sound (POSIX): the caller then rings the toolkit's bell.
bool PlayQuestionSound();

// The program's arguments, its own name first, as UTF-8. Windows hands main() its arguments in the
// ANSI code page, where letters such as Č have no place and arrive as '?'; there they are read from
// the UTF-16 command line instead. On POSIX they are argv as it is.
std::vector<std::string> ProgramArguments(int argc, char** argv);

} // namespace platform
