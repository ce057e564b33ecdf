// identify: the encoder's identification, register layout and signature.
#include "CliSubcommands.h"

#include "K310_BiSS_bidirectional.h"
#include "K310_SPI_Velcor.h"
#include "Tarvo_konstante.h"

namespace cli {

namespace shared = K310_BiSS_bidirectional;
namespace velcor = K310_SPI_Velcor;
namespace layout = Tarvo_konstante;

const char* const kIdentifyUsage =
    "Usage: tarvo-cli identify [--port PATH]... [--json]\n"
    "\n"
    "Identifies the encoder (\"j\" and the register probe) and prints the identification,\n"
    "the register layout, the optional registers found and the signature.\n";

int RunIdentify(const Command& cmd) {
    if (!cmd.inv().positional.empty()) return cmd.Usage("identify takes no arguments");
    int exit = 0;
    if (!Prepare(cmd, true, &exit)) return exit;
    const auto& sig = shared::EncoderSignature;
    const bool newLayout = velcor::EncoderType == 5 || velcor::EncoderType == 6;
    JsonObject o;
    std::vector<std::pair<std::string, std::string>> lines;
    auto num = [&](const char* name, long long v) {
        o.Add(name, int64_t{v});
        lines.push_back({name, Dec(v)});
    };
    auto flag = [&](const char* name, bool v) {
        o.Add(name, v);
        lines.push_back({name, YesNo(v)});
    };
    auto text = [&](const char* name, const std::string& v) {
        o.Add(name, v);
        lines.push_back({name, v});
    };
    num("EncoderType", velcor::EncoderType);
    num("VelcorVersion", velcor::VelcorVersion);
    num("SingleTurnBits", velcor::SingleTurnBits);
    num("SingleTurnCounts", velcor::SingleTurnCounts);
    num("MultiTurnBits", velcor::MultiTurnBits);
    num("SingleTurnMask", velcor::SingleTurnMask);
    text("Layout", newLayout ? "new" : "legacy");
    flag("HasMtErrThreshold", layout::HasMtErrThreshold);
    flag("HasPersistentStatus", layout::HasPersistentStatus);
    flag("HasSignalLevel", layout::HasSignalLevel);
    flag("HasSelfCalTimeout", layout::HasSelfCalTimeout);
    flag("HasFirmwareRevision", layout::HasFirmwareRevision);
    num("LenFwVersion", layout::LenFwVersion);
    num("LenFwVerSvn", layout::LenFwVerSvn);
    num("LenFwVerHash", layout::LenFwVerHash);
    text("Dremo_PartNumber", sig.Dremo_PartNumber);
    text("Dremo_Serial", sig.Dremo_Serial);
    text("Dremo_FWverStr", sig.Dremo_FWverStr);
    num("Dremo_FWverMajor", sig.Dremo_FWverMajor);
    num("Dremo_FWverMinor", sig.Dremo_FWverMinor);
    num("Dremo_FWverComm", sig.Dremo_FWverComm);
    num("Dremo_FWverSVN", sig.Dremo_FWverSVN);
    num("Dremo_FWverHash", sig.Dremo_FWverHash);
    return cmd.Succeed(o, lines);
}

} // namespace cli
