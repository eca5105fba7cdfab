// Writes from the tool: signal handling around a write transaction and the printed outcome.
// The signal state is process-wide by nature (a handler has nowhere else to put it): a count
// of signals, the time of the first, and the restore line ready to be written by the handler
// with async-signal-safe calls only.
#include "ctl_write.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace vq31::ctl {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto SecondSignalWindow = std::chrono::seconds(2);

std::atomic<int> signalCount{0};
std::atomic<int64_t> firstSignalNs{0};
char restoreLine[2048] = "";
std::atomic<size_t> restoreLineLength{0};

void OnSignal(int) {
    const int64_t now =
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
            .count();
    const int count = signalCount.fetch_add(1) + 1;
    if (count > 1 &&
        now - firstSignalNs.load() <= std::chrono::nanoseconds(SecondSignalWindow).count()) {
        const size_t length = restoreLineLength.load();
#ifdef _WIN32
        _write(2, restoreLine, unsigned(length));
#else
        [[maybe_unused]] const auto written = write(2, restoreLine, length);
#endif
        _exit(1);
    }
    // The first signal, or one after the window (which counts as a first one again).
    firstSignalNs = now;
    signalCount = 1;
}

using Handler = void (*)(int);
Handler previousInt = SIG_DFL;
Handler previousTerm = SIG_DFL;

std::string Quoted(const std::string& word) {
    if (!word.empty() && word.find_first_of(" \t'\"\\$`;&|<>()*?[]#~") == std::string::npos)
        return word;
    std::string out = "'";
    for (char c : word)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string RestoreHint(const Options& o, uint32_t baud, uint8_t address, const WriteOutcome& w) {
    if (w.snapshot.empty())
        return {};
    return "vq31ctl: put the earlier state back with: " +
           RestoreCommand(o, baud, address, w.snapshot, !w.settingsWritten.empty()) + "\n";
}

} // namespace

WriteSignals::WriteSignals() {
    signalCount = 0;
    restoreLineLength = 0;
    previousInt = std::signal(SIGINT, OnSignal);
    previousTerm = std::signal(SIGTERM, OnSignal);
}

WriteSignals::~WriteSignals() {
    std::signal(SIGINT, previousInt == SIG_ERR ? SIG_DFL : previousInt);
    std::signal(SIGTERM, previousTerm == SIG_ERR ? SIG_DFL : previousTerm);
}

bool WriteSignals::StopRequested() {
    return signalCount.load() > 0;
}

void WriteSignals::SetRestoreLine(const std::string& line) {
    restoreLineLength = 0;
    const size_t length = std::min(line.size(), sizeof restoreLine - 1);
    std::memcpy(restoreLine, line.data(), length);
    restoreLine[length] = '\0';
    restoreLineLength = length;
}

std::string RestoreCommand(const Options& o, uint32_t baud, uint8_t address,
                           const std::filesystem::path& snapshot, bool withSettings) {
    return "vq31ctl --port " + Quoted(o.port) + " --baud " + std::to_string(baud) + " --address " +
           std::to_string(address) + " snapshot restore " + Quoted(snapshot.string()) +
           (withSettings ? " --params" : "");
}

RestoreFollow ToolFollow(DeviceLink& link, const Options& o, uint32_t& baud) {
    RestoreFollow follow;
    follow.followAddress = [](uint8_t a) { std::printf("address now %u\n", a); };
    follow.followSpeed = [&link, &o, &baud](uint32_t speed) {
        std::printf("speed now %u bit/s\n", speed);
        baud = speed;
        link.UartOpen(o.port, speed);
    };
    return follow;
}

WriteContext ToolWriteContext(const Options& o, const SnapshotStore& store, uint32_t baud,
                              const uint8_t& address, bool withSettings) {
    WriteContext context;
    context.store = &store;
    context.stop = &WriteSignals::StopRequested;
    context.snapshotSaved = [&o, baud, &address, withSettings](const std::filesystem::path& f) {
        std::printf("snapshot before the write: %s\n", f.string().c_str());
        std::fflush(stdout);
        WriteSignals::SetRestoreLine("vq31ctl: ended at once; the device may hold part of the "
                                     "write. Put the earlier state back with: " +
                                     RestoreCommand(o, baud, address, f, withSettings) + "\n");
    };
    return context;
}

int ReportWrite(const Options& o, uint32_t baud, uint8_t address, const WriteOutcome& w,
                const std::string& done) {
    const std::string restore = RestoreHint(o, baud, address, w);
    if (w.stopEnd == StopEnd::Finished && w.end == WriteEnd::Written) {
        std::printf("stopped by a signal: the rest of the image was written (%zu pages in all) "
                    "and read back; the device holds the new image whole\n",
                    w.pagesTotal);
        return 1;
    }
    switch (w.end) {
    case WriteEnd::Written:
        std::printf("%s\n", done.c_str());
        return 0;
    case WriteEnd::Unchanged:
        std::printf("the device already holds this; nothing was written\n");
        return 0;
    case WriteEnd::Declined:
        std::fprintf(stderr, "vq31ctl: nothing written\n");
        return 1;
    case WriteEnd::PutBack:
        std::printf("stopped by a signal: the %zu pages written went back to what they were and "
                    "were read back; the device holds what it held before\n",
                    w.pagesPutBack);
        return 1;
    case WriteEnd::NothingWritten:
        if (!w.snapshotError.empty())
            std::fprintf(stderr, "vq31ctl: the snapshot could not be saved: %s; nothing written\n",
                         w.snapshotError.c_str());
        else {
            if (w.status != StatusOk)
                ReportStatus(w.status);
            std::fprintf(stderr, "vq31ctl: nothing written%s\n",
                         w.pagesTotal > 0 ? " (no hub page was written)" : "");
        }
        return 1;
    case WriteEnd::ReadBackFailed:
        if (w.readBackStatus != StatusOk) {
            std::fprintf(stderr, "vq31ctl: the write could not be read back\n");
            ReportStatus(w.readBackStatus);
        } else {
            std::fprintf(stderr,
                         "vq31ctl: the device does not hold what was written; "
                         "different: %s\n",
                         JoinFields(w.readBackDiffers).c_str());
        }
        std::fprintf(stderr, "%s", restore.c_str());
        return 1;
    case WriteEnd::PartWritten:
        break;
    }
    if (w.status != StatusOk)
        ReportStatus(w.status);
    if (w.stopEnd == StopEnd::Incomplete)
        std::fprintf(stderr, "vq31ctl: stopped by a signal, and the transfer could not be "
                             "finished or put back\n");
    if (w.pagesWritten > 0 && w.pagesWritten < w.pagesTotal)
        std::fprintf(stderr,
                     "vq31ctl: %zu of %zu hub pages were written: the device holds the start of "
                     "the new image and the end of the old one\n",
                     w.pagesWritten, w.pagesTotal);
    else if (w.pagesWritten == 0 && (w.tankIdWritten || w.heightWritten))
        std::fprintf(stderr, "vq31ctl: the tank id%s was written; the hub image is the old one\n",
                     w.heightWritten ? " and height" : "");
    if (!w.settingsWritten.empty())
        std::fprintf(stderr, "vq31ctl: settings stored before the failure: %s\n",
                     JoinFields(w.settingsWritten).c_str());
    std::fprintf(stderr, "%s", restore.c_str());
    return 1;
}

int WriteHubOnLink(const Options& o, DeviceLink& link, const HubWrite& write,
                   const std::string& done) {
    const SnapshotStore store;
    const uint8_t address = o.address;
    WriteSignals signals;
    WriteOutcome outcome = WriteHubTransaction(link, address, write,
                                               ToolWriteContext(o, store, o.baud, address, false));
    EndInterruptedWrite(link, address, outcome);
    return ReportWrite(o, o.baud, address, outcome, done);
}

} // namespace vq31::ctl
