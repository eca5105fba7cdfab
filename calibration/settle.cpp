// Settle detection over the readings of the last window.
#include "settle.h"

#include <algorithm>

namespace vq31 {

SettleDetector::SettleDetector(std::chrono::milliseconds window, double bandMm)
    : window_(std::max(window, std::chrono::milliseconds(1))), bandMm_(bandMm) {}

void SettleDetector::SetWindow(std::chrono::milliseconds window) {
    window_ = std::max(window, std::chrono::milliseconds(1));
}

void SettleDetector::Add(Clock::time_point at, std::optional<double> levelMm) {
    if (!levelMm) {
        readings_.clear();
        return;
    }
    if (!readings_.empty() && at < readings_.back().at) {
        readings_.clear(); // a clock that went back: nothing before it can be trusted
    }
    readings_.push_back({at, *levelMm});
    // Keep one reading at or before the window's start, drop the older ones.
    while (readings_.size() > 1 && readings_[1].at <= at - window_) {
        readings_.pop_front();
    }
}

std::chrono::milliseconds SettleDetector::StableFor(Clock::time_point now) const {
    // Only fresh readings count: a level not read for a while (failed polls) is not known to
    // be steady, however steady it was before.
    if (readings_.empty() || now - readings_.back().at > kFreshness) {
        return std::chrono::milliseconds(0);
    }
    // Walk back from the newest reading while the band still holds; the level has been
    // steady since the oldest reading of that run.
    double low = readings_.back().levelMm;
    double high = low;
    Clock::time_point since = readings_.back().at;
    for (auto it = readings_.rbegin(); it != readings_.rend(); ++it) {
        low = std::min(low, it->levelMm);
        high = std::max(high, it->levelMm);
        if (high - low > bandMm_ + 1e-9) { // tenths of a millimetre are not exact in binary
            break;
        }
        since = it->at;
    }
    const auto stable = std::chrono::duration_cast<std::chrono::milliseconds>(now - since);
    return std::clamp(stable, std::chrono::milliseconds(0), window_);
}

std::chrono::milliseconds SettleDetector::Remaining(Clock::time_point now) const {
    return window_ - StableFor(now);
}

} // namespace vq31
