// The command worker: the single thread that runs device jobs one at a time. The window (and
// the jobs themselves) post a command code into one slot; the worker takes it, pauses where
// the job asks for it, runs the job, and re-arms a one-shot repeat for the polling codes
// while nothing else was posted. Results reach the window only through WorkerView.
//
// Stopping: Stop() may be called at any moment, also while a job runs a sweep, a tuning
// wait or a long oscillogram wait. Every pause wakes on the stop request, the link's waits
// are interrupted and it sends nothing more, jobs end between exchanges, no view call is made
// after the request, and the thread is joined before Stop() returns. From the view's own
// thread, first request the stop, then make the view stop marshalling (a job waiting in a
// view step gets the fallback answer and sees the stop), then join, then close the link:
//     worker.RequestStop(); view.Shutdown(); worker.Stop(); link.UartClose();
#pragma once

#include "census.h"
#include "command_parameters.h"
#include "commands.h"
#include "device_ops.h"
#include "hub_image.h"
#include "language_texts.h"
#include "link.h"
#include "readdress.h"
#include "repeat_timer.h"
#include "snapshot.h"
#include "worker_view.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vq31 {

// Command codes: the contract between the window and the worker.
namespace job {
inline constexpr int32_t Empty = -1; // the slot holds no code
inline constexpr int32_t None = 0;   // runs nothing; posting it stops any polling
inline constexpr int32_t ConnectDevice = 1;
inline constexpr int32_t DisconnectDevice = 2;
inline constexpr int32_t SearchDevice = 3;
inline constexpr int32_t StartOscilloscope = 4;
inline constexpr int32_t PollEcho = 5;
inline constexpr int32_t SetTuneMode = 6;
inline constexpr int32_t SetFrequency = 9;
inline constexpr int32_t SetFilter = 10;
inline constexpr int32_t SetGain = 11;
inline constexpr int32_t SetAttenuator = 12;
inline constexpr int32_t SetPulseWidth = 15;
inline constexpr int32_t SetIntegrator = 16;
inline constexpr int32_t SweepFrequencyResponse = 17;
inline constexpr int32_t TestDisplay = 18;
inline constexpr int32_t ReadParameters = 19;
inline constexpr int32_t WriteParameters = 20;
inline constexpr int32_t ReadHubData = 21;
inline constexpr int32_t SetTareMode = 22;
inline constexpr int32_t PollLevel = 23;
inline constexpr int32_t RefreshHubView = 24;
inline constexpr int32_t WriteHubData = 25;
inline constexpr int32_t CompareSnapshot = 26; // the requested snapshot against the device
inline constexpr int32_t RestoreSnapshot = 27; // the requested snapshot back into the device
// The port opened again on an adapter that was unplugged and came back, the device checked,
// then the requested page code (RequestReconnect) posted so the page is read anew.
inline constexpr int32_t ReconnectDevice = 28;
// Every address of the requested range asked at the requested speeds (RequestCensus); any
// code posted while it runs ends it after the address being asked.
inline constexpr int32_t CensusBus = 29;
// The requested sensor moved to another address (RequestReaddress).
inline constexpr int32_t ReaddressDevice = 30;
} // namespace job

// Device modes reported while an automatic tuning step runs.
inline constexpr uint32_t TuneStep1Mode = 134;
inline constexpr uint32_t TuneStep2Mode = 135;

// How long a port that came back is tried when its open is refused or its node is missing,
// and how often.
inline constexpr std::chrono::milliseconds ReplugOpenWait{5000};
inline constexpr std::chrono::milliseconds ReplugOpenStep{100};

// Tries of a setting write; the attenuator gets more, as its write is often refused at first.
inline constexpr int SettingTries = 2;
inline constexpr int AttenuatorTries = 10;

// The worker's waits. The defaults are the device's; tests may shorten the long ones.
struct WorkerTiming {
    std::chrono::milliseconds commandWait{10}; // wait for a post before re-checking stop
    std::chrono::milliseconds jobPause{50};    // before setting jobs, after a failed try
    std::chrono::milliseconds wakeUpPause{200};
    std::chrono::milliseconds sweepPause{500};
    std::chrono::milliseconds echoRepeat{10};  // re-arm of code 5
    std::chrono::milliseconds slowRepeat{250}; // re-arm of codes 18 and 23
};

class CommandWorker {
public:
    // The hub records are shared with the window's tare editor and tank-list exchange, which
    // touch them only while the hub controls are locked.
    CommandWorker(DeviceLink& link, CommandParameters& params, WorkerView& view,
                  const LanguageTexts& texts, HubRecords& hub, WorkerTiming timing = {});
    ~CommandWorker(); // stops the worker
    CommandWorker(const CommandWorker&) = delete;
    CommandWorker& operator=(const CommandWorker&) = delete;

    // Starts the worker and timer threads (once; a stopped worker is not restarted).
    void Start();
    // Requests the stop and wakes every wait without joining: from then on no view call is
    // made and no request reaches the device. Call it before a view stops marshalling, so a
    // job that gets a view's fallback answer already sees the stop and writes nothing.
    void RequestStop();
    // Requests the stop, wakes every wait and joins both threads. Bounded; safe to repeat.
    // From the worker thread itself (inside a view call) it only requests the stop.
    void Stop();
    bool StopRequested() const { return stop_.load(); }

    // Hands a code to the worker: cancels any armed repeat and replaces a code not yet
    // taken; the last post wins. Safe from any thread.
    void PostCommand(int32_t code);
    // Whether a repeat is armed and not yet fired or cancelled (for tests and tools).
    bool RepeatArmed() const;

    // Called on the worker thread after every code taken from the slot, once its job and
    // re-arm step are done (also for codes that run nothing). Set it before Start().
    void SetJobObserver(std::function<void(int32_t code)> observer);

    // Folder for the snapshot taken before every parameter and hub write; without one the
    // writes take none. Set it before Start().
    void SetSnapshotStore(const SnapshotStore* store) { snapshots_ = store; }
    // The snapshot file codes 26 and 27 work on, whether a restore also writes the settings
    // back, and the code posted after them so the page shown reads the device anew (19 or
    // 21; 0 for none). Safe from any thread; set it before posting the code.
    void RequestSnapshot(std::filesystem::path file, bool withSettings, int32_t follow = job::None);
    // The code code 28 posts once the device answers again (4, 19, 21, or 0 for none). Safe
    // from any thread; set it before posting the code.
    void RequestReconnect(int32_t follow) { reconnectFollow_ = follow; }
    // What code 29 asks: speeds and address range (the port is the window's). Safe from any
    // thread; set it before posting the code.
    void RequestCensus(CensusOptions options);
    // The sensor code 30 moves: from one address to another at a speed. Safe from any
    // thread; set it before posting the code.
    void RequestReaddress(uint8_t from, uint8_t to, uint32_t speed);
    // The last census as found (and as changed by moves since); read it from the worker
    // thread or after a job ended.
    const CensusResult& LastCensus() const { return lastCensus_; }
    // The outcome of the last move (after the job ended).
    const ReaddressOutcome& LastReaddress() const { return lastReaddress_; }
    // Path of the last snapshot a write job saved (worker thread, or after a job ended).
    const std::filesystem::path& LastSnapshot() const { return lastSnapshot_; }
    // Pages the last hub write sent and the device took, of how many (after the job ended).
    size_t HubPagesWritten() const { return hubPagesWritten_; }
    size_t HubPagesToWrite() const { return hubPagesToWrite_; }
    // The outcome of the last write (after a job ended, or after Stop() has finished or put
    // back a transfer that a stop cut short).
    const WriteOutcome& LastWriteOutcome() const { return lastOutcome_; }
    // After Stop(): what became of a write that the stop cut short (finished, put back, or
    // left part-way with the snapshot to restore from); empty when none was cut short.
    std::string StopOutcomeText() const;
    // A write transaction runs, its outcome not yet shown (safe from any thread).
    bool Writing() const { return writing_.load(); }
    // Asks a running write to stop between pages: it finishes the image or puts the old one
    // back, and shows which; the worker goes on (safe from any thread).
    void RequestWriteStop() { writeStop_ = true; }

    // Records of the last exchanges; read them from the worker thread (inside a view call)
    // or after the worker has stopped.
    const EchoStatusRecord& EchoStatus() const { return *echoStatus_; }
    const SampleBuffer& Samples() const { return *samples_; }
    Status LastStatus() const { return lastStatus_.load(); }
    int PortState() const { return portState_.load(); }
    bool DeviceLost() const { return deviceLost_.load(); }
    uint32_t ModelCode() const { return modelCode_; }
    uint32_t FirmwareVersion() const { return firmwareVersion_; }
    const ParameterRecord& Parameters() const { return parameters_; }
    uint32_t TankHeight() const { return tankHeight_; }

private:
    void Run();
    void Dispatch(int32_t code);
    void ReArm(int32_t code);
    // After the worker has ended: a hub transfer that the stop cut short is finished or put
    // back; a sweep or a tuning step left running on the device is ended (the chosen pulse
    // frequency back and the sweep off, or the measuring mode), one try each.
    void EndDeviceActivity();
    void OnRepeat(int32_t code, uint64_t id);

    // Stop-aware pause; false when the stop was requested.
    bool Pause(std::chrono::milliseconds duration);
    bool Stopping() const { return stop_.load(); }
    // A code waits in the slot (posted while the running job goes on).
    bool CommandPending() const;
    // Stopping, or the view is closing: what a view step handed back is a fallback, and
    // nothing based on it may reach the device.
    bool Abandoned() const { return Stopping() || view_.Closing(); }
    // Device-status panel with the status of the last exchange.
    void ShowStatus(Status status);
    void ShowPort(int portState);
    void ErrorBox(const std::string& text);
    void InfoBox(const std::string& text);
    bool Ask(const std::string& text);
    uint8_t Address() const;
    // One device exchange repeated up to tries times (pause after a failed try if asked),
    // showing each status; returns the last status.
    Status Try(int tries, std::chrono::milliseconds pauseAfterFailure,
               const std::function<Status()>& exchange);
    std::string OpenPortError() const;

    // Jobs: connection (codes 1-4).
    void ConnectDevice();
    void DisconnectDevice();
    void SearchDevice();
    bool IdentifyDevice();
    void StartOscilloscope();
    // Echo polling and tuning (5, 6).
    void PollEcho();
    void PollTuneStep(uint32_t mode);
    void ShowEchoFrame(int32_t mode);
    void SetTuneMode();
    void NoteFailedPoll(Status status);
    void ResumeAfterLoss(int32_t code);
    // Signal settings (9-16).
    void WriteSettings(std::initializer_list<std::pair<uint8_t, uint32_t>> commands, int tries);
    // Sweep (17) and display test (18).
    void SweepFrequencyResponse();
    void TestDisplay();
    // What tuning step 2 set, against the settings the page shows, as lines for its box.
    std::string TuneFindings();
    void EndDisplayTest();
    // Passport and output parameters (19, 20).
    void ReadParameters();
    void WriteParameters();
    // Hub data and live level (21-25).
    void ReadHubData();
    void SetTareMode();
    void PollLevel();
    void RefreshHubView();
    void WriteHubData();
    void ShowHubView();
    void PrepareHubImage();
    // The write path's context for a job: the snapshot folder, the stop request.
    WriteContext WriteContextNow();
    // Around a transaction: marks it running, and answers a stop of the write alone.
    void BeginWrite();
    void EndWriteStop(WriteOutcome& outcome);
    // Shows what a write left on the device in one box; after a part-way write it offers the
    // snapshot taken before, and returns true when its restore was posted.
    bool ShowWriteOutcome(const WriteOutcome& outcome);
    bool OfferRestore(const std::string& text, const WriteOutcome& outcome);
    // A transfer stopped part-way is kept, and finished or put back once the worker has
    // ended and the link may be used again.
    void KeepInterruptedWrite(const WriteOutcome& outcome);
    void EndInterruptedWrites();
    // Snapshot jobs (26, 27).
    void CompareSnapshot();
    void RestoreSnapshotJob();
    void ReconnectDevice();
    // Opens the port again after a replug, trying for up to ReplugOpenWait.
    bool OpenAfterReplug(uint32_t speed);
    // Line census and re-addressing (29, 30).
    void CensusBus();
    void ReaddressDevice();
    CensusView MakeCensusView(const CensusResult& result) const;
    bool LoadRequestedSnapshot(Snapshot& snapshot, bool& withSettings);
    std::string OtherSerialText(const Snapshot& saved, const Snapshot& device) const;

    DeviceLink& link_;
    CommandParameters& params_;
    WorkerView& view_;
    const LanguageTexts& texts_;
    HubRecords& hub_;
    const WorkerTiming timing_;

    // The command slot and its repeat, guarded by commandLock_ (CommandLock).
    mutable std::mutex commandLock_;
    int32_t pendingCommand_ = job::None; // PendingCommand
    uint64_t repeatTimer_ = 0;           // id of the armed repeat, 0 = none
    uint64_t nextTimerId_ = 0;
    Event commandEvent_{Event::Reset::Auto}; // CommandEvent
    RepeatTimer timer_;

    std::atomic<bool> stop_{false};
    std::mutex stopLock_;
    std::atomic<bool> started_{false};
    std::mutex pauseLock_;
    std::condition_variable pauseCv_;
    std::jthread thread_;
    std::atomic<std::thread::id> workerId_{};
    std::function<void(int32_t)> observer_;

    // Worker fields shown to the window.
    std::atomic<Status> lastStatus_{StatusOk};
    std::atomic<int> portState_{PortClosed};
    std::atomic<bool> deviceLost_{false};
    // The device sweeps its frequency, or runs a tuning step, on the worker's request.
    std::atomic<bool> deviceSweeping_{false};
    std::atomic<bool> deviceTuning_{false};
    uint32_t modelCode_ = 0;
    uint32_t firmwareVersion_ = 0;
    bool displayLit_ = false; // a display test mask other than 0 is on the display
    ParameterRecord parameters_;
    uint32_t tankHeight_ = 0; // tenths of a millimetre
    const SnapshotStore* snapshots_ = nullptr;
    std::filesystem::path lastSnapshot_;
    std::atomic<int32_t> reconnectFollow_{0};
    std::atomic<int32_t> snapshotFollow_{0};
    size_t hubPagesWritten_ = 0;
    size_t hubPagesToWrite_ = 0;
    WriteOutcome lastOutcome_;
    bool stopCutWrite_ = false; // the last write was cut short by the stop
    std::atomic<bool> writing_{false};
    std::atomic<bool> writeStop_{false};
    std::mutex interruptedLock_;
    std::unique_ptr<WriteOutcome> interrupted_; // guarded by interruptedLock_
    uint8_t interruptedAddress_ = 0;            // guarded by interruptedLock_
    std::mutex snapshotRequestLock_;
    std::filesystem::path snapshotRequest_; // guarded by snapshotRequestLock_
    bool snapshotWithSettings_ = false;     // guarded by snapshotRequestLock_
    CensusOptions censusRequest_;           // guarded by snapshotRequestLock_
    uint8_t readdressFrom_ = 0;             // guarded by snapshotRequestLock_
    uint8_t readdressTo_ = 0;               // guarded by snapshotRequestLock_
    uint32_t readdressSpeed_ = 0;           // guarded by snapshotRequestLock_
    CensusResult lastCensus_;
    ReaddressOutcome lastReaddress_;

    // EchoStatus and the sample buffer, with the refresh buffers handed to the view.
    std::unique_ptr<EchoStatusRecord> echoStatus_;
    std::unique_ptr<SampleBuffer> samples_;
    std::vector<int16_t> oscillogram_;
    std::vector<uint16_t> envelopeIn_;
    std::vector<uint32_t> envelope_;
    std::vector<uint8_t> envelopeHigh_;
};

} // namespace vq31
