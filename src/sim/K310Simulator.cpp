#include "K310Simulator.h"

#include "PseudoTerminal.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <future>
#include <poll.h>
#include <random>
#include <sstream>
#include <sys/eventfd.h>
#include <unistd.h>

namespace sim {

namespace {

// A command that stops half-way is dropped after this long without a further byte, so a
// client that gave up cannot spoil the next command.
constexpr uint64_t kIncompleteTimeoutUs = 500'000;
// One byte on a 115200 8N1 wire: ten bits.
constexpr double kWireByteUs = 1e6 * 10.0 / 115200.0;
constexpr size_t kLogLimit = 200'000;
constexpr size_t kOutputLimit = 1 << 20;

uint64_t NowUs() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

} // namespace

// ---------------------------------------------------------------- clock

SimClock::SimClock() : base_(std::chrono::steady_clock::now()) {}

double SimClock::Now() const {
    const double real = std::chrono::duration<double>(std::chrono::steady_clock::now() - base_).count();
    return atBase_ + real * scale_ + offset_;
}

void SimClock::SetScale(double scale) {
    const auto now = std::chrono::steady_clock::now();
    atBase_ += std::chrono::duration<double>(now - base_).count() * scale_;
    base_ = now;
    scale_ = scale;
}

// ---------------------------------------------------------------- server state

struct K310Simulator::Impl {
    SimOptions options;
    mutable std::mutex m;
    std::unique_ptr<SimDevice> device;
    SimClock clock;
    platform::PseudoTerminal pty;
    std::string path;
    std::thread thread;
    int wakeFd = -1;
    int tombstone = -1;
    bool running = false;
    bool stopping = false;

    int silent = 0;
    bool cut = false;
    int garbage = 0;
    int extraDelayMs = 0;
    std::mt19937 rng{7};

    struct Pending {
        uint64_t dueUs;
        std::string bytes;
    };
    std::deque<Pending> out;
    uint64_t lastDueUs = 0;
    std::string in;
    uint64_t lastByteUs = 0;
    std::vector<ReceivedCommand> log;
    size_t commandCount = 0;

    std::deque<std::packaged_task<void()>> tasks;
    uint64_t replugAtUs = 0;
    bool pathChanged = false;
    std::function<void(const std::string&)> pathCallback;

    void Wake() {
        if (wakeFd >= 0) {
            const uint64_t one = 1;
            [[maybe_unused]] auto n = ::write(wakeFd, &one, sizeof one);
        }
    }

    // Runs `fn` under the lock on the serving thread (or here when nothing serves), so the
    // terminal is only ever touched by one thread.
    void OnServer(std::function<void()> fn) {
        std::unique_lock lock(m);
        if (!running || stopping || std::this_thread::get_id() == thread.get_id()) {
            fn();
            return;
        }
        std::packaged_task<void()> task(std::move(fn));
        auto done = task.get_future();
        tasks.push_back(std::move(task));
        lock.unlock();
        Wake();
        done.wait();
    }

    bool OpenTerminal(std::string* error) {
        const bool opened = pty.Open(true, error);
        if (tombstone >= 0) ::close(tombstone);
        tombstone = -1;
        if (!opened) return false;
        const int flags = ::fcntl(pty.MasterFd(), F_GETFL);
        ::fcntl(pty.MasterFd(), F_SETFL, flags | O_NONBLOCK);
        path = pty.SlavePath();
        pathChanged = true;
        return true;
    }

    void CloseTerminal() {
        // Holding the old terminal end until the next one exists keeps its number taken, so the
        // adapter comes back under a new path, as a re-enumerated USB device does.
        if (tombstone >= 0) ::close(tombstone);
        tombstone = path.empty() ? -1 : ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        pty.Close();
        out.clear();
        in.clear();
        path.clear();
        pathChanged = true;
    }

    void Process(const std::string& cmd, bool known) {
        ++commandCount;
        if (log.size() >= kLogLimit) log.erase(log.begin(), log.begin() + static_cast<long>(kLogLimit / 2));
        ReceivedCommand rc{cmd, {}, true};
        if (silent > 0) {
            --silent;
            rc.answered = false;
            log.push_back(rc);
            return;
        }
        std::string reply =
            known ? device->Execute(cmd, clock.Now()) : std::string("ERROR unknown command\r");
        rc.reply = reply;
        log.push_back(rc);
        if (cut) {
            cut = false;
            const size_t body = reply.size() > 0 ? reply.size() - 1 : 0;
            reply = reply.substr(0, std::max<size_t>(1, body / 2));
        }
        if (garbage > 0) {
            std::string junk;
            std::uniform_int_distribution<int> byte(0, 255);
            for (int i = 0; i < garbage; ++i) {
                int b = byte(rng);
                if (b == '\r') b = 0xFE;
                junk += static_cast<char>(b);
            }
            garbage = 0;
            reply = junk + reply;
        }
        const uint64_t now = NowUs();
        uint64_t delay = static_cast<uint64_t>(extraDelayMs) * 1000;
        if (options.wireTiming) delay += static_cast<uint64_t>((cmd.size() + reply.size()) * kWireByteUs);
        uint64_t due = std::max(now, lastDueUs) + delay;
        if (options.usbFrames) due = (due + 999) / 1000 * 1000;
        lastDueUs = due;
        size_t queued = 0;
        for (const auto& p : out)
            queued += p.bytes.size();
        if (queued + reply.size() <= kOutputLimit) out.push_back({due, std::move(reply)});
    }

    void HandleInput() {
        const uint64_t now = NowUs();
        while (!in.empty()) {
            if (in[0] == '\r' || in[0] == '\n') {
                in.erase(0, 1);
                continue;
            }
            ScanResult scan = ScanCommand(in);
            if (scan.kind == ScanKind::Incomplete) {
                if (now - lastByteUs < kIncompleteTimeoutUs) return;
                scan = {ScanKind::Unknown, in.size()};
            }
            const std::string cmd = in.substr(0, scan.length);
            in.erase(0, scan.length);
            Process(cmd, scan.kind == ScanKind::Complete);
        }
    }

    void Flush() {
        const uint64_t now = NowUs();
        while (!out.empty() && out.front().dueUs <= now) {
            if (!pty.IsOpen()) {
                out.clear();
                return;
            }
            auto& front = out.front();
            const ssize_t n = ::write(pty.MasterFd(), front.bytes.data(), front.bytes.size());
            if (n < 0) {
                if (errno == EINTR) continue;
                return; // full (no client reads): try again when writable
            }
            front.bytes.erase(0, static_cast<size_t>(n));
            if (front.bytes.empty()) out.pop_front();
        }
    }

    void Serve() {
        std::unique_lock lock(m);
        char buffer[4096];
        while (true) {
            while (!tasks.empty()) {
                auto task = std::move(tasks.front());
                tasks.pop_front();
                task();
            }
            if (stopping) break;
            uint64_t now = NowUs();
            if (replugAtUs != 0 && now >= replugAtUs) {
                replugAtUs = 0;
                OpenTerminal(nullptr);
            }
            Flush();
            if (pathChanged && pathCallback) {
                pathChanged = false;
                const std::string p = path;
                auto cb = pathCallback;
                lock.unlock();
                cb(p);
                lock.lock();
                continue;
            }
            pathChanged = false;

            int64_t timeoutUs = -1;
            auto consider = [&](uint64_t at) {
                const int64_t d = at > now ? static_cast<int64_t>(at - now) : 0;
                if (timeoutUs < 0 || d < timeoutUs) timeoutUs = d;
            };
            // A reply that is due but does not fit waits for POLLOUT, not for a timer (which
            // would spin while a client leaves its input unread).
            if (!out.empty() && out.front().dueUs > now) consider(out.front().dueUs);
            if (!in.empty()) consider(lastByteUs + kIncompleteTimeoutUs);
            if (replugAtUs != 0) consider(replugAtUs);
            pollfd fds[2] = {{wakeFd, POLLIN, 0}, {-1, 0, 0}};
            const int fd = pty.IsOpen() ? pty.MasterFd() : -1;
            fds[1].fd = fd;
            fds[1].events = POLLIN;
            if (!out.empty() && out.front().dueUs <= now) fds[1].events |= POLLOUT;
            lock.unlock();
            // Microsecond time-outs: replies timed to the wire are a fraction of a millisecond
            // late or early, and rounding every wait up to a whole millisecond would slow a
            // simulated adapter well below a real one.
            timespec wait{};
            if (timeoutUs >= 0) {
                wait.tv_sec = static_cast<time_t>(timeoutUs / 1000000);
                wait.tv_nsec = static_cast<long>(timeoutUs % 1000000) * 1000L;
            }
            ::ppoll(fds, fd >= 0 ? 2 : 1, timeoutUs < 0 ? nullptr : &wait, nullptr);
            lock.lock();
            if (fds[0].revents & POLLIN) {
                uint64_t v;
                [[maybe_unused]] auto n = ::read(wakeFd, &v, sizeof v);
            }
            if (fd >= 0 && fd == (pty.IsOpen() ? pty.MasterFd() : -1) && (fds[1].revents & POLLIN)) {
                const ssize_t n = ::read(fd, buffer, sizeof buffer);
                if (n > 0) {
                    in.append(buffer, static_cast<size_t>(n));
                    lastByteUs = NowUs();
                }
            }
            HandleInput();
        }
    }
};

K310Simulator::K310Simulator(const SimOptions& options) : impl_(std::make_unique<Impl>()) {
    impl_->options = options;
}

K310Simulator::~K310Simulator() {
    Stop();
}

bool K310Simulator::Start(std::string* error) {
    Stop();
    auto& d = *impl_;
    EncoderVariant variant;
    if (!FindPreset(d.options.preset, variant)) {
        if (error) *error = "unknown preset \"" + d.options.preset + "\"";
        return false;
    }
    {
        std::lock_guard lock(d.m);
        d.clock = SimClock();
        d.clock.SetScale(d.options.timeScale);
        d.device = std::make_unique<SimDevice>(variant, d.options.adapter);
        const double now = d.clock.Now();
        d.device->SetShaft(d.options.positionSt, d.options.positionMt, now);
        d.device->SetRotation(d.options.rotateDegPerS, now);
        d.device->SetNoise(d.options.noiseCounts);
        d.device->SetSelfCal(SelfCalOutcome::Success, d.options.selfCalSeconds);
        if (d.options.powerOn) d.device->SetSupply(true, now);
        d.stopping = false;
        d.out.clear();
        d.in.clear();
        d.log.clear();
        d.commandCount = 0;
        if (!d.OpenTerminal(error)) return false;
        d.pathChanged = false;
        d.wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (d.wakeFd < 0) {
            if (error) *error = "eventfd failed";
            d.pty.Close();
            return false;
        }
        d.running = true;
    }
    d.thread = std::thread([&d] { d.Serve(); });
    return true;
}

void K310Simulator::Stop() {
    auto& d = *impl_;
    {
        std::lock_guard lock(d.m);
        if (!d.running) return;
        d.stopping = true;
    }
    d.Wake();
    if (d.thread.joinable()) d.thread.join();
    std::lock_guard lock(d.m);
    d.running = false;
    d.pty.Close();
    d.path.clear();
    d.replugAtUs = 0;
    if (d.tombstone >= 0) ::close(d.tombstone);
    d.tombstone = -1;
    if (d.wakeFd >= 0) ::close(d.wakeFd);
    d.wakeFd = -1;
}

bool K310Simulator::Running() const {
    std::lock_guard lock(impl_->m);
    return impl_->running;
}

std::string K310Simulator::SlavePath() const {
    std::lock_guard lock(impl_->m);
    return impl_->path;
}

void K310Simulator::SetPathChangedCallback(std::function<void(const std::string&)> callback) {
    std::lock_guard lock(impl_->m);
    impl_->pathCallback = std::move(callback);
}

// Most controls touch the device under the lock; a device exists once Start() succeeded.
#define SIM_DEVICE_CALL(expr)                                                                                \
    do {                                                                                                     \
        std::lock_guard lock(impl_->m);                                                                      \
        if (!impl_->device) return;                                                                          \
        auto& dev = *impl_->device;                                                                          \
        const double now = impl_->clock.Now();                                                               \
        (void)now;                                                                                           \
        expr;                                                                                                \
    } while (0)

void K310Simulator::SetPosition(int64_t st, int64_t turns) {
    SIM_DEVICE_CALL(dev.SetShaft(st, turns, now));
}
void K310Simulator::SetRotation(double degPerS) {
    SIM_DEVICE_CALL(dev.SetRotation(degPerS, now));
}
void K310Simulator::SetNoise(double counts) {
    SIM_DEVICE_CALL(dev.SetNoise(counts));
}
void K310Simulator::SetTemperatures(int sensorC, int externalRaw) {
    SIM_DEVICE_CALL(dev.SetTemperatures(sensorC, externalRaw));
}
void K310Simulator::SetSupply(bool on) {
    SIM_DEVICE_CALL(dev.SetSupply(on, now));
}
void K310Simulator::BadCrcNext(int frames) {
    SIM_DEVICE_CALL(dev.BadCrcNext(frames));
}
void K310Simulator::SetErrorBit(bool on) {
    SIM_DEVICE_CALL(dev.SetConditions(kErrSystem, on));
}
void K310Simulator::SetCondition(uint32_t conditions, bool on) {
    SIM_DEVICE_CALL(dev.SetConditions(conditions, on));
}
void K310Simulator::SetSignalLevel(double level) {
    SIM_DEVICE_CALL(dev.SetSignalBase(level));
}
void K310Simulator::SetWarningBit(bool on) {
    SIM_DEVICE_CALL(dev.SetConditions(kWarnTemperature, on));
}
void K310Simulator::ErrorReplyNext(int commands) {
    SIM_DEVICE_CALL(dev.ErrorReplyNext(commands));
}
void K310Simulator::SetRegisterError(uint32_t address, int code) {
    SIM_DEVICE_CALL(code == 0 ? dev.ClearRegisterError(address) : dev.SetRegisterError(address, code));
}
void K310Simulator::JumpAtNextPowerUp(int64_t counts) {
    SIM_DEVICE_CALL(dev.JumpAtNextPowerUp(counts));
}
void K310Simulator::SetSelfCal(SelfCalOutcome outcome, double seconds) {
    SIM_DEVICE_CALL(dev.SetSelfCal(outcome, seconds));
}

void K310Simulator::SilenceNext(int commands) {
    std::lock_guard lock(impl_->m);
    impl_->silent = commands;
}
void K310Simulator::CutNextReply() {
    std::lock_guard lock(impl_->m);
    impl_->cut = true;
}
void K310Simulator::GarbageBeforeNextReply(int bytes) {
    std::lock_guard lock(impl_->m);
    impl_->garbage = bytes;
}
void K310Simulator::SetExtraDelayMs(int ms) {
    std::lock_guard lock(impl_->m);
    impl_->extraDelayMs = std::max(0, ms);
}

bool K310Simulator::Unplug() {
    bool was = false;
    impl_->OnServer([&] {
        was = impl_->pty.IsOpen();
        impl_->replugAtUs = 0;
        if (was) impl_->CloseTerminal();
    });
    return was;
}

bool K310Simulator::Replug(std::string* error) {
    bool ok = false;
    impl_->OnServer([&] {
        impl_->replugAtUs = 0;
        if (impl_->pty.IsOpen()) impl_->CloseTerminal();
        ok = impl_->OpenTerminal(error);
    });
    return ok;
}

void K310Simulator::UnplugFor(int ms) {
    impl_->OnServer([&] {
        if (impl_->pty.IsOpen()) impl_->CloseTerminal();
        impl_->replugAtUs = NowUs() + static_cast<uint64_t>(std::max(0, ms)) * 1000;
    });
}

void K310Simulator::SetTimeScale(double scale) {
    std::lock_guard lock(impl_->m);
    if (scale > 0) impl_->clock.SetScale(scale);
}

void K310Simulator::AdvanceTime(double seconds) {
    std::lock_guard lock(impl_->m);
    if (seconds > 0) impl_->clock.Advance(seconds);
    if (impl_->device) impl_->device->Advance(impl_->clock.Now());
}

double K310Simulator::Now() const {
    std::lock_guard lock(impl_->m);
    return impl_->clock.Now();
}

bool K310Simulator::SupplyOn() const {
    std::lock_guard lock(impl_->m);
    return impl_->device && impl_->device->SupplyOn();
}

std::vector<ReceivedCommand> K310Simulator::Received() const {
    std::lock_guard lock(impl_->m);
    return impl_->log;
}

void K310Simulator::ClearReceived() {
    std::lock_guard lock(impl_->m);
    impl_->log.clear();
}

size_t K310Simulator::CommandCount() const {
    std::lock_guard lock(impl_->m);
    return impl_->commandCount;
}

bool K310Simulator::PeekRegister(uint32_t address, int length, uint32_t& value) const {
    std::lock_guard lock(impl_->m);
    value = 0;
    return impl_->device && impl_->device->PeekRegister(address, length, value, impl_->clock.Now()) == 0;
}

uint32_t K310Simulator::PowerCycles() const {
    std::lock_guard lock(impl_->m);
    return impl_->device ? impl_->device->PowerCycles() : 0;
}

void K310Simulator::EncoderPosition(int64_t& turns, int64_t& st) const {
    std::lock_guard lock(impl_->m);
    turns = st = 0;
    if (impl_->device) impl_->device->EncoderPosition(impl_->clock.Now(), turns, st);
}

EncoderVariant K310Simulator::Variant() const {
    std::lock_guard lock(impl_->m);
    if (impl_->device) return impl_->device->Variant();
    EncoderVariant v;
    FindPreset(impl_->options.preset, v);
    return v;
}

void K310Simulator::Inspect(const std::function<void(SimDevice&, double)>& fn) const {
    std::lock_guard lock(impl_->m);
    if (impl_->device) fn(*impl_->device, impl_->clock.Now());
}

// ---------------------------------------------------------------- text control

const char* K310Simulator::ControlHelp() {
    return "Control commands (one per line; answers begin with \"ok\" or \"error\"):\n"
           "  position ST[:MT]        set the shaft (single-turn counts, turn count)\n"
           "  rotate DEG_PER_S        turn the shaft at this speed (0 stops it)\n"
           "  noise COUNTS            Gaussian noise of the reading (standard deviation)\n"
           "  temperature SEN EXT     sensor temperature in degC, external sensor raw value (1..2046)\n"
           "  power on|off            switch the encoder supply as the adapter's n / f would\n"
           "  silent N                the next N commands are lost: no reply, no effect\n"
           "  cut                     the next reply stops half-way, without its CR\n"
           "  badcrc [N]              the next N position frames carry a wrong CRC (default 1)\n"
           "  error on|off            encoder error (frame error bit, status words, persistent status)\n"
           "  warning on|off          encoder warning (frame warning bit, status words)\n"
           "  condition NAME on|off   one status condition: multiturn, signal-lost, system, power,\n"
           "                          configuration, magnetic-pattern, acceleration (errors);\n"
           "                          temperature, signal-low, signal-high, magnetic-pattern-warning,\n"
           "                          high-speed (warnings)\n"
           "  signal LEVEL            mean signal level (it varies over the turn around it)\n"
           "  errorreply [N]          answer the next N commands with an ERROR line (default 1)\n"
           "  regerror ADDR CODE|off  a register answers this Velcor error code (26 56 96 EE F6 F9 E6)\n"
           "  garbage N               N garbage bytes before the next reply\n"
           "  delay MS                extra delay before every reply (0: none)\n"
           "  jump COUNTS             the position jumps by COUNTS at the next supply-on\n"
           "  selfcal OUTCOME [SEC]   next self-calibrations: success, no-correction, timeout,\n"
           "                          out-of-range, numerical, radial, write-error; SEC = duration\n"
           "  unplug [MS]             close the terminal; with MS, come back on a new one after MS\n"
           "  replug                  come back on a new terminal now (prints its path)\n"
           "  timescale X             simulated seconds per real second\n"
           "  advance SECONDS         move simulated time forward\n"
           "  reg ADDR LEN            read a register as the host would (hex address)\n"
           "  state                   supply, position, counters, terminal path\n"
           "  log [N]                 the last N commands received (default 20)\n"
           "  help                    this text\n";
}

namespace {

bool ToInt(const std::string& t, int64_t& v, int base = 10) {
    if (t.empty()) return false;
    char* end = nullptr;
    errno = 0;
    v = std::strtoll(t.c_str(), &end, base);
    return errno == 0 && end && *end == '\0';
}

bool ToDouble(const std::string& t, double& v) {
    if (t.empty()) return false;
    char* end = nullptr;
    v = std::strtod(t.c_str(), &end);
    return end && *end == '\0' && std::isfinite(v);
}

bool ToOnOff(const std::string& t, bool& v) {
    if (t == "on" || t == "1") return v = true, true;
    if (t == "off" || t == "0") return v = false, true;
    return false;
}

std::string Printable(const std::string& s) {
    std::string out;
    for (unsigned char c : s) {
        if (c == '\r')
            out += "\\r";
        else if (c < 32 || c > 126) {
            char b[8];
            std::snprintf(b, sizeof b, "\\x%02X", c);
            out += b;
        } else
            out += static_cast<char>(c);
    }
    return out;
}

} // namespace

std::string K310Simulator::Control(const std::string& line) {
    std::istringstream words(line);
    std::vector<std::string> w;
    for (std::string s; words >> s;)
        w.push_back(s);
    if (w.empty()) return "ok";
    const std::string& c = w[0];
    auto usage = [&](const char* form) { return std::string("error usage: ") + form; };
    int64_t n = 0;
    double x = 0;
    bool on = false;

    if (c == "help") return std::string("ok\n") + ControlHelp();
    if (c == "position") {
        int64_t st = 0, mt = 0;
        if (w.size() != 2 || !ParsePosition(w[1], st, mt)) return usage("position ST[:MT]");
        SetPosition(st, mt);
        return "ok";
    }
    if (c == "rotate") {
        if (w.size() != 2 || !ToDouble(w[1], x)) return usage("rotate DEG_PER_S");
        SetRotation(x);
        return "ok";
    }
    if (c == "noise") {
        if (w.size() != 2 || !ToDouble(w[1], x) || x < 0) return usage("noise COUNTS");
        SetNoise(x);
        return "ok";
    }
    if (c == "temperature") {
        int64_t ext = 0;
        if (w.size() != 3 || !ToInt(w[1], n) || !ToInt(w[2], ext)) return usage("temperature SEN EXT");
        SetTemperatures(static_cast<int>(n), static_cast<int>(ext));
        return "ok";
    }
    if (c == "power") {
        if (w.size() != 2 || !ToOnOff(w[1], on)) return usage("power on|off");
        SetSupply(on);
        return "ok";
    }
    if (c == "silent") {
        if (w.size() != 2 || !ToInt(w[1], n) || n < 0) return usage("silent N");
        SilenceNext(static_cast<int>(n));
        return "ok";
    }
    if (c == "cut") {
        CutNextReply();
        return "ok";
    }
    if (c == "badcrc") {
        n = 1;
        if (w.size() > 2 || (w.size() == 2 && (!ToInt(w[1], n) || n < 0))) return usage("badcrc [N]");
        BadCrcNext(static_cast<int>(n));
        return "ok";
    }
    if (c == "error" || c == "warning") {
        if (w.size() != 2 || !ToOnOff(w[1], on)) return usage("error|warning on|off");
        c == "error" ? SetErrorBit(on) : SetWarningBit(on);
        return "ok";
    }
    if (c == "condition") {
        static const std::pair<const char*, uint32_t> names[] = {
            {"multiturn", kErrMultiturn},
            {"signal-lost", kErrSignalLost},
            {"system", kErrSystem},
            {"power", kErrPower},
            {"configuration", kErrConfiguration},
            {"magnetic-pattern", kErrMagneticPattern},
            {"acceleration", kErrAcceleration},
            {"temperature", kWarnTemperature},
            {"signal-low", kWarnSignalLow},
            {"signal-high", kWarnSignalHigh},
            {"magnetic-pattern-warning", kWarnMagneticPattern},
            {"high-speed", kWarnHighSpeed},
        };
        if (w.size() != 3 || !ToOnOff(w[2], on)) return usage("condition NAME on|off");
        for (const auto& [name, mask] : names) {
            if (w[1] == name) {
                SetCondition(mask, on);
                return "ok";
            }
        }
        return "error unknown condition \"" + w[1] + "\"";
    }
    if (c == "signal") {
        if (w.size() != 2 || !ToDouble(w[1], x) || x < 0 || x > 50000)
            return usage("signal LEVEL (0..50000)");
        SetSignalLevel(x);
        return "ok";
    }
    if (c == "errorreply") {
        n = 1;
        if (w.size() > 2 || (w.size() == 2 && (!ToInt(w[1], n) || n < 0))) return usage("errorreply [N]");
        ErrorReplyNext(static_cast<int>(n));
        return "ok";
    }
    if (c == "regerror") {
        int64_t addr = 0, code = 0;
        if (w.size() != 3 || !ToInt(w[1], addr, 16) || addr < 0) return usage("regerror ADDR CODE|off");
        if (w[2] != "off") {
            static const int known[] = {0x26, 0x56, 0x96, 0xEE, 0xF6, 0xF9, 0xE6};
            if (!ToInt(w[2], code, 16) ||
                std::find(std::begin(known), std::end(known), code) == std::end(known))
                return "error code must be one of 26 56 96 EE F6 F9 E6";
        }
        SetRegisterError(static_cast<uint32_t>(addr), static_cast<int>(code));
        return "ok";
    }
    if (c == "garbage") {
        if (w.size() != 2 || !ToInt(w[1], n) || n < 0 || n > 4096) return usage("garbage N (0..4096)");
        GarbageBeforeNextReply(static_cast<int>(n));
        return "ok";
    }
    if (c == "delay") {
        if (w.size() != 2 || !ToInt(w[1], n) || n < 0 || n > 600000) return usage("delay MS");
        SetExtraDelayMs(static_cast<int>(n));
        return "ok";
    }
    if (c == "jump") {
        if (w.size() != 2 || !ToInt(w[1], n)) return usage("jump COUNTS");
        JumpAtNextPowerUp(n);
        return "ok";
    }
    if (c == "selfcal") {
        SelfCalOutcome outcome;
        x = impl_->options.selfCalSeconds;
        if (w.size() < 2 || w.size() > 3 || !ParseSelfCalOutcome(w[1], outcome) ||
            (w.size() == 3 && (!ToDouble(w[2], x) || x < 0)))
            return usage(
                "selfcal success|no-correction|timeout|out-of-range|numerical|radial|write-error [SEC]");
        SetSelfCal(outcome, x);
        return "ok";
    }
    if (c == "unplug") {
        if (w.size() == 2) {
            if (!ToInt(w[1], n) || n < 0) return usage("unplug [MS]");
            UnplugFor(static_cast<int>(n));
            return "ok";
        }
        Unplug();
        return "ok";
    }
    if (c == "replug") {
        std::string error;
        if (!Replug(&error)) return "error " + error;
        return "ok " + SlavePath();
    }
    if (c == "timescale") {
        if (w.size() != 2 || !ToDouble(w[1], x) || x <= 0) return usage("timescale X");
        SetTimeScale(x);
        return "ok";
    }
    if (c == "advance") {
        if (w.size() != 2 || !ToDouble(w[1], x) || x < 0) return usage("advance SECONDS");
        AdvanceTime(x);
        return "ok";
    }
    if (c == "reg") {
        int64_t addr = 0, len = 0;
        if (w.size() != 3 || !ToInt(w[1], addr, 16) || !ToInt(w[2], len) || addr < 0)
            return usage("reg ADDR LEN");
        uint32_t value = 0;
        int code = 0x26;
        {
            std::lock_guard lock(impl_->m);
            if (impl_->device)
                code = impl_->device->PeekRegister(static_cast<uint32_t>(addr), static_cast<int>(len), value,
                                                   impl_->clock.Now());
        }
        char buf[48];
        if (code != 0)
            std::snprintf(buf, sizeof buf, "error 0x%02x", code);
        else
            std::snprintf(buf, sizeof buf, "ok 0x%08X %u", value, value);
        return buf;
    }
    if (c == "state") {
        std::lock_guard lock(impl_->m);
        if (!impl_->device) return "error not started";
        auto& dev = *impl_->device;
        int64_t turns = 0, st = 0;
        dev.EncoderPosition(impl_->clock.Now(), turns, st);
        std::ostringstream s;
        s << "ok preset=" << dev.Variant().preset << " supply=" << (dev.SupplyOn() ? "on" : "off")
          << " volts=" << (dev.FiveVolts() ? "5.0" : "3.3") << " clock-step=" << dev.ClockStep()
          << " turns=" << turns << " st=" << st << " power-cycles=" << dev.PowerCycles()
          << " commands=" << impl_->commandCount << " debug=" << (dev.DebugUnlocked() ? "unlocked" : "locked")
          << " selfcal=" << (dev.SelfCalRunning() ? "running" : "idle")
          << " path=" << (impl_->path.empty() ? "-" : impl_->path);
        return s.str();
    }
    if (c == "log") {
        n = 20;
        if (w.size() > 2 || (w.size() == 2 && (!ToInt(w[1], n) || n < 0))) return usage("log [N]");
        std::lock_guard lock(impl_->m);
        const auto& log = impl_->log;
        std::string outText = "ok";
        const size_t first = log.size() > static_cast<size_t>(n) ? log.size() - static_cast<size_t>(n) : 0;
        for (size_t i = first; i < log.size(); ++i)
            outText += "\n" + Printable(log[i].command) + " -> " +
                       (log[i].answered ? Printable(log[i].reply) : std::string("(no reply)"));
        return outText;
    }
    return "error unknown control command \"" + c + "\" (try help)";
}

} // namespace sim
