// Echo polling: read the device's mode, then either a tuning step's progress or one echo
// record, and hand the refresh to the view in one call.
#include "command_worker.h"
#include "echo_format.h"
#include "envelope.h"

#include <algorithm>

namespace vq31 {

namespace {
// Oscilloscope modes and the samples each one shows.
constexpr int32_t EnvelopeMode = 1;
constexpr int32_t RawMode = 2;
constexpr int32_t FilteredMode = 3;
constexpr size_t EnvelopeSamples = 1472;
constexpr size_t RawSamples = 1984;
constexpr int32_t EnvelopeStep = 10;
constexpr int32_t RawStep = 1;
} // namespace

void CommandWorker::NoteFailedPoll(Status status) {
    if (link_.PortVanished()) {
        // Unplugged: one message and the port closed, instead of a failed poll every half
        // second. When the adapter is back (by its stable name), code 28 reconnects and
        // re-reads the page.
        const std::string port = link_.PortName();
        link_.UartClose();
        ShowStatus(status);
        ShowPort(PortClosed);
        PostCommand(job::None); // no more polling
        if (Stopping())
            return;
        view_.ShowPortVanished(port);
        ErrorBox(WithArguments(texts_.Text(msg::PortUnplugged), {port}));
        return;
    }
    ShowStatus(status);
    Pause(timing_.jobPause);
    if (status == StatusNoAnswer)
        deviceLost_ = true;
}

void CommandWorker::ResumeAfterLoss(int32_t code) {
    // The first good poll after a lost device re-reads what the page shows.
    if (deviceLost_.exchange(false))
        PostCommand(code);
}

void CommandWorker::PollEcho() {
    uint32_t deviceMode = 0;
    Status status = ReadValue(link_, cmd::ReadMode, Address(), deviceMode);
    if (status != StatusOk)
        return NoteFailedPoll(status);
    if (status == StatusOk)
        deviceTuning_ = deviceMode == TuneStep1Mode || deviceMode == TuneStep2Mode;
    if (deviceMode == TuneStep1Mode || deviceMode == TuneStep2Mode)
        return PollTuneStep(deviceMode);
    if (Stopping())
        return;
    const int32_t mode = view_.ReadOscillMode();
    Put(params_.OscillMode, mode);
    status = ReadOscillogram(link_, Address(), uint8_t(mode), *echoStatus_, *samples_);
    if (status != StatusOk)
        return NoteFailedPoll(status);
    ShowStatus(status);
    ShowEchoFrame(mode);
    ResumeAfterLoss(job::StartOscilloscope);
}

void CommandWorker::ShowEchoFrame(int32_t mode) {
    if (Stopping())
        return;
    EchoFrame frame;
    frame.mode = mode;
    frame.status = echoStatus_.get();
    frame.labels = FormatEchoLabels(*echoStatus_, texts_);
    frame.dataInst = texts_.Text(msg::Inactive);
    size_t count = 0;
    if (mode == EnvelopeMode) {
        frame.fields = FormatEchoFields(*echoStatus_, texts_);
        (*samples_)[0] = 0; // the first envelope point is always drawn at 0
        count = EnvelopeSamples;
        frame.sampleStep = EnvelopeStep;
        envelopeIn_.assign(samples_->begin(), samples_->begin() + EnvelopeSamples);
        envelope_.resize(EnvelopeSamples);
        NormaliseEnvelope(envelopeIn_.data(), uint16_t(EnvelopeSamples), envelope_.data());
        envelopeHigh_.resize(EnvelopeSamples);
        std::transform(envelope_.begin(), envelope_.end(), envelopeHigh_.begin(),
                       [](uint32_t v) { return uint8_t(v >= EnvelopeHighLevel); });
        frame.envelope = envelope_;
        frame.envelopeHigh = envelopeHigh_;
    } else if (mode == RawMode || mode == FilteredMode) {
        frame.fields = DashEchoFields();
        count = RawSamples;
        frame.sampleStep = RawStep;
    }
    oscillogram_.resize(count);
    std::transform(samples_->begin(), samples_->begin() + count, oscillogram_.begin(),
                   [](uint16_t v) { return int16_t(v); });
    frame.oscillogram = oscillogram_;
    view_.SetLiveView(true);
    if (!Stopping())
        view_.ShowEcho(frame);
}

} // namespace vq31
