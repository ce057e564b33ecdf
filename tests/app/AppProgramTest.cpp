// The workbench as a process: how it ends when the session around it ends, and how an unattended
// recording ends.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

// The workbench `program` with `arguments` (by default its built-in simulator), offscreen, its
// standard output and error on one pipe.
class RunningWorkbench {
public:
    explicit RunningWorkbench(std::vector<std::string> arguments = {"--simulate=t1"},
                              const std::string& program = TARVO_WORKBENCH_PATH) {
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (std::string& a : arguments)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        int out[2];
        if (::pipe(out) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], 1);
            ::dup2(out[1], 2);
            ::close(out[0]);
            ::close(out[1]);
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
            ::execv(program.c_str(), argv.data());
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
    // Everything printed so far, after reading what is waiting.
    const std::string& Output() {
        pollfd p{out_, POLLIN, 0};
        char buffer[512];
        ssize_t n = 0;
        while (::poll(&p, 1, 0) > 0 && (n = ::read(out_, buffer, sizeof buffer)) > 0)
            output_.append(buffer, size_t(n));
        return output_;
    }

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

// An unattended recording whose file is deleted while it runs does not pass: the run fails and
// says why. The program records beside itself, in a folder of the test's own.
TEST(WorkbenchProcess, ARecordingWhoseFileIsDeletedFailsTheRun) {
    std::string pattern = (fs::temp_directory_path() / "tarvo-record-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    const fs::path folder = pattern;
    fs::copy_file(TARVO_WORKBENCH_PATH, folder / "tarvo-workbench");
    {
        RunningWorkbench workbench({"--simulate=t1", "--record", "3"}, (folder / "tarvo-workbench").string());
        ASSERT_GT(workbench.pid(), 0);
        fs::path recording;
        for (int waited = 0; recording.empty() && waited < 20000; waited += 20) {
            for (const auto& entry : fs::directory_iterator(folder))
                if (entry.path().extension() == ".csv") recording = entry.path();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ASSERT_FALSE(recording.empty()) << workbench.Output();
        ASSERT_TRUE(fs::remove(recording));
        EXPECT_EQ(workbench.WaitForExit(30000), 1) << workbench.Output();
        const std::string& said = workbench.Output();
        EXPECT_NE(said.find("record: the recording failed"), std::string::npos) << said;
        EXPECT_NE(said.find(recording.string() + " was deleted"), std::string::npos) << said;
    }
    fs::remove_all(folder);
}

} // namespace
