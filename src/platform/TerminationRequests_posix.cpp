#include "TerminationRequests.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <initializer_list>
#include <unistd.h>

namespace platform {

namespace {

// A signal handler may only write to a descriptor; the event loop reads the other end.
int signalPipe[2] = {-1, -1};

void OnSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

} // namespace

int WatchTerminationRequests() {
    if (signalPipe[0] != -1) return signalPipe[0];
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        signalPipe[0] = signalPipe[1] = -1;
        return -1;
    }
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signal, &action, nullptr);
    return signalPipe[0];
}

void DrainTerminationRequests() {
    char buffer[16];
    while (signalPipe[0] != -1 && ::read(signalPipe[0], buffer, sizeof buffer) > 0) {
    }
}

} // namespace platform
