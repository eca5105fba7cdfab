// Automatic tuning: the mode write, and the two poll branches that report the progress the
// device measures while it tunes itself.
#include "command_worker.h"

namespace vq31 {

namespace {
constexpr uint32_t TuneErrorBit = 0x80000000u;
constexpr int TuneModeTries = 2;

// A signal setting as the oscilloscope page shows it.
struct TunedSetting {
    const char* key;
    uint8_t read;
    std::atomic<int32_t> CommandParameters::*field;
    std::string (*text)(uint32_t);
};

std::string Plain(uint32_t v) {
    return std::to_string(v);
}
std::string GainText(uint32_t v) {
    return std::to_string(v & 0xFFu) + " / " + std::to_string(v >> 8 & 0xFFu);
}
std::string IntegratorText(uint32_t v) {
    return std::to_string(v >> 16) + " / " + std::to_string(v & 0xFFFFu);
}

const TunedSetting TunedSettings[] = {
    {msg::TuneFrequency, cmd::ReadFrequency, &CommandParameters::PulseFrequency, Plain},
    {msg::TuneFilter, cmd::ReadFilter, &CommandParameters::FilterFrequency, Plain},
    {msg::TunePulse, cmd::ReadPulseWidth, &CommandParameters::PulseWidth, Plain},
    {msg::TuneGain, cmd::ReadGain, &CommandParameters::GainWord, GainText},
    {msg::TuneAttenuator, cmd::ReadAttenuator, &CommandParameters::Attenuation, Plain},
    {msg::TuneIntegrator, cmd::ReadIntegrator, &CommandParameters::IntegratorWord, IntegratorText},
};
} // namespace

std::string CommandWorker::TuneFindings() {
    // The page shows the settings read when the step began; the device has set its own now.
    std::string found;
    for (const TunedSetting& s : TunedSettings) {
        uint32_t now = 0;
        if (ReadValue(link_, s.read, Address(), now) != StatusOk)
            return {}; // what it set is not known: the box says only that it finished
        const uint32_t before = uint32_t(Get(params_.*s.field));
        if (now != before)
            found += "\n" + texts_.Text(s.key) + ": " + s.text(before) + " \u2192 " + s.text(now);
    }
    return "\n" +
           (found.empty() ? texts_.Text(msg::AutoSame) : texts_.Text(msg::AutoFound) + found);
}

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
                InfoBox(texts_.Text(msg::AutoCompleted) + TuneFindings());
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
