// The worker thread, the command slot, the repeat step and the helpers the jobs share.
#include "command_worker.h"

#include <utility>

namespace vq31 {

CommandWorker::CommandWorker(DeviceLink& link, CommandParameters& params, WorkerView& view,
                             const LanguageTexts& texts, HubRecords& hub, WorkerTiming timing)
    : link_(link), params_(params), view_(view), texts_(texts), hub_(hub), timing_(timing),
      timer_([this](int32_t code, uint64_t id) { OnRepeat(code, id); }),
      echoStatus_(std::make_unique<EchoStatusRecord>()),
      samples_(std::make_unique<SampleBuffer>()) {
    echoStatus_->fill(0);
    samples_->fill(0);
}

CommandWorker::~CommandWorker() {
    Stop();
    timer_.Shutdown();
}

void CommandWorker::Start() {
    std::lock_guard lock(stopLock_); // a Stop() on another thread never sees a half-made thread
    if (started_.exchange(true) || Stopping())
        return;
    thread_ = std::jthread([this] { Run(); });
}

void CommandWorker::RequestStop() {
    {
        std::lock_guard lock(pauseLock_);
        stop_ = true;
    }
    pauseCv_.notify_all();
    link_.Interrupt(true);
    commandEvent_.Interrupt(true);
}

void CommandWorker::Stop() {
    RequestStop();
    if (std::this_thread::get_id() == workerId_.load())
        return; // inside a view call on the worker: the loop ends when the call returns
    std::lock_guard lock(stopLock_);
    if (thread_.joinable())
        thread_.join();
    timer_.Shutdown();
    {
        std::lock_guard slot(commandLock_);
        repeatTimer_ = 0;
    }
    link_.Interrupt(false);
    EndDeviceActivity();
}

void CommandWorker::EndDeviceActivity() {
    // The worker thread has been joined: this thread is the link's only user now. Each
    // exchange is bounded by its budget, so the stop stays bounded too.
    EndInterruptedWrites();
    const uint8_t a = Address();
    if (deviceSweeping_.exchange(false)) {
        WriteValue(link_, cmd::WriteFrequency, a, uint32_t(Get(params_.PulseFrequency)));
        SetSweep(link_, a, 0, 0);
    }
    if (deviceTuning_.exchange(false))
        WriteValue(link_, cmd::WriteMode, a, 0);
    if (std::exchange(displayLit_, false))
        WriteValue(link_, cmd::WriteDisplayTest, a, 0);
}

void CommandWorker::PostCommand(int32_t code) {
    {
        std::lock_guard lock(commandLock_);
        repeatTimer_ = 0; // a repeat that fires now finds its id stale
        timer_.Disarm();  // never waits for a running callback
        pendingCommand_ = code;
    }
    commandEvent_.Set();
}

bool CommandWorker::CommandPending() const {
    std::lock_guard lock(commandLock_);
    return pendingCommand_ != job::Empty;
}

bool CommandWorker::RepeatArmed() const {
    std::lock_guard lock(commandLock_);
    return repeatTimer_ != 0;
}

void CommandWorker::SetJobObserver(std::function<void(int32_t)> observer) {
    observer_ = std::move(observer);
}

void CommandWorker::OnRepeat(int32_t code, uint64_t id) {
    {
        std::lock_guard lock(commandLock_);
        if (id == 0 || id != repeatTimer_)
            return; // cancelled after it was armed
        repeatTimer_ = 0;
        pendingCommand_ = code;
    }
    commandEvent_.Set();
}

void CommandWorker::ReArm(int32_t code) {
    const auto delay = code == job::PollEcho ? timing_.echoRepeat : timing_.slowRepeat;
    std::lock_guard lock(commandLock_);
    if (pendingCommand_ != job::Empty || Stopping())
        return; // something was posted while the job ran: it runs next
    repeatTimer_ = ++nextTimerId_;
    timer_.Arm(delay, code, repeatTimer_);
}

void CommandWorker::Run() {
    workerId_ = std::this_thread::get_id();
    while (!Stopping()) {
        if (!commandEvent_.WaitFor(timing_.commandWait))
            continue;
        int32_t code;
        {
            std::lock_guard lock(commandLock_);
            code = pendingCommand_;
            pendingCommand_ = job::Empty;
        }
        Dispatch(code);
        if (Stopping())
            break;
        if (code == job::PollEcho || code == job::TestDisplay || code == job::PollLevel)
            ReArm(code);
        if (observer_)
            observer_(code);
    }
}

void CommandWorker::Dispatch(int32_t code) {
    if (displayLit_ && code != job::TestDisplay)
        EndDisplayTest();
    // Codes whose job starts after a short pause, so a burst of slider moves settles.
    switch (code) {
    case job::StartOscilloscope:
    case job::SetTuneMode:
    case job::SetFrequency:
    case job::SetFilter:
    case job::SetGain:
    case job::SetAttenuator:
    case job::SetPulseWidth:
    case job::SetIntegrator:
    case job::SweepFrequencyResponse:
        if (!Pause(timing_.jobPause))
            return;
        break;
    default:
        break;
    }
    switch (code) {
    case job::ConnectDevice:
        return ConnectDevice();
    case job::DisconnectDevice:
        return DisconnectDevice();
    case job::SearchDevice:
        return SearchDevice();
    case job::StartOscilloscope:
        return StartOscilloscope();
    case job::PollEcho:
        return PollEcho();
    case job::SetTuneMode:
        return SetTuneMode();
    case job::SetFrequency:
        return WriteSettings({{cmd::WriteFrequency, uint32_t(Get(params_.PulseFrequency))},
                              {cmd::WriteFilter, uint32_t(Get(params_.FilterFrequency))}},
                             SettingTries);
    case job::SetFilter:
        return WriteSettings({{cmd::WriteFilter, uint32_t(Get(params_.FilterFrequency))}},
                             SettingTries);
    case job::SetGain:
        return WriteSettings({{cmd::WriteGain, uint32_t(Get(params_.GainWord))}}, SettingTries);
    case job::SetAttenuator:
        return WriteSettings({{cmd::WriteAttenuator, uint32_t(Get(params_.Attenuation))}},
                             AttenuatorTries);
    case job::SetPulseWidth:
        return WriteSettings({{cmd::WritePulseWidth, uint32_t(Get(params_.PulseWidth))}},
                             SettingTries);
    case job::SetIntegrator:
        return WriteSettings({{cmd::WriteIntegrator, uint32_t(Get(params_.IntegratorWord))}},
                             SettingTries);
    case job::SweepFrequencyResponse:
        return SweepFrequencyResponse();
    case job::TestDisplay:
        return TestDisplay();
    case job::ReadParameters:
        return ReadParameters();
    case job::WriteParameters:
        return WriteParameters();
    case job::ReadHubData:
        return ReadHubData();
    case job::SetTareMode:
        return SetTareMode();
    case job::PollLevel:
        return PollLevel();
    case job::RefreshHubView:
        return RefreshHubView();
    case job::WriteHubData:
        return WriteHubData();
    case job::CompareSnapshot:
        return CompareSnapshot();
    case job::RestoreSnapshot:
        return RestoreSnapshotJob();
    case job::ReconnectDevice:
        return ReconnectDevice();
    case job::CensusBus:
        return CensusBus();
    case job::ReaddressDevice:
        return ReaddressDevice();
    default:
        return; // no job for this code
    }
}

bool CommandWorker::Pause(std::chrono::milliseconds duration) {
    std::unique_lock lock(pauseLock_);
    pauseCv_.wait_for(lock, duration, [&] { return stop_.load(); });
    return !stop_.load();
}

void CommandWorker::ShowStatus(Status status) {
    lastStatus_ = status;
    if (!Stopping())
        view_.ShowDeviceStatus(status, texts_.DeviceStatus(status));
}

void CommandWorker::ShowPort(int portState) {
    portState_ = portState;
    if (!Stopping())
        view_.ShowPortStatus(portState, texts_.PortStatus(portState));
}

void CommandWorker::ErrorBox(const std::string& text) {
    if (!Stopping())
        view_.ShowError(text);
}

void CommandWorker::InfoBox(const std::string& text) {
    if (!Stopping())
        view_.ShowInformation(text);
}

bool CommandWorker::Ask(const std::string& text) {
    return !Stopping() && view_.AskYesNo(text);
}

uint8_t CommandWorker::Address() const {
    return uint8_t(Get(params_.DeviceAddress));
}

Status CommandWorker::Try(int tries, std::chrono::milliseconds pauseAfterFailure,
                          const std::function<Status()>& exchange) {
    Status status = StatusNoAnswer;
    for (int t = 0; t < tries && !Stopping(); ++t) {
        status = exchange();
        ShowStatus(status);
        if (status == StatusOk)
            return status;
        if (t + 1 < tries && pauseAfterFailure.count() > 0 && !Pause(pauseAfterFailure))
            break;
    }
    return status;
}

std::string CommandWorker::OpenPortError() const {
    // A numbered port reads "...порта COM3". A device path takes the place of "COM" (the
    // message ends with it) and names the real port, with the system's reason on a second
    // line.
    std::string text = texts_.Text(msg::ErrorOpenPort);
    const std::string name = params_.PortName();
    const std::string numbered = "COM" + std::to_string(Get(params_.PortNumber));
    if (name == numbered)
        return text + std::to_string(uint32_t(Get(params_.PortNumber)));
    constexpr std::string_view Com = "COM";
    if (text.size() >= Com.size() && text.compare(text.size() - Com.size(), Com.size(), Com) == 0)
        text.erase(text.size() - Com.size());
    if (!text.empty() && text.back() != ' ')
        text += ' ';
    text += name;
    const std::string cause = link_.OpenError();
    if (!cause.empty())
        text += "\n" + cause;
    return text;
}

} // namespace vq31
