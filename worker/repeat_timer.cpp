// The repeat timer thread.
#include "repeat_timer.h"

namespace vq31 {

RepeatTimer::RepeatTimer(Callback callback) : callback_(std::move(callback)) {
    thread_ = std::thread([this] { Run(); });
}

RepeatTimer::~RepeatTimer() {
    Shutdown();
}

void RepeatTimer::Arm(std::chrono::milliseconds delay, int32_t code, uint64_t id) {
    {
        std::lock_guard lock(mutex_);
        armed_ = true;
        due_ = std::chrono::steady_clock::now() + delay;
        code_ = code;
        id_ = id;
    }
    cv_.notify_all();
}

void RepeatTimer::Disarm() {
    std::lock_guard lock(mutex_);
    armed_ = false;
}

void RepeatTimer::Shutdown() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
        armed_ = false;
    }
    cv_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void RepeatTimer::Run() {
    std::unique_lock lock(mutex_);
    while (!quit_) {
        if (!armed_) {
            cv_.wait(lock, [&] { return quit_ || armed_; });
            continue;
        }
        const auto due = due_;
        const uint64_t id = id_;
        if (cv_.wait_until(lock, due, [&] { return quit_ || !armed_ || id_ != id || due_ != due; }))
            continue; // stopped, disarmed or re-armed: look again
        // Fire once, outside the lock, so arming and disarming never wait for the callback.
        armed_ = false;
        const int32_t code = code_;
        lock.unlock();
        callback_(code, id);
        lock.lock();
    }
}

} // namespace vq31
