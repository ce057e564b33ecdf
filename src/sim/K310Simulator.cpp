// The simulator's server: the terminal (SimTerminal), the serving thread, command framing, reply
// timing, and the simulator's start and stop. The typed controls (K310SimulatorControls), the
// faults (K310SimulatorFaults) and the text control commands (SimControlCommands) are beside it.
#include "K310SimulatorServer.h"

#include <algorithm>

namespace sim {

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

// ---------------------------------------------------------------- server

void K310Simulator::Impl::Wake() {
    terminal->Wake();
}

void K310Simulator::Impl::OnServer(std::function<void()> fn) {
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

bool K310Simulator::Impl::OpenTerminal(std::string* error) {
    if (!terminal->Open(error)) return false;
    path = terminal->Path();
    pathChanged = true;
    return true;
}

void K310Simulator::Impl::CloseTerminal() {
    terminal->Close();
    out.clear();
    in.clear();
    path.clear();
    pathChanged = true;
}

void K310Simulator::Impl::Process(const std::string& cmd, bool known) {
    ++commandCount;
    if (log.size() >= kLogLimit) log.erase(log.begin(), log.begin() + static_cast<long>(kLogLimit / 2));
    ReceivedCommand rc{cmd, {}, true};
    const bool targeted = device->FaultTargets(cmd);
    if (silent > 0 && targeted) {
        --silent;
        rc.answered = false;
        log.push_back(rc);
        return;
    }
    std::string reply = known ? device->Execute(cmd, clock.Now()) : std::string("ERROR unknown command\r");
    rc.reply = reply;
    log.push_back(rc);
    if (targeted) ApplyReplyFaults(reply);
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

void K310Simulator::Impl::HandleInput() {
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

void K310Simulator::Impl::Flush() {
    const uint64_t now = NowUs();
    while (!out.empty() && out.front().dueUs <= now) {
        if (!terminal->IsOpen()) {
            out.clear();
            return;
        }
        auto& front = out.front();
        const long n = terminal->Write(front.bytes.data(), front.bytes.size());
        if (n < 0) return; // full (no client reads): try again when writable
        front.bytes.erase(0, static_cast<size_t>(n));
        if (front.bytes.empty()) out.pop_front();
    }
}

void K310Simulator::Impl::Serve() {
    terminal->PrepareServingThread();
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
        // A reply that is due but does not fit waits for room to write, not for a timer (which
        // would spin while a client leaves its input unread).
        if (!out.empty() && out.front().dueUs > now) consider(out.front().dueUs);
        if (!in.empty()) consider(lastByteUs + kIncompleteTimeoutUs);
        if (replugAtUs != 0) consider(replugAtUs);
        const bool wantWrite = !out.empty() && out.front().dueUs <= now;
        lock.unlock();
        terminal->Wait(timeoutUs, wantWrite);
        lock.lock();
        const long n = terminal->Read(buffer, sizeof buffer);
        if (n > 0) {
            in.append(buffer, static_cast<size_t>(n));
            lastByteUs = NowUs();
        }
        HandleInput();
    }
}

// ---------------------------------------------------------------- start and stop

K310Simulator::K310Simulator(const SimOptions& options) : impl_(std::make_unique<Impl>()) {
    impl_->options = options;
    impl_->terminal = MakeTerminal(options.inProcess);
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
        if (!d.options.encoderSerial.empty()) variant.serial = d.options.encoderSerial;
        if (!d.options.partNumber.empty()) variant.partNumber = d.options.partNumber;
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
    d.terminal->Shutdown();
    d.path.clear();
    d.replugAtUs = 0;
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

} // namespace sim
