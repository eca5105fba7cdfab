// Frequency-response sweep: the device steps its own pulse frequency; for every record the
// peak inside the chosen distance window becomes one point at the device's frequency.
#include "command_worker.h"
#include "echo_format.h"

#include <algorithm>

namespace vq31 {

namespace {
constexpr uint32_t SweepStartFrequency = 500;
constexpr int SweepTries = 2;
constexpr int32_t SweepLastIndex = 1471; // the envelope buffer's last sample
constexpr int32_t SweepUnitsPerSample = 10;
} // namespace

void CommandWorker::SweepFrequencyResponse() {
    // Two tries 50 ms apart; a double failure ends the job with one box and polling resumed.
    auto twice = [&](const std::function<Status()>& exchange) {
        const Status status = Try(SweepTries, timing_.jobPause, exchange);
        if (status != StatusOk && !Stopping()) {
            ErrorBox(texts_.DeviceStatus(status));
            PostCommand(job::PollEcho);
        }
        return status == StatusOk && !Stopping();
    };
    const uint8_t a = Address();
    if (!twice([&] { return WriteValue(link_, cmd::WriteFrequency, a, SweepStartFrequency); }))
        return;
    if (!Pause(timing_.sweepPause))
        return;
    if (!twice([&] { return SetSweep(link_, a, 0, 0); }))
        return;
    if (!Pause(timing_.sweepPause))
        return;
    const uint16_t step = uint16_t(Get(params_.AfcStep));
    deviceSweeping_ = true; // until it is switched off again, here or when the worker stops
    if (!twice([&] { return SetSweep(link_, a, 1, step); }))
        return;

    // Sample window in oscillogram units; a negative start is taken as 0 so the window never
    // leaves the buffer.
    const int64_t start = Get(params_.AfcStart);
    const int64_t width = Get(params_.AfcWidth);
    const int32_t first = int32_t(std::max<int64_t>(0, start / SweepUnitsPerSample));
    const int32_t end =
        int32_t(std::min<int64_t>(SweepLastIndex + 1, (start + width) / SweepUnitsPerSample));
    const uint8_t mode = uint8_t(Get(params_.OscillMode));

    uint32_t lastFrequency = 0;
    bool cancelled = false;
    for (;;) {
        if (!Pause(timing_.jobPause))
            return;
        // Any other action posted meanwhile (another button, another page) ends the sweep:
        // the device is put back as below, and that action runs next.
        if (CommandPending()) {
            cancelled = true;
            break;
        }
        if (!twice([&] { return ReadOscillogram(link_, a, mode, *echoStatus_, *samples_); }))
            return;
        ShowStatus(StatusOk);
        const uint32_t f = (*echoStatus_)[echo::Frequency];
        if (f < lastFrequency)
            break; // the device started its sweep over again
        lastFrequency = f;
        int32_t peak = 0;
        for (int32_t i = first; i < end; ++i)
            peak = std::max<int32_t>(peak, int16_t((*samples_)[size_t(i)]));
        if (Stopping())
            return;
        view_.AddSweepPoint({f, peak});
    }
    if (!twice([&] {
            return WriteValue(link_, cmd::WriteFrequency, a, uint32_t(Get(params_.PulseFrequency)));
        }))
        return;
    if (!twice([&] { return SetSweep(link_, a, 0, 0); }))
        return;
    deviceSweeping_ = false;
    if (cancelled)
        return; // the posted code runs next
    InfoBox(texts_.Text(msg::AfcCompleted));
    PostCommand(job::PollEcho);
}

} // namespace vq31
