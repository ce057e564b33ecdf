// selfcal: start the encoder's self-calibration, follow it, read its status and results.
#include "CliSubcommands.h"

#include "CliText.h"
#include "Clock.h"
#include "K310_BiSS_bidirectional.h"
#include "K310_SPI_Velcor.h"
#include "Orodja.h"
#include "Tarvo_konstante.h"

namespace cli {

namespace shared = K310_BiSS_bidirectional;
namespace velcor = K310_SPI_Velcor;
namespace layout = Tarvo_konstante;

const char* const kSelfcalUsage =
    "usage: tarvo-cli selfcal start [--arc A] [--timeout T] [--wait] | selfcal status\n"
    "                        [--port PATH]... [--json]\n"
    "\n"
    "start: writes the partial arc A (degrees, 1..65535) and the timeout T (seconds, 1..255)\n"
    "       when given, then starts the self-calibration. With --wait it follows the procedure\n"
    "       every 500 ms until its counter bits change (at most 1.2 times the timeout, 12 s\n"
    "       without one) and prints the final status.\n"
    "status: SelfCalStatus (binary, 8 digits per status byte) and the results.\n";

namespace {

JsonObject SelfCalObject() {
    return JsonObject()
        .Add("SelfCalStatus", velcor::SelfCalStatus)
        .Add("SelfCalResultText", velcor::SelfCalResultText);
}

std::vector<std::pair<std::string, std::string>> SelfCalLines(int statusBytes) {
    std::vector<std::pair<std::string, std::string>> lines = {
        {"SelfCalStatus", Orodja::ToBinaryText(8 * statusBytes, velcor::SelfCalStatus)}};
    std::string rest = velcor::SelfCalResultText;
    for (size_t at; !rest.empty();) {
        at = rest.find("\r\n");
        const std::string line = rest.substr(0, at);
        rest = at == std::string::npos ? "" : rest.substr(at + 2);
        const size_t colon = line.find(": ");
        if (colon != std::string::npos) lines.push_back({line.substr(0, colon), line.substr(colon + 2)});
    }
    return lines;
}

} // namespace

int RunSelfcal(const Command& cmd) {
    const auto& pos = cmd.inv().positional;
    if (pos.size() != 1 || (pos[0] != "start" && pos[0] != "status"))
        return cmd.Usage("selfcal needs: start or status");
    const auto& opts = cmd.inv().options;
    const bool start = pos[0] == "start";
    unsigned long long arc = 0, timeout = 0;
    if (!start && (opts.count("--arc") || opts.count("--timeout") || opts.count("--wait")))
        return cmd.Usage("--arc, --timeout and --wait go with selfcal start");
    if (auto it = opts.find("--arc"); it != opts.end()) {
        const auto n = ParseNumber(it->second, 65535);
        if (!n || *n == 0) return cmd.Usage("--arc is 1..65535 degrees");
        arc = *n;
    }
    if (auto it = opts.find("--timeout"); it != opts.end()) {
        const auto n = ParseNumber(it->second, 255);
        if (!n || *n == 0) return cmd.Usage("--timeout is 1..255 seconds");
        timeout = *n;
    }
    int exit = 0;
    if (!Prepare(cmd, true, &exit)) return exit;
    const int statusBytes = layout::LenSelfCalStatus;
    if (!start) {
        if (!velcor::ReadSelfCalResults()) return cmd.Fail(shared::LastErrorText);
        return cmd.Succeed(SelfCalObject(), SelfCalLines(statusBytes));
    }
    // The counter bits (0 and 1) change when a procedure ends.
    if (!velcor::ReadSelfCalResults()) return cmd.Fail(shared::LastErrorText);
    const uint32_t counterAtStart = velcor::SelfCalStatus & 3;
    if (!velcor::StartSelfCalibration(static_cast<uint16_t>(arc), static_cast<uint8_t>(timeout)))
        return cmd.Fail(shared::LastErrorText);
    if (!opts.count("--wait")) return cmd.Succeed(SelfCalObject(), SelfCalLines(1));

    const uint32_t limitMs = timeout > 0 ? static_cast<uint32_t>(timeout * 1200) : 12000;
    const uint32_t begin = platform::TickCountMs();
    bool finished = false;
    while (!finished && platform::TickCountMs() - begin < limitMs) {
        platform::SleepMs(500);
        finished = velcor::ReadSelfCalResults() && (velcor::SelfCalStatus & 3) != counterAtStart;
    }
    if (!finished) {
        if (!velcor::ReadSelfCalResults()) return cmd.Fail(shared::LastErrorText);
        return cmd.Fail("self-calibration did not finish in time", SelfCalObject());
    }
    return cmd.Succeed(SelfCalObject().Add("finished", true), SelfCalLines(statusBytes));
}

} // namespace cli
