// errmap and debug: the encoder's error map and its latched debug data.
#include "CliSubcommands.h"

#include "CliOutput.h"
#include "K310_BiSS_bidirectional.h"
#include "K310_SPI_Velcor.h"
#include "Orodja.h"

#include <cstdio>

namespace cli {

namespace shared = K310_BiSS_bidirectional;
namespace velcor = K310_SPI_Velcor;

const char* const kErrmapUsage =
    "Usage: tarvo-cli errmap [--port PATH]... [--json]\n"
    "\n"
    "Identifies the encoder and reads its error map: 512 signed values, one per line\n"
    "(with --json the array \"ErrorMap\").\n";

int RunErrmap(const Command& cmd) {
    if (!cmd.inv().positional.empty()) return cmd.Usage("errmap takes no arguments");
    int exit = 0;
    if (!Prepare(cmd, true, &exit)) return exit;
    std::vector<int16_t> map;
    const bool ok = velcor::ReadErrorMap(map);
    const std::vector<int64_t> values(map.begin(), map.end());
    if (!ok) return cmd.Fail(shared::LastErrorText, JsonObject().Add("ErrorMap", values));
    if (cmd.json()) return cmd.Succeed(JsonObject().Add("ErrorMap", values), {});
    for (int16_t v : map)
        std::printf("%d\n", int{v});
    return kExitOk;
}

const char* const kDebugUsage =
    "Usage: tarvo-cli debug [--port PATH]... [--json]\n"
    "\n"
    "Identifies the encoder, unlocks its debug registers, latches its debug data and prints\n"
    "the DebugData fields (Samples as 56 comma-separated values). A header warning goes to\n"
    "stderr.\n";

int RunDebug(const Command& cmd) {
    if (!cmd.inv().positional.empty()) return cmd.Usage("debug takes no arguments");
    int exit = 0;
    if (!Prepare(cmd, true, &exit)) return exit;
    if (!velcor::DebugUnlock() || !velcor::LatchDebugData()) return cmd.Fail(shared::LastErrorText);
    const auto& d = velcor::DebugData;
    std::vector<int64_t> samples(d.Samples.begin(), d.Samples.end());
    std::string sampleText;
    for (size_t i = 0; i < samples.size(); ++i)
        sampleText += (i ? "," : "") + Dec(samples[i]);
    const std::string warning = Orodja::Trim(shared::LastErrorText);
    if (!warning.empty() && !cmd.json())
        std::fprintf(stderr, "tarvo-cli: %s\n",
                     TerminalText(K310_SPI_Velcor::WithReplyAsSent(warning)).c_str());
    JsonObject o;
    o.Add("Header", uint32_t{d.Header})
        .Add("Samples", samples)
        .Add("AbsPos", d.AbsPos)
        .Add("DecodSelect", uint32_t{d.DecodSelect})
        .Add("CodeA", uint32_t{d.CodeA})
        .Add("CodeB", uint32_t{d.CodeB})
        .Add("McuTemp", uint32_t{d.McuTemp})
        .Add("CycleTime", uint32_t{d.CycleTime})
        .Add("DebugStatus", uint32_t{d.DebugStatus})
        .Add("Vdda", uint32_t{d.Vdda})
        .Add("ResetCnt", uint32_t{d.ResetCnt})
        .Add("DcdTrs", uint32_t{d.DcdTrs})
        .Add("DcdWrn", uint32_t{d.DcdWrn})
        .Add("LastErrorText", warning);
    return cmd.Succeed(o, {{"Header", Dec(d.Header)},
                           {"Samples", sampleText},
                           {"AbsPos", Dec(d.AbsPos)},
                           {"DecodSelect", Dec(d.DecodSelect)},
                           {"CodeA", Orodja::ToBinaryText(16, d.CodeA)},
                           {"CodeB", Orodja::ToBinaryText(16, d.CodeB)},
                           {"McuTemp", Dec(d.McuTemp)},
                           {"CycleTime", Dec(d.CycleTime)},
                           {"DebugStatus", Dec(d.DebugStatus)},
                           {"Vdda", Dec(d.Vdda)},
                           {"ResetCnt", Dec(d.ResetCnt)},
                           {"DcdTrs", Dec(d.DcdTrs)},
                           {"DcdWrn", Dec(d.DcdWrn)}});
}

} // namespace cli
