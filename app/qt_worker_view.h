// The worker's window steps carried out on the window thread. Each call from the worker is
// queued to the window and the worker waits for it; after Shutdown() every call returns at
// once (questions answer No), also a call whose step is still running in a modal box, so the
// window can stop and join the worker from inside any of its own event handlers.
#pragma once

#include "worker_view.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>

namespace vq31::app {

class MainWindow;

class QtWorkerView : public WorkerView {
public:
    explicit QtWorkerView(MainWindow& window);
    ~QtWorkerView() override;

    // Stops marshalling: pending and later calls return at once.
    void Shutdown();
    bool IsShutDown() const;

    void ShowPortStatus(int portState, const std::string& text) override;
    void ShowDeviceStatus(Status status, const std::string& text) override;
    void EnterOscilloscopePage() override;
    void ShowDisconnected(const std::string& portClosedText) override;
    void ShowPortVanished(const std::string& port) override;
    void ShowPassport(const Passport& passport) override;
    void ShowBusyCursor() override;
    void RestoreCursor() override;
    void LockControls() override;
    void UnlockControls(int32_t tankId) override;
    void ApplyFoundLink(uint32_t baudRate, uint32_t address) override;
    void ShowSignalSettings(const SignalSettings& settings) override;
    int32_t ReadOscillMode() override;
    void SetLiveView(bool enabled) override;
    void ShowEcho(const EchoFrame& frame) override;
    void ShowTuneStep1(const TuneStep1View& view) override;
    void ShowTuneStep2(const std::string& text) override;
    uint32_t BuildDisplayPattern(uint32_t runningMask) override;
    void AddSweepPoint(const SweepPoint& point) override;
    void ShowParameters(const ParameterView& view) override;
    ParameterChoice CollectParameters() override;
    void ApplyNewAddress(uint32_t address, uint32_t baudRate) override;
    void ApplyNewSpeed(uint32_t baudRate, uint32_t address) override;
    void ShowHubData(const HubView& view) override;
    HubChoice PrepareHubData() override;
    void ShowLevel(const LevelView& view) override;
    void ShowCensusProgress(int percent, const std::string& text) override;
    void ShowCensus(const CensusView& view) override;
    void ShowError(const std::string& text) override;
    void ShowInformation(const std::string& text) override;
    bool AskYesNo(const std::string& text) override;
    bool Closing() const override { return IsShutDown(); }

    // The longest time a window step took, for measurements (milliseconds).
    double LongestStepMs() const;
    // Steps queued by the worker so far, and how many of them it waits for now; tests use
    // them to close the window while a job waits in a given step.
    uint64_t StepsQueued() const;
    int StepsWaiting() const;

private:
    struct Sync {
        std::mutex lock;
        std::condition_variable done;
        bool shutdown = false;
        uint64_t queued = 0;
        int waiting = 0;
    };
    // Runs step on the window thread and waits for it; fallback when shut down. The step
    // must own everything it uses: the worker may have moved on when it runs.
    template <typename R, typename F> R Call(F step, R fallback);
    template <typename F> void Do(F step);

    MainWindow& window_;
    std::shared_ptr<Sync> sync_;
    bool busyCursor_ = false;
    std::shared_ptr<double> longestStepMs_;
};

} // namespace vq31::app
