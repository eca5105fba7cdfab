// A view that shows nothing: every step is a no-op, the oscilloscope mode is the envelope,
// the display test walks the running mask, and every question is answered No. Headless
// drivers of the worker (benchmarks, window-less tests) derive from it and override only the
// steps they watch.
#pragma once

#include "worker_view.h"

namespace vq31 {

class QuietView : public WorkerView {
public:
    void ShowPortStatus(int, const std::string&) override {}
    void ShowDeviceStatus(Status, const std::string&) override {}
    void EnterOscilloscopePage() override {}
    void ShowDisconnected(const std::string&) override {}
    void ShowBusyCursor() override {}
    void RestoreCursor() override {}
    void LockControls() override {}
    void UnlockControls(int32_t) override {}
    void ApplyFoundLink(uint32_t, uint32_t) override {}
    void ShowSignalSettings(const SignalSettings&) override {}
    int32_t ReadOscillMode() override { return 1; }
    void SetLiveView(bool) override {}
    void ShowEcho(const EchoFrame&) override {}
    void ShowTuneStep1(const TuneStep1View&) override {}
    void ShowTuneStep2(const std::string&) override {}
    uint32_t BuildDisplayPattern(uint32_t runningMask) override { return runningMask; }
    void AddSweepPoint(const SweepPoint&) override {}
    void ShowParameters(const ParameterView&) override {}
    ParameterChoice CollectParameters() override { return {}; }
    void ApplyNewAddress(uint32_t, uint32_t) override {}
    void ApplyNewSpeed(uint32_t, uint32_t) override {}
    void ShowHubData(const HubView& view) override { LoadCurrentTank(view); }
    HubChoice PrepareHubData() override { return {}; }
    void ShowLevel(const LevelView&) override {}
    void ShowError(const std::string&) override {}
    void ShowInformation(const std::string&) override {}
    bool AskYesNo(const std::string&) override { return false; }
};

} // namespace vq31
