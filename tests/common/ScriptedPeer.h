// A scripted device on a real pseudo-terminal: for each expected command it answers with the
// given pieces (each after its delay), or stays silent, or hangs up. Tests open SlavePath() the
// way the workbench opens an adapter port.
#pragma once

#include "PseudoTerminal.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

struct Piece {
    std::string bytes;
    int delayMs = 0; // before this piece is written
};

struct Exchange {
    std::string expect;        // the command bytes that trigger this exchange
    std::vector<Piece> answer; // nothing: stay silent
    bool hangUpAfter = false;  // close the device end after answering
};

struct ReceivedByte {
    char byte;
    std::chrono::steady_clock::time_point at;
};

class ScriptedPeer {
public:
    ScriptedPeer();
    ~ScriptedPeer();

    const std::string& SlavePath() const { return pty_.SlavePath(); }

    // Queue exchanges; they are served in order.
    void Add(Exchange exchange);
    void Add(const std::string& expect, const std::string& answer) { Add(Exchange{expect, {{answer, 0}}}); }
    // Write bytes now, unasked (late bytes of an earlier reply, garbage).
    void Inject(const std::string& bytes);
    // Close the device end now.
    void HangUp();

    // Waits until every queued exchange has been served (or the time is up).
    bool WaitIdle(int timeoutMs = 2000);
    // All bytes received so far, with their arrival times.
    std::vector<ReceivedByte> Received() const;
    std::string ReceivedText() const;
    // Commands that matched no queued exchange.
    std::string Unexpected() const;

private:
    void Run();

    platform::PseudoTerminal pty_;
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<Exchange> script_;
    std::vector<ReceivedByte> received_;
    std::string pending_;
    std::string unexpected_;
    bool stop_ = false;
    bool busy_ = false;
    std::thread thread_;
};

} // namespace testing_support
