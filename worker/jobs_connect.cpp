// Connection jobs: open the port at the configured speed, close it, search the device over
// all speeds, check model and firmware, and enter the oscilloscope page in fast mode.
#include "command_worker.h"
#include "net_port.h"

#include <array>
#include <vector>

namespace vq31 {

namespace {
// Speeds of the search, tried from the last to the first.
constexpr std::array<uint32_t, 7> SearchSpeeds = {2400, 4800, 9600, 19200, 38400, 57600, 115200};
constexpr uint32_t FastModeSpeed = 115200;
constexpr uint32_t SupportedFirmware = 9; // shown as 0.90
constexpr int EntryTries = 2;
} // namespace

void CommandWorker::ConnectDevice() {
    if (link_.UartOpen(params_.PortName(), uint32_t(Get(params_.BaudRate))) != 0) {
        ErrorBox(OpenPortError());
        ShowPort(PortOpenError);
        return;
    }
    WakeUp(link_, Address()); // only wakes the device; its answer does not matter
    if (!Pause(timing_.wakeUpPause))
        return;
    ShowPort(PortOpened);
    if (IdentifyDevice() && !Stopping()) {
        view_.EnterOscilloscopePage();
        PostCommand(job::StartOscilloscope);
    }
}

bool CommandWorker::OpenAfterReplug(uint32_t speed) {
    // udev gives the new device node its group and the seat's access a moment after it
    // appears: a refused or missing port is tried again for a while.
    const auto end = std::chrono::steady_clock::now() + ReplugOpenWait;
    while (link_.UartOpen(params_.PortName(), speed) != 0) {
        if (std::chrono::steady_clock::now() >= end || !Pause(ReplugOpenStep))
            return false;
    }
    return true;
}

void CommandWorker::ReconnectDevice() {
    if (Stopping())
        return;
    // A sensor that stayed powered while its adapter was out may still talk at the fast
    // speed of the oscilloscope page; one that restarted talks at its own speed.
    const uint32_t own = uint32_t(Get(params_.BaudRate));
    uint32_t found = 0;
    // A raw TCP gateway cannot take the device's fast speed: only its own is tried.
    const bool fastToo = AbilitiesOfPort(params_.PortName()).changeSpeed && own != FastModeSpeed;
    for (const uint32_t speed : {own, FastModeSpeed}) {
        if (found != 0 || (speed == FastModeSpeed && !fastToo))
            break;
        if (!OpenAfterReplug(speed)) {
            ErrorBox(OpenPortError());
            ShowPort(PortOpenError);
            return;
        }
        WakeUp(link_, Address());
        if (!Pause(timing_.wakeUpPause))
            return;
        uint32_t model = 0;
        if (ReadValue(link_, cmd::ReadModelCode, Address(), model) == StatusOk)
            found = speed;
    }
    // No answer at either speed: the check below reports it at the device's own speed.
    if (found == 0 && link_.UartOpen(params_.PortName(), own) != 0) {
        ErrorBox(OpenPortError());
        ShowPort(PortOpenError);
        return;
    }
    ShowPort(PortOpened);
    if (!IdentifyDevice() || Stopping())
        return;
    deviceLost_ = false;
    const int32_t follow = reconnectFollow_.load();
    if (follow == job::StartOscilloscope)
        view_.EnterOscilloscopePage();
    PostCommand(follow);
}

bool CommandWorker::IdentifyDevice() {
    uint32_t model = 0;
    Status status = ReadValue(link_, cmd::ReadModelCode, Address(), model);
    modelCode_ = model;
    ShowStatus(status);
    if (status != StatusOk) {
        ErrorBox(texts_.DeviceStatus(status));
        return false;
    }
    if (modelCode_ != SupportedModelCode) {
        ErrorBox(texts_.Text(msg::DeviceWrong) + "\n" + texts_.Text(msg::UpdateProgram));
        return false;
    }
    Identity identity;
    status = ReadIdentity(link_, Address(), identity);
    if (status == StatusOk)
        firmwareVersion_ = identity.firmwareVersion;
    ShowStatus(status);
    if (status != StatusOk) {
        ErrorBox(texts_.DeviceStatus(status));
        return false;
    }
    if (firmwareVersion_ != SupportedFirmware) {
        ErrorBox(texts_.Text(msg::FirmwareWrong) + "\n" + texts_.Text(msg::UpdateProgram));
        return false;
    }
    return true;
}

void CommandWorker::DisconnectDevice() {
    PostCommand(job::None); // stops any polling
    portState_ = PortClosed;
    if (!Stopping())
        view_.ShowDisconnected(texts_.PortStatus(PortClosed));
    link_.UartClose();
}

void CommandWorker::SearchDevice() {
    const int32_t rememberedSpeed = Get(params_.BaudRate);
    if (Stopping())
        return;
    view_.LockControls();
    view_.ShowBusyCursor();
    Status status = StatusNoAnswer;
    uint8_t found = 0;
    bool isFound = false;
    bool cancelled = false;
    // A raw TCP gateway talks at its own speed, which no request can change: the search
    // tries that speed (the one chosen for the port) only, and says so.
    std::vector<uint32_t> speeds(SearchSpeeds.rbegin(), SearchSpeeds.rend());
    std::string ownSpeedOnly;
    if (!AbilitiesOfPort(params_.PortName()).changeSpeed) {
        speeds = {uint32_t(rememberedSpeed)};
        ownSpeedOnly = WithArguments(texts_.Text(msg::GatewayOwnSpeed),
                                     {params_.PortName(), std::to_string(rememberedSpeed)});
    }
    for (auto it = speeds.begin(); it != speeds.end() && !Stopping(); ++it) {
        // Another code posted meanwhile (the window's cancel) ends the search between speeds.
        if ((cancelled = CommandPending()))
            break;
        Put(params_.BaudRate, int32_t(*it));
        const bool opened = link_.UartOpen(params_.PortName(), *it) == 0;
        ShowPort(opened ? PortOpened : PortOpenError);
        if (!ownSpeedOnly.empty() && !Stopping())
            view_.ShowPortStatus(portState_.load(), ownSpeedOnly);
        WakeUp(link_, BroadcastAddress);
        if (!Pause(timing_.wakeUpPause))
            break;
        status = FindDevice(link_, found);
        ShowStatus(status);
        if (status == StatusOk) {
            isFound = true;
            break;
        }
    }
    if (Stopping() || cancelled) {
        // Leave the link as the user had it: the old speed, the port closed.
        Put(params_.BaudRate, rememberedSpeed);
        link_.UartClose();
        if (cancelled) {
            view_.RestoreCursor();
            view_.UnlockControls(Get(params_.TankId));
            ShowPort(PortClosed);
        }
        return;
    }
    view_.RestoreCursor();
    if (!isFound) {
        ShowStatus(status);
        if (!Stopping())
            view_.UnlockControls(Get(params_.TankId));
        ErrorBox(ownSpeedOnly.empty() ? texts_.DeviceStatus(status)
                                      : texts_.DeviceStatus(status) + "\n" + ownSpeedOnly);
        Put(params_.BaudRate, rememberedSpeed);
        link_.UartClose();
        ShowPort(PortClosed); // the panel follows the port it just closed
        return;
    }
    Put(params_.DeviceAddress, found);
    if (Stopping())
        return;
    view_.ApplyFoundLink(uint32_t(Get(params_.BaudRate)), found);
    if (IdentifyDevice()) {
        if (!Stopping()) {
            view_.EnterOscilloscopePage(); // the entry job unlocks the controls
            PostCommand(job::StartOscilloscope);
        }
    } else if (!Stopping()) {
        view_.UnlockControls(Get(params_.TankId));
    }
}

void CommandWorker::StartOscilloscope() {
    if (Stopping())
        return;
    view_.LockControls();
    // Ends the job as every failure does: controls back, echo polling started anyway.
    auto giveUp = [&](Status status) {
        ErrorBox(texts_.DeviceStatus(status));
        if (!Stopping())
            view_.UnlockControls(Get(params_.TankId));
        PostCommand(job::PollEcho);
    };
    // The fast mode moves the device to 115200 bit/s; a raw TCP gateway at another speed
    // could not follow and would lose the device, so the page is refused with the cause.
    if (!link_.Abilities().changeSpeed && link_.BaudRate() != FastModeSpeed) {
        ErrorBox(WithArguments(texts_.Text(msg::GatewayNoFastMode),
                               {params_.PortName(), std::to_string(FastModeSpeed)}));
        if (!Stopping())
            view_.UnlockControls(Get(params_.TankId));
        PostCommand(job::None);
        return;
    }
    Status status = WriteValue(link_, cmd::EnterFastMode, Address(), 0);
    ShowStatus(status);
    if (status != StatusOk)
        return giveUp(status);
    if (link_.UartOpen(params_.PortName(), FastModeSpeed) != 0) {
        ErrorBox(OpenPortError());
        ShowPort(PortOpenError);
    }
    struct Read {
        uint8_t code;
        std::atomic<int32_t>& field;
    };
    const std::array<Read, 6> reads = {{{cmd::ReadGain, params_.GainWord},
                                        {cmd::ReadFrequency, params_.PulseFrequency},
                                        {cmd::ReadFilter, params_.FilterFrequency},
                                        {cmd::ReadPulseWidth, params_.PulseWidth},
                                        {cmd::ReadAttenuator, params_.Attenuation},
                                        {cmd::ReadIntegrator, params_.IntegratorWord}}};
    for (const auto& read : reads) {
        uint32_t value = 0;
        status = Try(EntryTries, timing_.jobPause,
                     [&] { return ReadValue(link_, read.code, Address(), value); });
        if (status != StatusOk)
            return giveUp(status);
        Put(read.field, int32_t(value));
    }
    status = Try(EntryTries, timing_.jobPause, [&] {
        return WriteValue(link_, cmd::WriteMode, Address(), uint32_t(Get(params_.TuneMode)));
    });
    if (status != StatusOk)
        return giveUp(status);
    if (Stopping())
        return;
    SignalSettings settings;
    settings.gainWord = uint32_t(Get(params_.GainWord));
    settings.pulseFrequency = uint32_t(Get(params_.PulseFrequency));
    settings.filterFrequency = uint32_t(Get(params_.FilterFrequency));
    settings.pulseWidth = uint32_t(Get(params_.PulseWidth));
    settings.attenuation = uint32_t(Get(params_.Attenuation));
    settings.integratorWord = uint32_t(Get(params_.IntegratorWord));
    view_.ShowSignalSettings(settings);
    if (!Stopping())
        view_.UnlockControls(Get(params_.TankId));
    PostCommand(job::PollEcho);
}

} // namespace vq31
