// The three standard descriptors, before a program opens anything else.
#pragma once

namespace platform {

// Opens /dev/null on each of standard input, output and error that is closed. A program started
// with one of them closed would otherwise get its first file (the adapter's port, a terminal)
// on that number, and its own messages would go to the device. False when one could not be
// opened; call it first thing in main().
bool EnsureStandardDescriptors();

// The programs print UTF-8 (paths with letters such as Ž or Č among it). A Windows console shows
// its own code page, so while the program runs its console is switched to UTF-8, and back when
// the program ends; output into a file or a pipe is UTF-8 as written. Nothing to do on POSIX.
void PrintUtf8OnConsole();

// Standard output goes to a terminal (a console on Windows), where a progress bar may redraw its
// line; into a file or a pipe every line stays as written.
bool StandardOutputIsTerminal();

// From now on standard output takes bytes as written. Windows' C library turns every line feed on
// standard output into CR LF, so output that brings its own CR LF (CSV) would end its lines with
// CR CR LF; nothing to do on POSIX.
void WriteStandardOutputAsIs();

} // namespace platform
