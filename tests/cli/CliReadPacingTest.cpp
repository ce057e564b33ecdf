// How tarvo-cli read's lines reach a script that reads them from a pipe while the program runs:
// a line is out before the program waits (for the interval, for a device that takes its time),
// back-to-back readings go out in few writes but whole and in order, a note on standard error
// never overtakes the lines before it, and an output that fails ends the run once.
#include "CliFixture.h"
#include "K310Simulator.h"
#include "SimDevice.h"
#include "StepFaults.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using clitest::Cli;
using testing_support::Exchange;
using testing_support::Piece;

namespace {

constexpr const char* kFullDiskError = "tarvo-cli: cannot write standard output: No space left on device\n";
constexpr const char* kClosedPipeError = "tarvo-cli: cannot write standard output: Broken pipe\n";

size_t Lines(const std::string& text) {
    size_t n = 0;
    for (char c : text)
        n += c == '\n';
    return n;
}

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// tarvo-cli as a child whose standard output the test holds the other end of.
class Child {
public:
    // Standard output (and standard error with `errorToOut`) on `out`, which the child gets a
    // copy of; standard error otherwise into a pipe collected by Finish(). SIGPIPE is ignored, so
    // a pipe nobody reads is a write error the program reports.
    bool Start(std::vector<std::string> args, int out, bool errorToOut = false) {
        int errPipe[2];
        if (::pipe2(errPipe, O_CLOEXEC) != 0) return false;
        std::vector<char*> argv;
        static std::string program = TARVO_CLI_PATH;
        argv.push_back(program.data());
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out, 1);
            ::dup2(errorToOut ? out : errPipe[1], 2);
            ::signal(SIGPIPE, SIG_IGN);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(errPipe[1]);
        errFd_ = errPipe[0];
        return pid_ > 0;
    }
    bool Running() {
        if (ended_) return false;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) != pid_) return true;
        End(status);
        return false;
    }
    // Waits for the end (killing a run still going after `guardMs`: a hang, reported as such);
    // the exit code, -1 when it did not exit by itself.
    int Finish(int guardMs = 60000) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(guardMs);
        while (Running() && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (!ended_) {
            ADD_FAILURE() << "tarvo-cli still running after " << guardMs << " ms";
            ::kill(pid_, SIGKILL);
            int status = 0;
            ::waitpid(pid_, &status, 0);
            End(status);
        }
        char buffer[4096];
        for (ssize_t n; errFd_ >= 0 && (n = ::read(errFd_, buffer, sizeof buffer)) > 0;)
            err.append(buffer, static_cast<size_t>(n));
        return exitCode_;
    }
    ~Child() {
        if (pid_ > 0 && !ended_) Finish(0);
        if (errFd_ >= 0) ::close(errFd_);
    }

    std::string err;

private:
    void End(int status) {
        ended_ = true;
        exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    pid_t pid_ = -1;
    int errFd_ = -1;
    bool ended_ = false;
    int exitCode_ = -1;
};

// What the test reads of the program's output, one read (one message on a socket) at a time.
struct Reader {
    explicit Reader(int readFd) : fd(readFd) {}
    ~Reader() { Close(); }
    void Close() {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    // One read's worth; false at the end of the output, or when nothing came for a long time.
    bool ReadOnce() {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 30000) <= 0) {
            ADD_FAILURE() << "no output for 30 s";
            return false;
        }
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n <= 0) return false;
        text.append(buffer.data(), static_cast<size_t>(n));
        chunks.push_back(Lines(std::string(buffer.data(), static_cast<size_t>(n))));
        return true;
    }
    bool ReadLines(size_t lines) {
        while (Lines(text) < lines)
            if (!ReadOnce()) return false;
        return true;
    }
    void ReadToEnd() {
        while (ReadOnce()) {
        }
    }

    int fd;
    std::vector<char> buffer = std::vector<char>(1 << 18); // more than any one write
    std::string text;
    std::vector<size_t> chunks; // lines ended in each read
};

struct Pipe {
    Pipe() { ok = ::pipe2(fds, O_CLOEXEC) == 0; }
    ~Pipe() { CloseWriteEnd(); }
    void CloseWriteEnd() {
        if (fds[1] >= 0) ::close(fds[1]);
        fds[1] = -1;
    }
    int fds[2] = {-1, -1};
    bool ok;
};

class CliReadPacing : public Cli {
protected:
    std::vector<std::string> WithPort(std::vector<std::string> args, const std::string& port) {
        args.push_back("--port");
        args.push_back(port);
        return args;
    }
    std::unique_ptr<sim::K310Simulator> StartSimulator() {
        sim::SimOptions options;
        options.powerOn = true;
        auto simulator = std::make_unique<sim::K310Simulator>(options);
        std::string error;
        EXPECT_TRUE(simulator->Start(&error)) << error;
        return simulator;
    }
    static int Frames(const sim::K310Simulator& simulator) {
        int frames = 0;
        simulator.Inspect([&](sim::SimDevice& d, double) { frames = d.PositionFrames(); });
        return frames;
    }
};

// A script that follows the readings sees each one before the program sleeps the interval.
TEST_F(CliReadPacing, EachLineIsOutBeforeTheInterval) {
    auto simulator = StartSimulator();
    Pipe out;
    ASSERT_TRUE(out.ok);
    Child child;
    ASSERT_TRUE(child.Start(WithPort({"read", "--count", "3", "--interval", "200"}, simulator->SlavePath()),
                            out.fds[1]));
    out.CloseWriteEnd();
    Reader reader(out.fds[0]);
    for (int line = 1; line <= 2; ++line) {
        ASSERT_TRUE(reader.ReadLines(line)) << reader.text;
        // The line is out before the interval, so the reading after it is still to come.
        EXPECT_EQ(Frames(*simulator), line) << "line " << line << " came after the next reading";
        EXPECT_TRUE(child.Running()) << "line " << line << " came only at the end";
    }
    reader.ReadToEnd();
    EXPECT_EQ(child.Finish(), 0) << child.err;
    EXPECT_EQ(child.err, "");
    EXPECT_EQ(Lines(reader.text), 3u) << reader.text;
}

// A device that takes its time: the line before a reading is out while that reading waits for
// its reply. Here the third reading is answered only once the second line has been read; a line
// kept back until the reading ends would leave the reading to time out (exit 1).
TEST_F(CliReadPacing, ALineIsOutWhileTheNextReadingWaitsForTheDevice) {
    const std::string good = "48D14391\r";
    ExpectAdapter();
    ExpectIdentification();
    peer.Add(Exchange{"?04:000", {Piece{good, 0}}});
    peer.Add(Exchange{"?04:000", {Piece{good, 30}}}); // well after the first line's write
    peer.Add(Exchange{"?04:000", {}});                // answered below
    peer.Add(Exchange{"?04:000", {Piece{good, 0}}});
    Pipe out;
    ASSERT_TRUE(out.ok);
    Child child;
    ASSERT_TRUE(child.Start(WithPort({"read", "--count", "4"}, peer.SlavePath()), out.fds[1]));
    out.CloseWriteEnd();
    Reader reader(out.fds[0]);
    ASSERT_TRUE(reader.ReadLines(2)) << reader.text;
    // A reply before the command would be taken for a stale one and dropped.
    for (int i = 0; i < 5000 && Count(peer.ReceivedText(), "?04:000") < 3; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    peer.Inject(good);
    reader.ReadToEnd();
    EXPECT_EQ(child.Finish(), 0) << child.err;
    EXPECT_EQ(child.err, "");
    EXPECT_EQ(Lines(reader.text), 4u) << reader.text;
    EXPECT_TRUE(peer.WaitIdle());
    EXPECT_EQ(peer.Unexpected(), "");
}

// Readings back to back go out in few writes, yet whole, in order and one line per reading.
// A socket that keeps each write apart shows the writes; a pipe, what a script reads.
TEST_F(CliReadPacing, BackToBackReadingsGoOutInFewWritesWholeAndInOrder) {
    const int readings = 2000;
    for (const bool writesApart : {true, false}) {
        SCOPED_TRACE(writesApart ? "socket keeping writes apart" : "pipe");
        auto simulator = StartSimulator();
        simulator->SetPosition(0);
        simulator->SetRotation(20); // forward, far from a full turn during the run
        int fds[2];
        ASSERT_EQ(writesApart ? ::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds)
                              : ::pipe2(fds, O_CLOEXEC),
                  0);
        const int framesBefore = Frames(*simulator);
        Child child;
        ASSERT_TRUE(child.Start(
            WithPort({"read", "--count", std::to_string(readings)}, simulator->SlavePath()), fds[1]));
        ::close(fds[1]);
        Reader reader(fds[0]);
        reader.ReadToEnd();
        EXPECT_EQ(child.Finish(), 0) << child.err;
        EXPECT_EQ(child.err, "");
        EXPECT_EQ(Frames(*simulator) - framesBefore, readings);

        std::istringstream lines(reader.text);
        std::string line;
        int count = 0;
        long long previous = -1;
        while (std::getline(lines, line)) {
            ++count;
            const size_t at = line.find(" MTST_value=");
            ASSERT_TRUE(line.rfind("RxData=", 0) == 0 && at != std::string::npos && line.size() > 10 &&
                        line.substr(line.size() - 10) == " ErrComm=0")
                << "line " << count << ": " << line;
            const long long position = std::stoll(line.substr(at + 12));
            ASSERT_GE(position, previous) << "line " << count << " out of order: " << line;
            previous = position;
        }
        EXPECT_EQ(count, readings);
        ASSERT_FALSE(reader.text.empty());
        EXPECT_EQ(reader.text.back(), '\n');
        if (writesApart) {
            // One write a line would make as many writes as lines.
            EXPECT_LT(reader.chunks.size(), static_cast<size_t>(readings) / 2)
                << "writes for " << readings << " lines";
        }
    }
}

// The lines before a failed reading come before its note, also when both streams share a pipe
// and the lines before it are still gathering in the buffer.
TEST_F(CliReadPacing, AFailedReadingsNoteComesAfterTheLinesBeforeIt) {
    using Fault = testing_support::TStepFault;
    const int readings = 2000;
    struct Row {
        Fault fault;
        std::vector<std::string> args;
        const char* note; // after "tarvo-cli: reading N: "
        int lines;
    } rows[] = {
        {Fault::BadCrc, {"read", "--count", std::to_string(readings)}, "CRC error in reply", readings},
        {Fault::Silent,
         {"read", "--count", std::to_string(readings), "--keep-going"},
         "USB Comm Err -1",
         readings - 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing_support::StepFaultName(row.fault));
        auto simulator = StartSimulator();
        std::atomic<bool> stop{false};
        // In the middle of the run, when lines are gathering.
        std::thread injector([&] {
            while (!stop && Frames(*simulator) < 300)
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            if (!stop) testing_support::InjectStepFault(*simulator, row.fault);
        });
        Pipe out;
        ASSERT_TRUE(out.ok);
        Child child;
        const bool started = child.Start(WithPort(row.args, simulator->SlavePath()), out.fds[1], true);
        out.CloseWriteEnd();
        Reader reader(out.fds[0]);
        if (started) reader.ReadToEnd();
        stop = true;
        injector.join();
        ASSERT_TRUE(started);
        EXPECT_EQ(child.Finish(), 1);

        std::istringstream lines(reader.text);
        int readingLines = 0, notes = 0;
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("RxData=", 0) == 0) {
                ++readingLines;
                continue;
            }
            ++notes;
            const std::string prefix = "tarvo-cli: reading " + std::to_string(readingLines + 1) + ": ";
            EXPECT_EQ(line.rfind(prefix + row.note, 0), 0u) << "after " << readingLines << " lines: " << line;
        }
        EXPECT_EQ(notes, 1);
        EXPECT_EQ(readingLines, row.lines);
    }
}

// An output that cannot be written ends a run of a billion readings, with the reason once: a
// full disk at the first line, a pipe whose reader went away at the next write.
TEST_F(CliReadPacing, AFailingOutputEndsALongRunOnce) {
    auto simulator = StartSimulator();
    const std::vector<std::string> args = WithPort({"read", "--count", "1000000000"}, simulator->SlavePath());
    {
        SCOPED_TRACE("full disk");
        const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
        ASSERT_GE(full, 0);
        const int framesBefore = Frames(*simulator);
        Child child;
        ASSERT_TRUE(child.Start(args, full));
        ::close(full);
        EXPECT_EQ(child.Finish(), 1);
        EXPECT_EQ(child.err, kFullDiskError);
        EXPECT_EQ(Frames(*simulator) - framesBefore, 1);
    }
    {
        SCOPED_TRACE("reader gone");
        Pipe out;
        ASSERT_TRUE(out.ok);
        Child child;
        ASSERT_TRUE(child.Start(args, out.fds[1]));
        out.CloseWriteEnd();
        Reader reader(out.fds[0]);
        ASSERT_TRUE(reader.ReadLines(100)) << reader.text;
        reader.Close();
        EXPECT_EQ(child.Finish(), 1);
        EXPECT_EQ(child.err, kClosedPipeError);
    }
}

} // namespace
