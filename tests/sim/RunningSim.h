// The k310-sim program (K310_SIM_PROGRAM, set by the test's build) running beside a test, with
// its standard input, output and error on pipes, for the tests that talk to it while it serves.
#pragma once

#include <chrono>
#include <csignal>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace simtest {

class RunningSim {
public:
    // `closed`: a standard descriptor the program starts without (-1: none).
    explicit RunningSim(const std::vector<std::string>& args, int closed = -1) {
        const std::string program = K310_SIM_PROGRAM;
        int in[2], out[2], err[2];
        if (::pipe(in) != 0 || ::pipe(out) != 0 || ::pipe(err) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(in[0], STDIN_FILENO);
            ::dup2(out[1], STDOUT_FILENO);
            ::dup2(err[1], STDERR_FILENO);
            ::close(in[1]);
            ::close(out[0]);
            ::close(err[0]);
            if (closed >= 0) ::close(closed);
            std::vector<char*> argv{const_cast<char*>(program.c_str())};
            for (const auto& a : args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            ::execv(program.c_str(), argv.data());
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        ::close(err[1]);
        toChild_ = in[1];
        fromChild_ = out[0];
        errFromChild_ = err[0];
    }
    ~RunningSim() {
        CloseInput();
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            Wait();
        }
        if (fromChild_ >= 0) ::close(fromChild_);
        if (errFromChild_ >= 0) ::close(errFromChild_);
    }
    RunningSim(const RunningSim&) = delete;
    RunningSim& operator=(const RunningSim&) = delete;

    // The next line of its standard output, or "<no line>" when none came within `timeoutMs`.
    std::string Line(int timeoutMs = 3000) { return NextLine(fromChild_, buffer_, timeoutMs); }
    // The same for its standard error.
    std::string ErrLine(int timeoutMs = 3000) { return NextLine(errFromChild_, errBuffer_, timeoutMs); }
    void Say(const std::string& line) {
        const std::string text = line + "\n";
        [[maybe_unused]] auto n = ::write(toChild_, text.data(), text.size());
    }
    void CloseInput() {
        if (toChild_ >= 0) ::close(toChild_);
        toChild_ = -1;
    }
    void Signal(int sig) { ::kill(pid_, sig); }
    pid_t Pid() const { return pid_; }
    // Exit code, or -1 when it did not end within `timeoutMs`.
    int Wait(int timeoutMs = 3000) {
        if (pid_ <= 0) return exit_;
        for (int waited = 0; waited <= timeoutMs; waited += 5) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                exit_ = WIFEXITED(status) ? WEXITSTATUS(status) : -2;
                return exit_;
            }
            ::usleep(5000);
        }
        return -1;
    }

private:
    static std::string NextLine(int fd, std::string& buffer, int timeoutMs) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (buffer.find('\n') == std::string::npos && std::chrono::steady_clock::now() < until) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            char b[512];
            const ssize_t n = ::read(fd, b, sizeof b);
            if (n <= 0) break;
            buffer.append(b, static_cast<size_t>(n));
        }
        const auto nl = buffer.find('\n');
        if (nl == std::string::npos) return "<no line>";
        std::string line = buffer.substr(0, nl);
        buffer.erase(0, nl + 1);
        return line;
    }

    pid_t pid_ = -1;
    int toChild_ = -1, fromChild_ = -1, errFromChild_ = -1;
    int exit_ = -1;
    std::string buffer_, errBuffer_;
};

} // namespace simtest
