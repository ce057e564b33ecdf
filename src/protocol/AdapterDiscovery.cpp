#include "AdapterDiscovery.h"

#include "Orodja.h"
#include "SerialPort.h"
#include "Serial_driver.h"

#include <algorithm>
#include <cstdio>
#include <set>

namespace AdapterDiscovery {

namespace {

const std::string kModel = "K310-7K";

// Decimal digits only, at least one, and small enough for an int.
bool ParseDecimal(std::string_view text, int& value) {
    if (text.empty() || text.size() > 9) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

int DecimalOrZero(std::string_view text) {
    int value = 0;
    return ParseDecimal(text, value) ? value : 0;
}

} // namespace

std::vector<Candidate> CandidatesFromPortList(const platform::PortList& list) {
    std::set<int> numbers;
    for (const platform::PortListEntry& entry : list.entries) {
        int n = 0;
        switch (list.kind) {
        case platform::PortListKind::TtyClassFolder: {
            const std::string prefix = "ttyACM";
            if (entry.name.compare(0, prefix.size(), prefix) == 0 &&
                ParseDecimal(std::string_view(entry.name).substr(prefix.size()), n))
                numbers.insert(n);
            break;
        }
        case platform::PortListKind::SerialCommKey:
            if (entry.name.find("USBSER") == std::string::npos || entry.data.compare(0, 3, "COM") != 0) break;
            // A port whose number cannot be read is tried as COM1, as the workbench always did.
            numbers.insert(ParseDecimal(std::string_view(entry.data).substr(3), n) ? n : 1);
            break;
        }
    }
    std::vector<Candidate> out;
    for (int n : numbers) {
        if (list.kind == platform::PortListKind::TtyClassFolder)
            out.push_back(Candidate{list.deviceFolder + "/ttyACM" + std::to_string(n), n});
        else
            out.push_back(Candidate{"COM" + std::to_string(n), n});
    }
    return out;
}

std::vector<Candidate> SystemCandidates() {
    return CandidatesFromPortList(platform::SystemPortList());
}

std::string PermissionAdvice(const platform::DeviceAccess& access) {
    if (!access.known) return {};
    if (access.GroupMayReadWrite())
        return "the device belongs to group \"" + access.group + "\"; add your user to it";
    char mode[16];
    std::snprintf(mode, sizeof mode, "%04o", access.mode);
    return std::string("the device's permissions (mode ") + mode + ", owner " + access.owner +
           ") keep everyone but its owner out; the udev rule 70-tarvo-k310-7k.rules of the tarvo-workbench "
           "package lets the person at the desk open the adapter";
}

std::string RejectionText(const Rejection& r) {
    const std::string quoted = "\"" + Orodja::KeepPrintable(r.reply) + "\"";
    std::string why;
    switch (r.reason) {
    case RejectReason::CannotOpen:
        why = "cannot open: " + platform::ErrorText(r.osError);
        if (platform::IsPermissionError(r.osError)) {
            const std::string advice = PermissionAdvice(platform::DeviceAccessOf(r.path));
            if (!advice.empty()) why += " (" + advice + ")";
        }
        break;
    case RejectReason::Busy:
        why = "busy: another program has it open";
        break;
    case RejectReason::NotSerial:
        why = "not a serial port: " + platform::ErrorText(r.osError);
        break;
    case RejectReason::NoAnswer:
        why = (r.reply.empty() ? "no answer" : "no complete answer") + std::string(" to \"v\" within ") +
              std::to_string(r.waitedMs) + " ms";
        if (!r.reply.empty()) why += " (" + quoted + ")";
        break;
    case RejectReason::WrongGreeting:
        why = "answered " + quoted + ", not a " + kModel;
        break;
    case RejectReason::Lost:
        why = "lost while answering: " + platform::ErrorText(r.osError);
        break;
    }
    return r.path + ": " + why;
}

int VersionFromReply(const std::string& rawVersion) {
    auto part = [&](size_t first, size_t count) -> std::string_view {
        if (first - 1 >= rawVersion.size()) return {};
        return std::string_view(rawVersion).substr(first - 1, count);
    };
    return 100 * DecimalOrZero(part(10, 1)) + DecimalOrZero(part(12, 2));
}

bool NamesAdapter(const std::string& versionReply) {
    return versionReply.compare(0, kModel.size(), kModel) == 0;
}

void DecodeAdapterReplies(const std::string& versionReply, const std::string& serialReply,
                          const std::string& revisionReply, Result& result) {
    result.rawVersion = versionReply;
    result.K310Version = Orodja::KeepPrintable(versionReply);
    result.K310VerzijaFW = VersionFromReply(versionReply);
    result.SerijskaK310 = Orodja::KeepAlphanumeric(serialReply);
    result.K310RevizijaFW = DecimalOrZero(Orodja::KeepAlphanumeric(revisionReply));
}

Result FindAdapter(const std::vector<std::string>& explicitPaths, const CandidateSource& source,
                   const std::function<void()>& betweenPorts) {
    Result result;
    std::vector<Candidate> order;
    std::set<std::string> seen;
    for (const std::string& path : explicitPaths)
        if (seen.insert(platform::PortKey(path)).second) order.push_back(Candidate{path, -1});
    for (const Candidate& c : source ? source() : SystemCandidates())
        if (seen.insert(platform::PortKey(c.path)).second) order.push_back(c);

    for (const Candidate& candidate : order) {
        result.tried.push_back(candidate);
        auto reject = [&](RejectReason reason, int osError, std::string reply = {}) {
            result.rejected.push_back(
                Rejection{candidate.path, reason, osError, std::move(reply), Serial_driver::ReplyTimeoutMs});
        };
        int osError = 0;
        const platform::PortHandle handle = platform::OpenPort(candidate.path, &osError);
        if (!handle.IsValid()) {
            result.openFailures.push_back(OpenFailure{candidate.path, osError});
            reject(platform::IsBusyError(osError) ? RejectReason::Busy : RejectReason::CannotOpen, osError);
            continue;
        }
        if (betweenPorts) betweenPorts();
        platform::LineSettings saved;
        if (!platform::ReadLineSettings(handle, saved, &osError) ||
            !platform::ApplyAdapterLineSettings(handle, saved, &osError)) {
            platform::ClosePort(handle);
            reject(RejectReason::NotSerial, osError);
            continue;
        }
        std::string reply;
        const int32_t probe = Serial_driver::SendCommand(handle, "v", 7, reply);
        if (probe != Serial_driver::kReplyComplete || !NamesAdapter(reply)) {
            // Not ours: leave the device as we found it.
            platform::WriteLineSettings(handle, saved);
            platform::ClosePort(handle);
            if (probe == Serial_driver::kReplyTimedOut)
                reject(RejectReason::NoAnswer, 0, reply);
            else if (probe < 0)
                reject(RejectReason::Lost, -probe);
            else
                reject(RejectReason::WrongGreeting, 0, reply);
            continue;
        }
        if (reply.find('\r') == std::string::npos) {
            // The probe stops at 7 bytes, but the version line goes on to its CR. Collect the
            // rest now (an empty command writes nothing), or it would lead the reply to "r" and
            // end up in the serial number.
            std::string rest;
            Serial_driver::SendCommand(handle, "", 0, rest);
            reply += rest;
        }
        // Neither result is examined: an adapter that leaves "r" or "o" unanswered is still
        // the adapter, with an empty serial number or revision 0.
        std::string serial;
        Serial_driver::SendCommand(handle, "r", 0, serial);
        std::string revision;
        Serial_driver::SendCommand(handle, "o", 0, revision);
        result.found = true;
        result.port = candidate;
        result.handle = handle;
        DecodeAdapterReplies(reply, serial, revision, result);
        return result;
    }
    return result;
}

} // namespace AdapterDiscovery
