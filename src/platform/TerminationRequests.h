// A logout, a shutdown or Ctrl+C in the terminal, as input an event loop can watch: the program
// then ends as a click on its window's close button does, not in the middle of a write.
#pragma once

#include <cstdint>

namespace platform {

// From now on SIGTERM, SIGINT and SIGHUP make the returned descriptor readable (a signal that
// comes before anyone watches it is kept). -1 where the system has no such descriptor (Windows,
// where the toolkit hands the window a logout or shutdown as a close of its own) or when it
// could not be made. Call once.
int WatchTerminationRequests();
// Empties the descriptor after it became readable.
void DrainTerminationRequests();

// For a program without an event loop (tarvo-cli's long procedures): from now on the first
// SIGTERM, SIGINT or SIGHUP (on Windows the console's Ctrl+C, Ctrl+Break and close events) is a
// request that the program answers at its next step; a second one ends the program at once.
void CatchTerminationRequests();
// A request has come since CatchTerminationRequests.
bool TerminationRequested();
// Sleeps `ms` milliseconds, or less when a request comes meanwhile; true when one has come.
bool SleepUnlessTerminated(uint32_t ms);

// The programs' policy for output nobody reads any more (a pipe whose reader has gone, as in
// "tarvo-cli read | head -1"): no signal ends the program in the middle of a step; the write
// fails, the program ends its run as it ends any other (the supply switched off, the file closed
// whole), says so on stderr and exits 1. Windows has no such signal. Call at program start.
void IgnoreBrokenPipe();

} // namespace platform
