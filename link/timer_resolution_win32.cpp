// Windows: the multimedia timer period of 1 ms, asked for and given back in pairs as the
// system requires.
#include "timer_resolution.h"

#include <windows.h>

#include <mmsystem.h>

namespace vq31 {

FineTimerResolution::FineTimerResolution() : granted_(timeBeginPeriod(1) == TIMERR_NOERROR) {}

FineTimerResolution::~FineTimerResolution() {
    if (granted_)
        timeEndPeriod(1);
}

} // namespace vq31
