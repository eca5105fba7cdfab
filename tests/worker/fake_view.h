// A recording WorkerView for tests: every step runs inline on the worker thread, is logged
// by name, and keeps the data it was given; questions are answered from a script (No when
// the script is empty). Tests wait for what they expect with bounded waits.
#pragma once

#include "command_worker.h"
#include "worker_view.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace vq31::test {

// A copy of one echo refresh (the frame's spans die with the call).
struct EchoCopy {
    int32_t mode = 0;
    EchoLabels labels;
    std::optional<EchoFields> fields;
    std::string dataInst;
    int32_t sampleStep = 0;
    std::vector<int16_t> oscillogram;
    std::vector<uint32_t> envelope;
    std::vector<uint8_t> envelopeHigh;
    std::array<uint16_t, EchoStatusWords> status{};
};

class FakeView : public WorkerView {
public:
    // What the window holds; tests set these before posting.
    int32_t oscillMode = 1;
    bool displayAuto = true;
    std::array<bool, 17> displayBoxes{};
    ParameterChoice parameterChoice;
    HubChoice hubChoice;
    // Set to check that no step runs once the worker's stop was requested.
    const CommandWorker* worker = nullptr;
    // Runs inside every step after it was logged (for example to stop the worker there).
    std::function<void(const std::string& step)> onStep;
    // When set, each step's recording runs through it (on a window thread of the test) and
    // the worker waits until it has run, as the window's own view makes it.
    std::function<void(const std::function<void()>& step)> runOnWindow;

    void AnswerQuestions(std::initializer_list<bool> answers) {
        std::lock_guard lock(mutex_);
        answers_.insert(answers_.end(), answers);
    }

    // Bounded wait until the predicate (called under the view's lock) holds. It is looked at
    // again every few milliseconds too, as it may turn on state no step announces (the
    // worker's stop request, for one).
    bool WaitUntil(const std::function<bool()>& predicate,
                   std::chrono::milliseconds limit = std::chrono::seconds(20)) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        std::unique_lock lock(mutex_);
        while (!predicate()) {
            if (std::chrono::steady_clock::now() >= deadline)
                return false;
            cv_.wait_for(lock, std::chrono::milliseconds(5));
        }
        return true;
    }
    // Bounded wait until the named step has run count times in all.
    bool WaitForStep(const std::string& step, size_t count = 1,
                     std::chrono::milliseconds limit = std::chrono::seconds(20)) {
        return WaitUntil([&] { return CountLocked(step) >= count; }, limit);
    }
    size_t Count(const std::string& step) const {
        std::lock_guard lock(mutex_);
        return CountLocked(step);
    }
    std::vector<std::string> Steps() const {
        std::lock_guard lock(mutex_);
        return steps_;
    }
    template <class T> T Read(const T& field) const {
        std::lock_guard lock(mutex_);
        return field;
    }

    // Recorded data (read through Read() or after the worker stopped).
    std::vector<std::pair<int, std::string>> portStatus;
    std::vector<std::pair<Status, std::string>> deviceStatus;
    std::vector<std::string> errors, informations, questions, vanished;
    std::vector<std::pair<uint32_t, uint32_t>> foundLinks;
    std::vector<SignalSettings> signalSettings;
    std::vector<EchoCopy> echoes;
    std::vector<bool> liveView;
    std::vector<TuneStep1View> tuneStep1;
    std::vector<std::string> tuneStep2;
    std::vector<uint32_t> displayMasks;
    std::vector<SweepPoint> sweepPoints;
    std::vector<ParameterView> parameterViews;
    std::vector<std::pair<uint32_t, uint32_t>> newAddresses, newSpeeds;
    std::vector<HubView> hubViews;
    std::vector<LevelView> levels;
    std::vector<int32_t> unlockTankIds;
    std::vector<CensusView> censusViews;
    std::vector<int> censusPercents;
    size_t stepsAfterStop = 0;

    void ShowPortStatus(int portState, const std::string& text) override {
        Log("ShowPortStatus", [&] { portStatus.emplace_back(portState, text); });
    }
    void ShowDeviceStatus(Status status, const std::string& text) override {
        Log("ShowDeviceStatus", [&] { deviceStatus.emplace_back(status, text); });
    }
    void EnterOscilloscopePage() override { Log("EnterOscilloscopePage"); }
    void ShowDisconnected(const std::string& text) override {
        Log("ShowDisconnected", [&] { portStatus.emplace_back(PortClosed, text); });
    }
    void ShowPortVanished(const std::string& port) override {
        Log("ShowPortVanished", [&] { vanished.push_back(port); });
    }
    void ShowBusyCursor() override { Log("ShowBusyCursor"); }
    void RestoreCursor() override { Log("RestoreCursor"); }
    void LockControls() override { Log("LockControls"); }
    void UnlockControls(int32_t tankId) override {
        Log("UnlockControls", [&] { unlockTankIds.push_back(tankId); });
    }
    void ApplyFoundLink(uint32_t baudRate, uint32_t address) override {
        Log("ApplyFoundLink", [&] { foundLinks.emplace_back(baudRate, address); });
    }
    void ShowSignalSettings(const SignalSettings& s) override {
        Log("ShowSignalSettings", [&] { signalSettings.push_back(s); });
    }
    int32_t ReadOscillMode() override {
        int32_t mode = 0;
        Log("ReadOscillMode", [&] { mode = oscillMode; });
        return mode;
    }
    void SetLiveView(bool enabled) override {
        Log("SetLiveView", [&] { liveView.push_back(enabled); });
    }
    void ShowEcho(const EchoFrame& frame) override {
        Log("ShowEcho", [&] {
            EchoCopy c;
            c.mode = frame.mode;
            c.labels = frame.labels;
            c.fields = frame.fields;
            c.dataInst = frame.dataInst;
            c.sampleStep = frame.sampleStep;
            c.oscillogram.assign(frame.oscillogram.begin(), frame.oscillogram.end());
            c.envelope.assign(frame.envelope.begin(), frame.envelope.end());
            c.envelopeHigh.assign(frame.envelopeHigh.begin(), frame.envelopeHigh.end());
            if (frame.status)
                c.status = *frame.status;
            echoes.push_back(std::move(c));
        });
    }
    void ShowTuneStep1(const TuneStep1View& v) override {
        Log("ShowTuneStep1", [&] { tuneStep1.push_back(v); });
    }
    void ShowTuneStep2(const std::string& text) override {
        Log("ShowTuneStep2", [&] { tuneStep2.push_back(text); });
    }
    uint32_t BuildDisplayPattern(uint32_t runningMask) override {
        uint32_t mask = 0;
        Log("BuildDisplayPattern", [&] {
            mask = displayAuto ? AdvanceDisplayPattern(runningMask)
                               : DisplayPatternFromBoxes(displayBoxes);
            displayMasks.push_back(mask);
        });
        return mask;
    }
    void AddSweepPoint(const SweepPoint& p) override {
        Log("AddSweepPoint", [&] { sweepPoints.push_back(p); });
    }
    void ShowParameters(const ParameterView& v) override {
        Log("ShowParameters", [&] { parameterViews.push_back(v); });
    }
    ParameterChoice CollectParameters() override {
        ParameterChoice c;
        Log("CollectParameters", [&] { c = parameterChoice; });
        return c;
    }
    void ApplyNewAddress(uint32_t address, uint32_t baudRate) override {
        Log("ApplyNewAddress", [&] { newAddresses.emplace_back(address, baudRate); });
    }
    void ApplyNewSpeed(uint32_t baudRate, uint32_t address) override {
        Log("ApplyNewSpeed", [&] { newSpeeds.emplace_back(baudRate, address); });
    }
    void ShowHubData(const HubView& v) override {
        Log("ShowHubData", [&] {
            LoadCurrentTank(v);
            hubViews.push_back(v);
        });
    }
    HubChoice PrepareHubData() override {
        HubChoice c;
        Log("PrepareHubData", [&] { c = hubChoice; });
        return c;
    }
    void ShowLevel(const LevelView& v) override {
        Log("ShowLevel", [&] { levels.push_back(v); });
    }
    void ShowCensusProgress(int percent, const std::string&) override {
        Log("ShowCensusProgress", [&] { censusPercents.push_back(percent); });
    }
    void ShowCensus(const CensusView& v) override {
        Log("ShowCensus", [&] { censusViews.push_back(v); });
    }
    void ShowError(const std::string& text) override {
        Log("ShowError", [&] { errors.push_back(text); });
    }
    void ShowInformation(const std::string& text) override {
        Log("ShowInformation", [&] { informations.push_back(text); });
    }
    bool AskYesNo(const std::string& text) override {
        bool yes = false;
        Log("AskYesNo", [&] {
            questions.push_back(text);
            if (!answers_.empty()) {
                yes = answers_.front();
                answers_.pop_front();
            }
        });
        return yes;
    }

private:
    size_t CountLocked(const std::string& step) const {
        size_t n = 0;
        for (const auto& s : steps_)
            n += s == step;
        return n;
    }
    void Log(const char* step, const std::function<void()>& record = {}) {
        {
            std::lock_guard lock(mutex_);
            if (worker && worker->StopRequested())
                ++stepsAfterStop;
            steps_.push_back(step);
            if (record && runOnWindow)
                runOnWindow(record);
            else if (record)
                record();
        }
        cv_.notify_all();
        if (onStep)
            onStep(step);
    }

    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<std::string> steps_;
    std::deque<bool> answers_;
};

} // namespace vq31::test
