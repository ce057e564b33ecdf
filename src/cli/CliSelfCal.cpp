// selfcal: start the encoder's self-calibration, follow it, read its status and results.
#include "CliSubcommands.h"

#include "CliText.h"
#include "Clock.h"
#include "Commissioning.h"
#include "K310_BiSS_bidirectional.h"
#include "K310_SPI_Velcor.h"
#include "Orodja.h"
#include "Serial_driver.h"
#include "Tarvo_konstante.h"

#include <cstdio>

namespace cli {

namespace shared = K310_BiSS_bidirectional;
namespace velcor = K310_SPI_Velcor;
namespace layout = Tarvo_konstante;

const char* const kSelfcalUsage =
    "Usage: tarvo-cli selfcal start [--arc A] [--timeout T] [--wait] | selfcal status\n"
    "                        [--port PATH]... [--json]\n"
    "\n"
    "start: writes the partial arc A (degrees, 1..65535) and the timeout T (seconds, 1..255)\n"
    "       when given, then starts the self-calibration and prints \"self-calibration\n"
    "       started\". A refused write of A or T fails before the start and names the register.\n"
    "       With --wait it follows the procedure every 500 ms until its counter bits change (at\n"
    "       most 1.2 times the timeout, 12 s without one), prints the final status, and succeeds\n"
    "       only when the result is good (one-byte status: bits 2-4 clear; four-byte status:\n"
    "       bit 6 clear) and a position reading afterwards has no error bit; otherwise it fails\n"
    "       and names the conditions. A lost port ends the wait at once.\n"
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

// A transaction that failed for want of the port (a time-out is no lost port: a busy encoder
// stays silent).
bool PortLost() {
    const int32_t result = shared::EncoderPosition.ErrComm;
    return result < 0 && result != Serial_driver::kReplyTimedOut;
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
    // The arc and the timeout first; a refused one would leave the encoder calibrating over an
    // arc or a time nobody chose, so there is no start then.
    const struct {
        uint32_t address;
        uint8_t length;
        unsigned long long value;
        const char* name;
    } settings[] = {{layout::RegSelfCalArc, 2, arc, "SELF_CAL_ARC"},
                    {layout::RegSelfCalTimeout, 1, timeout, "SELF_CAL_TIMEOUT"}};
    for (const auto& setting : settings) {
        if (setting.value == 0 ||
            velcor::WriteRegister(setting.address, setting.length, static_cast<uint32_t>(setting.value)))
            continue;
        return cmd.Fail(std::string(setting.name) + " (0x" + HexText(setting.address, 2) +
                        ") not written, self-calibration not started: " + shared::LastErrorText);
    }
    if (!velcor::StartSelfCalibration(0, 0)) return cmd.Fail(shared::LastErrorText);
    if (!opts.count("--wait")) {
        if (cmd.json()) return cmd.Succeed(JsonObject().Add("started", true), {});
        std::printf("self-calibration started\n");
        return kExitOk;
    }

    const uint32_t limitMs = timeout > 0 ? static_cast<uint32_t>(timeout * 1200) : 12000;
    const uint32_t begin = platform::TickCountMs();
    const auto lostPort = [&] {
        return cmd.Fail("the adapter's port was lost while the self-calibration ran: " +
                            shared::LastErrorText,
                        JsonObject().Add("finished", false));
    };
    bool finished = false;
    while (!finished && platform::TickCountMs() - begin < limitMs) {
        platform::SleepMs(500);
        finished = velcor::ReadSelfCalResults() && (velcor::SelfCalStatus & 3) != counterAtStart;
        if (!finished && PortLost()) return lostPort();
    }
    if (!finished) {
        // One more look: a procedure that ended just now has ended.
        const bool read = velcor::ReadSelfCalResults();
        finished = read && (velcor::SelfCalStatus & 3) != counterAtStart;
        if (!read) {
            if (PortLost()) return lostPort();
            return cmd.Fail(shared::LastErrorText, JsonObject().Add("finished", false));
        }
        if (!finished)
            return cmd.Fail("self-calibration did not finish in time",
                            SelfCalObject().Add("finished", false));
    }

    const uint32_t status = velcor::SelfCalStatus;
    std::vector<std::string> conditions = Procedures::SelfCalFailedConditions(status, statusBytes);
    const bool good = conditions.empty();
    const std::string statusText = Orodja::ToBinaryText(8 * statusBytes, status);
    const std::string resultText = velcor::SelfCalResultText;
    // The encoder's own error bit in a reading after the procedure: a calibration of an encoder
    // in error is no calibration to trust.
    bool errBit = false;
    if (!velcor::ReadPosition()) {
        conditions.push_back("no position reading afterwards (" + shared::LastErrorText + ")");
    } else if (shared::EncoderPosition.ErrBit) {
        errBit = true;
        conditions.push_back("error bit set in the position reading afterwards");
    }
    JsonObject result = JsonObject()
                            .Add("SelfCalStatus", status)
                            .Add("SelfCalResultText", resultText)
                            .Add("finished", true)
                            .Add("good", good)
                            .Add("ErrBit", errBit);
    if (!conditions.empty()) {
        std::string reason;
        for (const auto& c : conditions)
            reason += (reason.empty() ? "" : ", ") + c;
        return cmd.Fail("self-calibration failed: " + reason + " (SelfCalStatus " + statusText + ")",
                        result.Add("conditions", conditions));
    }
    return cmd.Succeed(result, SelfCalLines(statusBytes));
}

} // namespace cli
