// A WorkerView for the command-line tool: prints every refresh, status and box as text lines
// and lets the command wait, with bounded waits, for the steps it is interested in. The
// window's choices (oscilloscope mode, display mask, parameters, hub page) are fields the
// command sets before it posts a code.
#pragma once

#include "command_worker.h"
#include "ctl.h"
#include "snapshot.h"
#include "worker_view.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace vq31::ctl {

// HH:MM:SS.mmm of a wall-clock time, in local time.
std::string WallClockText(std::chrono::system_clock::time_point t);

class TextView : public WorkerView {
public:
    int32_t oscillMode = 1;
    std::optional<uint32_t> manualMask; // display test: a fixed mask instead of the walk
    ParameterChoice parameterChoice;
    HubChoice hubChoice;
    bool quietEcho = false; // count refreshes without printing them
    bool answerYes = false; // answer to every question
    std::function<void(const EchoFrame&)> onEcho;
    std::function<void(const ParameterView&)> onParameters;
    std::function<void(const HubView&)> onHub;

    // Bounded wait until the step has run count times in all; false on time-out or when a
    // box reported a failure first (if stopOnError).
    bool WaitFor(const std::string& step, size_t count, std::chrono::milliseconds limit,
                 bool stopOnError = true);
    size_t Count(const std::string& step);
    size_t Errors();
    // Status of the last exchange the worker showed; safe from any thread.
    Status LastDeviceStatus() const { return lastDeviceStatus_.load(); }

    // Exchanges that failed since the last ResetFailures(), and the first of them: its wall
    // time and status text.
    struct Failures {
        size_t count = 0;
        std::chrono::system_clock::time_point first{};
        std::chrono::system_clock::time_point last{};
        std::string firstText;
        bool answeredSince = false; // a good exchange came after the last failure
    };
    Failures FailedExchanges();
    void ResetFailures();

    void ShowPortStatus(int portState, const std::string& text) override;
    void ShowDeviceStatus(Status status, const std::string& text) override;
    void EnterOscilloscopePage() override;
    void ShowDisconnected(const std::string& text) override;
    void ShowPortVanished(const std::string& port) override;
    void ShowBusyCursor() override { Note("ShowBusyCursor"); }
    void RestoreCursor() override { Note("RestoreCursor"); }
    void LockControls() override { Note("LockControls"); }
    void UnlockControls(int32_t) override { Note("UnlockControls"); }
    void ApplyFoundLink(uint32_t baudRate, uint32_t address) override;
    void ShowSignalSettings(const SignalSettings& s) override;
    int32_t ReadOscillMode() override;
    void SetLiveView(bool) override { Note("SetLiveView"); }
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
    void ShowError(const std::string& text) override;
    void ShowInformation(const std::string& text) override;
    bool AskYesNo(const std::string& text) override;

private:
    void Note(const std::string& step);

    std::mutex mutex_;
    std::condition_variable cv_;
    std::map<std::string, size_t> counts_;
    std::string lastStatus_; // worker thread only
    Failures failures_;      // guarded by mutex_
    std::atomic<Status> lastDeviceStatus_{StatusOk};
};

// The objects one command needs: link, parameters, texts, hub records, view and worker.
struct WorkerSession {
    explicit WorkerSession(const Options& options);
    ~WorkerSession();
    // Runs the connection job and waits until echo polling shows the first refresh.
    bool Connect();
    // Opens the port at the given speed without the connection job (settings and hub pages).
    bool OpenPort();
    // Posts code and waits until the worker has taken follow once more.
    bool RunUntil(int32_t code, int32_t follow, std::chrono::milliseconds limit);
    size_t Taken(int32_t code);

    const Options& options;
    DeviceLink link;
    CommandParameters params;
    LanguageTexts texts;
    HubRecords hub;
    TextView view;
    SnapshotStore snapshots; // every write job saves the device's state here first
    CommandWorker worker;

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::map<int32_t, size_t> taken_;
    std::map<int32_t, uint64_t> lastTaken_; // when each code was last taken, by sequence_
    uint64_t sequence_ = 0;
};

} // namespace vq31::ctl
