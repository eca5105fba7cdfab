// The tool's text view and worker session.
#include "ctl_worker_view.h"
#include "ctl_english.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace vq31::ctl {

using namespace std::chrono_literals;

void TextView::Note(const std::string& step) {
    {
        std::lock_guard lock(mutex_);
        ++counts_[step];
    }
    cv_.notify_all();
}

// HH:MM:SS.mmm of a wall-clock time, in local time.
std::string WallClockText(std::chrono::system_clock::time_point t) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(t);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &seconds);
#else
    localtime_r(&seconds, &local);
#endif
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()) % 1000;
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min,
                  local.tm_sec, int(ms.count()));
    return text;
}

bool TextView::WaitFor(const std::string& step, size_t count, std::chrono::milliseconds limit,
                       bool stopOnError) {
    std::unique_lock lock(mutex_);
    cv_.wait_for(lock, limit, [&] {
        return counts_[step] >= count || (stopOnError && counts_["ShowError"] > 0);
    });
    return counts_[step] >= count;
}

size_t TextView::Count(const std::string& step) {
    std::lock_guard lock(mutex_);
    return counts_[step];
}

size_t TextView::Errors() {
    return Count("ShowError");
}

void TextView::ShowPortStatus(int, const std::string& text) {
    std::printf("port: %s\n", text.c_str());
    Note("ShowPortStatus");
}

void TextView::ShowDeviceStatus(Status status, const std::string& text) {
    lastDeviceStatus_ = status;
    // Only changes: polling shows the same status many times a second.
    if (text != lastStatus_)
        std::printf("device: %s\n", text.c_str());
    lastStatus_ = text;
    {
        std::lock_guard lock(mutex_);
        const auto now = std::chrono::system_clock::now();
        if (status != StatusOk) {
            if (failures_.count++ == 0) {
                failures_.first = now;
                failures_.firstText = text;
            }
            failures_.last = now;
            failures_.answeredSince = false;
        } else if (failures_.count > 0) {
            failures_.answeredSince = true;
        }
    }
    Note("ShowDeviceStatus");
}

TextView::Failures TextView::FailedExchanges() {
    std::lock_guard lock(mutex_);
    return failures_;
}

void TextView::ResetFailures() {
    std::lock_guard lock(mutex_);
    failures_ = {};
}

void TextView::EnterOscilloscopePage() {
    std::printf("page: oscilloscope\n");
    Note("EnterOscilloscopePage");
}

void TextView::ShowPortVanished(const std::string& port) {
    std::printf("port: %s was unplugged at %s\n", port.c_str(),
                WallClockText(std::chrono::system_clock::now()).c_str());
    Note("ShowPortVanished");
}

void TextView::ShowDisconnected(const std::string& text) {
    std::printf("port: %s\n", text.c_str());
    Note("ShowDisconnected");
}

void TextView::ApplyFoundLink(uint32_t baudRate, uint32_t address) {
    std::printf("found: %u bit/s, address %u\n", baudRate, address);
    Note("ApplyFoundLink");
}

void TextView::ShowSignalSettings(const SignalSettings& s) {
    std::printf("settings: frequency %u, filter %u, gain word 0x%04X, attenuator %u, pulse %u, "
                "integrator 0x%08X\n",
                s.pulseFrequency, s.filterFrequency, s.gainWord, s.attenuation, s.pulseWidth,
                s.integratorWord);
    Note("ShowSignalSettings");
}

int32_t TextView::ReadOscillMode() {
    Note("ReadOscillMode");
    return oscillMode;
}

void TextView::ShowEcho(const EchoFrame& f) {
    if (!quietEcho) {
        std::printf("echo: F %s, filter %s, Ku %s, atten %s, pulse %s", f.labels.freq.c_str(),
                    f.labels.filter.c_str(), f.labels.ku.c_str(), f.labels.atten.c_str(),
                    f.labels.pulse.c_str());
        if (f.fields)
            std::printf(" | %s, pos %s, frame %s, corr %s, uncorr %s, %s mm, %s C",
                        f.fields->auth.c_str(), f.fields->pos.c_str(), f.fields->frame.c_str(),
                        f.fields->corr.c_str(), f.fields->uncorr.c_str(), f.fields->mm.c_str(),
                        f.fields->temp.c_str());
        if (!f.oscillogram.empty()) {
            const auto [lo, hi] = std::minmax_element(f.oscillogram.begin(), f.oscillogram.end());
            std::printf(" | %zu samples %d..%d", f.oscillogram.size(), *lo, *hi);
        }
        if (!f.envelope.empty()) {
            const auto peak = std::max_element(f.envelope.begin(), f.envelope.end());
            const auto high = std::count(f.envelopeHigh.begin(), f.envelopeHigh.end(), 1);
            std::printf(" | envelope peak %u at x %td, %td high", *peak,
                        10 * (peak - f.envelope.begin()), high);
        }
        std::printf("\n");
        std::fflush(stdout);
    }
    if (onEcho)
        onEcho(f);
    Note("ShowEcho");
}

void TextView::ShowTuneStep1(const TuneStep1View& v) {
    std::printf("tune step 1: %s, bar %d\n", v.text.c_str(), v.barPosition);
    std::fflush(stdout);
    Note("ShowTuneStep1");
}

void TextView::ShowTuneStep2(const std::string& text) {
    std::printf("tune step 2: %s\n", text.c_str());
    std::fflush(stdout);
    Note("ShowTuneStep2");
}

uint32_t TextView::BuildDisplayPattern(uint32_t runningMask) {
    const uint32_t mask = manualMask ? *manualMask : AdvanceDisplayPattern(runningMask);
    std::printf("display: mask %u (0x%05X)\n", mask, mask);
    std::fflush(stdout);
    Note("BuildDisplayPattern");
    return mask;
}

void TextView::AddSweepPoint(const SweepPoint& p) {
    std::printf("afc: %u %d\n", p.frequency, p.peak);
    std::fflush(stdout);
    Note("AddSweepPoint");
}

void TextView::ShowParameters(const ParameterView& v) {
    if (onParameters)
        onParameters(v);
    Note("ShowParameters");
}

ParameterChoice TextView::CollectParameters() {
    Note("CollectParameters");
    return parameterChoice;
}

void TextView::ApplyNewAddress(uint32_t address, uint32_t) {
    std::printf("address now %u\n", address);
    Note("ApplyNewAddress");
}

void TextView::ApplyNewSpeed(uint32_t baudRate, uint32_t) {
    std::printf("speed now %u bit/s\n", baudRate);
    Note("ApplyNewSpeed");
}

void TextView::ShowHubData(const HubView& v) {
    LoadCurrentTank(v);
    if (onHub)
        onHub(v);
    Note("ShowHubData");
}

HubChoice TextView::PrepareHubData() {
    Note("PrepareHubData");
    return hubChoice;
}

void TextView::ShowLevel(const LevelView& v) {
    if (!quietEcho)
        std::printf("level: %s\n", v.text.c_str());
    Note("ShowLevel");
}

void TextView::ShowError(const std::string& text) {
    std::printf("error: %s\n", text.c_str());
    std::fflush(stdout);
    Note("ShowError");
}

void TextView::ShowInformation(const std::string& text) {
    std::printf("information: %s\n", text.c_str());
    std::fflush(stdout);
    Note("ShowInformation");
}

bool TextView::AskYesNo(const std::string& text) {
    std::printf("question: %s -> %s\n", text.c_str(), answerYes ? "yes" : "no");
    Note("AskYesNo");
    return answerYes;
}

WorkerSession::WorkerSession(const Options& o)
    : options(o), texts(EnglishTexts()), worker(link, params, view, texts, hub) {
    link.SetMonitor(o.monitor);
    params.SetPortName(o.port);
    Put(params.BaudRate, int32_t(o.baud));
    Put(params.DeviceAddress, o.address);
    worker.SetSnapshotStore(&snapshots);
    worker.SetJobObserver([this](int32_t code) {
        {
            std::lock_guard lock(mutex_);
            ++taken_[code];
            lastTaken_[code] = ++sequence_;
        }
        cv_.notify_all();
    });
    worker.Start();
}

WorkerSession::~WorkerSession() {
    worker.PostCommand(job::None);
    worker.Stop();
    link.UartClose();
}

size_t WorkerSession::Taken(int32_t code) {
    std::lock_guard lock(mutex_);
    return taken_[code];
}

bool WorkerSession::RunUntil(int32_t code, int32_t follow, std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    const uint64_t start = sequence_;
    lock.unlock();
    worker.PostCommand(code);
    lock.lock();
    // The code itself must have run, and follow after it: a follow code taken before (a poll
    // that was running when the code was posted) does not count.
    return cv_.wait_for(lock, limit, [&] {
        const uint64_t ran = lastTaken_[code];
        return ran > start && lastTaken_[follow] > ran;
    });
}

bool WorkerSession::Connect() {
    worker.PostCommand(job::ConnectDevice);
    return view.WaitFor("ShowEcho", 1, 10s);
}

bool WorkerSession::OpenPort() {
    if (link.UartOpen(options.port, options.baud) != 0) {
        std::fprintf(stderr, "vq31ctl: %s\n", link.OpenError().c_str());
        return false;
    }
    return true;
}

} // namespace vq31::ctl
