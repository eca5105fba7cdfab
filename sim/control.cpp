// Parsing and execution of control lines. Every command checks all its words before it
// changes anything, so a rejected line leaves the device as it was.
#include "control.h"

#include "protocol.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <vector>

namespace vq31::sim {

namespace {

std::vector<std::string> Words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string w; in >> w;)
        words.push_back(w);
    return words;
}

bool Real(const std::string& text, double& value) {
    if (text.empty())
        return false;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (*end != '\0' || !std::isfinite(v))
        return false;
    value = v;
    return true;
}

std::string Error(const std::string& why) {
    return "error: " + why;
}

std::string Format(const char* format, double a, double b = 0) {
    char text[160];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

std::string Hex(long code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%02lX", code);
    return text;
}

// The stored date bytes and the day, month and year they stand for.
std::string DateReply(uint32_t date) {
    char text[96];
    std::snprintf(text, sizeof text, "ok: date bytes %u %u %u (%02u%02u%02u)", date & 0xFF,
                  (date >> 8) & 0xFF, (date >> 16) & 0xFF, ((date >> 16) & 0xFF) + 1,
                  ((date >> 8) & 0xFF) + 1, date & 0xFF);
    return text;
}

std::string LevelReply(const DeviceModel& d) {
    const DeviceState s = d.Snapshot();
    return Format("ok: level %.1f mm, %.2f l", s.levelMm, s.litres);
}

const std::pair<const char*, AnswerFault> CountedFaults[] = {
    {"drop", AnswerFault::Drop},       {"crc", AnswerFault::Crc},
    {"address", AnswerFault::Address}, {"short", AnswerFault::Short},
    {"garbage", AnswerFault::Garbage},
};

constexpr long CountMax = 1000000;

std::string FaultReply(const FaultPlan& faults) {
    std::string text = faults.Describe();
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    return "ok: " + (text.empty() ? std::string("no faults") : text);
}

std::string Fault(const std::vector<std::string>& w, FaultPlan& faults) {
    long n = 0, code = 0, status = 0;
    const std::string what = w.size() > 1 ? w[1] : "";
    if (what == "clear" && w.size() == 2) {
        faults.Clear();
        return "ok: no faults";
    }
    for (const auto& [name, fault] : CountedFaults) {
        if (what != name)
            continue;
        if (w.size() != 3 || !Integer(w[2], 0, CountMax, n))
            return Error(std::string("usage: fault ") + name + " N");
        faults.SetAnswerFault(fault, uint32_t(n));
        return FaultReply(faults);
    }
    if (what == "silent") {
        if (w.size() != 3 || !Integer(w[2], 0, CountMax, n))
            return Error("usage: fault silent N");
        faults.SetSilent(uint32_t(n));
        return FaultReply(faults);
    }
    if (what == "delay") {
        if (w.size() != 3 || !Integer(w[2], 0, 60000, n))
            return Error("usage: fault delay MS (0 to 60000)");
        faults.SetDelay(std::chrono::milliseconds(n));
        return FaultReply(faults);
    }
    if (what == "ack") {
        n = 1;
        if ((w.size() != 4 && w.size() != 5) || !Integer(w[2], 0, 255, code) ||
            !Integer(w[3], 0, 255, status) || (w.size() == 5 && !Integer(w[4], 0, CountMax, n)))
            return Error("usage: fault ack CODE STATUS [N]");
        if (AnswerKindOf(uint8_t(code)) != AnswerKind::Acknowledgement)
            return Error("code " + Hex(code) + " is not answered with an acknowledgement");
        faults.SetAck(uint8_t(code), uint8_t(status), uint32_t(n));
        return FaultReply(faults);
    }
    if (what == "code") {
        long skip = 0;
        if ((w.size() != 5 && w.size() != 7) || !Integer(w[2], 0, 255, code) || w[3] != "silent" ||
            !Integer(w[4], 0, CountMax, n) ||
            (w.size() == 7 && (w[5] != "after" || !Integer(w[6], 0, CountMax, skip))))
            return Error("usage: fault code CODE silent N [after K]");
        if (RequestLayoutOf(uint8_t(code)) == RequestLayout::None)
            return Error("code " + Hex(code) + " is not a command of the device");
        faults.SetCodeSilent(uint8_t(code), uint32_t(n), uint32_t(skip));
        return FaultReply(faults);
    }
    if (what == "nostore") {
        n = 1;
        const bool any = w.size() >= 3 && w[2] == "any";
        if ((w.size() != 3 && w.size() != 4) || (!any && !Integer(w[2], 0, 255, code)) ||
            (w.size() == 4 && !Integer(w[3], 0, CountMax, n)))
            return Error("usage: fault nostore CODE|any [N]");
        if (!any && AnswerKindOf(uint8_t(code)) != AnswerKind::Acknowledgement)
            return Error("code " + Hex(code) + " is not answered with an acknowledgement");
        faults.SetNoStore(any ? std::nullopt : std::optional<uint8_t>(uint8_t(code)), uint32_t(n));
        return FaultReply(faults);
    }
    return Error("unknown fault; try: drop crc address short silent delay garbage ack code "
                 "nostore clear");
}

std::string Tune(const std::vector<std::string>& w, DeviceModel& d) {
    long n = 0;
    if (w.size() == 2 && w[1] == "ok") {
        d.SetTuneOutcome(0);
        return "ok: tuning step 2 will succeed";
    }
    if (w.size() == 3 && w[1] == "fail" && Integer(w[2], 1, 0x7FFFFFFF, n)) {
        d.SetTuneOutcome(uint32_t(n));
        return Format("ok: tuning step 2 will fail with error %.0f", double(n));
    }
    if (w.size() == 3 && w[1] == "time" && Integer(w[2], 0, 600000, n)) {
        d.SetTuneTime(std::chrono::milliseconds(n));
        return Format("ok: tuning step 2 runs %.0f ms", double(n));
    }
    return Error("usage: tune ok | tune fail N (1 and up) | tune time MS");
}

} // namespace

std::string RunControl(const std::string& line, ControlTarget t) {
    const std::vector<std::string> w = Words(line);
    if (w.empty())
        return "";
    const std::string& verb = w[0];
    DeviceModel& d = t.device;
    std::string why;
    double x = 0, y = 0;
    long n = 0;

    if (verb == "level") {
        if (w.size() != 2 || !Real(w[1], x))
            return Error("usage: level MM");
        return d.SetLevel(x, why) ? LevelReply(d) : Error(why);
    }
    if (verb == "pour" || verb == "drain") {
        if (w.size() != 2 || !Real(w[1], x) || x < 0)
            return Error("usage: " + verb + " LITRES (not negative)");
        return d.Pour(verb == "pour" ? x : -x, why) ? LevelReply(d) : Error(why);
    }
    if (verb == "nolevel") {
        if (w.size() == 1 || (w.size() == 2 && (w[1] == "on" || w[1] == "off"))) {
            const bool on = w.size() == 1 || w[1] == "on";
            d.SetNoLevel(on);
            return on ? "ok: no echo" : "ok: echo back";
        }
        return Error("usage: nolevel [on|off]");
    }
    if (verb == "tank") {
        if (w.size() != 3 || !Real(w[1], x) || !Real(w[2], y))
            return Error("usage: tank DIAMETER_MM LENGTH_MM");
        if (!d.SetTank(x, y, why))
            return Error(why);
        return Format("ok: horizontal cylinder, capacity %.2f l", d.tank().CapacityLitres());
    }
    if (verb == "temp") {
        if (w.size() != 2 || !Real(w[1], x))
            return Error("usage: temp CELSIUS");
        return d.SetTemperature(x, why) ? Format("ok: %.1f C", x) : Error(why);
    }
    if (verb == "model") {
        if (w.size() != 2)
            return Error("usage: model TEXT (4 characters)");
        return d.SetModel(w[1], why) ? "ok: model " + w[1] : Error(why);
    }
    if (verb == "firmware") {
        if (w.size() != 2 || !Integer(w[1], 0, 255, n))
            return Error("usage: firmware N (0 to 255)");
        d.SetFirmware(uint8_t(n));
        return Format("ok: firmware %.0f", double(n));
    }
    if (verb == "postfilter") {
        if (w.size() != 2 || !Integer(w[1], 0, 8, n))
            return Error("usage: postfilter N (0 to 8)");
        d.SetPostFilter(uint8_t(n));
        return Format("ok: post-filter %.0f", double(n));
    }
    if (verb == "date") {
        long year = 0, month = 0, day = 0;
        if (w.size() != 4 || !Integer(w[1], 0, 255, year) || !Integer(w[2], 0, 255, month) ||
            !Integer(w[3], 0, 255, day))
            return Error("usage: date YEAR MONTH-1 DAY-1 (the three stored bytes, 0 to 255)");
        d.SetDate(uint8_t(year), uint8_t(month), uint8_t(day));
        return DateReply(d.Snapshot().date);
    }
    if (verb == "serial") {
        if (w.size() != 2 || !Integer(w[1], -1, 0x7FFFFFFF, n))
            return Error("usage: serial N (0 to 16777215)");
        return d.SetSerialNumber(n, why) ? Format("ok: serial %.0f", double(n)) : Error(why);
    }
    if (verb == "flags") {
        if (w.size() != 2 || !Integer(w[1], -1, 0x7FFFFFFF, n))
            return Error("usage: flags N (link flags byte)");
        if (!d.SetLinkFlags(n, why))
            return Error(why);
        const DeviceState s = d.Snapshot();
        char text[64];
        std::snprintf(text, sizeof text, "ok: link flags 0x%02X, configured speed %u bit/s",
                      unsigned(s.linkFlags), unsigned(s.baud));
        return text;
    }
    if (verb == "address") {
        if (w.size() != 2 || !Integer(w[1], -1, 1000, n))
            return Error("usage: address N (0 to 254)");
        return d.SetAddress(n, why) ? Format("ok: address %.0f", double(n)) : Error(why);
    }
    if (verb == "baud") {
        if (w.size() != 2 || !Integer(w[1], 0, 10000000, n))
            return Error("usage: baud N");
        return d.SetBaud(n, why) ? Format("ok: %.0f bit/s", double(n)) : Error(why);
    }
    if (verb == "fastidle") {
        if (w.size() != 2 || !Integer(w[1], 0, 86400, n))
            return Error("usage: fastidle SECONDS (0 = never)");
        d.SetFastIdle(std::chrono::seconds(n));
        return Format("ok: fast mode idle limit %.0f s", double(n));
    }
    if (verb == "fault")
        return Fault(w, t.faults);
    if (verb == "tune")
        return Tune(w, d);
    if (verb == "state" && w.size() == 1)
        return DescribeState(d.Snapshot(), t.faults);
    if (verb == "help" && w.size() == 1)
        return ControlHelp();
    if (verb == "quit" && w.size() == 1) {
        t.quit = true;
        return "bye";
    }
    return Error("unknown command '" + verb + "'; type help");
}

std::string ControlHelp() {
    return "commands:\n"
           "  level MM              fuel level in millimetres (clears nolevel)\n"
           "  pour LITRES           add fuel to the tank (a horizontal cylinder)\n"
           "  drain LITRES          take fuel out of the tank\n"
           "  nolevel [on|off]      no echo, the level is unknown (status word 33 set)\n"
           "  tank DIAMETER LENGTH  cylinder size in millimetres (the level is kept)\n"
           "  temp CELSIUS          fuel temperature\n"
           "  model TEXT            4 characters of the model word (13QV = wrong order)\n"
           "  firmware N            firmware version byte\n"
           "  postfilter N          post-filter setting 0..8\n"
           "  date Y M D            passport date bytes: year, month - 1, day - 1\n"
           "  serial N              serial number (24 bits)\n"
           "  flags N               link flags byte (bits 2..4 set the configured speed)\n"
           "  address N             bus address 0..254\n"
           "  baud N                configured speed 2400..115200\n"
           "  fastidle SECONDS      leave the fast mode after this silence (0 = never)\n"
           "  fault drop N          the next N answers lose one byte\n"
           "  fault crc N           the next N answers carry a wrong check value\n"
           "  fault address N       the next N answers come from another address\n"
           "  fault short N         the next N answers are cut short\n"
           "  fault silent N        the next N requests get no answer\n"
           "  fault delay MS        every answer waits MS first (0 ends it)\n"
           "  fault garbage N       the next N answers are replaced by garbage\n"
           "  fault ack CODE STATUS [N]  the next N acknowledgements of CODE carry STATUS\n"
           "  fault code CODE silent N [after K]  the next N requests with CODE get no\n"
           "                        answer (after K of them were answered)\n"
           "  fault nostore CODE|any [N]  the next N writes (with CODE, or any) are\n"
           "                        acknowledged but not stored\n"
           "  fault clear           remove every fault\n"
           "  tune fail N | tune ok tuning step 2 fails with error N, or succeeds\n"
           "  tune time MS          how long tuning step 2 runs\n"
           "  unlock                release exclusive use left by a tool that crashed\n"
           "  state                 show the device state\n"
           "  help                  show this list\n"
           "  quit                  end the simulator\n"
           "numbers may be decimal or 0x hexadecimal; counted faults clear once used";
}

std::string DescribeState(const DeviceState& s, const FaultPlan& faults) {
    char text[2048];
    const char model[5] = {char(s.modelCode), char(s.modelCode >> 8), char(s.modelCode >> 16),
                           char(s.modelCode >> 24), 0};
    std::snprintf(
        text, sizeof text,
        "address %u, speed %u bit/s (configured %u%s), link flags 0x%02X\n"
        "model %s, firmware %u, serial %u, date bytes %u %u %u\n"
        "frequency %u, filter %u, gain word 0x%04X (Ku in use %u), attenuator %u, "
        "pulse width %u, integrator 0x%08X\n"
        "mode %u, tune progress 0x%08X, sweep %s step %u, display mask 0x%05X\n"
        "tank id %u, tank height %u, tare mode %u\n"
        "level %.1f mm, %.2f of %.2f l%s, temperature %.1f C, frame %u\n"
        "requests %llu, answered %llu, wrong speed %llu, other address %llu, bad CRC %llu, "
        "unknown code %llu, silenced %llu, faulted %llu\n",
        s.address, s.speed, s.baud, s.fastMode ? ", fast mode" : "", s.linkFlags, model,
        s.firmwareVersion, s.serialNumber, s.date & 0xFF, (s.date >> 8) & 0xFF,
        (s.date >> 16) & 0xFF, s.signal.frequency, s.signal.filter, s.signal.gainWord,
        s.effectiveGain, s.signal.attenuation, s.signal.pulseWidth, s.signal.integratorWord, s.mode,
        s.tuneProgress, s.sweeping ? "on" : "off", s.sweepStep, s.displayMask, s.tankId,
        s.tankHeight, s.tareMode, s.levelMm, s.litres, s.capacityLitres,
        s.noLevel ? " (no echo)" : "", s.temperatureC, s.frameCounter,
        (unsigned long long)s.counters.requests, (unsigned long long)s.counters.answered,
        (unsigned long long)s.counters.ignoredSpeed, (unsigned long long)s.counters.ignoredAddress,
        (unsigned long long)s.counters.badCrc, (unsigned long long)s.counters.unknownCode,
        (unsigned long long)s.counters.silenced, (unsigned long long)s.counters.faulted);
    std::string faultText = faults.Describe();
    return std::string(text) + (faultText.empty() ? "no faults" : faultText);
}

bool Integer(const std::string& text, long low, long high, long& value) {
    if (text.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || v < low || v > high)
        return false;
    value = v;
    return true;
}

} // namespace vq31::sim
