// The one request/reply transaction with the adapter: write a command, collect the reply until
// a CR arrives (or at least N bytes), at most ReplyTimeoutMs after the write.
#pragma once

#include "SerialPort.h"

#include <cstdint>
#include <functional>
#include <string>

namespace Serial_driver {

// Result codes; a lost port (a failed write, or a hang-up while the reply is awaited) returns
// minus the OS error code.
constexpr int32_t kReplyComplete = 0;
constexpr int32_t kReplyTimedOut = -1;
constexpr int32_t kNoPort = -3;

extern uint32_t ReplyTimeoutMs; // 400
extern bool TraceEnabled;       // false
extern std::string TraceText;   // "TX:" command CR LF, "RX:" reply CR LF per transaction

// minReply 0: complete when the reply holds a CR anywhere; N > 0: complete at N bytes or more.
// Every waiting byte is taken, also past the CR or the N-th byte. Bytes that wait before a
// (non-empty) command is written are discarded: they answer an earlier command. On -3 and on a
// failed write the reply is left as it was.
int32_t SendCommand(platform::PortHandle port, const std::string& command, uint32_t minReply,
                    std::string& reply);
// As SendCommand, but one byte per write with `pauseMs` between bytes.
int32_t SendCommandPaced(platform::PortHandle port, const std::string& command, uint8_t pauseMs,
                         uint32_t minReply, std::string& reply);

// Runs once per transaction, when it first has to wait for the device: the window paints what
// is due there, in time the wire takes anyway. It must not start a transaction itself. Empty:
// nothing runs.
void SetWaitHook(std::function<void()> hook);

// Start values again, as at program start.
void ResetSerialDriverState();
// Shutdown: the trace is emptied.
void ShutdownSerialDriver();

} // namespace Serial_driver
