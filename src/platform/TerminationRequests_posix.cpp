#include "TerminationRequests.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <initializer_list>
#include <poll.h>
#include <time.h>
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

volatile sig_atomic_t requested = 0;

void OnCaughtSignal(int signal) {
    if (requested) {
        // The second request: the program did not end soon enough for the user.
        ::signal(signal, SIG_DFL);
        ::raise(signal);
        return;
    }
    requested = 1;
    OnSignal(signal);
}

uint64_t NowMs() {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return uint64_t(t.tv_sec) * 1000 + uint64_t(t.tv_nsec) / 1000000;
}

} // namespace

void CatchTerminationRequests() {
    if (WatchTerminationRequests() < 0) return;
    struct sigaction action = {};
    action.sa_handler = OnCaughtSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

bool TerminationRequested() {
    return requested != 0;
}

bool SleepUnlessTerminated(uint32_t ms) {
    const uint64_t end = NowMs() + ms;
    for (;;) {
        if (requested) return true;
        const uint64_t now = NowMs();
        if (now >= end) return false;
        pollfd watch{signalPipe[0], POLLIN, 0};
        // Without a pipe poll merely sleeps; the flag is looked at again either way.
        ::poll(signalPipe[0] >= 0 ? &watch : nullptr, signalPipe[0] >= 0 ? 1 : 0,
               static_cast<int>(end - now));
    }
}

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

namespace platform {

void IgnoreBrokenPipe() {
    ::signal(SIGPIPE, SIG_IGN);
}

} // namespace platform
