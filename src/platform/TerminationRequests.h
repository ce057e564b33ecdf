// A logout, a shutdown or Ctrl+C in the terminal, as input an event loop can watch: the program
// then ends as a click on its window's close button does, not in the middle of a write.
#pragma once

namespace platform {

// From now on SIGTERM, SIGINT and SIGHUP make the returned descriptor readable (a signal that
// comes before anyone watches it is kept). -1 where the system has no such descriptor (Windows,
// where the toolkit hands the window a logout or shutdown as a close of its own) or when it
// could not be made. Call once.
int WatchTerminationRequests();
// Empties the descriptor after it became readable.
void DrainTerminationRequests();

} // namespace platform
