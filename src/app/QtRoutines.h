// Routines that need the toolkit: a wait that keeps the window alive, the clipboard, the
// program-wide "closing" flag that every long loop checks, and the protocol's texts as QString.
#pragma once

#include <QString>

#include <string_view>

namespace Orodja {

// A message of the protocol layer (LastErrorText) as the window shows it. The program's own words
// are UTF-8 ("Nepravilna dolžina ..."), while a reply quoted inside them is the device's bytes,
// which are Latin-1: each well-formed UTF-8 sequence is read as UTF-8 and every other byte as
// its Latin-1 character, so neither kind turns into replacement marks.
QString MessageText(std::string_view bytes);

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
