// The one-shot repeat timer of the command worker: a thread that fires a callback with the
// code and id it was armed with once the delay has passed. Arming replaces any shot not yet
// fired; disarming forgets it. Neither waits for a callback that is already running (the
// callback runs without the timer's own lock held), so the worker may arm and disarm while
// it holds its command lock: a callback that fires late is recognised by its stale id.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace vq31 {

class RepeatTimer {
public:
    using Callback = std::function<void(int32_t code, uint64_t id)>;

    explicit RepeatTimer(Callback callback);
    ~RepeatTimer();
    RepeatTimer(const RepeatTimer&) = delete;
    RepeatTimer& operator=(const RepeatTimer&) = delete;

    void Arm(std::chrono::milliseconds delay, int32_t code, uint64_t id);
    void Disarm();
    // Ends the timer thread (waits for a running callback; never call it from the callback
    // or while holding a lock the callback takes).
    void Shutdown();

private:
    void Run();

    Callback callback_;
    std::mutex mutex_;
    std::condition_variable cv_;
    bool armed_ = false;
    bool quit_ = false;
    std::chrono::steady_clock::time_point due_{};
    int32_t code_ = 0;
    uint64_t id_ = 0;
    std::thread thread_;
};

} // namespace vq31
