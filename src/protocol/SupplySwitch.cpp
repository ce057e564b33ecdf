#include "SupplySwitch.h"

#include "K310_BiSS_bidirectional.h"
#include "Orodja.h"
#include "Serial_driver.h"

#include <algorithm>
#include <cctype>

namespace SupplySwitch {

namespace {

namespace Shared = K310_BiSS_bidirectional;

bool Switch(const char* command, bool (*confirms)(const std::string&), std::string* replyOut) {
    std::string reply;
    const int32_t result = Serial_driver::SendCommand(Shared::PortHandle, command, 0, reply);
    Shared::EncoderPosition.ErrComm = result;
    if (replyOut) *replyOut = reply;
    if (result != Serial_driver::kReplyComplete) {
        Shared::LastErrorText = "USB Comm Err " + std::to_string(result);
        return false;
    }
    if (confirms(reply)) return true;
    const std::string text = Orodja::Trim(Orodja::KeepPrintable(reply));
    Shared::LastErrorText = text.empty() ? std::string("no reply") : text;
    return false;
}

} // namespace

bool OnReplyConfirms(const std::string& reply) {
    return reply.rfind("ON", 0) == 0;
}

bool OffReplyConfirms(const std::string& reply) {
    std::string upper(reply);
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return upper.find("ERROR") == std::string::npos;
}

bool SwitchOn(std::string* reply) {
    return Switch("n", OnReplyConfirms, reply);
}

bool SwitchOff(std::string* reply) {
    return Switch("f", OffReplyConfirms, reply);
}

} // namespace SupplySwitch
