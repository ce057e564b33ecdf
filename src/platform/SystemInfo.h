// Who and where the program runs, for the window's caption and the user-dependent pages.
#pragma once

#include <string>

namespace platform {

std::string ComputerName();
std::string UserName();

} // namespace platform
