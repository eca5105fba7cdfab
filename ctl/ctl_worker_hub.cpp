// Settings-page and tare-page commands of the tool, through the worker's jobs: the passport
// and output parameters, and the HUB_DATA image (print it, or move a raw image file to and
// from the device).
#include "ctl_snapshot.h"
#include "ctl_worker_view.h"
#include "ctl_write.h"
#include "device_ops.h"
#include "hub_image.h"
#include "parameter_format.h"
#include "tare_export.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

namespace vq31::ctl {

namespace {

using namespace std::chrono_literals;
// A parameter read is six short exchanges; this bounds a worker that never answers.
constexpr auto ParamsReadLimit = 30s;

int Params(const Options& o) {
    const auto words = Positional(o.args);
    if (!words.empty() && words[0] == "set")
        return ParamsSet(o);
    if (!words.empty()) {
        std::fprintf(stderr, "usage: vq31ctl params | params set NAME VALUE [NAME VALUE ...]\n");
        return 2;
    }
    WorkerSession s(o);
    if (!s.OpenPort())
        return 1;
    s.view.onParameters = [&](const ParameterView& v) {
        std::printf("date %s, S/N %s, model %s, firmware %s, revision %s\n", v.date.c_str(),
                    v.serial.c_str(), v.model.c_str(), v.version.c_str(), v.revision.c_str());
        const auto speed = v.speedIndex >= 0 && v.speedIndex < 7
                               ? std::to_string(std::array<int, 7>{2400, 4800, 9600, 19200, 38400,
                                                                   57600, 115200}[v.speedIndex])
                               : std::string("none");
        std::printf("address %u, speed %s, answer to 255: %s, data %s, auto output %s period %u, "
                    "post-filter %d\n",
                    v.address, speed.c_str(), v.answer255Index ? "own address" : "address 255",
                    v.bitsIndex == 0   ? "10 bits"
                    : v.bitsIndex == 1 ? "12 bits"
                                       : "none",
                    v.autoOn ? "on" : "off", v.autoPeriod, v.postFilterIndex);
        std::printf("fuel type %d, temperature coefficient %s, sound speed %s\n",
                    int(Get(s.params.FuelType)), FuelNumberText(v.fuelTempCoef).c_str(),
                    FuelNumberText(v.fuelSoundSpeed).c_str());
        std::printf("link flags 0x%02X, flags B 0x%02X\n", v.record.flagsA, v.record.flagsB);
    };
    if (!s.RunUntil(job::ReadParameters, job::None, ParamsReadLimit))
        return 1;
    return s.view.Count("ShowParameters") == 1 ? 0 : 1;
}

void PrintHub(const HubBuffer& image) {
    std::printf("hub: size %u, version %s, entries %u, %u ml per bit, %s\n", image.TotalSize(),
                HubVersionText(image.Version()).c_str(), image.EntryCount(), image.MlPerBit(),
                HubIsValid(image) ? "valid" : "NOT valid");
    for (auto e = HubFirstEntry(image); e; e = HubNextEntry(image, *e)) {
        const TankEntryHead h = HubEntryHead(image, *e);
        std::printf("tank %u: height %u mm, %u rows, scale %u ml, entry %u bytes\n", h.Id,
                    h.Height / 10u, h.RowCount, h.Scale, h.EntrySize);
        const size_t rows = HubReadableRows(image, *e);
        for (size_t i = 0; i < rows; ++i) {
            const EntryRow r = HubEntryRow(image, *e, i);
            std::printf("  %4zu  %6u mm  %10.3f l\n", i, LevelMillimetres(r.Code),
                        StoredLitres(r.Value, h.Scale));
        }
    }
}

// Reads the hub image, the tank id and the height as the device holds them.
bool ReadDeviceState(const Options& o, DeviceLink& link, HubBuffer& image, uint32_t& tankId,
                     uint32_t& height) {
    if (!OpenLink(link, o))
        return false;
    Status status = ReadHubImage(link, o.address, image);
    if (status == StatusOk)
        status = ReadValue(link, cmd::ReadTankId, o.address, tankId);
    if (status == StatusOk)
        status = ReadValue(link, cmd::ReadTankHeight, o.address, height);
    if (status != StatusOk)
        ReportStatus(status);
    return status == StatusOk;
}

int HubDump(const Options& o) {
    DeviceLink link;
    auto image = std::make_unique<HubBuffer>();
    uint32_t tankId = 0, height = 0;
    if (!ReadDeviceState(o, link, *image, tankId, height))
        return 1;
    std::printf("device tank id %u, tank height %u mm\n", tankId, height / 10);
    PrintHub(*image);
    return 0;
}

int HubRead(const Options& o, const std::string& file) {
    DeviceLink link;
    auto image = std::make_unique<HubBuffer>();
    uint32_t tankId = 0, height = 0;
    if (!ReadDeviceState(o, link, *image, tankId, height))
        return 1;
    const size_t size = std::max<size_t>(image->TotalSize(), HubPageSize);
    std::string error;
    const std::string bytes(reinterpret_cast<const char*>(image->bytes().data()), size);
    if (!WriteFileReplacing(file, bytes, error)) {
        std::fprintf(stderr, "vq31ctl: %s\n", error.c_str());
        return 1;
    }
    std::printf("wrote %zu bytes to %s\n", size, file.c_str());
    return 0;
}

// Reads at most one byte past the largest image, so an endless or huge file is refused
// without filling memory; a folder is refused too.
bool ReadImageFile(const std::string& file, std::vector<char>& bytes) {
    std::error_code ec;
    if (std::filesystem::is_directory(file, ec)) {
        std::fprintf(stderr, "vq31ctl: %s is a folder, not a hub image\n", file.c_str());
        return false;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "vq31ctl: cannot read %s\n", file.c_str());
        return false;
    }
    bytes.resize(HubMaxImageSize + 1);
    in.read(bytes.data(), std::streamsize(bytes.size()));
    if (in.bad()) {
        std::fprintf(stderr, "vq31ctl: cannot read %s\n", file.c_str());
        return false;
    }
    bytes.resize(size_t(in.gcount()));
    return true;
}

int HubWrite(const Options& o, const std::string& file, bool force) {
    std::vector<char> bytes;
    if (!ReadImageFile(file, bytes))
        return 1;
    if (bytes.size() < HubHeaderSize || bytes.size() > HubMaxImageSize) {
        std::fprintf(
            stderr, "vq31ctl: %s: a hub image has 16 to 4096 bytes, not %s; nothing written\n",
            file.c_str(),
            bytes.size() > HubMaxImageSize ? "more" : std::to_string(bytes.size()).c_str());
        return 1;
    }
    // The size field says how many pages go to the device: it must describe the file itself.
    const auto image = std::make_unique<HubBuffer>();
    std::copy(bytes.begin(), bytes.end(), image->bytes().begin());
    const size_t declared = image->TotalSize();
    if (declared < HubHeaderSize || declared > bytes.size() || declared > HubMaxImageSize) {
        std::fprintf(stderr,
                     "vq31ctl: %s: the image says it holds %zu bytes, but a hub image holds 16 "
                     "to 4096 bytes and the file has %zu; nothing written\n",
                     file.c_str(), declared, bytes.size());
        return 1;
    }
    if (!HubIsValid(*image)) {
        if (!force) {
            std::fprintf(stderr,
                         "vq31ctl: %s: the image fails its checks (version or checksum); nothing "
                         "written (--force writes it, with its checksum sealed anew)\n",
                         file.c_str());
            return 1;
        }
        HubSeal(*image);
        std::printf("note: the checksum field was sealed anew (--force)\n");
    }
    if (declared != bytes.size())
        std::printf("note: the image says %zu bytes, the file holds %zu\n", declared, bytes.size());
    // The file's bytes go to the device as they are; the device's tank id and height are
    // left alone.
    const size_t pages = HubTransferPages(*image);
    DeviceLink link;
    if (!OpenLink(link, o))
        return 1;
    return WriteHubOnLink(o, link, {image.get(), pages, {}, {}},
                          "wrote " + std::to_string(pages) + " pages and read them back");
}

int Hub(const Options& o) {
    const auto words = Positional(o.args);
    const bool dump = words.size() == 1 && words[0] == "dump";
    const bool file = words.size() == 2 && (words[0] == "read" || words[0] == "write");
    if (!dump && !file) {
        std::fprintf(stderr, "vq31ctl: hub dump | hub read FILE | hub write FILE\n");
        return 2;
    }
    if (dump)
        return HubDump(o);
    return words[0] == "read" ? HubRead(o, words[1])
                              : HubWrite(o, words[1], HasFlag(o.args, "--force"));
}

const bool registered =
    Register("params",
             "params | params set NAME VALUE [NAME VALUE ...]  passport, output parameters and "
             "fuel settings; set writes the named ones (address baud answer255 bits postfilter "
             "period fueltype soundspeed tempcoef)",
             &Params, ArgRules().Words(0, 19)) &&
    Register("hub",
             "hub dump | hub read FILE | hub write FILE [--force]  HUB_DATA image (--force "
             "writes an image that fails its checks)",
             &Hub, ArgRules().Flags({"--force"}).Words(1, 2));

} // namespace
} // namespace vq31::ctl
