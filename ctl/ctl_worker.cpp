// Worker commands of the tool: echo polling, the signal settings, the sweep, the tuning steps
// and the display test, each run through the worker's own jobs with a text view.
#include "ctl_worker_view.h"
#include "doctor.h"
#include "net_port.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <thread>

namespace vq31::ctl {

namespace {

using namespace std::chrono_literals;

// Generous bounds for the waits of one command.
constexpr auto JobLimit = 30s;
constexpr long long DefaultSeconds = 5;
// How often a poll run looks whether the device stopped answering.
constexpr auto PollCheckStep = 20ms;

// Whether the port's name is there again: a device path on POSIX, a COM port the registry's
// serial device map lists on Windows.
bool PortPresent(const std::string& port) {
#ifdef _WIN32
    std::string name = port;
    for (const char* prefix : {"\\\\.\\", "//./"})
        if (name.rfind(prefix, 0) == 0)
            name = name.substr(4);
    for (const PortInfo& p : ListSerialPorts())
        if (_stricmp(p.device.c_str(), name.c_str()) == 0)
            return true;
    return false;
#else
    std::error_code ec;
    return std::filesystem::exists(port, ec);
#endif
}

bool Seconds(const Options& o, long long& seconds) {
    seconds = DefaultSeconds;
    if (!OptionNumber(o.args, "--seconds", seconds))
        return false;
    if (seconds < 0 || seconds > 86400) {
        std::fprintf(stderr, "vq31ctl: --seconds must lie between 0 and 86400\n");
        return false;
    }
    return true;
}

int Poll(const Options& o) {
    long long seconds = 0, mode = 1;
    if (!Seconds(o, seconds) || !OptionNumber(o.args, "--mode", mode))
        return 2;
    if (mode < 0 || mode > 255) {
        std::fprintf(stderr, "vq31ctl: --mode must lie between 0 and 255\n");
        return 2;
    }
    // --reopen waits for an unplugged port to come back and reconnects; it goes on polling
    // through lost answers as --keep-going does.
    const bool reopen = HasFlag(o.args, "--reopen");
    const bool keepGoing = reopen || HasFlag(o.args, "--keep-going");
    WorkerSession s(o);
    s.view.oscillMode = int32_t(mode);
    if (!s.Connect())
        return 1;
    s.view.ResetFailures();
    const auto start = std::chrono::steady_clock::now();
    const auto end = start + std::chrono::seconds(seconds);
    // Without --keep-going the run ends at the first poll that got no good answer; with it
    // polling goes on as in the window, and a later good poll resumes the refreshes.
    size_t reconnects = 0;
    while (std::chrono::steady_clock::now() < end) {
        if (!keepGoing && s.view.FailedExchanges().count > 0)
            break;
        if (reopen && s.view.Count("ShowPortVanished") > reconnects) {
            // A gateway is back when it accepts a connection again.
            const auto back = [&] {
                return IsGatewayName(o.port) ? GatewayReachable(o.port) : PortPresent(o.port);
            };
            while (std::chrono::steady_clock::now() < end && !back())
                std::this_thread::sleep_for(PollCheckStep);
            if (std::chrono::steady_clock::now() >= end)
                break;
            ++reconnects;
            std::printf("port: %s is back at %s, reconnecting\n", o.port.c_str(),
                        WallClockText(std::chrono::system_clock::now()).c_str());
            s.worker.RequestReconnect(job::StartOscilloscope);
            s.worker.PostCommand(job::ReconnectDevice);
            continue;
        }
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            PollCheckStep, end - std::chrono::steady_clock::now()));
    }
    s.worker.PostCommand(job::None);
    std::printf("polls: %zu refreshes\n", s.view.Count("ShowEcho"));
    const TextView::Failures failed = s.view.FailedExchanges();
    if (failed.count > 0) {
        // Answers were lost either way; say whether the device came back after them.
        const char* exchanges = failed.count == 1 ? "exchange" : "exchanges";
        if (failed.answeredSince)
            std::fprintf(stderr,
                         "vq31ctl: %zu %s failed between %s and %s (first: %s); the device "
                         "answered again after each\n",
                         failed.count, exchanges, WallClockText(failed.first).c_str(),
                         WallClockText(failed.last).c_str(), failed.firstText.c_str());
        else
            std::fprintf(stderr,
                         "vq31ctl: the device stopped answering at %s: %s (%zu failed %s)\n",
                         WallClockText(failed.first).c_str(), failed.firstText.c_str(),
                         failed.count, exchanges);
        return 1;
    }
    return s.view.Errors() == 0 ? 0 : 1;
}

struct Setting {
    int32_t code;
    std::atomic<int32_t> CommandParameters::*field;
    long long lowest, highest;
};

int Set(const Options& o) {
    static const std::map<std::string, Setting> settings = {
        {"freq", {job::SetFrequency, &CommandParameters::PulseFrequency, 500, 4000}},
        {"filter", {job::SetFilter, &CommandParameters::FilterFrequency, 450, 4000}},
        {"gain", {job::SetGain, &CommandParameters::GainWord, 0, 0xFFFF}},
        {"atten", {job::SetAttenuator, &CommandParameters::Attenuation, 0, 255}},
        {"pulse", {job::SetPulseWidth, &CommandParameters::PulseWidth, 0, 200}},
        {"integrator", {job::SetIntegrator, &CommandParameters::IntegratorWord, 0, 0xFFFFFFFFL}},
    };
    const auto words = Positional(o.args);
    long long value = 0;
    const auto it = words.size() == 2 ? settings.find(words[0]) : settings.end();
    if (it == settings.end() || !ParseNumber(words[1], value) || value < it->second.lowest ||
        value > it->second.highest) {
        std::fprintf(stderr, "vq31ctl: set freq|filter|gain|atten|pulse|integrator VALUE "
                             "(within the setting's range)\n");
        return 2;
    }
    WorkerSession s(o);
    s.view.quietEcho = true;
    if (!s.Connect())
        return 1;
    const Setting& setting = it->second;
    if (setting.code == job::SetFrequency && Get(s.params.FilterFrequency) != 450)
        Put(s.params.FilterFrequency, int32_t(value)); // the filter follows the frequency
    Put(s.params.*setting.field, int32_t(value));
    const size_t echoes = s.view.Count("ShowEcho");
    if (!s.RunUntil(setting.code, job::PollEcho, JobLimit))
        return 1;
    // The next refresh carries the device's own value.
    s.view.quietEcho = false;
    s.view.WaitFor("ShowEcho", echoes + 2, 5s, false);
    return s.view.Errors() == 0 ? 0 : 1;
}

int Sweep(const Options& o) {
    long long step = 20, start = 2000, width = 1000;
    if (!OptionNumber(o.args, "--step", step) || !OptionNumber(o.args, "--start", start) ||
        !OptionNumber(o.args, "--width", width))
        return 2;
    if (step <= 0 || step > 3500) {
        std::fprintf(stderr, "vq31ctl: --step must lie between 1 and 3500\n");
        return 2;
    }
    WorkerSession s(o);
    s.view.quietEcho = true;
    if (!s.Connect())
        return 1;
    Put(s.params.AfcStep, int32_t(step));
    Put(s.params.AfcStart, int32_t(start));
    Put(s.params.AfcWidth, int32_t(width));
    if (!s.RunUntil(job::SweepFrequencyResponse, job::PollEcho, 600s))
        return 1;
    if (s.view.Count("AddSweepPoint") == 0) {
        std::fprintf(stderr, "vq31ctl: the sweep gave no point\n");
        return 1;
    }
    return s.view.Errors() == 0 ? 0 : 1;
}

int Tune(const Options& o) {
    const auto words = Positional(o.args);
    long long seconds = 0;
    if (words.size() != 1 || (words[0] != "1" && words[0] != "2") || !Seconds(o, seconds)) {
        std::fprintf(stderr, "vq31ctl: tune 1|2 [--seconds N]\n");
        return 2;
    }
    WorkerSession s(o);
    s.view.quietEcho = true;
    if (!s.Connect())
        return 1;
    const bool step1 = words[0] == "1";
    Put(s.params.TuneMode, int32_t(step1 ? TuneStep1Mode : TuneStep2Mode));
    s.worker.PostCommand(job::SetTuneMode);
    if (step1) {
        // Step 1 never ends by itself: watch it for a while, then return to measuring.
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        Put(s.params.TuneMode, 0);
        s.worker.PostCommand(job::SetTuneMode);
    } else {
        const bool done = s.view.WaitFor("ShowInformation", 1, 600s);
        if (!done && s.view.Errors() == 0)
            return 1;
    }
    // Back to measuring: one echo refresh after the mode write.
    const size_t echoes = s.view.Count("ShowEcho");
    s.view.WaitFor("ShowEcho", echoes + 1, JobLimit, false);
    return s.view.Errors() == 0 ? 0 : 1;
}

int Display(const Options& o) {
    const auto words = Positional(o.args);
    long long seconds = 0, mask = 0;
    const bool automatic = words.size() == 1 && words[0] == "auto";
    if (words.size() != 1 ||
        (!automatic && (!ParseNumber(words[0], mask) || mask < 0 || mask > 0xFFFFFFFFL)) ||
        !Seconds(o, seconds)) {
        std::fprintf(stderr, "vq31ctl: display auto|MASK [--seconds N]\n");
        return 2;
    }
    WorkerSession s(o);
    s.view.quietEcho = true;
    if (!s.Connect())
        return 1;
    if (!automatic)
        s.view.manualMask = uint32_t(mask);
    Put(s.params.DisplayTestPattern, 256); // the automatic walk starts here
    s.worker.PostCommand(job::TestDisplay);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    s.worker.PostCommand(job::PollEcho); // ends the test
    s.view.WaitFor("ShowEcho", s.view.Count("ShowEcho") + 1, JobLimit, false);
    return s.view.Errors() == 0 ? 0 : 1;
}

const bool registered =
    Register("poll",
             "poll [--seconds N] [--mode N] [--keep-going] [--reopen]  connect and print every "
             "echo refresh; exit 1 when the device stops answering (--reopen: an unplugged "
             "port is reconnected when it comes back)",
             &Poll,
             ArgRules().Flags({"--keep-going", "--reopen"}).Values({"--seconds", "--mode"})) &&
    Register("set", "set freq|filter|gain|atten|pulse|integrator VALUE  write one setting", &Set,
             ArgRules().Words(2, 2)) &&
    Register("sweep", "sweep [--step N] [--start N] [--width N]  frequency-response sweep", &Sweep,
             ArgRules().Values({"--step", "--start", "--width"})) &&
    Register("tune", "tune 1|2 [--seconds N]  automatic tuning step", &Tune,
             ArgRules().Values({"--seconds"}).Words(1, 1)) &&
    Register("display", "display auto|MASK [--seconds N]  display segment test", &Display,
             ArgRules().Values({"--seconds"}).Words(1, 1));

} // namespace
} // namespace vq31::ctl
