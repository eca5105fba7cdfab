// POSIX: sleeps and poll time-outs already have sub-millisecond resolution.
#include "timer_resolution.h"

namespace vq31 {

FineTimerResolution::FineTimerResolution() = default;
FineTimerResolution::~FineTimerResolution() = default;

} // namespace vq31
