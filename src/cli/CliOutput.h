// What tarvo-cli writes: standard output that fails is an error of the run, and text meant for
// a terminal carries no control bytes from the device.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace cli {

// Flushes standard output. When the output cannot be written (a full disk, a closed pipe),
// says so once on standard error and returns false: results that went nowhere are no success.
bool FlushOutput();
// At the end of a run: flushes, and turns the exit status into 1 when the output failed.
int FinishOutput(int status);

// Standard output for a run of many short lines (the readings). A write per line costs a system
// call and a wake-up of whoever reads the pipe, which halves what a fast device gives through a
// pipe; so the lines gather in the C library's buffer while the readings come back to back. They
// go out when the program waits: for a device that takes its time (at most one write in
// kMinGapMicros: a write that wakes the reader costs the program about a sixth of what a whole
// transaction costs, which a device answering every few milliseconds would pay for every line),
// before an interval and before a note on standard error, and in any case once the last write is
// kMaxGapMicros old. Whoever reads the pipe sees each line about when its reading came off the
// wire, in few large writes.
class TLinePacer {
public:
    static constexpr uint64_t kMinGapMicros = 10000;
    static constexpr uint64_t kMaxGapMicros = 100000;

    // After each line printed: false once standard output has failed (said once on stderr), so
    // a run into a full disk or a closed pipe stops at its next line, not after all its readings.
    bool Written();
    // Before an interval or a note on stderr: the lines printed so far go out now.
    bool FlushNow();
    // While a transaction waits for its reply: the lines go out unless the last write was less
    // than kMinGapMicros ago. A failure shows in Failed().
    void WhileWaiting();
    // Before each reading: the lines go out when the last write is kMaxGapMicros old.
    bool FlushIfDue();
    bool Failed() const { return failed_; }

private:
    bool pending_ = false;
    bool failed_ = false;
    // Long ago: the first line goes out before the second reading, so whoever watches sees the
    // run has begun, and an output that cannot be written at all (a full disk, nobody reading)
    // ends the run at its first reading.
    uint64_t lastFlush_ = 0;
};

// `text` for a terminal: our own line breaks (CR LF, LF) stay, other control bytes (escape
// sequences, a lone CR, DEL, C1 controls) and bytes that are no UTF-8 go; letters of our own
// messages (UTF-8) stay.
std::string TerminalText(std::string_view text);

} // namespace cli
