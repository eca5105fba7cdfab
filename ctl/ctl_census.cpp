// vq31ctl census and readdress: every sensor on the line with the addresses where two or
// more answer at once, and moving one sensor to a free address with a snapshot first and the
// serial number read back at the new address.
#include "census.h"
#include "ctl.h"
#include "device_ops.h"
#include "link.h"
#include "net_port.h"
#include "readdress.h"
#include "snapshot.h"
#include "status_texts.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <string>
#include <unistd.h>

namespace vq31::ctl {

namespace {

volatile std::sig_atomic_t interrupted = 0;

void OnInterrupt(int) {
    interrupted = 1;
}

// Ctrl-C ends the census after the address being asked; the handler is put back after.
class InterruptScope {
public:
    InterruptScope() {
        interrupted = 0;
        previous_ = std::signal(SIGINT, OnInterrupt);
    }
    ~InterruptScope() { std::signal(SIGINT, previous_); }
    InterruptScope(const InterruptScope&) = delete;
    InterruptScope& operator=(const InterruptScope&) = delete;

private:
    void (*previous_)(int) = SIG_DFL;
};

// "all" or a comma-separated list of the seven line speeds; false with a message otherwise.
bool ParseSpeeds(const std::string& text, std::vector<uint32_t>& speeds) {
    speeds.clear();
    if (text == "all") {
        speeds.assign(CensusSpeeds.begin(), CensusSpeeds.end());
        return true;
    }
    std::string item;
    for (const char c : text + ",") {
        if (c != ',') {
            item += c;
            continue;
        }
        long long n = 0;
        if (!ParseNumber(item, n) ||
            std::find(CensusSpeeds.begin(), CensusSpeeds.end(), uint32_t(n)) ==
                CensusSpeeds.end() ||
            n < 0) {
            std::fprintf(stderr,
                         "vq31ctl census: --speeds takes all or speeds among 2400 4800 9600 "
                         "19200 38400 57600 115200, not '%s'\n",
                         item.c_str());
            return false;
        }
        if (std::find(speeds.begin(), speeds.end(), uint32_t(n)) == speeds.end())
            speeds.push_back(uint32_t(n));
        item.clear();
    }
    return !speeds.empty();
}

bool AddressOption(const Options& o, const char* name, uint8_t& address) {
    long long n = address;
    if (!OptionNumber(o.args, name, n))
        return false;
    if (n < 0 || n > 254) {
        std::fprintf(stderr, "vq31ctl census: %s must be 0..254\n", name);
        return false;
    }
    address = uint8_t(n);
    return true;
}

int Census(const Options& o) {
    CensusOptions options;
    options.speeds = {o.baud};
    if (const auto speeds = OptionText(o.args, "--speeds");
        speeds && !ParseSpeeds(*speeds, options.speeds))
        return 2;
    if (!AddressOption(o, "--from", options.from) || !AddressOption(o, "--to", options.to))
        return 2;
    // A raw TCP gateway talks at its own speed only: the census asks that speed and says so.
    if (!AbilitiesOfPort(o.port).changeSpeed &&
        (options.speeds.size() != 1 || options.speeds[0] != o.baud)) {
        std::printf("%s: a raw TCP gateway keeps its own speed; only %u bit/s is asked\n",
                    o.port.c_str(), o.baud);
        options.speeds = {o.baud};
    }
    if (options.from > options.to) {
        std::fprintf(stderr, "vq31ctl census: --from must not lie above --to\n");
        return 2;
    }
    DeviceLink link;
    link.SetMonitor(o.monitor);
    const bool showProgress = ::isatty(STDERR_FILENO) == 1;
    InterruptScope scope;
    const CensusResult r = RunCensus(
        link, o.port, options,
        [&](const CensusProgress& p) {
            if (showProgress)
                std::fprintf(stderr, "\r%u bit/s, address %3u: %3zu%%, about %lld s left   ",
                             p.speed, p.address, p.total ? p.done * 100 / p.total : 100,
                             (long long)((p.left.count() + 999) / 1000));
        },
        [] { return interrupted != 0; });
    if (showProgress)
        std::fprintf(stderr, "\r%60s\r", "");
    for (const CensusSensor& s : r.sensors)
        std::printf("address %u speed %u serial %06u model %u firmware %s\n", s.address, s.speed,
                    s.identity.serialNumber, s.identity.model,
                    FirmwareText(s.identity.firmwareVersion).c_str());
    for (const CensusCollision& c : r.collisions)
        std::printf("address %u speed %u: collision\n", c.address, c.speed);
    for (const CensusSpeedTiming& t : r.timing)
        if (t.noisy)
            std::fprintf(stderr,
                         "vq31ctl census: %u bit/s: garbled answers at many addresses (noise on "
                         "the line, or sensors at another speed); no collisions named\n",
                         t.speed);
    std::printf("found %zu sensors, %zu collisions in %.1f s\n", r.sensors.size(),
                r.collisions.size(), double(r.elapsed.count()) / 1000.0);
    if (r.portFailed) {
        std::fprintf(stderr, "vq31ctl: cannot open port %s: %s\n", o.port.c_str(),
                     r.portError.c_str());
        return 1;
    }
    if (r.cancelled) {
        std::fprintf(stderr, "vq31ctl census: interrupted; the list above is what was found\n");
        return 1;
    }
    return 0;
}

int Readdress(const Options& o) {
    const std::vector<std::string> words = Positional(o.args);
    long long from = 0, to = 0;
    if (words.size() != 2 || !ParseNumber(words[0], from) || !ParseNumber(words[1], to) ||
        from < 0 || from > 254 || to < 0 || to > 254) {
        std::fprintf(stderr, "vq31ctl readdress: FROM and TO are bus addresses 0..254\n");
        return 2;
    }
    DeviceLink link;
    if (!OpenLink(link, o))
        return 1;
    const SnapshotStore store;
    const SnapshotSaver save = [&](DeviceLink& l, uint8_t address, std::filesystem::path& file,
                                   std::string& error) {
        Snapshot s;
        const Status status = ReadSnapshotSettings(l, address, s);
        if (status != StatusOk) {
            error = StatusTexts::Defaults().device[size_t(status) & 0xFF];
            return false;
        }
        s.time = SnapshotTimeNow();
        file = store.Save(s, error);
        return !file.empty();
    };
    const ReaddressOutcome out = vq31::Readdress(link, uint8_t(from), uint8_t(to), save);
    if (!out.snapshot.empty())
        std::printf("snapshot before the write: %s\n", out.snapshot.string().c_str());
    switch (out.result) {
    case ReaddressResult::Moved:
        std::printf("address %u -> %u: serial %06u answers at %u\n", out.from, out.to,
                    out.serialAfter, out.to);
        return 0;
    case ReaddressResult::BadAddress:
        std::fprintf(stderr, "vq31ctl readdress: the new address must differ from the old one\n");
        return 2;
    case ReaddressResult::Taken:
        std::fprintf(stderr,
                     "vq31ctl: address %u is taken: something answers there; nothing written\n",
                     out.to);
        return 1;
    case ReaddressResult::NoSensor:
        std::fprintf(stderr,
                     "vq31ctl: nothing answers at address %u at %u bit/s; nothing written\n",
                     out.from, o.baud);
        return 1;
    case ReaddressResult::Collision:
        std::fprintf(stderr,
                     "two or more sensors answer at address %u; nothing written.\n"
                     "Power or connect one sensor at a time, then move the one that answers.\n",
                     out.from);
        return 1;
    case ReaddressResult::SnapshotFailed:
        std::fprintf(stderr, "vq31ctl readdress: no snapshot (%s); nothing written\n",
                     out.snapshotError.c_str());
        return 1;
    case ReaddressResult::WriteFailed:
        std::fprintf(stderr,
                     "address %u -> %u: the write failed (status %d); the sensor is not "
                     "at %u\n",
                     out.from, out.to, int(out.status), out.to);
        return 1;
    case ReaddressResult::NotConfirmed:
        std::fprintf(stderr,
                     "address %u -> %u: written, but serial %06u does not answer at %u "
                     "(read back %06u, status %d)\n",
                     out.from, out.to, out.serialBefore, out.to, out.serialAfter, int(out.status));
        return 1;
    case ReaddressResult::PortFailed:
        break;
    }
    return ReportStatus(out.status == StatusOk ? StatusPortError : out.status);
}

const bool registered =
    Register("census",
             "census [--speeds all|N[,N...]] [--from A] [--to B]  every sensor on the line "
             "and the addresses where several answer",
             &Census, ArgRules().Values({"--speeds", "--from", "--to"})) &&
    Register("readdress", "readdress FROM TO      move the sensor at FROM to the free address TO",
             &Readdress, ArgRules().Words(2, 2));

} // namespace

} // namespace vq31::ctl
