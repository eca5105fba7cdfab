// Settings-page and tare-page commands of the tool, through the worker's jobs: the passport
// and output parameters, and the HUB_DATA image (print it, or move a raw image file to and
// from the device).
#include "ctl_snapshot.h"
#include "ctl_worker_view.h"
#include "hub_image.h"
#include "parameter_format.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>

namespace vq31::ctl {

namespace {

using namespace std::chrono_literals;
constexpr auto HubLimit = 60s;

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
    if (!s.RunUntil(job::ReadParameters, job::None, HubLimit))
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

// Reads the hub through the worker; the raw image is kept as the device sent it.
bool ReadHub(WorkerSession& s) {
    s.view.answerYes = false;
    if (!s.RunUntil(job::ReadHubData, job::PollLevel, HubLimit) || s.view.Errors() > 0)
        return false;
    s.worker.PostCommand(job::None);
    return true;
}

int HubDump(WorkerSession& s) {
    if (!ReadHub(s))
        return 1;
    std::printf("device tank id %d, tank height %u mm\n", int(Get(s.params.TankId)),
                s.worker.TankHeight() / 10);
    PrintHub(s.hub.hubBuffer);
    return 0;
}

int HubRead(WorkerSession& s, const std::string& file) {
    if (!ReadHub(s))
        return 1;
    const HubBuffer& image = s.hub.hubBuffer;
    const size_t size = std::max<size_t>(image.TotalSize(), HubPageSize);
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(image.bytes().data()), std::streamsize(size));
    if (!out) {
        std::fprintf(stderr, "vq31ctl: cannot write %s\n", file.c_str());
        return 1;
    }
    std::printf("wrote %zu bytes to %s\n", size, file.c_str());
    return 0;
}

int HubWrite(WorkerSession& s, const std::string& file, bool force) {
    std::ifstream in(file, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    if (!in.eof() && !in) {
        std::fprintf(stderr, "vq31ctl: cannot read %s\n", file.c_str());
        return 1;
    }
    if (bytes.size() < HubHeaderSize || bytes.size() > HubMaxImageSize) {
        std::fprintf(stderr, "vq31ctl: %s: a hub image has 16 to 4096 bytes, not %zu\n",
                     file.c_str(), bytes.size());
        return 1;
    }
    // The size field says how many pages go to the device: it must describe the file itself.
    const auto fileImage = std::make_unique<HubBuffer>();
    std::copy(bytes.begin(), bytes.end(), fileImage->bytes().begin());
    const size_t declared = fileImage->TotalSize();
    if (declared < HubHeaderSize || declared > bytes.size() || declared > HubMaxImageSize) {
        std::fprintf(stderr,
                     "vq31ctl: %s: the image says it holds %zu bytes, but a hub image holds 16 "
                     "to 4096 bytes and the file has %zu; nothing written\n",
                     file.c_str(), declared, bytes.size());
        return 1;
    }
    if (!HubIsValid(*fileImage) && !force) {
        std::fprintf(stderr,
                     "vq31ctl: %s: the image fails its checks (version or checksum); nothing "
                     "written (--force writes it, with its checksum sealed anew)\n",
                     file.c_str());
        return 1;
    }
    // The device's tank id and height are written back unchanged. Between hub jobs the
    // worker leaves the hub records alone, so they may be filled here.
    if (!ReadHub(s))
        return 1;
    HubBuffer& image = s.hub.hubBuffer;
    image = *fileImage;
    if (image.TotalSize() != bytes.size())
        std::printf("note: the image says %u bytes, the file holds %zu\n", image.TotalSize(),
                    bytes.size());
    // Entry 1 is rewritten from the working copy: take it from the file's own entry.
    if (const auto entry = HubFindEntry(image, CalibratedTankId))
        EntryToRecord(image, *entry, s.hub.currentTank);
    s.view.hubChoice = {s.worker.TankHeight() / 10, MlPerBitIndex(image.MlPerBit())};
    s.view.answerYes = false; // keep the file's image whatever its checks say
    const size_t pages = HubPageCount(image);
    const bool ran = s.RunUntil(job::WriteHubData, job::PollLevel, HubLimit);
    if (!s.worker.LastSnapshot().empty())
        std::printf("snapshot before the write: %s\n", s.worker.LastSnapshot().string().c_str());
    const bool failed = s.view.Errors() > 0 || s.view.FailedExchanges().count > 0;
    const size_t written = s.worker.HubPagesWritten();
    if (failed && written > 0 && written < s.worker.HubPagesToWrite()) {
        std::fprintf(stderr,
                     "vq31ctl: %zu of %zu hub pages were written: the device holds the start of "
                     "the new image and the end of the old one; put the old one back with: "
                     "vq31ctl snapshot restore %s\n",
                     written, s.worker.HubPagesToWrite(), s.worker.LastSnapshot().string().c_str());
    }
    if (!ran || failed)
        return 1;
    std::printf("wrote %zu pages and read them back\n", pages);
    return 0;
}

int Hub(const Options& o) {
    const auto words = Positional(o.args);
    const bool dump = words.size() == 1 && words[0] == "dump";
    const bool file = words.size() == 2 && (words[0] == "read" || words[0] == "write");
    if (!dump && !file) {
        std::fprintf(stderr, "vq31ctl: hub dump | hub read FILE | hub write FILE\n");
        return 2;
    }
    WorkerSession s(o);
    s.view.quietEcho = true;
    if (!s.OpenPort())
        return 1;
    if (dump)
        return HubDump(s);
    return words[0] == "read" ? HubRead(s, words[1])
                              : HubWrite(s, words[1], HasFlag(o.args, "--force"));
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
