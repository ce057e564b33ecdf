// Routines that need the toolkit: a wait that keeps the window alive, the clipboard, and the
// program-wide "closing" flag that every long loop checks.
#pragma once

#include <QString>

namespace Orodja {

// Handles window events until `ms` milliseconds have passed, or returns as soon as the program
// is closing. A wait of 0 or less handles the pending events once. The wait sleeps in the event
// loop, so a long wait costs no processor time.
void WaitWithMessages(int ms);

// Replaces the clipboard's content with `text` (an empty text leaves an empty text there).
void CopyToClipboard(const QString& text);

// Set when the main window closes; waits end at once and loops stop at their next check.
bool ApplicationTerminating();
void SetApplicationTerminating(bool terminating);

} // namespace Orodja
