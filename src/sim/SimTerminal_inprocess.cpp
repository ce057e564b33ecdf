// The in-process port: the device end of a platform::InProcessLink, waited on with a condition
// that the host's activity and Wake() both signal.
#include "SimTerminal.h"

#include "InProcessPort.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace sim {

namespace {

class Signal {
public:
    void Raise() {
        {
            std::lock_guard lock(m_);
            raised_ = true;
        }
        cv_.notify_all();
    }
    void Wait(int64_t timeoutUs) {
        std::unique_lock lock(m_);
        if (timeoutUs < 0)
            cv_.wait(lock, [&] { return raised_; });
        else
            cv_.wait_for(lock, std::chrono::microseconds(timeoutUs), [&] { return raised_; });
        raised_ = false;
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    bool raised_ = false;
};

class InProcessTerminal final : public SimTerminal {
public:
    InProcessTerminal() : signal_(std::make_shared<Signal>()) {}
    ~InProcessTerminal() override { Close(); }

    bool Open(std::string*) override {
        Close();
        // The link outlives nothing of ours it could call into: it holds the signal itself.
        link_ = platform::InProcessLink::Create([signal = signal_] { signal->Raise(); });
        path_ = link_->Name();
        return true;
    }
    void Close() override {
        if (link_) link_->Close();
        link_.reset();
        path_.clear();
    }
    bool IsOpen() const override { return link_ != nullptr; }
    std::string Path() const override { return path_; }
    long Write(const char* data, size_t count) override {
        if (!link_) return -1;
        const size_t n = link_->Write(data, count);
        return n == 0 && count > 0 ? -1 : static_cast<long>(n);
    }
    long Read(char* buffer, size_t count) override {
        return link_ ? static_cast<long>(link_->Read(buffer, count)) : 0;
    }
    // Room to write comes with the host's next read, which raises the signal too.
    void Wait(int64_t timeoutUs, bool) override { signal_->Wait(timeoutUs); }
    void Wake() override { signal_->Raise(); }

private:
    std::shared_ptr<Signal> signal_;
    std::shared_ptr<platform::InProcessLink> link_;
    std::string path_;
};

} // namespace

std::unique_ptr<SimTerminal> MakeInProcessTerminal() {
    return std::make_unique<InProcessTerminal>();
}

} // namespace sim
