#include "InProcessPort.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <vector>

namespace platform {

namespace {

// The OS's own codes, so IsBusyError and ErrorText read them as they read a real port's.
#ifdef _WIN32
constexpr int kMissing = 2;   // ERROR_FILE_NOT_FOUND
constexpr int kBusy = 5;      // ERROR_ACCESS_DENIED
constexpr int kBadHandle = 6; // ERROR_INVALID_HANDLE
constexpr int kLost = 31;     // ERROR_GEN_FAILURE, what a removed USB adapter's handle gives
#else
constexpr int kMissing = ENOENT;
constexpr int kBusy = EBUSY;
constexpr int kBadHandle = EBADF;
constexpr int kLost = EIO;
#endif

// A USB adapter's receive buffer: beyond it the device waits for the host to read.
constexpr size_t kHostQueueLimit = 64 * 1024;
const std::string kPrefix = "sim:";

void SetError(int* osError, int value) {
    if (osError) *osError = value;
}

} // namespace

struct InProcessLink::Shared {
    std::string name;
    std::function<void()> onHostActivity;
    std::mutex m;
    std::condition_variable hostWake;
    std::string toDevice;
    std::string toHost;
    bool plugged = true;
    bool hostOpen = false;

    void NotifyDevice() {
        if (onHostActivity) onHostActivity();
    }
};

namespace {

// Lock order: the registry's, then a link's.
struct Registry {
    std::mutex m;
    std::map<std::string, std::weak_ptr<InProcessLink::Shared>> byName;
    std::vector<std::shared_ptr<InProcessLink::Shared>> handles; // handle -(2 + index)
    unsigned nextNumber = 1;
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

size_t IndexOf(intptr_t handle) {
    return static_cast<size_t>(-handle - 2);
}

// Whether `handle` is one of the registry's open host handles (its lock held).
bool IsOpenHandle(const Registry& r, intptr_t handle) {
    return handle <= -2 && IndexOf(handle) < r.handles.size() && r.handles[IndexOf(handle)];
}

std::shared_ptr<InProcessLink::Shared> SharedOf(intptr_t handle, int* osError) {
    auto& r = TheRegistry();
    std::lock_guard lock(r.m);
    if (!IsOpenHandle(r, handle)) {
        SetError(osError, kBadHandle);
        return nullptr;
    }
    return r.handles[IndexOf(handle)];
}

} // namespace

// ---------------------------------------------------------------- the device's side

std::shared_ptr<InProcessLink> InProcessLink::Create(std::function<void()> onHostActivity) {
    auto shared = std::make_shared<Shared>();
    shared->onHostActivity = std::move(onHostActivity);
    auto& r = TheRegistry();
    {
        std::lock_guard lock(r.m);
        shared->name = kPrefix + std::to_string(r.nextNumber++);
        r.byName[shared->name] = shared;
    }
    return std::shared_ptr<InProcessLink>(new InProcessLink(std::move(shared)));
}

InProcessLink::InProcessLink(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}

InProcessLink::~InProcessLink() {
    Close();
}

const std::string& InProcessLink::Name() const {
    return shared_->name;
}

size_t InProcessLink::Read(char* buffer, size_t count) {
    std::lock_guard lock(shared_->m);
    const size_t n = std::min(count, shared_->toDevice.size());
    std::copy_n(shared_->toDevice.data(), n, buffer);
    shared_->toDevice.erase(0, n);
    return n;
}

size_t InProcessLink::Write(const char* data, size_t count) {
    size_t n = 0;
    {
        std::lock_guard lock(shared_->m);
        if (!shared_->plugged) return 0;
        n = std::min(count, kHostQueueLimit - std::min(kHostQueueLimit, shared_->toHost.size()));
        shared_->toHost.append(data, n);
    }
    if (n > 0) shared_->hostWake.notify_all();
    return n;
}

void InProcessLink::Close() {
    auto& r = TheRegistry();
    {
        std::lock_guard lock(r.m);
        auto it = r.byName.find(shared_->name);
        if (it != r.byName.end() && it->second.lock() == shared_) r.byName.erase(it);
    }
    {
        std::lock_guard lock(shared_->m);
        shared_->plugged = false;
        shared_->toDevice.clear();
        shared_->toHost.clear();
    }
    shared_->hostWake.notify_all();
}

bool InProcessLink::IsOpen() const {
    std::lock_guard lock(shared_->m);
    return shared_->plugged;
}

// ---------------------------------------------------------------- the host's side

namespace inprocess {

bool IsPortName(const std::string& path) {
    return path.size() > kPrefix.size() && path.compare(0, kPrefix.size(), kPrefix) == 0;
}

bool Owns(intptr_t handle) {
    return handle <= -2;
}

intptr_t Open(const std::string& name, int* osError) {
    SetError(osError, 0);
    auto& r = TheRegistry();
    std::shared_ptr<InProcessLink::Shared> shared;
    intptr_t handle = -1;
    {
        std::lock_guard lock(r.m);
        auto it = r.byName.find(name);
        if (it != r.byName.end()) shared = it->second.lock();
        if (!shared) {
            SetError(osError, kMissing);
            return -1;
        }
        std::lock_guard linkLock(shared->m);
        if (!shared->plugged) {
            SetError(osError, kMissing);
            return -1;
        }
        if (shared->hostOpen) {
            SetError(osError, kBusy);
            return -1;
        }
        shared->hostOpen = true;
        // What the device said to an earlier user answers nobody of ours.
        shared->toHost.clear();
        auto free = std::find(r.handles.begin(), r.handles.end(), nullptr);
        if (free == r.handles.end()) free = r.handles.insert(r.handles.end(), nullptr);
        *free = shared;
        handle = -2 - static_cast<intptr_t>(free - r.handles.begin());
    }
    shared->NotifyDevice();
    return handle;
}

bool Close(intptr_t handle) {
    auto& r = TheRegistry();
    std::shared_ptr<InProcessLink::Shared> shared;
    {
        std::lock_guard lock(r.m);
        if (!IsOpenHandle(r, handle)) return false;
        shared = std::move(r.handles[IndexOf(handle)]);
        r.handles[IndexOf(handle)] = nullptr;
        std::lock_guard linkLock(shared->m);
        shared->hostOpen = false;
    }
    shared->NotifyDevice();
    return true;
}

bool Alive(intptr_t handle, int* osError) {
    auto shared = SharedOf(handle, osError);
    if (!shared) return false;
    std::lock_guard lock(shared->m);
    if (!shared->plugged) SetError(osError, kLost);
    return shared->plugged;
}

long BytesWaiting(intptr_t handle, int* osError) {
    auto shared = SharedOf(handle, osError);
    if (!shared) return -1;
    std::lock_guard lock(shared->m);
    if (!shared->plugged) {
        SetError(osError, kLost);
        return -1;
    }
    return static_cast<long>(shared->toHost.size());
}

long Read(intptr_t handle, void* buffer, size_t count, int* osError) {
    auto shared = SharedOf(handle, osError);
    if (!shared) return -1;
    size_t n = 0;
    {
        std::lock_guard lock(shared->m);
        if (!shared->plugged) {
            SetError(osError, kLost);
            return -1;
        }
        n = std::min(count, shared->toHost.size());
        std::copy_n(shared->toHost.data(), n, static_cast<char*>(buffer));
        shared->toHost.erase(0, n);
    }
    // Room again in the host's queue for a device that waits to write.
    if (n > 0) shared->NotifyDevice();
    return static_cast<long>(n);
}

bool Write(intptr_t handle, const void* data, size_t count, int* osError) {
    auto shared = SharedOf(handle, osError);
    if (!shared) return false;
    {
        std::lock_guard lock(shared->m);
        if (!shared->plugged) {
            SetError(osError, kLost);
            return false;
        }
        shared->toDevice.append(static_cast<const char*>(data), count);
    }
    shared->NotifyDevice();
    return true;
}

void DiscardInput(intptr_t handle) {
    auto shared = SharedOf(handle, nullptr);
    if (!shared) return;
    std::lock_guard lock(shared->m);
    shared->toHost.clear();
}

WaitResult WaitReadable(intptr_t handle, uint32_t timeoutMs, int* osError) {
    auto shared = SharedOf(handle, osError);
    if (!shared) return WaitResult::HungUp;
    std::unique_lock lock(shared->m);
    shared->hostWake.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return !shared->plugged || !shared->toHost.empty(); });
    if (!shared->plugged) {
        SetError(osError, kLost);
        return WaitResult::HungUp;
    }
    return shared->toHost.empty() ? WaitResult::TimedOut : WaitResult::Readable;
}

IdleCheck CheckIdle(intptr_t handle, int* osError) {
    auto shared = SharedOf(handle, osError);
    if (!shared) return IdleCheck::Lost;
    std::lock_guard lock(shared->m);
    if (!shared->plugged) {
        SetError(osError, kLost);
        return IdleCheck::Lost;
    }
    if (shared->toHost.empty()) return IdleCheck::Quiet;
    shared->toHost.clear();
    return IdleCheck::Discarded;
}

} // namespace inprocess

} // namespace platform
