// The workbench as a process: how it ends when the session around it ends.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

// The workbench with its built-in simulator, offscreen, its standard output on a pipe.
class RunningWorkbench {
public:
    RunningWorkbench() {
        int out[2];
        if (::pipe(out) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], 1);
            ::close(out[0]);
            ::close(out[1]);
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
            ::execl(TARVO_WORKBENCH_PATH, TARVO_WORKBENCH_PATH, "--simulate=t1", nullptr);
            ::_exit(127);
        }
        ::close(out[1]);
        out_ = out[0];
    }
    ~RunningWorkbench() {
        if (pid_ > 0 && !reaped_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) ::close(out_);
    }
    // Waits until the program has printed `text`.
    bool WaitForOutput(const std::string& text, int timeoutMs) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (output_.find(text) == std::string::npos) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            pollfd p{out_, POLLIN, 0};
            if (::poll(&p, 1, int(left.count())) <= 0) return false;
            char buffer[512];
            const ssize_t n = ::read(out_, buffer, sizeof buffer);
            if (n <= 0) return false;
            output_.append(buffer, size_t(n));
        }
        return true;
    }
    // The exit status, or -1 when the program was still running after `timeoutMs` or died by a
    // signal.
    int WaitForExit(int timeoutMs) {
        for (int waited = 0; waited <= timeoutMs; waited += 10) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                reaped_ = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    bool reaped_ = false;
    std::string output_;
};

TEST(WorkbenchProcess, TerminationSignalsCloseTheWindowCleanly) {
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal);
        RunningWorkbench workbench;
        ASSERT_GT(workbench.pid(), 0);
        ASSERT_TRUE(workbench.WaitForOutput("Simulated K310-7K adapter on", 10000));
        ::kill(workbench.pid(), signal);
        EXPECT_EQ(workbench.WaitForExit(5000), 0);
    }
}

} // namespace
