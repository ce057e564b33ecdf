// The arguments of 'tarvo-cli send', read apart from opening the port, so that any argument list
// can be put through the reading alone (the fuzz target does).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cli {

struct SendArguments {
    bool help = false; // --help or -h before any problem: print the usage and stop
    bool json = false;
    std::vector<std::string> ports; // tried first; none: the adapter is searched for
    std::string command;            // escapes resolved; may be empty when given as ""
    uint32_t minReply = 0;
    uint8_t pace = 0;
};

// The arguments after "send"; nullopt on a usage problem, with the reason in *problem.
std::optional<SendArguments> ParseSendArguments(const std::vector<std::string>& args, std::string* problem);

} // namespace cli
