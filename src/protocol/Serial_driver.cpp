#include "Serial_driver.h"

#include "Clock.h"
#include "SerialPort.h"

#include <vector>

namespace Serial_driver {

uint32_t ReplyTimeoutMs = 400;
bool TraceEnabled = false;
std::string TraceText;

namespace {

bool WriteCommand(platform::PortHandle port, const std::string& command, uint8_t pauseMs, int* osError) {
    if (pauseMs == 0) return platform::WriteBytes(port, command.data(), command.size(), osError);
    for (size_t i = 0; i < command.size(); ++i) {
        if (i > 0) platform::SleepMs(pauseMs);
        if (!platform::WriteBytes(port, &command[i], 1, osError)) return false;
    }
    return true;
}

bool IsComplete(const std::string& reply, uint32_t minReply) {
    if (minReply == 0) return reply.find('\r') != std::string::npos;
    return reply.size() >= minReply;
}

// How long the last complete reply took, in microseconds. A device that answered within
// kSpinLimitMicros is polled without blocking for a little longer than that before the wait
// in the OS, because a sleep and wake-up would cost it more than the wait; a slower device (the
// adapter on its wire, a busy encoder) is waited for in the OS at once and costs no processor
// time while it takes its time.
constexpr uint64_t kSpinLimitMicros = 150;
uint64_t lastReplyMicros = kSpinLimitMicros + 1;

std::function<void()> waitHook;

uint64_t SpinBudgetMicros() {
    return lastReplyMicros <= kSpinLimitMicros ? lastReplyMicros * 2 + 10 : 0;
}

} // namespace

int32_t SendCommandPaced(platform::PortHandle port, const std::string& command, uint8_t pauseMs,
                         uint32_t minReply, std::string& reply) {
    if (!port.IsValid()) return kNoPort;

    // The adapter speaks only when asked, so whatever waits now answers an earlier command (a
    // reply that came after its time-out, the tail of one taken by its byte count) and would be
    // read as this command's answer. An empty command writes nothing: it collects the rest of
    // the last reply, so it keeps what waits.
    if (!command.empty()) platform::DiscardInput(port);

    int osError = 0;
    if (!WriteCommand(port, command, pauseMs, &osError)) return -(osError != 0 ? osError : 1);

    if (TraceEnabled) TraceText += "TX:" + command + "\r\n";

    reply.clear();
    const uint32_t start = platform::TickCountMs();
    const uint64_t sentAt = platform::MonotonicMicros();
    const uint64_t spinMicros = SpinBudgetMicros();
    bool hookRan = false;
    std::vector<char> buffer;
    bool complete = false;
    int32_t lost = 0; // minus the OS code once the port is gone
    for (;;) {
        const long waiting = platform::BytesWaiting(port, &osError);
        if (waiting < 0) {
            lost = -(osError != 0 ? osError : 1);
            break;
        }
        if (waiting > 0) {
            buffer.resize(static_cast<size_t>(waiting));
            const long got = platform::ReadBytes(port, buffer.data(), buffer.size(), &osError);
            if (got < 0) {
                lost = -(osError != 0 ? osError : 1);
                break;
            }
            reply.append(buffer.data(), static_cast<size_t>(got));
        }
        complete = IsComplete(reply, minReply);
        if (complete) break;
        const uint32_t elapsed = platform::TickCountMs() - start;
        if (elapsed > ReplyTimeoutMs) break;
        if (platform::MicrosSince(sentAt) < spinMicros) continue;
        if (waitHook && !hookRan) {
            hookRan = true;
            waitHook();
            continue; // the reply may have come meanwhile
        }
        // Nothing more is there yet (the check above just said so): wait in the OS; the reply
        // is still taken as soon as its bytes are there.
        const uint32_t remaining = ReplyTimeoutMs - elapsed + 1;
        if (platform::WaitReadable(port, remaining, &osError) == platform::WaitResult::HungUp) {
            // Unplugged (or the handle went bad) while the reply was awaited: the port is lost,
            // as a failed write would say, and the caller hears it now, not after the time-out.
            lost = -(osError != 0 ? osError : 1);
            break;
        }
    }

    if (complete) lastReplyMicros = platform::MicrosSince(sentAt);
    if (TraceEnabled) TraceText += "RX:" + reply + "\r\n";
    if (lost != 0) return lost;
    return complete ? kReplyComplete : kReplyTimedOut;
}

void SetWaitHook(std::function<void()> hook) {
    waitHook = std::move(hook);
}

int32_t SendCommand(platform::PortHandle port, const std::string& command, uint32_t minReply,
                    std::string& reply) {
    return SendCommandPaced(port, command, 0, minReply, reply);
}

void ResetSerialDriverState() {
    ReplyTimeoutMs = 400;
    TraceEnabled = false;
    TraceText.clear();
    lastReplyMicros = kSpinLimitMicros + 1;
}

void ShutdownSerialDriver() {
    TraceText.clear();
}

} // namespace Serial_driver
