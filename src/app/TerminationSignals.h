// A logout, a shutdown or Ctrl+C in the terminal that started the workbench ends it as a click on
// the window's close button does: the recording is closed with every record on disk and the port
// is released, instead of the process dying mid-write.
#pragma once

// Closes every window from the event loop when SIGTERM, SIGINT or SIGHUP arrives (a signal that
// comes before the window is shown takes effect as soon as the message loop runs). Call once,
// right after the application object exists.
void CloseWindowsOnTerminationSignals();
