// What tarvo-cli writes: standard output that fails is an error of the run, and text meant for
// a terminal carries no control bytes from the device.
#pragma once

#include <string>
#include <string_view>

namespace cli {

// Flushes standard output. When the output cannot be written (a full disk, a closed pipe),
// says so once on standard error and returns false: results that went nowhere are no success.
bool FlushOutput();
// At the end of a run: flushes, and turns the exit status into 1 when the output failed.
int FinishOutput(int status);

// `text` for a terminal: our own line breaks (CR LF, LF) stay, other control bytes (escape
// sequences, a lone CR, DEL, C1 controls) and bytes that are no UTF-8 go; letters of our own
// messages (UTF-8) stay.
std::string TerminalText(std::string_view text);

} // namespace cli
