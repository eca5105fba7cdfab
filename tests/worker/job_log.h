// Records the codes the worker took from its slot, in order, with bounded waits on them.
#pragma once

#include "command_worker.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace vq31::test {

class JobLog {
public:
    void Attach(CommandWorker& worker) {
        worker.SetJobObserver([this](int32_t code) {
            {
                std::lock_guard lock(mutex_);
                codes_.push_back(code);
            }
            cv_.notify_all();
        });
    }
    std::vector<int32_t> Codes() const {
        std::lock_guard lock(mutex_);
        return codes_;
    }
    size_t Count(int32_t code) const {
        std::lock_guard lock(mutex_);
        return size_t(std::count(codes_.begin(), codes_.end(), code));
    }
    // Bounded wait until code has been taken count times in all.
    bool WaitFor(int32_t code, size_t count = 1,
                 std::chrono::milliseconds limit = std::chrono::seconds(20)) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, limit, [&] {
            return size_t(std::count(codes_.begin(), codes_.end(), code)) >= count;
        });
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<int32_t> codes_;
};

} // namespace vq31::test
