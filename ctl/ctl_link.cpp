// vq31ctl link commands: search (broadcast over every speed), info (model and firmware
// check, identity, passport) and echo (one oscillogram record, its samples optionally to a
// CSV file). They use the command set directly, without the worker, so they also serve to
// check a line by hand.
#include "commands.h"
#include "ctl.h"
#include "ctl_english.h"
#include "link.h"
#include "net_port.h"
#include "status_texts.h"
#include "tare_export.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace vq31::ctl {

namespace {

using namespace std::chrono_literals;

// Speeds tried by the search, fastest first.
constexpr uint32_t SearchSpeeds[] = {115200, 57600, 38400, 19200, 9600, 4800, 2400};
constexpr auto PauseAfterWakeUp = 200ms;
constexpr uint32_t SupportedFirmware = 9;

const StatusTexts& Texts() {
    return EnglishStatus();
}

std::string ModelWord(uint32_t code) {
    std::string word;
    for (int i = 0; i < 4; ++i) {
        const char c = char((code >> (8 * i)) & 0xFF);
        word += (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    return word;
}

int Search(const Options& o) {
    DeviceLink link;
    link.SetMonitor(o.monitor);
    Status last = StatusNoAnswer;
    std::vector<uint32_t> speeds(std::begin(SearchSpeeds), std::end(SearchSpeeds));
    // A raw TCP gateway keeps its own speed: only that one (--baud) can be tried.
    if (!AbilitiesOfPort(o.port).changeSpeed) {
        speeds = {o.baud};
        std::printf("%s: a raw TCP gateway keeps its own speed and cannot change it; "
                    "searching at %u bit/s only (--baud sets it)\n",
                    o.port.c_str(), o.baud);
    }
    for (uint32_t speed : speeds) {
        if (link.UartOpen(o.port, speed) != 0) {
            std::fprintf(stderr, "vq31ctl: %u bit/s: %s\n", speed, link.OpenError().c_str());
            last = StatusPortError;
            continue;
        }
        WakeUp(link, BroadcastAddress);
        std::this_thread::sleep_for(PauseAfterWakeUp);
        uint8_t address = 0;
        Identity identity;
        last = FindDevice(link, address, &identity);
        std::printf("%6u bit/s: %s\n", speed, Texts().device[size_t(last)].c_str());
        if (last == StatusOk) {
            std::printf("found: speed %u address %u serial %06u\n", speed, address,
                        identity.serialNumber);
            return 0;
        }
    }
    link.UartClose();
    return ReportStatus(last);
}

int Info(const Options& o) {
    DeviceLink link;
    if (!OpenLink(link, o))
        return 1;
    uint32_t model = 0;
    Status s = ReadValue(link, cmd::ReadModelCode, o.address, model);
    if (s != StatusOk)
        return ReportStatus(s);
    std::printf("model code: %s (0x%08X)\n", ModelWord(model).c_str(), model);
    if (model != SupportedModelCode) {
        std::fprintf(stderr, "vq31ctl: this device is not supported by the program; please "
                             "update the program\n");
        return 1;
    }
    Identity id;
    if ((s = ReadIdentity(link, o.address, id)) != StatusOk)
        return ReportStatus(s);
    std::printf("date: %s\nserial number: %06u\nmodel: %u\nfirmware: %s\n",
                PassportDateText(id.date).c_str(), id.serialNumber, id.model,
                FirmwareText(id.firmwareVersion).c_str());
    if (id.firmwareVersion != SupportedFirmware) {
        std::fprintf(stderr, "vq31ctl: the device's firmware version is not supported by the "
                             "program; please update the program\n");
        return 1;
    }
    Passport p;
    if ((s = ReadPassport(link, o.address, p)) != StatusOk)
        return ReportStatus(s);
    static const uint32_t speeds[] = {0, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
    std::printf("passport: address %u, output period %u, link flags 0x%02X (speed %u bit/s, "
                "automatic output %s)\n",
                p.address, p.autoPeriod, p.linkFlags, speeds[(p.linkFlags >> 2) & 7],
                (p.linkFlags & 1) ? "on" : "off");
    return 0;
}

// The samples of one oscillogram answer as CSV: "#" lines with the record's settings and
// readings, a header line, then one line per sample. The raw and filtered waveforms are
// signed, the envelope is not.
std::string EchoCsv(long long mode, const EchoStatusRecord& status, const SampleBuffer& samples,
                    uint32_t count) {
    char line[160];
    std::string text;
    std::snprintf(line, sizeof line,
                  "# mode %lld, frequency %u, filter %u, gain %u, attenuator %u, pulse %.1f\n",
                  mode, status[1], status[3], status[4], status[5], status[6] * 0.1);
    text += line;
    std::snprintf(line, sizeof line,
                  "# echo error %u, position %u/%u, level %u mm, no-level flag %u, "
                  "temperature %.1f C, frame %u\n",
                  status[8], status[9], status[11], (status[31] + 5u) / 10u, status[33],
                  int16_t(status[21]) * 0.00390625, status[16]);
    text += line;
    text += "index,value\n";
    const bool signedSamples = mode == 2 || mode == 3;
    for (uint32_t i = 0; i < count; ++i) {
        const int value = signedSamples ? int(int16_t(samples[i])) : int(samples[i]);
        std::snprintf(line, sizeof line, "%u,%d\n", i, value);
        text += line;
    }
    return text;
}

int Echo(const Options& o) {
    long long mode = 1;
    if (!OptionNumber(o.args, "--mode", mode))
        return 2;
    if (mode < 0 || mode > 255) {
        std::fprintf(stderr, "vq31ctl: --mode must be 0..255\n");
        return 2;
    }
    DeviceLink link;
    if (!OpenLink(link, o))
        return 1;
    EchoStatusRecord status{};
    SampleBuffer samples{};
    uint32_t blocks = 0;
    const Status s = ReadOscillogram(link, o.address, uint8_t(mode), status, samples, &blocks);
    if (s != StatusOk)
        return ReportStatus(s);
    // Only the first 249 sample blocks have room in the sample buffer.
    const uint32_t sampleBlocks = blocks > 0 ? std::min<uint32_t>(blocks - 1, SampleBlocks) : 0;
    const uint32_t sampleCount = sampleBlocks * uint32_t(OscWordsPerBlock);
    std::printf("mode %lld: %u blocks, %u samples\n", mode, blocks, sampleCount);
    std::printf("frequency %u, filter %u, gain %u, attenuator %u, pulse %.1f\n", status[1],
                status[3], status[4], status[5], status[6] * 0.1);
    std::printf("echo error %u, position %u/%u, corrected %u, uncorrected %u, frame %u\n",
                status[8], status[9], status[11], status[14], status[15], status[16]);
    std::printf("temperature %.1f C, level %u mm, no-level flag %u\n",
                int16_t(status[21]) * 0.00390625, (status[31] + 5u) / 10u, status[33]);
    std::printf("status words:");
    for (size_t i = 0; i < EchoStatusWords; ++i)
        std::printf("%s%u", i % 16 == 0 ? "\n  " : " ", status[i]);
    std::printf("\n");
    if (const auto csv = OptionText(o.args, "--csv")) {
        std::string error;
        if (!WriteFileReplacing(*csv, EchoCsv(mode, status, samples, sampleCount), error)) {
            std::fprintf(stderr, "vq31ctl: %s\n", error.c_str());
            return 1;
        }
        std::printf("%u samples written to %s\n", sampleCount, csv->c_str());
    }
    return 0;
}

const bool registered =
    Register("search", "search                 find the device over all speeds", &Search) &&
    Register("info", "info                   model, identity and passport", &Info) &&
    Register("echo",
             "echo [--mode N] [--csv FILE]  one oscillogram record; --csv writes its samples",
             &Echo, ArgRules().Values({"--mode", "--csv"}));

} // namespace

int ReportStatus(Status status) {
    std::fprintf(stderr, "vq31ctl: %s (status %d)\n", Texts().device[size_t(status) & 0xFF].c_str(),
                 int(status));
    return 1;
}

bool OpenLink(DeviceLink& link, const Options& o) {
    link.SetMonitor(o.monitor);
    if (link.UartOpen(o.port, o.baud) != 0) {
        std::fprintf(stderr, "vq31ctl: cannot open port %s: %s\n", o.port.c_str(),
                     link.OpenError().c_str());
        return false;
    }
    if (const std::string warning = link.OpenWarning(); !warning.empty())
        std::fprintf(stderr, "vq31ctl: warning: %s\n", warning.c_str());
    return true;
}

} // namespace vq31::ctl
