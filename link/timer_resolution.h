// Fine timer resolution while an object of this class lives. On Windows the system timers
// tick every 15.6 ms unless a program asks for finer, which would round the 10 ms repeat
// re-arm and the 17 ms idle read time-out up to whole ticks; this asks for 1 ms and gives
// it back on destruction. Elsewhere timers are already fine and this does nothing.
#pragma once

namespace vq31 {

class FineTimerResolution {
public:
    FineTimerResolution();
    ~FineTimerResolution();
    FineTimerResolution(const FineTimerResolution&) = delete;
    FineTimerResolution& operator=(const FineTimerResolution&) = delete;

    // Whether the 1 ms resolution was granted (always true where nothing needs asking).
    bool granted() const { return granted_; }

private:
    bool granted_ = true;
};

} // namespace vq31
