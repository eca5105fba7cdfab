// Manual-reset and auto-reset events on a mutex and condition variable, with waits bounded
// on the monotonic clock. An event can be interrupted: every wait, present and future,
// returns at once until the interruption is cleared, which is how shutdown wakes a thread
// that is waiting for a device answer or for the next command.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace vq31 {

class Event {
public:
    enum class Reset { Manual, Auto };
    explicit Event(Reset reset) : autoReset_(reset == Reset::Auto) {}

    void Set() {
        {
            std::lock_guard lock(mutex_);
            signalled_ = true;
        }
        cv_.notify_all();
    }
    void Clear() {
        std::lock_guard lock(mutex_);
        signalled_ = false;
    }
    // True when the event was signalled within the time-out (an auto-reset event is then
    // cleared); false on time-out or interruption.
    bool WaitFor(std::chrono::steady_clock::duration timeout) {
        std::unique_lock lock(mutex_);
        const bool got = cv_.wait_for(lock, timeout, [&] { return signalled_ || interrupted_; });
        if (!got || !signalled_ || interrupted_)
            return false;
        if (autoReset_)
            signalled_ = false;
        return true;
    }
    bool IsSet() const {
        std::lock_guard lock(mutex_);
        return signalled_;
    }
    void Interrupt(bool on) {
        {
            std::lock_guard lock(mutex_);
            interrupted_ = on;
        }
        cv_.notify_all();
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    bool signalled_ = false;
    bool interrupted_ = false;
    const bool autoReset_;
};

} // namespace vq31
