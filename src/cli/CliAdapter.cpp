// The adapter's own subcommands: find it, its supply, its SPI clock, its Velcor reset.
#include "CliSubcommands.h"

#include "CliOutput.h"
#include "CliText.h"
#include "Clock.h"
#include "K310_BiSS_bidirectional.h"
#include "K310_SPI_Velcor.h"
#include "Orodja.h"
#include "SupplySwitch.h"

#include <cstdio>

namespace cli {

namespace shared = K310_BiSS_bidirectional;
namespace velcor = K310_SPI_Velcor;

const char* const kFindUsage =
    "Usage: tarvo-cli find [--port PATH]... [--json]\n"
    "\n"
    "Finds the K310-7K adapter and prints its port, K310Version (the answer to \"v\"),\n"
    "K310VerzijaFW (major * 100 + minor), SerijskaK310 and K310RevizijaFW.\n";

int RunFind(const Command& cmd) {
    if (!cmd.inv().positional.empty()) return cmd.Usage("find takes no arguments");
    int exit = 0;
    AdapterDiscovery::Result found;
    if (!Prepare(cmd, false, &exit, &found)) return exit;
    JsonObject o;
    o.Add("port", found.port.path)
        .Add("K310Version", found.K310Version)
        .Add("K310VerzijaFW", int64_t{found.K310VerzijaFW})
        .Add("SerijskaK310", found.SerijskaK310)
        .Add("K310RevizijaFW", int64_t{found.K310RevizijaFW});
    return cmd.Succeed(o, {{"port", found.port.path},
                           {"K310Version", found.K310Version},
                           {"K310VerzijaFW", Dec(found.K310VerzijaFW)},
                           {"SerijskaK310", found.SerijskaK310},
                           {"K310RevizijaFW", Dec(found.K310RevizijaFW)}});
}

const char* const kPowerUsage =
    "Usage: tarvo-cli power on [--volts 3.3|5] | off | status  [--port PATH]... [--json]\n"
    "\n"
    "on: selects the voltage (\"V3\" or \"V5\", default 5 V), switches the supply on (\"n\"),\n"
    "    waits 200 ms and prints the supply status (\"e\"); fails when the voltage reply is not\n"
    "    the command or the answer to \"n\" does not begin with ON.\n"
    "off: switches the supply off (\"f\"); fails when the adapter does not answer or answers\n"
    "    ERROR. status: prints the supply status.\n";

int RunPower(const Command& cmd) {
    const auto& pos = cmd.inv().positional;
    if (pos.size() != 1 || (pos[0] != "on" && pos[0] != "off" && pos[0] != "status"))
        return cmd.Usage("power needs one of: on, off, status");
    const auto volts = cmd.inv().options.find("--volts");
    std::string voltage = "V5";
    if (volts != cmd.inv().options.end()) {
        if (pos[0] != "on") return cmd.Usage("--volts goes with power on");
        if (volts->second == "3.3" || volts->second == "3")
            voltage = "V3";
        else if (volts->second != "5")
            return cmd.Usage("--volts is 3.3 or 5");
    }
    int exit = 0;
    if (!Prepare(cmd, false, &exit)) return exit;
    auto& errComm = shared::EncoderPosition.ErrComm;
    std::string reply;

    if (pos[0] == "off") {
        // A supply still on is no supply off: the encoder must not be unplugged trusting it.
        const bool off = SupplySwitch::SwitchOff(&reply);
        const std::string text = Orodja::KeepPrintable(reply);
        if (!off)
            return cmd.Fail("Setting power supply (f) not successfull! (" + shared::LastErrorText + ")",
                            JsonObject().Add("reply", text));
        return cmd.Succeed(JsonObject().Add("reply", text), {{"power", "off"}, {"reply", text}});
    }
    std::vector<std::string> problems;
    std::string voltageReply, onReply;
    if (pos[0] == "on") {
        errComm = Transaction(voltage, reply);
        if (errComm < 0) return cmd.Fail("USB Comm Err " + Dec(errComm));
        voltageReply = Orodja::KeepPrintable(reply);
        if (reply.compare(0, voltage.size(), voltage) != 0)
            problems.push_back("Setting power supply (" + voltage + ") not successfull! (" + voltageReply +
                               ")");
        reply.clear();
        const bool on = SupplySwitch::SwitchOn(&reply);
        onReply = Orodja::KeepPrintable(reply);
        if (!on) problems.push_back("Setting power supply (n) not successfull! (" + onReply + ")");
        platform::SleepMs(200);
    }
    errComm = Transaction("e", reply);
    if (errComm != 0) problems.push_back("USB Comm Err " + Dec(errComm));
    const std::string status = Orodja::Trim(reply);
    if (!problems.empty()) {
        std::string reason;
        for (const auto& p : problems)
            reason += (reason.empty() ? "" : "\n") + p;
        return cmd.Fail(reason, JsonObject().Add("status", status));
    }
    JsonObject o;
    std::vector<std::pair<std::string, std::string>> lines;
    if (pos[0] == "on") {
        o.Add("command", voltage).Add("reply", voltageReply).Add("on", onReply);
        lines = {{"command", voltage}, {"reply", voltageReply}, {"on", onReply}};
    }
    o.Add("status", status);
    lines.push_back({"status", status});
    return cmd.Succeed(o, lines);
}

const char* const kClockUsage =
    "Usage: tarvo-cli clock STEP [--port PATH]... [--json]\n"
    "\n"
    "Sets the SPI clock step (1 = 94 kHz ... 8 = 12 MHz) with \"M\" + STEP and prints the\n"
    "clock the adapter reports (\"m\").\n";

int RunClock(const Command& cmd) {
    const auto& pos = cmd.inv().positional;
    if (pos.size() != 1) return cmd.Usage("clock needs one STEP");
    const auto step = ParseNumber(pos[0], 8);
    if (!step || *step < 1) return cmd.Usage("STEP is 1..8");
    int exit = 0;
    if (!Prepare(cmd, false, &exit)) return exit;
    std::string reply;
    std::string frequency;
    bool reported = false;
    if (Transaction("M" + Dec(static_cast<long long>(*step)), reply) == 0 && Transaction("m", reply) == 0) {
        frequency = Orodja::Trim(reply);
        reported = true;
    }
    if (reply.empty() || !reported)
        return cmd.Fail("Setting frequency " + Dec(static_cast<long long>(*step)) + " not successfull.");
    return cmd.Succeed(JsonObject().Add("step", int64_t(*step)).Add("frequency", frequency),
                       {{"step", Dec(static_cast<long long>(*step))}, {"Frequency", frequency}});
}

const char* const kResetUsage =
    "Usage: tarvo-cli reset [--port PATH]... [--json]\n\nResets the adapter's Velcor protocol (\"x\").\n";

int RunReset(const Command& cmd) {
    if (!cmd.inv().positional.empty()) return cmd.Usage("reset takes no arguments");
    int exit = 0;
    if (!Prepare(cmd, false, &exit)) return exit;
    if (!velcor::ResetVelcorProtocol()) return cmd.Fail(shared::LastErrorText);
    if (cmd.json()) return cmd.Succeed(JsonObject().Add("LastErrorText", shared::LastErrorText), {});
    std::printf("%s\n", TerminalText(shared::LastErrorText).c_str());
    return kExitOk;
}

} // namespace cli
