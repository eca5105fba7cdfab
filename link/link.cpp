// Port thread and exchange logic of the device link.
#include "link.h"
#include "doctor.h"
#include "net_port.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <system_error>

namespace vq31 {

// What a port thread shares with its link and keeps when it is left behind. The thread runs
// every step of its own while holding runLock and lets go of it only around a port call, so
// the link can take the lock (and mark the thread left behind) only while the thread is
// inside a port call or has ended. A thread that comes back from a port call and finds
// itself left behind leaves at once through LeftBehind, closing the port it kept alive,
// and never again touches the link, which may be gone by then.
struct DeviceLink::PortRun {
    std::mutex runLock;
    bool leftBehind = false; // guarded by runLock
    std::shared_ptr<SerialPort> port;
    std::vector<uint8_t> frame; // the frame being written, owned here so a stuck write keeps it

    std::mutex endLock;
    std::condition_variable endCv;
    bool ended = false;

    bool WaitEnded(std::chrono::milliseconds limit) {
        std::unique_lock lock(endLock);
        return endCv.wait_for(lock, limit, [&] { return ended; });
    }
    void End() {
        {
            std::lock_guard lock(endLock);
            ended = true;
        }
        endCv.notify_all();
    }
};

namespace {
// Unwinds a left-behind port thread out of the link's steps to its outermost frame.
struct LeftBehind {};

// The run is taken by value: the link may drop its own pointer to it during the call.
template <typename Run, typename Call> auto OutsideRunLock(std::shared_ptr<Run> run, Call call) {
    run->runLock.unlock();
    auto result = call(*run->port);
    run->runLock.lock();
    if (run->leftBehind)
        throw LeftBehind{};
    return result;
}
} // namespace

DeviceLink::DeviceLink(std::unique_ptr<SerialPort> port) : port_(std::move(port)) {}

DeviceLink::~DeviceLink() {
    UartClose();
}

int DeviceLink::UartOpen(const std::string& portName, uint32_t baudRate) {
    UartClose();
    // A gateway's name takes the network transport, any other name the platform's port (a
    // port handed in by a test stays as long as the names it is given are of its kind).
    const bool network = IsGatewayName(portName);
    if (network != port_->Abilities().network)
        port_ = MakePortFor(portName);
    {
        std::lock_guard lock(linkLock_);
        portName_ = portName;
        openError_.clear();
        openWarning_.clear();
        roundTrip_ = std::chrono::milliseconds(-1);
        roundTripMeasured_ = false;
    }
    if (!port_->Open(portName, baudRate)) {
        // The doctor tells a missing device, a permission, a busy port and a prober apart; a
        // gateway's transport names the cause itself.
        const std::string cause =
            network ? port_->error()
                    : DiagnoseOpenFailure(portName, port_->errorNumber(), port_->error()).message;
        std::lock_guard lock(linkLock_);
        openError_ = cause;
        abilities_ = port_->Abilities();
        return 1;
    }
    {
        std::lock_guard lock(linkLock_);
        abilities_ = port_->Abilities();
        roundTrip_ = port_->OpenRoundTrip();
    }
    if (std::string warning = network ? std::string() : TuneLatency(portName); !warning.empty()) {
        std::lock_guard lock(linkLock_);
        openWarning_ = std::move(warning);
    }
    port_->Purge();
    stop_ = false;
    sentEvent_.Clear();
    answerEvent_.Clear();
    {
        std::lock_guard lock(linkLock_);
        state_.baudRate = baudRate;
        state_.pendingCode = 0;
    }
    run_ = std::make_shared<PortRun>();
    run_->port = port_;
    try {
        thread_ = std::thread([this, run = run_] { PortThreadMain(run); });
    } catch (const std::system_error& e) {
        run_.reset();
        std::lock_guard lock(linkLock_);
        openError_ = std::string("cannot start the port thread: ") + e.what();
        return 1; // the port stays open until the next close, as a failed start leaves it
    }
    return 0;
}

int DeviceLink::UartClose() {
    stop_ = true;
    port_->Wake();
    // Every blocking call of the port thread is bounded (a read by the idle time-out, a
    // write by its wire time plus 500 ms), so the thread normally ends well within the wait;
    // only a driver that does not keep its time-outs makes the thread stay behind.
    if (thread_.joinable()) {
        if (run_->WaitEnded(PortThreadStopWait)) {
            thread_.join();
        } else {
            {
                std::lock_guard lock(run_->runLock);
                run_->leftBehind = true;
            }
            thread_.detach();
            port_ = MakeSerialPort();
            std::lock_guard lock(linkLock_);
            ++leftBehind_;
        }
    }
    run_.reset();
    port_->Close();
    sentEvent_.Clear();
    answerEvent_.Clear();
    return 0;
}

bool DeviceLink::IsOpen() const {
    return port_->IsOpen();
}

bool DeviceLink::PortVanished() const {
    return port_->Vanished();
}

std::string DeviceLink::OpenError() const {
    std::lock_guard lock(linkLock_);
    return openError_;
}

std::string DeviceLink::OpenWarning() const {
    std::lock_guard lock(linkLock_);
    return openWarning_;
}

std::string DeviceLink::PortName() const {
    std::lock_guard lock(linkLock_);
    return portName_;
}

uint32_t DeviceLink::BaudRate() const {
    std::lock_guard lock(linkLock_);
    return state_.baudRate;
}

PortAbilities DeviceLink::Abilities() const {
    std::lock_guard lock(linkLock_);
    return abilities_;
}

std::chrono::milliseconds DeviceLink::RoundTrip() const {
    std::lock_guard lock(linkLock_);
    return roundTrip_;
}

void DeviceLink::Interrupt(bool on) {
    {
        std::lock_guard lock(linkLock_);
        interrupted_ = on;
        if (on)
            state_.pendingCode = 0; // not yet written: it never goes out
    }
    sentEvent_.Interrupt(on);
    answerEvent_.Interrupt(on);
}

uint64_t DeviceLink::PortThreadsLeftBehind() const {
    std::lock_guard lock(linkLock_);
    return leftBehind_;
}

void DeviceLink::PortThreadMain(const std::shared_ptr<PortRun>& run) {
    {
        std::unique_lock lock(run->runLock);
        try {
            PortThread();
        } catch (const LeftBehind&) {
            run->port->Close();
        }
    }
    run->End();
}

SerialPort::Read DeviceLink::PortRead(uint8_t& byte, std::chrono::milliseconds timeout,
                                      bool wakeable) {
    // byte lives on this thread's stack, which stays valid while a left-behind read lasts.
    return OutsideRunLock(run_,
                          [&](SerialPort& port) { return port.ReadByte(byte, timeout, wakeable); });
}

bool DeviceLink::PortWrite(const uint8_t* data, size_t length, std::chrono::milliseconds limit) {
    run_->frame.assign(data, data + length);
    return OutsideRunLock(run_, [&, run = run_](SerialPort& port) {
        return port.Write(run->frame.data(), run->frame.size(), limit);
    });
}

void DeviceLink::PortPurge() {
    OutsideRunLock(run_, [](SerialPort& port) {
        port.Purge();
        return true;
    });
}

void DeviceLink::PortThread() {
    // The first receive step after an open always waits out one whole idle time-out, even
    // when the line was found idle before the close: the device may still be settling (for
    // example changing its speed), so the first request leaves no earlier than that.
    bool fresh = true;
    while (!stop_) {
        if (!fresh)
            SendStep();
        if (stop_)
            break;
        ReceiveStep(fresh);
        fresh = false;
    }
}

void DeviceLink::SendStep() {
    RequestFields request;
    std::array<uint8_t, HubBlockSize> block;
    {
        std::lock_guard lock(linkLock_);
        if (state_.pendingCode == 0 || state_.receiverState != StatusNoAnswer)
            return; // nothing to send, or the line has not yet been found idle
        request.code = uint8_t(state_.pendingCode);
        request.address = uint8_t(state_.pendingAddress);
        request.value = state_.pendingValue;
        request.extra1 = state_.pendingExtra1;
        request.extra2 = state_.pendingExtra2;
        block = state_.pendingBlock;
        state_.pendingCode = 0;
    }
    request.block = block.data();
    PortPurge(); // leftovers of an earlier answer are dropped
    const size_t length = BuildRequest(request, transmit_);
    if (length == 0)
        return; // no layout: nothing is written and the caller's wait ends with 7
    uint32_t baud;
    {
        std::lock_guard lock(linkLock_);
        baud = state_.baudRate;
    }
    // A report made before this request goes out belongs to bytes of an earlier frame (a
    // late or trailing answer); it must not be taken as the answer to this request.
    {
        std::lock_guard lock(linkLock_);
        state_.answerHeld = false;
    }
    answerEvent_.Clear();
    const auto limit = std::chrono::milliseconds(ExchangeBudgetMs(uint32_t(length), baud));
    const bool written = PortWrite(transmit_, length, limit);
    std::shared_ptr<LinkMonitor> monitor;
    {
        std::lock_guard lock(linkLock_);
        state_.writeResult = written ? StatusOk : StatusWriteError;
        state_.sentAt = std::chrono::steady_clock::now();
        requestWritten_ = state_.sentAt;
        firstByteAfter_ = {};
        ++counters_.requests;
        monitor = monitor_;
    }
    // Recorded before the waiter is released, so the request always precedes its answer.
    if (monitor && written)
        monitor->RecordFrame(TraceKind::Request, StatusOk, transmit_, length);
    sentEvent_.Set();
}

void DeviceLink::ReceiveStep(bool fresh) {
    receiver_.Reset();
    std::chrono::milliseconds idle;
    bool lineIdle;
    {
        std::lock_guard lock(linkLock_);
        idle = IdleTimeout(state_.baudRate);
        lineIdle = !fresh && state_.receiverState == StatusNoAnswer;
    }
    // Inside an answer a gateway's link tolerates a longer silence (its buffering and the
    // network's jitter); the silence that marks the line idle stays the idle time-out, since
    // the gap at the gateway's wire is then longer still by the round trip.
    const std::chrono::milliseconds inside = idle + abilities_.silenceSlack;
    while (!stop_) {
        uint8_t byte = 0;
        // Once the line has been found idle, a new request may cut the wait for the first
        // byte short: the idle time-out since the last answer has already passed.
        const bool wakeable = lineIdle && receiver_.count() == 0;
        const SerialPort::Read r = PortRead(byte, receiver_.count() == 0 ? idle : inside, wakeable);
        if (r != SerialPort::Read::Byte) {
            if (receiver_.Silence() == Receiver::Event::Idle) {
                std::lock_guard lock(linkLock_);
                state_.receiverState = StatusNoAnswer;
                return;
            }
            ReportFrame(receiver_.status());
            return;
        }
        if (receiver_.count() == 0) {
            std::lock_guard lock(linkLock_);
            state_.result = StatusReceiving;
            if (firstByteAfter_ == std::chrono::steady_clock::time_point{})
                firstByteAfter_ = std::chrono::steady_clock::now();
        }
        if (receiver_.Feed(byte) == Receiver::Event::Report) {
            ReportFrame(receiver_.status());
            return;
        }
    }
}

void DeviceLink::ReportFrame(Status status) {
    std::shared_ptr<LinkMonitor> monitor;
    {
        std::lock_guard lock(linkLock_);
        monitor = monitor_;
    }
    if (monitor)
        monitor->RecordFrame(receiver_.accepted() ? TraceKind::Answer : TraceKind::Broken, status,
                             receiver_.buffer(), receiver_.lastLength());
    {
        std::lock_guard lock(linkLock_);
        state_.result = status;
        state_.receiverState = status;
        if (receiver_.accepted())
            ++counters_.answers;
        // The first judged frame after the request stands until the next request: a trailing
        // byte or frame judged microseconds later must not change the answer the waiter is
        // about to take (a good acknowledgement read back as a bad answer).
        if (state_.answerHeld)
            return;
        state_.answerHeld = true;
        state_.judgedAt = std::chrono::steady_clock::now();
        if (receiver_.accepted()) {
            const AnswerFields& f = receiver_.fields();
            state_.answerAddress = f.address;
            state_.answerCode = f.code;
            const AnswerKind kind = AnswerKindOf(f.code);
            if (kind == AnswerKind::Oscillogram) {
                state_.answerValues[0] = f.values[0];
                std::memcpy(state_.oscillogramCopy.data(), receiver_.buffer(), ReceiveBufferSize);
            } else {
                state_.answerValues = f.values;
                if (kind == AnswerKind::Block)
                    state_.answerBlock = f.block;
            }
        }
        state_.reported = status;
    }
    answerEvent_.Set();
}

Status DeviceLink::PrepareExchange() {
    if (!port_->IsOpen())
        return StatusPortError;
    if (interrupted_)
        return StatusNoAnswer;
    sentEvent_.Clear();
    answerEvent_.Clear();
    return StatusOk;
}

Status DeviceLink::WaitForAnswer(uint32_t requestBytes, uint32_t answerBytes) {
    uint32_t baud;
    std::chrono::milliseconds roundTrip{0};
    {
        std::lock_guard lock(linkLock_);
        baud = state_.baudRate;
        if (abilities_.network)
            roundTrip = roundTrip_.count() >= 0 ? roundTrip_ : UnmeasuredRoundTrip;
    }
    // A network link's round trip delays the first answer byte by as much.
    const auto firstByteWindow = AnswerByteWindow + roundTrip;
    const auto sendBudget = std::chrono::milliseconds(ExchangeBudgetMs(requestBytes, baud));
    const auto answerBudget =
        std::chrono::milliseconds(ExchangeBudgetMs(answerBytes, baud)) + roundTrip;
    if (!sentEvent_.WaitFor(sendBudget))
        return interrupted_ ? StatusNoAnswer : StatusWriteError;
    {
        std::lock_guard lock(linkLock_);
        if (state_.writeResult != StatusOk)
            return state_.writeResult;
    }
    const auto start = std::chrono::steady_clock::now();
    // The first window waits for the answer's first byte; once bytes arrive, each further
    // window is the whole one.
    auto window =
        std::min(FirstByteWait(), std::chrono::milliseconds(AnswerByteWindow)) + roundTrip;
    for (;;) {
        if (std::chrono::steady_clock::now() - start >= answerBudget)
            return StatusNoAnswer;
        const bool answered = answerEvent_.WaitFor(window);
        window = firstByteWindow;
        if (answered) {
            std::lock_guard lock(linkLock_);
            return state_.reported;
        }
        if (interrupted_)
            return StatusNoAnswer;
        std::lock_guard lock(linkLock_);
        if (state_.result != StatusReceiving)
            return StatusNoAnswer;
    }
}

Status DeviceLink::Exchange(const RequestFields& request, uint32_t requestBytes,
                            uint32_t answerBytes, AnswerFields& answer,
                            const std::function<void(const uint8_t*)>& copyFrame) {
    Status status = PrepareExchange();
    if (status == StatusOk) {
        bool lineIdle = false;
        bool stored = false;
        {
            std::lock_guard lock(linkLock_);
            // Checked under the lock Interrupt takes, so no request is stored after it.
            if (!interrupted_) {
                stored = true;
                state_.pendingAddress = request.address;
                state_.pendingValue = request.value;
                state_.pendingExtra1 = request.extra1;
                state_.pendingExtra2 = request.extra2;
                if (request.block)
                    std::memcpy(state_.pendingBlock.data(), request.block, HubBlockSize);
                state_.pendingCode = request.code;
                lineIdle = state_.receiverState == StatusNoAnswer;
            }
        }
        if (lineIdle)
            port_->Wake();
        const auto waitStart = std::chrono::steady_clock::now();
        status = stored ? WaitForAnswer(requestBytes, answerBytes) : StatusNoAnswer;
        if (stored && !interrupted_)
            TraceOutcome(request, status, waitStart);
        if (status == StatusOk) {
            {
                std::lock_guard lock(linkLock_);
                answer.address = uint8_t(state_.answerAddress);
                answer.code = uint8_t(state_.answerCode);
                answer.values = state_.answerValues;
                answer.block = state_.answerBlock;
                status = state_.reported;
                state_.answerCode = 0;
                if (abilities_.network && !roundTripMeasured_ && status == StatusOk) {
                    const auto wire = std::chrono::milliseconds(
                        WireMilliseconds(requestBytes + answerBytes, state_.baudRate));
                    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
                        state_.judgedAt - state_.sentAt);
                    roundTrip_ = std::max({std::chrono::milliseconds(0), roundTrip_, took - wire});
                    roundTripMeasured_ = true;
                }
                if (copyFrame)
                    copyFrame(state_.oscillogramCopy.data());
            }
            if ((request.address != BroadcastAddress && answer.address != request.address) ||
                answer.code != request.code) {
                status = StatusBadAnswer;
                if (const auto monitor = Monitor())
                    monitor->RecordRejected(request.code, request.address, answer.code,
                                            answer.address);
            }
        }
    }
    std::shared_ptr<LinkMonitor> monitor;
    {
        std::lock_guard lock(linkLock_);
        ++counters_.statuses[size_t(status) < counters_.statuses.size() ? size_t(status) : 9];
        monitor = monitor_;
    }
    // An exchange cut off by an interrupt (the tool or window ending) is no exchange with the
    // device: the link-health counters leave it out, as the trace does.
    if (monitor && !interrupted_)
        monitor->CountExchange(status);
    return status;
}

void DeviceLink::TraceOutcome(const RequestFields& request, Status status,
                              std::chrono::steady_clock::time_point waitStart) {
    const auto monitor = Monitor();
    if (!monitor)
        return;
    // Broken frames and good answers are recorded by the port thread as they are judged;
    // what only the waiting side sees is a silence or a request that never went out.
    if (status == StatusNoAnswer) {
        const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - waitStart);
        monitor->RecordSilence(request.code, request.address, uint32_t(waited.count()));
    } else if (status == StatusWriteError) {
        monitor->RecordWriteError(request.code, request.address);
    }
}

void DeviceLink::SetFirstByteWait(std::chrono::milliseconds wait) {
    firstByteWaitMs_ = std::clamp<int64_t>(wait.count(), 1, AnswerByteWindow.count());
}

std::chrono::milliseconds DeviceLink::FirstByteWait() const {
    return std::chrono::milliseconds(firstByteWaitMs_.load());
}

std::optional<std::chrono::microseconds> DeviceLink::LastAnswerDelay() const {
    std::lock_guard lock(linkLock_);
    if (firstByteAfter_ == std::chrono::steady_clock::time_point{} ||
        requestWritten_ == std::chrono::steady_clock::time_point{})
        return std::nullopt;
    return std::chrono::duration_cast<std::chrono::microseconds>(firstByteAfter_ - requestWritten_);
}

void DeviceLink::SetMonitor(std::shared_ptr<LinkMonitor> monitor) {
    std::lock_guard lock(linkLock_);
    monitor_ = std::move(monitor);
}

std::shared_ptr<LinkMonitor> DeviceLink::Monitor() const {
    std::lock_guard lock(linkLock_);
    return monitor_;
}

LinkCounters DeviceLink::Counters() const {
    std::lock_guard lock(linkLock_);
    return counters_;
}

LinkState DeviceLink::StateSnapshot() const {
    std::lock_guard lock(linkLock_);
    return state_;
}

} // namespace vq31
