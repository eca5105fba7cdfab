// Automatic tuning: the mode write, and the two poll branches that report the progress the
// device measures while it tunes itself.
#include "command_worker.h"

namespace vq31 {

namespace {
constexpr uint32_t TuneErrorBit = 0x80000000u;
constexpr int TuneModeTries = 2;
} // namespace

void CommandWorker::SetTuneMode() {
    const Status status = Try(TuneModeTries, timing_.jobPause, [&] {
        return WriteValue(link_, cmd::WriteMode, Address(), uint32_t(Get(params_.TuneMode)));
    });
    if (status == StatusOk)
        deviceTuning_ = Get(params_.TuneMode) != 0;
    if (Stopping())
        return;
    if (status == StatusOk)
        return PostCommand(job::StartOscilloscope); // re-reads the settings, then polls
    ErrorBox(texts_.DeviceStatus(status));
    PostCommand(job::PollEcho);
}

void CommandWorker::PollTuneStep(uint32_t mode) {
    uint32_t result = 0;
    const Status status = ReadValue(link_, cmd::ReadTuneProgress, Address(), result);
    if (status != StatusOk)
        return NoteFailedPoll(status);
    const bool failed = (result & TuneErrorBit) != 0;
    const std::string errorNumber = std::to_string(result & ~TuneErrorBit);
    if (mode == TuneStep1Mode) {
        ShowStatus(status);
        if (Stopping())
            return;
        TuneStep1View step;
        if (failed) {
            step.text = texts_.Text(msg::ErrorE) + errorNumber;
            step.barPosition = 0;
        } else {
            step.text = texts_.Text(msg::Signal);
            step.barPosition = int32_t(result);
        }
        view_.SetLiveView(false);
        if (!Stopping())
            view_.ShowTuneStep1(step);
    } else {
        if (result != 0) {
            // The device finished: one box, then back to normal measuring.
            if (failed)
                ErrorBox(texts_.Text(msg::AutoFailed) + errorNumber);
            else
                InfoBox(texts_.Text(msg::AutoCompleted));
            Put(params_.TuneMode, 0);
            PostCommand(job::SetTuneMode);
        }
        ShowStatus(status);
        if (Stopping())
            return;
        view_.SetLiveView(false);
        if (Stopping())
            return;
        view_.ShowTuneStep2(texts_.Text(msg::Scanning));
    }
    ResumeAfterLoss(job::StartOscilloscope);
}

} // namespace vq31
