#include "Serial_driver.h"

#include "Clock.h"
#include "SerialPort.h"

#include <vector>

namespace Serial_driver {

uint32_t ReplyTimeoutMs = 400;
bool TraceEnabled = false;
std::string TraceText;

namespace {

bool WriteCommand(int port, const std::string& command, uint8_t pauseMs, int* osError) {
    if (pauseMs == 0) return platform::WriteBytes(port, command.data(), command.size(), osError);
    for (size_t i = 0; i < command.size(); ++i) {
        if (i > 0) platform::SleepMs(pauseMs);
        if (!platform::WriteBytes(port, &command[i], 1, osError)) return false;
    }
    return true;
}

// How long to poll without blocking before the first wait in the OS: an adapter that answers at
// once is caught without a sleep and wake-up, which would cost more than the wait itself, while
// a slower one costs at most this much processor time per transaction.
constexpr uint64_t kQuickPollMicros = 40;

bool IsComplete(const std::string& reply, uint32_t minReply) {
    if (minReply == 0) return reply.find('\r') != std::string::npos;
    return reply.size() >= minReply;
}

} // namespace

int32_t SendCommandPaced(int port, const std::string& command, uint8_t pauseMs, uint32_t minReply,
                         std::string& reply) {
    if (port == platform::kNoPort) return kNoPort;

    int osError = 0;
    if (!WriteCommand(port, command, pauseMs, &osError)) return -(osError != 0 ? osError : 1);

    if (TraceEnabled) TraceText += "TX:" + command + "\r\n";

    reply.clear();
    const uint32_t start = platform::TickCountMs();
    std::vector<char> buffer;
    bool complete = false;
    const uint64_t quickStart = platform::MonotonicMicros();
    for (;;) {
        const long waiting = platform::BytesWaiting(port);
        if (waiting > 0) {
            buffer.resize(static_cast<size_t>(waiting));
            const long got = platform::ReadBytes(port, buffer.data(), buffer.size());
            if (got > 0) reply.append(buffer.data(), static_cast<size_t>(got));
        }
        complete = IsComplete(reply, minReply);
        if (complete) break;
        const uint32_t elapsed = platform::TickCountMs() - start;
        if (elapsed > ReplyTimeoutMs) break;
        if (platform::MicrosSince(quickStart) < kQuickPollMicros) continue;
        // Wait in the OS rather than spinning a core; the reply is still taken as soon as its
        // last byte is there.
        const uint32_t remaining = ReplyTimeoutMs - elapsed + 1;
        if (platform::WaitReadable(port, remaining) == platform::WaitResult::HungUp) {
            // A hung-up line stays "ready" forever; pace the polls so the time-out still costs
            // no processor time.
            platform::SleepMs(remaining < 5 ? remaining : 5);
        }
    }

    if (TraceEnabled) TraceText += "RX:" + reply + "\r\n";
    return complete ? kReplyComplete : kReplyTimedOut;
}

int32_t SendCommand(int port, const std::string& command, uint32_t minReply, std::string& reply) {
    return SendCommandPaced(port, command, 0, minReply, reply);
}

void ResetSerialDriverState() {
    ReplyTimeoutMs = 400;
    TraceEnabled = false;
    TraceText.clear();
}

void ShutdownSerialDriver() {
    TraceText.clear();
}

} // namespace Serial_driver
