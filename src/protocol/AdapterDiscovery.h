// Finding the K310-7K adapter among the serial ports, without any window: list candidates,
// open each, apply the adapter's line settings, probe "v", keep the first that answers
// "K310-7K" open, then read its serial number ("r") and firmware revision ("o").
// The window's search and tarvo-cli both call FindAdapter.
#pragma once

#include "PortList.h"
#include "SerialPort.h"

#include <functional>
#include <string>
#include <vector>

namespace AdapterDiscovery {

struct Candidate {
    std::string path; // device path, e.g. /dev/ttyACM3 or COM5
    int number = -1;  // the port's number (n of ttyACMn, COMn); -1 for an explicit path
};

// Where candidates come from; replaceable so tests can inject their own list.
using CandidateSource = std::function<std::vector<Candidate>()>;

// The USB CDC serial ports of a system port list, ascending by number, each once:
// - from the tty class folder, every ttyACMn (n decimal), opened in the list's device folder;
// - from the registry's SERIALCOMM key, every value whose name contains "USBSER" (case as
//   written) and whose text begins with "COM": the number is the rest of the text read as a
//   decimal number, or 1 when it is not one; opened as COMn.
std::vector<Candidate> CandidatesFromPortList(const platform::PortList& list);
// The running system's USB CDC serial ports.
std::vector<Candidate> SystemCandidates();

struct OpenFailure {
    std::string path;
    int osError = 0;
};

// Why a candidate was not taken.
enum class RejectReason {
    CannotOpen,    // the OS refused to open it (osError)
    Busy,          // another program has it open
    NotSerial,     // it opened, but takes no line settings: a file, /dev/null (osError)
    NoAnswer,      // nothing, or too little, within the reply time (reply: what came)
    WrongGreeting, // it answered "v" with something else than the adapter's model (reply)
    Lost,          // it went away during the probe (osError)
};

struct Rejection {
    std::string path;
    RejectReason reason = RejectReason::CannotOpen;
    int osError = 0;
    std::string reply;     // the answer to "v" as received
    uint32_t waitedMs = 0; // the reply time it had
};

struct Result {
    bool found = false;
    Candidate port;                        // the adapter's port when found
    platform::PortHandle handle;           // open and configured when found, else kNoPort
    std::string rawVersion;                // reply to "v" as received
    std::string K310Version;               // KeepPrintable of it
    int K310VerzijaFW = 0;                 // major * 100 + minor (109 for v1.09)
    std::string SerijskaK310;              // KeepAlphanumeric of the reply to "r"
    int K310RevizijaFW = 0;                // reply to "o" as a decimal number, 0 when none
    std::vector<Candidate> tried;          // candidates in the order tried
    std::vector<OpenFailure> openFailures; // ports that could not be opened, and why
    std::vector<Rejection> rejected;       // every candidate tried and not taken, in order
};

// One line that says why a candidate was not taken, for a person: the path, then the reason
// (the OS's words; for a permission problem the group that owns the device; a wrong greeting
// quoted with its printable characters only).
std::string RejectionText(const Rejection& rejection);

// What a person refused a port for want of rights can do about it: join the device's group when
// that group may read and write it; otherwise no group helps, and the udev rule that lets the
// person at the desk in is the way. Empty when nothing is known.
std::string PermissionAdvice(const platform::DeviceAccess& access);

// Explicit paths are tried first, in the order given, then the source's candidates; a path is
// tried once. `betweenPorts` runs after each successful open (the window processes pending
// events there). Uses Serial_driver::SendCommand; PortHandle is not touched: the caller stores
// the handle where it wants it.
Result FindAdapter(const std::vector<std::string>& explicitPaths, const CandidateSource& source,
                   const std::function<void()>& betweenPorts = {});

// K310VerzijaFW from a raw "v" reply: 100 * (character 10) + (characters 12..13), counting from
// 1; a part that is missing or not a number counts 0.
int VersionFromReply(const std::string& rawVersion);

// The decoding steps of the search, apart from its transactions (the fuzz targets use them).
// True when a reply to "v" names the adapter model.
bool NamesAdapter(const std::string& versionReply);
// The adapter's fields of `result` from the raw replies to "v", "r" and "o".
void DecodeAdapterReplies(const std::string& versionReply, const std::string& serialReply,
                          const std::string& revisionReply, Result& result);

} // namespace AdapterDiscovery
