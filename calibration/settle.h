// Settle detection for the calibration step: after a portion is poured in or drained, the
// fuel surface takes a while to calm down. The level counts as settled when, for the whole of
// the last window (30 s unless set otherwise), every level reading stayed within a band of
// the given width (0.5 mm unless set otherwise). A lost level starts the wait again, and so
// does a gap of over 2 s without any reading.
#pragma once

#include <chrono>
#include <deque>
#include <optional>

namespace vq31 {

class SettleDetector {
public:
    using Clock = std::chrono::steady_clock;

    static constexpr std::chrono::milliseconds kDefaultWindow{30000};
    static constexpr double kDefaultBandMm = 0.5;
    // The newest reading must be at most this old for the level to count as settled.
    static constexpr std::chrono::milliseconds kFreshness{2000};

    explicit SettleDetector(std::chrono::milliseconds window = kDefaultWindow,
                            double bandMm = kDefaultBandMm);

    // A new window length keeps the readings; a window of 0 or less is taken as 1 ms.
    void SetWindow(std::chrono::milliseconds window);
    std::chrono::milliseconds Window() const { return window_; }

    // One reading of the level in millimetres, or none when the sensor has no level.
    void Add(Clock::time_point at, std::optional<double> levelMm);
    void Reset() { readings_.clear(); }

    // How long the level has kept within the band, up to the window, as of now; 0 without
    // readings.
    std::chrono::milliseconds StableFor(Clock::time_point now) const;
    bool Settled(Clock::time_point now) const { return StableFor(now) >= window_; }
    // Time still to wait, 0 when settled.
    std::chrono::milliseconds Remaining(Clock::time_point now) const;

private:
    struct Reading {
        Clock::time_point at;
        double levelMm;
    };

    std::chrono::milliseconds window_;
    double bandMm_;
    // Readings of the last window, plus the newest one before it: it tells the level at the
    // window's start.
    std::deque<Reading> readings_;
};

} // namespace vq31
