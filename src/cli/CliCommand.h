// What every adapter and encoder subcommand of tarvo-cli shares: the common options, the
// success and failure output (plain lines or one JSON object), and finding the adapter.
#pragma once

#include "AdapterDiscovery.h"
#include "CliJson.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace cli {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

struct OptionSpec {
    const char* name;
    bool takesValue;
};

struct Invocation {
    std::string subcommand; // for the line that follows a usage error
    std::vector<std::string> ports;
    bool json = false;
    bool help = false;
    std::map<std::string, std::string> options; // name -> value ("" for flags)
    std::vector<std::string> positional;
};

// Parses the common options and those in `specs`; on a usage problem returns nullopt and puts
// the reason in *problem.
std::optional<Invocation> Parse(const std::vector<std::string>& args, const std::vector<OptionSpec>& specs,
                                std::string* problem);

// A signed number in decimal (or unsigned 0x-hex), within [min, max].
std::optional<long long> ParseSigned(const std::string& text, long long min, long long max);

using Lines = std::vector<std::pair<std::string, std::string>>;

class Command {
public:
    explicit Command(Invocation inv) : inv_(std::move(inv)) {}

    const Invocation& inv() const { return inv_; }
    bool json() const { return inv_.json; }

    // A usage error: the problem and the line pointing to the subcommand's help, exit 2.
    int Usage(const std::string& problem) const;
    // The failure: its reason on stderr, or in the JSON object.
    int Fail(const std::string& reason, JsonObject extra = {}) const;
    // Prints a success: the JSON object, or "Name: value" lines.
    int Succeed(const JsonObject& object, const Lines& lines) const;
    // Finds the adapter (the given ports, or the search) and makes it PortHandle.
    bool Connect(AdapterDiscovery::Result& found, std::string& reason) const;

private:
    Invocation inv_;
};

// Connects and, when `identify` is set, identifies the encoder; on failure returns the exit
// status through *exit.
bool Prepare(const Command& cmd, bool identify, int* exit, AdapterDiscovery::Result* out = nullptr);

// A usage error of `subcommand` ("" for the program itself): the problem on stderr and the line
// pointing to its help, never the whole help again; returns the exit status 2.
int UsageError(const std::string& subcommand, const std::string& problem);

// One subcommand of a table: its name, its '--help' text, its own options and its runner.
struct Subcommand {
    const char* name;
    const char* usage;
    std::vector<OptionSpec> options;
    std::function<int(const Command&)> run;
};

// The entry of `table` called `name`, or nullptr.
const Subcommand* FindSubcommand(const std::vector<Subcommand>& table, const std::string& name);
// Parses `args` for the subcommand `name` of `table` and runs it; its usage goes to stdout for
// --help (exit 0); bad usage is a UsageError (exit 2).
int RunSubcommand(const std::vector<Subcommand>& table, const std::string& name,
                  const std::vector<std::string>& args);

// One adapter transaction on PortHandle, the reply ending at its CR.
int32_t Transaction(const std::string& command, std::string& reply);

std::string Dec(long long v);
std::string HexText(unsigned long long v, int digits);
std::string YesNo(bool b);

} // namespace cli
