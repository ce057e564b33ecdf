#include "RunProgram.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_support {

ProgramOutput RunProgram(const std::string& path, const std::vector<std::string>& args,
                         const std::string& input) {
    ProgramStreams streams;
    streams.input = input;
    return RunProgram(path, args, streams);
}

ProgramOutput RunProgram(const std::string& path, const std::vector<std::string>& args,
                         const ProgramStreams& streams) {
    const std::string& input = streams.input;
    ProgramOutput result;
    int inPipe[2], outPipe[2], errPipe[2];
    if (::pipe2(inPipe, O_CLOEXEC) != 0 || ::pipe2(outPipe, O_CLOEXEC) != 0 ||
        ::pipe2(errPipe, O_CLOEXEC) != 0)
        return result;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(inPipe[0], 0);
        ::dup2(outPipe[1], 1);
        ::dup2(errPipe[1], 2);
        if (!streams.outFile.empty()) {
            const int file = ::open(streams.outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (file < 0) ::_exit(126);
            ::dup2(file, 1);
            ::close(file);
        }
        if (streams.outReaderGone) {
            int gone[2];
            if (::pipe(gone) != 0) ::_exit(126);
            ::close(gone[0]);
            ::dup2(gone[1], 1);
            ::close(gone[1]);
        }
        for (int fd : streams.closed)
            ::close(fd);
        // As a shell starts it: a program's own policy for a broken pipe is what is tested, not
        // what this test process set for itself.
        ::signal(SIGPIPE, SIG_DFL);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(path.c_str()));
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(path.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(inPipe[0]);
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    ::signal(SIGPIPE, SIG_IGN);
    if (!input.empty()) (void)!::write(inPipe[1], input.data(), input.size());
    ::close(inPipe[1]);

    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    using Clock = std::chrono::steady_clock;
    auto since = Clock::now();
    bool seen = false; // the next signal's output has appeared
    size_t nextSignal = 0;
    while (open > 0) {
        int timeout = -1;
        if (nextSignal < streams.signals.size()) {
            const auto& signal = streams.signals[nextSignal];
            if (!seen &&
                (signal.afterOutput.empty() || result.out.find(signal.afterOutput) != std::string::npos)) {
                seen = true;
                if (!signal.afterOutput.empty()) since = Clock::now();
            }
            if (seen) {
                const auto due = since + std::chrono::milliseconds(signal.delayMs);
                const auto left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(due - Clock::now()).count();
                if (left <= 0) {
                    ::kill(pid, signal.number);
                    ++nextSignal;
                    seen = false;
                    since = Clock::now();
                    continue;
                }
                timeout = static_cast<int>(left);
            } else {
                timeout = 10; // look at the output again soon
            }
        }
        if (::poll(fds, 2, timeout) < 0 && errno != EINTR) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buf[4096];
            const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[i]->append(buf, static_cast<size_t>(n));
            } else {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.killedBy = WTERMSIG(status);
    return result;
}

} // namespace testing_support
