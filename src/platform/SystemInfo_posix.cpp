#include "SystemInfo.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace platform {

std::string ComputerName() {
    char buf[256] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0) return {};
    return buf;
}

std::string UserName() {
    if (const passwd* pw = ::getpwuid(::geteuid()); pw && pw->pw_name) return pw->pw_name;
    if (const char* u = std::getenv("USER")) return u;
    return {};
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

bool ProgramFileVersion(std::string& text) {
    text.clear();
    return false;
}

bool PlayQuestionSound() {
    return false;
}

} // namespace platform
