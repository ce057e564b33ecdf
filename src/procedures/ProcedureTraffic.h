// What a test procedure needs from the adapter, and how a run ended. The procedures' step
// machines decide everything from these answers; each front end (the window, tarvo-cli) supplies
// the traffic in its own way and decides which failure ends a run: in the window any failed
// transaction re-arms the adapter search and closes the port, so it ends the run; on the command
// line a reply that does not come is one failed reading and only a lost port ends the run.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace Procedures {

// The outcome of one exchange with the encoder or the adapter.
struct TTrafficResult {
    bool Ok = false;
    // The link to the adapter is gone for this front end: the run cannot go on.
    bool LinkLost = false;
    std::string Reason; // why it failed, as the log says it
};

// One position reading. It failed when its transaction failed, when its reply was not a whole
// frame or failed its CRC, or when the protocol call refused it for any other reason; the
// encoder's own error and warning bits are data, not failures.
struct TReading : TTrafficResult {
    double Position = 0;          // user units (degrees after a connection)
    double Range = 0;             // the whole counting range in user units; 0: unknown
    uint32_t SingleTurn = 0;      // counts
    uint32_t SingleTurnRange = 0; // counts per turn; 0: unknown
    bool ErrorBit = false;        // the encoder's own error and warning bits
    bool WarningBit = false;
};

struct TRegisterValue : TTrafficResult {
    uint32_t Value = 0;
};

class TProcedureTraffic {
public:
    virtual ~TProcedureTraffic() = default;
    // One position reading (the window: its whole reading pass).
    virtual TReading TakeReading() = 0;
    // The adapter's supply command: "n" (on) or "f" (off), judged by its reply.
    virtual TTrafficResult SwitchSupply(bool on) = 0;
    // The encoder's signal level; false HasSignalLevel: the encoder has no such register.
    virtual bool HasSignalLevel() const = 0;
    virtual TRegisterValue ReadSignalLevel() = 0;
};

// A failure's reason for a line of a procedure's log: each run of CR and LF (the protocol's
// reasons carry the command on a second line) becomes one blank, other control characters go,
// blanks at both ends too.
inline std::string OneLineReason(std::string_view text) {
    std::string line;
    bool breakPending = false;
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\r' || c == '\n') {
            breakPending = true;
            continue;
        }
        if (u < 32 || u == 127) continue;
        if (breakPending && !line.empty() && line.back() != ' ') line += ' ';
        breakPending = false;
        line += c;
    }
    while (!line.empty() && line.back() == ' ')
        line.pop_back();
    const size_t first = line.find_first_not_of(' ');
    return first == std::string::npos ? std::string() : line.substr(first);
}

// How a run ended, as its summary says it ("ended: ...").
enum class TRunEnd { Running, Completed, LostPort, Interrupted, FailedReading, WriteFailed };
inline const char* RunEndText(TRunEnd end) {
    switch (end) {
    case TRunEnd::Running:
        return "running";
    case TRunEnd::Completed:
        return "completed";
    case TRunEnd::LostPort:
        return "lost port";
    case TRunEnd::Interrupted:
        return "interrupted";
    case TRunEnd::FailedReading:
        return "failed reading";
    case TRunEnd::WriteFailed:
        return "write failed";
    }
    return "";
}

// What a step machine wants next: wait this long and call Step() again, or nothing (the run is
// over).
struct TNextStep {
    bool Done = false;
    int WaitMs = 0;
};

} // namespace Procedures
