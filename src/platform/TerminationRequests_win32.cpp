#include "TerminationRequests.h"

namespace platform {

int WatchTerminationRequests() {
    return -1;
}

void DrainTerminationRequests() {}

} // namespace platform
