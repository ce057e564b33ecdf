// read: position readings, one line or JSON object each.
#include "CliSubcommands.h"

#include "CliOutput.h"
#include "CliText.h"
#include "Clock.h"
#include "K310_BiSS_bidirectional.h"
#include "K310_SPI_Velcor.h"
#include "Serial_driver.h"

#include <cstdio>

namespace cli {

namespace shared = K310_BiSS_bidirectional;
namespace velcor = K310_SPI_Velcor;

const char* const kReadUsage =
    "Usage: tarvo-cli read [--count N] [--interval MS] [--detailed] [--keep-going]\n"
    "                      [--port PATH]... [--json]\n"
    "\n"
    "Identifies the encoder, then takes N readings (default 1), MS milliseconds apart\n"
    "(default 0): the position frame, or with --detailed the adapter's \"d\" report.\n"
    "One line per reading: RxData=... MT_value=... ST_value=... MTST_value=... ErrBit=0|1\n"
    "WarnBit=0|1 ErrCRC=0|1 Status=... ExtTemperature=... ErrComm=... (with --json one object\n"
    "per line). A failed reading goes to stderr (or its object has \"ok\": false); the\n"
    "readings stop at a reading that got no answer in time, and when the link to the adapter\n"
    "is lost. A reply that fails its CRC check (ErrCRC=1: a broken frame, an adapter's ERROR\n"
    "line) is a failed reading too: its line is printed and a note goes to stderr (its object\n"
    "has \"ok\": false). The encoder's own error and warning bits are data, not failures.\n"
    "Into a pipe or a file the lines go out together: at least every 100 ms while readings\n"
    "come back to back, within about 10 ms while the program waits for a device that takes its\n"
    "time, and before the pause of an interval and before a note on stderr.\n"
    "Exit 1 when any reading failed.\n"
    "  --keep-going   for long unattended runs: a reading without an answer is reported and\n"
    "                 the readings go on; only a lost port ends them\n";

int RunRead(const Command& cmd) {
    if (!cmd.inv().positional.empty()) return cmd.Usage("read takes no arguments");
    const auto& opts = cmd.inv().options;
    unsigned long long count = 1, interval = 0;
    if (auto it = opts.find("--count"); it != opts.end()) {
        const auto n = ParseNumber(it->second, 1000000000ull);
        if (!n || *n == 0) return cmd.Usage("--count needs a number 1..1000000000");
        count = *n;
    }
    if (auto it = opts.find("--interval"); it != opts.end()) {
        const auto n = ParseNumber(it->second, 3600000ull);
        if (!n) return cmd.Usage("--interval needs milliseconds 0..3600000");
        interval = *n;
    }
    const bool detailed = opts.count("--detailed") > 0;
    const bool keepGoing = opts.count("--keep-going") > 0;
    int exit = 0;
    if (!Prepare(cmd, true, &exit)) return exit;
    bool anyFailed = false;
    const auto& p = shared::EncoderPosition;
    TLinePacer output;
    // A reading that waits for its reply sends the lines before it meanwhile, in time the wire
    // takes anyway: a slow device's lines come about as fast as it answers.
    Serial_driver::SetWaitHook([&output] { output.WhileWaiting(); });
    struct HookRemoval {
        ~HookRemoval() { Serial_driver::SetWaitHook({}); }
    } hookRemoval;
    for (unsigned long long i = 0; i < count; ++i) {
        if (i > 0 && interval > 0) {
            if (!output.FlushNow()) return kExitFailure;
            platform::SleepMs(static_cast<uint32_t>(interval));
        } else if (!output.FlushIfDue()) {
            return kExitFailure;
        }
        const bool ok = detailed ? velcor::ReadDetailedStatus() : velcor::ReadPosition();
        if (output.Failed()) return kExitFailure; // the lines sent during the wait went nowhere
        if (!ok) {
            anyFailed = true;
            if (cmd.json()) {
                std::printf("%s\n", JsonObject()
                                        .Add("ok", false)
                                        .Add("LastErrorText", shared::LastErrorText)
                                        .Add("RxData", p.RxData)
                                        .Add("ErrComm", p.ErrComm)
                                        .Text()
                                        .c_str());
                if (!output.Written()) return kExitFailure;
            } else {
                // The lines before the failure come before its note, also into a pipe.
                if (!output.FlushNow()) return kExitFailure;
                std::fprintf(stderr, "tarvo-cli: reading %llu: %s\n", i + 1,
                             TerminalText(shared::LastErrorText).c_str());
            }
            // A time-out is one reading lost; any other negative result is the port itself.
            const bool portLost = p.ErrComm < 0 && p.ErrComm != Serial_driver::kReplyTimedOut;
            if (portLost || (p.ErrComm < 0 && !keepGoing)) break;
            continue;
        }
        // The encoder's error and warning bits are what it says about itself; a reply that
        // fails its CRC check says nothing trustworthy at all.
        const bool crcFailed = p.ErrCRC;
        if (crcFailed) {
            anyFailed = true;
            if (!cmd.json()) {
                if (!output.FlushNow()) return kExitFailure;
                std::fprintf(stderr, "tarvo-cli: reading %llu: CRC error in reply \"%s\"\n", i + 1,
                             TerminalText(p.RxData).c_str());
            }
        }
        if (cmd.json()) {
            JsonObject o;
            o.Add("ok", !crcFailed);
            if (crcFailed) o.Add("LastErrorText", "CRC error in reply \"" + p.RxData + "\"");
            std::printf("%s\n", o.Add("RxData", p.RxData)
                                    .Add("MT_value", p.MT_value)
                                    .Add("ST_value", p.ST_value)
                                    .Add("MTST_value", p.MTST_value)
                                    .Add("ErrBit", p.ErrBit)
                                    .Add("WarnBit", p.WarnBit)
                                    .Add("ErrCRC", p.ErrCRC)
                                    .Add("Status", uint32_t{p.Status})
                                    .Add("ExtTemperature", int32_t{p.ExtTemperature})
                                    .Add("ErrComm", p.ErrComm)
                                    .Text()
                                    .c_str());
        } else {
            // Still one line per reading, so a script's count of lines stays the count of readings.
            std::printf("RxData=%s MT_value=%d ST_value=%u MTST_value=%lld ErrBit=%d WarnBit=%d ErrCRC=%d "
                        "Status=%u ExtTemperature=%d ErrComm=%d\n",
                        p.RxData.c_str(), p.MT_value, p.ST_value, static_cast<long long>(p.MTST_value),
                        p.ErrBit ? 1 : 0, p.WarnBit ? 1 : 0, p.ErrCRC ? 1 : 0, unsigned{p.Status},
                        int{p.ExtTemperature}, p.ErrComm);
        }
        if (!output.Written()) return kExitFailure;
    }
    return anyFailed ? kExitFailure : kExitOk;
}

} // namespace cli
