// The device link: one serial port, its port thread, and the caller's side of one exchange.
// The port thread writes the pending request once the line has been found idle and reads
// the answer byte by byte; the caller stores a request, waits within budgets derived from
// the link speed, and takes the answer fields. Every failure is a status code.
#pragma once

#include "events.h"
#include "protocol.h"
#include "receiver.h"
#include "serial_port.h"
#include "timer_resolution.h"
#include "trace.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace vq31 {

// Counters of link health, kept for display and for tests.
struct LinkCounters {
    uint64_t requests = 0;
    uint64_t answers = 0;
    std::array<uint64_t, 10> statuses{}; // exchanges ended with each status code
};

// The record the caller and the port thread share; every field is guarded by LinkLock.
struct LinkState {
    uint32_t baudRate = 0;
    // Pending request (code 0 = nothing to send).
    int32_t pendingCode = 0;
    int32_t pendingAddress = 0;
    uint32_t pendingValue = 0;
    uint32_t pendingExtra1 = 0;
    uint32_t pendingExtra2 = 0;
    std::array<uint8_t, HubBlockSize> pendingBlock{};
    // Last accepted answer.
    int32_t answerAddress = 0;
    int32_t answerCode = 0;
    std::array<uint32_t, 7> answerValues{};
    std::array<uint8_t, HubBlockSize> answerBlock{};
    std::vector<uint8_t> oscillogramCopy = std::vector<uint8_t>(ReceiveBufferSize, 0);
    Status result = StatusOk;
    // The outcome of the last judged frame. Unlike result it is not overwritten when the
    // bytes of a following frame start to arrive, so a waiter woken by the answer event
    // always reads the outcome that woke it.
    Status reported = StatusOk;
    // Set by the first frame judged after a request went out: later frames (a stray byte, a
    // second answer) no longer replace the answer fields and reported, so the waiter takes
    // the outcome of the first one. Cleared when the next request is written.
    bool answerHeld = false;
    Status receiverState = StatusOk;
    Status writeResult = StatusOk;
    // When the last request was written and when the first frame after it was judged: the
    // round trip of a network link is measured from them.
    std::chrono::steady_clock::time_point sentAt{};
    std::chrono::steady_clock::time_point judgedAt{};
};

class DeviceLink {
public:
    // The port layer defaults to the platform's own; tests may hand in another.
    explicit DeviceLink(std::unique_ptr<SerialPort> port = MakeSerialPort());
    ~DeviceLink();
    DeviceLink(const DeviceLink&) = delete;
    DeviceLink& operator=(const DeviceLink&) = delete;

    // Opens the port by name (a device path, COM<n> on Windows, or a network gateway's
    // rfc2217://HOST:PORT or tcp://HOST:PORT, which picks the network transport) and starts
    // the port thread; any port still open is closed first. 0 on success, 1 on failure, when
    // OpenError() names the cause.
    int UartOpen(const std::string& portName, uint32_t baudRate);
    // Stops the port thread and closes the port. Safe when nothing is open. Returns 0.
    // Waits at most PortThreadStopWait for the port thread: a thread stuck inside a port call
    // (a driver that never returns) is left behind with the port it is using and ends as soon
    // as that call returns, without touching this link again; the link goes on with a fresh
    // port of the platform.
    int UartClose();
    static constexpr std::chrono::milliseconds PortThreadStopWait{2000};
    // How many port threads were left behind by UartClose, for display and for tests.
    uint64_t PortThreadsLeftBehind() const;
    bool IsOpen() const;
    // The open port's device has gone (unplugged); the port stays open until closed.
    bool PortVanished() const;
    std::string OpenError() const;
    // After a good open: what about the port may slow the link, with its fix (empty if all
    // is well).
    std::string OpenWarning() const;
    std::string PortName() const;
    uint32_t BaudRate() const;
    // What the open port's transport can do (the last one opened when none is open).
    PortAbilities Abilities() const;
    // On a network link: the round trip measured at connect, first by the transport (the
    // TCP handshake), then by the first answered exchange after the open (the identity read:
    // the time from the request written to the answer judged, less the wire time of request
    // and answer), the larger of the two. It is added to the wait for the first answer byte;
    // while nothing is measured that wait gets UnmeasuredRoundTrip more. Negative when not
    // measured (always on a local port).
    std::chrono::milliseconds RoundTrip() const;
    static constexpr std::chrono::milliseconds UnmeasuredRoundTrip{1000};

    // While interrupted every wait returns at once and every exchange ends with
    // StatusNoAnswer without sending anything (a request stored but not yet written is
    // dropped), so a thread inside an exchange can be stopped promptly and nothing more
    // reaches the device.
    void Interrupt(bool on);

    // Caller's side of one exchange.
    Status PrepareExchange();
    Status WaitForAnswer(uint32_t requestBytes, uint32_t answerBytes);

    // One whole exchange: prepare, store the request, wait with the budget sizes, take the
    // answer fields, verify address and code. copyFrame, when given, receives the
    // oscillogram frame copy after every wait that returned 0 (before verification).
    Status Exchange(const RequestFields& request, uint32_t requestBytes, uint32_t answerBytes,
                    AnswerFields& answer,
                    const std::function<void(const uint8_t*)>& copyFrame = {});

    // Hands every request, answer frame, silence and refused answer to the monitor, and
    // counts every exchange's outcome there (nullptr stops it). Safe at any time.
    void SetMonitor(std::shared_ptr<LinkMonitor> monitor);
    std::shared_ptr<LinkMonitor> Monitor() const;

    // The window in which an answer must show its first byte once the request is written
    // (AnswerByteWindow unless set). A bus census shortens it for the addresses where nothing
    // may answer; every later byte of an answer still has the whole window.
    void SetFirstByteWait(std::chrono::milliseconds wait);
    std::chrono::milliseconds FirstByteWait() const;
    // Time from the last request written to the first byte that came back after it, or
    // none when nothing came back after the last request.
    std::optional<std::chrono::microseconds> LastAnswerDelay() const;

    LinkCounters Counters() const;
    // A copy of the shared record, for tests.
    LinkState StateSnapshot() const;

private:
    struct PortRun;
    void PortThreadMain(const std::shared_ptr<PortRun>& run);
    void PortThread();
    // The port calls of the port thread, made outside its run lock (see PortRun).
    SerialPort::Read PortRead(uint8_t& byte, std::chrono::milliseconds timeout, bool wakeable);
    bool PortWrite(const uint8_t* data, size_t length, std::chrono::milliseconds limit);
    void PortPurge();
    void SendStep();
    void ReceiveStep(bool fresh);
    void ReportFrame(Status status);
    // Records what only the waiting side sees: a silence or a request never written.
    void TraceOutcome(const RequestFields& request, Status status,
                      std::chrono::steady_clock::time_point waitStart);

    FineTimerResolution timerResolution_;
    std::shared_ptr<SerialPort> port_;
    std::shared_ptr<PortRun> run_; // the running port thread's share; null when none runs
    uint64_t leftBehind_ = 0;
    mutable std::mutex linkLock_; // LinkLock
    LinkState state_;
    Event sentEvent_{Event::Reset::Manual};
    Event answerEvent_{Event::Reset::Manual};
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> interrupted_{false};
    std::atomic<int64_t> firstByteWaitMs_{AnswerByteWindow.count()};
    // When the last request was written and when the first byte after it came (linkLock_).
    std::chrono::steady_clock::time_point requestWritten_{};
    std::chrono::steady_clock::time_point firstByteAfter_{};
    std::string portName_;
    std::string openError_;
    std::string openWarning_;
    PortAbilities abilities_;                 // set at open, before the port thread runs
    std::chrono::milliseconds roundTrip_{-1}; // guarded by linkLock_
    bool roundTripMeasured_ = false;          // by an exchange; guarded by linkLock_
    Receiver receiver_;                       // used by the port thread only
    uint8_t transmit_[MaxRequestLength] = {};
    LinkCounters counters_;
    std::shared_ptr<LinkMonitor> monitor_; // guarded by linkLock_
};

} // namespace vq31
