#include "TerminationRequests.h"

#include <windows.h>

namespace platform {

namespace {

volatile LONG requested = 0;
HANDLE requestEvent = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        break;
    default:
        return FALSE;
    }
    if (InterlockedExchange(&requested, 1) != 0) ExitProcess(130); // the second request
    if (requestEvent) SetEvent(requestEvent);
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return TRUE;
    // A closing console ends the process when this returns: give the program its moment to switch
    // the supply back on and print its summary.
    Sleep(3000);
    return TRUE;
}

} // namespace

int WatchTerminationRequests() {
    return -1;
}

void DrainTerminationRequests() {}

void CatchTerminationRequests() {
    if (!requestEvent) requestEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

bool TerminationRequested() {
    return requested != 0;
}

bool SleepUnlessTerminated(uint32_t ms) {
    if (requested) return true;
    if (requestEvent)
        WaitForSingleObject(requestEvent, ms);
    else
        Sleep(ms);
    return requested != 0;
}

} // namespace platform

namespace platform {

void IgnoreBrokenPipe() {}

} // namespace platform
