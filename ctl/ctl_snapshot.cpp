// Writes with a way back: parameter writes by name, and the snapshot commands.
//   params set NAME VALUE [NAME VALUE ...]   write named parameters, keep the device's own
//                                            values for the rest (through the settings job)
//   snapshot list                            the saved snapshots
//   snapshot show FILE                       one snapshot's contents
//   snapshot restore FILE [--params] [--force]
//                                            write the hub image (and with --params the
//                                            settings) back, after a fresh snapshot
// Every write saves a snapshot of the device first and reads back what it wrote; a
// difference is a failure naming the fields.
#include "ctl_snapshot.h"
#include "ctl_english.h"
#include "ctl_worker_view.h"
#include "ctl_write.h"
#include "device_ops.h"
#include "hub_image.h"
#include "parameter_format.h"
#include "snapshot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>

namespace vq31::ctl {

using namespace std::chrono_literals;

namespace {

constexpr const char* ParamsSetUsage =
    "usage: vq31ctl params set NAME VALUE [NAME VALUE ...]  (address 0-254, baud 2400-115200, "
    "answer255 255|own, bits 10|12, postfilter 0-8, period 0-255, fueltype 0-3, soundspeed "
    "and tempcoef numbers)";

bool ParseFloat(const std::string& text, float& value) {
    if (text.empty())
        return false;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (*end != '\0' || !std::isfinite(v) || std::fabs(v) > 3.0e38)
        return false;
    value = float(v);
    return true;
}

// Puts one named value into the choice; empty when it is taken, else what is wrong.
std::string ApplyNamed(const std::string& name, const std::string& text, ParameterChoice& c) {
    long long n = 0;
    const bool number = ParseNumber(text, n);
    if (name == "address") {
        // 255 is the broadcast address: a device set to it could not be told apart.
        if (!number || n < 0 || n > 254)
            return "address must lie between 0 and 254";
        c.address = uint32_t(n);
    } else if (name == "baud") {
        const auto it = std::find(LinkSpeeds.begin(), LinkSpeeds.end(), number ? uint32_t(n) : 0u);
        if (!number || it == LinkSpeeds.end())
            return "baud must be one of 2400 4800 9600 19200 38400 57600 115200";
        c.speedIndex = int32_t(it - LinkSpeeds.begin());
    } else if (name == "answer255") {
        if (text == "255" || text == "broadcast")
            c.answer255Index = 0;
        else if (text == "own")
            c.answer255Index = 1;
        else
            return "answer255 must be 255 (answer with address 255) or own (with its own address)";
    } else if (name == "bits") {
        if (text != "10" && text != "12")
            return "bits must be 10 or 12";
        c.bitsIndex = text == "12" ? 1 : 0;
    } else if (name == "postfilter") {
        if (!number || n < 0 || n > 8)
            return "postfilter must lie between 0 and 8";
        c.postFilterIndex = int32_t(n);
    } else if (name == "period") {
        if (!number || n < 0 || n > 255)
            return "period must lie between 0 and 255";
        c.autoPeriod = uint32_t(n);
    } else if (name == "fueltype") {
        if (!number || n < 0 || n > 3)
            return "fueltype must lie between 0 and 3";
        c.fuelTypeIndex = int32_t(n);
    } else if (name == "soundspeed" || name == "tempcoef") {
        float f = 0;
        if (!ParseFloat(text, f))
            return name + " must be a number (with a decimal point)";
        (name == "soundspeed" ? c.fuelSoundSpeed : c.fuelTempCoef) = f;
    } else {
        return "unknown parameter '" + name +
               "'; known: address baud answer255 bits postfilter period fueltype soundspeed "
               "tempcoef";
    }
    return {};
}

// The choice the settings page would hold right after reading the device.
ParameterChoice ChoiceFromView(const ParameterView& v) {
    ParameterChoice c;
    c.speedIndex = v.speedIndex;
    c.answer255Index = v.answer255Index;
    // A width index past the list keeps the device's own data-width bit.
    c.bitsIndex = v.bitsIndex >= 0 ? v.bitsIndex : int32_t((v.record.flagsA >> 7) & 1);
    c.autoOn = v.autoOn;
    c.autoPeriod = v.autoPeriod;
    c.address = v.address;
    c.postFilterIndex = v.postFilterIndex;
    c.fuelTypeIndex = v.fuelTypeIndex;
    c.fuelTempCoef = v.fuelTempCoef;
    c.fuelSoundSpeed = v.fuelSoundSpeed;
    return c;
}

// Only the settings a named value changes are written; the device keeps the others.
SettingsWrite NamedSettings(const std::map<std::string, std::string>& named, const Snapshot& d,
                            ParameterChoice c) {
    for (const auto& [name, value] : named)
        ApplyNamed(name, value, c);
    const auto has = [&named](const char* name) { return named.count(name) > 0; };
    SettingsWrite w;
    if (has("postfilter"))
        w.postFilter = uint32_t(c.postFilterIndex);
    if (has("fueltype") || has("soundspeed") || has("tempcoef"))
        w.fuel = SettingsWrite::Fuel{
            uint8_t(c.fuelTypeIndex >= 0 ? uint32_t(c.fuelTypeIndex) : d.fuelType), c.fuelTempCoef,
            c.fuelSoundSpeed};
    if (has("address"))
        w.address = uint8_t(c.address);
    if (has("period"))
        w.autoPeriod = c.autoPeriod;
    if (has("baud") || has("answer255") || has("bits"))
        w.linkFlags = LinkFlagsFor(c, d.linkFlags);
    return w;
}

int ParamsSetCommand(const Options& o, const std::vector<std::string>& words) {
    if (words.size() < 3 || words.size() % 2 == 0) {
        std::fprintf(stderr, "%s\n", ParamsSetUsage);
        return 2;
    }
    // Every name is checked before the device is touched.
    ParameterChoice probe;
    std::map<std::string, std::string> named;
    for (size_t i = 1; i + 1 < words.size(); i += 2) {
        std::string why = ApplyNamed(words[i], words[i + 1], probe);
        if (why.empty() && !named.emplace(words[i], words[i + 1]).second)
            why = words[i] + " is named twice";
        if (!why.empty()) {
            std::fprintf(stderr, "vq31ctl: %s\n%s\n", why.c_str(), ParamsSetUsage);
            return 2;
        }
    }
    DeviceLink link;
    if (!OpenLink(link, o))
        return 1;
    Snapshot device;
    if (const Status status = ReadSnapshotSettings(link, o.address, device); status != StatusOk)
        return ReportStatus(status);
    ParameterRecord r;
    r.address = device.address;
    r.autoPeriod = device.autoPeriod;
    r.flagsA = r.flagsARead = device.linkFlags;
    r.flagsB = r.flagsBRead = device.flagsB;
    r.postFilter = device.postFilter;
    // The choice the settings page would hold right after reading the device.
    const ParameterChoice choice = ChoiceFromView(
        MakeParameterView(r, int32_t(device.fuelType), FloatFromBits(device.tempCoefBits),
                          FloatFromBits(device.soundSpeedBits)));
    const SettingsWrite write = NamedSettings(named, device, choice);
    // A raw TCP gateway keeps its own speed: a device moved to another would be out of reach.
    const auto newSpeed = write.linkFlags ? SpeedOfLinkFlags(*write.linkFlags) : std::nullopt;
    if (newSpeed && *newSpeed != o.baud && !link.Abilities().changeSpeed) {
        std::fprintf(stderr, "vq31ctl: %s; nothing written\n",
                     WithArguments(EnglishTexts().Text(msg::GatewayNoSpeedChange),
                                   {o.port, std::to_string(*newSpeed)})
                         .c_str());
        return 1;
    }
    uint8_t address = o.address;
    uint32_t baud = o.baud;
    const RestoreFollow follow = ToolFollow(link, o, baud);
    const SnapshotStore store;
    WriteSignals signals;
    const WriteOutcome outcome = WriteSettingsTransaction(
        link, address, o.baud, write, ToolWriteContext(o, store, o.baud, o.address, true), follow);
    return ReportWrite(o, baud, address, outcome, "written and read back");
}

void PrintSnapshot(const Snapshot& s) {
    std::printf("time %s\nserial number %06u\nmodel %u, firmware %s, revision %u\n", s.time.c_str(),
                s.serialNumber, s.model, FirmwareText(s.firmwareVersion).c_str(), s.revision & 15);
    std::printf("date %s\n", PassportDateText(s.date).c_str());
    const uint32_t code = (s.linkFlags >> 2) & 7;
    std::printf("address %u, speed %s, answer to 255: %s, data %s, auto output %s period %u, "
                "post-filter %u\n",
                s.address, code >= 1 ? std::to_string(LinkSpeeds[code - 1]).c_str() : "none",
                s.linkFlags & 0x20 ? "own address" : "address 255",
                s.linkFlags & 0x80 ? "12 bits" : "10 bits", s.linkFlags & 1 ? "on" : "off",
                s.autoPeriod, s.postFilter);
    std::printf("fuel type %u, temperature coefficient %.3f, sound speed %.3f\n", s.fuelType,
                double(FloatFromBits(s.tempCoefBits)), double(FloatFromBits(s.soundSpeedBits)));
    std::printf("tank id %u, tank height %u mm\n", s.tankId, s.tankHeight / 10);
    auto image = std::make_unique<HubBuffer>();
    std::copy(s.hub.begin(), s.hub.end(), image->bytes().begin());
    std::printf("hub image %zu bytes: size %u, version %s, %u entries, %s\n", s.hub.size(),
                image->TotalSize(), HubVersionText(image->Version()).c_str(), image->EntryCount(),
                HubIsValid(*image) ? "valid" : "NOT valid");
}

int SnapshotList(const Options&) {
    const SnapshotStore store;
    const auto files = store.List();
    if (files.empty())
        std::printf("no snapshots in %s\n", store.folder().string().c_str());
    for (const auto& file : files) {
        Snapshot s;
        std::string error;
        if (SnapshotStore::Load(file, s, error))
            std::printf("%s  S/N %06u  %s  hub %zu bytes\n", file.string().c_str(), s.serialNumber,
                        s.time.c_str(), s.hub.size());
        else
            std::printf("%s  UNREADABLE: %s\n", file.string().c_str(), error.c_str());
    }
    return 0;
}

// A file name given without a folder is looked for in the snapshot folder too.
std::filesystem::path SnapshotPath(const std::string& name) {
    const std::filesystem::path path(name);
    std::error_code ec;
    if (!std::filesystem::exists(path, ec) && !path.has_parent_path())
        return SnapshotStore().folder() / path;
    return path;
}

int SnapshotRestore(const Options& o, const std::string& name) {
    const bool withParams = HasFlag(o.args, "--params");
    Snapshot wanted;
    std::string error;
    if (!SnapshotStore::Load(SnapshotPath(name), wanted, error)) {
        std::fprintf(stderr, "vq31ctl: %s; nothing written\n", error.c_str());
        return 1;
    }
    if (wanted.hub.empty()) {
        std::fprintf(stderr, "vq31ctl: the snapshot holds no hub image; nothing written\n");
        return 1;
    }
    DeviceLink link;
    if (!OpenLink(link, o))
        return 1;
    uint8_t address = o.address;
    uint32_t baud = o.baud;
    const RestoreFollow follow = ToolFollow(link, o, baud);
    const bool force = HasFlag(o.args, "--force");
    const auto confirm = [&](const Snapshot& device) {
        if (device.serialNumber == wanted.serialNumber || force)
            return true;
        std::fprintf(stderr,
                     "vq31ctl: the snapshot belongs to serial number %06u, the device is %06u; "
                     "nothing written (--force writes it anyway)\n",
                     wanted.serialNumber, device.serialNumber);
        return false;
    };
    const SnapshotStore store;
    WriteSignals signals;
    WriteOutcome outcome = RestoreTransaction(
        link, address, o.baud, wanted, withParams,
        ToolWriteContext(o, store, o.baud, o.address, withParams), follow, confirm);
    EndInterruptedWrite(link, address, outcome);
    if (outcome.end == WriteEnd::Declined)
        return 1;
    char done[96];
    std::snprintf(done, sizeof done, "restored %zu hub pages%s and read back", outcome.pagesTotal,
                  withParams ? " and the settings" : "");
    if (!outcome.Ok() && outcome.Changed())
        std::fprintf(stderr,
                     "vq31ctl: the restore ended part-way; run it again to try once "
                     "more: %s\n",
                     RestoreCommand(o, baud, address, SnapshotPath(name), withParams).c_str());
    return ReportWrite(o, baud, address, outcome, done);
}

int SnapshotCommand(const Options& o) {
    const auto words = Positional(o.args);
    const bool list = words.size() == 1 && words[0] == "list";
    const bool show = words.size() == 2 && words[0] == "show";
    const bool restore = words.size() == 2 && words[0] == "restore";
    const bool restoreFlags = HasFlag(o.args, "--params") || HasFlag(o.args, "--force");
    if ((!list && !show && !restore) || (restoreFlags && !restore)) {
        std::fprintf(stderr, "usage: vq31ctl snapshot list | snapshot show FILE | snapshot "
                             "restore FILE [--params] [--force]\n");
        return 2;
    }
    if (list)
        return SnapshotList(o);
    if (restore)
        return SnapshotRestore(o, words[1]);
    Snapshot s;
    std::string error;
    if (!SnapshotStore::Load(SnapshotPath(words[1]), s, error)) {
        std::fprintf(stderr, "vq31ctl: %s\n", error.c_str());
        return 1;
    }
    PrintSnapshot(s);
    return 0;
}

const bool registered =
    Register("snapshot",
             "snapshot list | snapshot show FILE | snapshot restore FILE [--params] [--force]  the "
             "device states saved before writes",
             &SnapshotCommand, ArgRules().Flags({"--params", "--force"}).Words(1, 2));

} // namespace

int ParamsSet(const Options& o) {
    return ParamsSetCommand(o, Positional(o.args));
}

} // namespace vq31::ctl
