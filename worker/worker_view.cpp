// Pure helpers of the window steps: the display-test masks and the tuning bar.
#include "worker_view.h"

namespace vq31 {

namespace {
constexpr uint32_t Bit(int n) {
    return uint32_t(1) << n;
}
} // namespace

uint32_t AdvanceDisplayPattern(uint32_t mask) {
    // Walk: bits 8..14 ("Сегмент 1"), bits 0..6 ("Сегмент 2"), bit 17 ("3"), again.
    if (mask == 0)
        return Bit(8);
    if (mask == Bit(14))
        return Bit(0);
    if (mask == Bit(6))
        return Bit(17);
    if (mask == Bit(17))
        return Bit(8);
    return mask << 1;
}

uint32_t DisplayPatternFromBoxes(const std::array<bool, 17>& boxes) {
    uint32_t mask = 0;
    for (int box = 0; box <= 6; ++box)
        if (boxes[size_t(box)])
            mask |= Bit(8 + box); // ChkTestDisplay0..6 -> bits 8..14
    for (int box = 8; box <= 14; ++box)
        if (boxes[size_t(box)])
            mask |= Bit(box - 8); // ChkTestDisplay8..14 -> bits 0..6
    if (boxes[16])
        mask |= Bit(17);
    return mask;
}

int32_t StepTuneBar(int32_t position, uint32_t& advanceMs, uint32_t nowMs) {
    constexpr uint32_t StepMs = 1000;
    if (nowMs - advanceMs <= StepMs)
        return position;
    advanceMs = nowMs;
    return position >= TuneBarMax ? 0 : position + 1;
}

} // namespace vq31
