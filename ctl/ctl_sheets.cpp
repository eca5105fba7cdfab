// vq31ctl workbook commands, for provisioning sensors in batches:
//   tanks export FILE            read the hub from the device, write its preset tanks
//   tanks import FILE [--write] [--allow-empty]
//                                build a hub image from a tank list workbook, optionally
//                                write it to the device; a workbook without any tank sheet
//                                is refused unless --allow-empty is given
//   tare export FILE             read the hub, write tank 1's table
//   tare import FILE [--write]   read the hub, put the workbook's table into tank 1, and
//                                optionally write the hub back
//   tare export FILE.csv, tare report FILE.pdf: see ctl_tare_out.cpp
// The workbook formats and limits are those of the program's windows; numbers in text cells
// use "." as the decimal point.
#include "commands.h"
#include "ctl.h"
#include "ctl_hub.h"
#include "ctl_sheets_words.h"
#include "ctl_snapshot.h"
#include "ctl_tare_shape.h"
#include "ctl_tare_out.h"
#include "exchange.h"
#include "hub_image.h"
#include "link.h"
#include "status_texts.h"
#include "tare_grid.h"
#include "tare_record.h"

#include <cstdio>
#include <memory>
#include <string>

namespace vq31::ctl {

namespace {

constexpr std::string_view DecimalPoint = ".";
constexpr const char* TableTooBigText =
    "Размер тарировочной таблицы превышает максимально допустимый";

int ExchangeFail(const sheets::ExchangeResult& r) {
    std::fprintf(stderr, "%s\n", r.message.c_str());
    if (!r.detail.empty() && r.detail != r.message) {
        std::fprintf(stderr, "(%s)\n", r.detail.c_str());
    }
    return 1;
}

// Writes every page; written counts the pages the device took before any failure.
Status WriteHub(DeviceLink& link, uint8_t address, const HubBuffer& image, std::size_t& written) {
    const std::size_t pages = std::min(HubPageCount(image), MaxAddressablePages);
    std::array<uint8_t, HubBlockSize> block{};
    written = 0;
    for (std::size_t i = 0; i < pages; ++i) {
        const auto page = image.Page(i);
        std::copy(page.begin(), page.end(), block.begin());
        const Status status = WriteHubBlock(link, address, uint8_t(i), block);
        if (status != StatusOk) {
            return status;
        }
        ++written;
    }
    return StatusOk;
}

void PrintTanks(const HubBuffer& image) {
    std::printf("hub %s, %u bytes, %u ml/bit\n", HubVersionText(image.Version()).c_str(),
                image.TotalSize(), image.MlPerBit());
    for (auto e = HubFirstEntry(image); e; e = HubNextEntry(image, *e)) {
        const TankEntryHead head = HubEntryHead(image, *e);
        std::printf("  tank %u: height %u mm, %u rows, scale %u ml\n", head.Id, head.Height / 10,
                    head.RowCount, head.Scale);
    }
}

int WriteDeviceHub(const Options& o, HubBuffer& image) {
    DeviceLink link;
    if (!OpenHubLink(link, o)) {
        return 1;
    }
    std::filesystem::path snapshot;
    if (!SnapshotBeforeWrite(link, o.address, &snapshot)) {
        return 1;
    }
    std::size_t written = 0;
    const Status status = WriteHub(link, o.address, image, written);
    if (status != StatusOk) {
        const int code = StatusFail(status);
        const std::size_t pages = std::min(HubPageCount(image), MaxAddressablePages);
        if (written == 0) {
            std::fprintf(stderr, "vq31ctl: no hub page was written\n");
        } else {
            std::fprintf(stderr,
                         "vq31ctl: %zu of %zu hub pages were written: the device holds the "
                         "start of the new image and the end of the old one; put the old one "
                         "back with: vq31ctl snapshot restore %s\n",
                         written, pages, snapshot.string().c_str());
        }
        return code;
    }
    if (!VerifyHubWrite(link, o.address, image,
                        std::min(HubPageCount(image), MaxAddressablePages))) {
        return 1;
    }
    std::printf("written to the device and read back\n");
    return 0;
}

bool FileArgument(const Options& o, std::string& verb, std::string& file, const char* usage,
                  bool withReport = false) {
    const auto words = Positional(o.args);
    if (words.size() != 2 ||
        (words[0] != "export" && words[0] != "import" && (!withReport || words[0] != "report"))) {
        std::fprintf(stderr, "usage: vq31ctl %s\n", usage);
        return false;
    }
    verb = words[0];
    file = words[1];
    return true;
}

int Tanks(const Options& o) {
    std::string verb, file;
    if (!FileArgument(o, verb, file, TanksUsage)) {
        return 2;
    }
    auto image = std::make_unique<HubBuffer>();
    if (verb == "export") {
        int code = 0;
        if (!ReadDeviceHub(o, *image, code)) {
            return code;
        }
        const sheets::ExchangeResult r = sheets::ExportTankList(*image, file);
        if (!r.ok) {
            return ExchangeFail(r);
        }
        PrintTanks(*image);
        std::printf("exported to %s\n", file.c_str());
        return 0;
    }
    auto scratch = std::make_unique<TankRecord>();
    // A write keeps the device's calibrated tank 1: its image is read first. A dry run starts
    // from the default configuration.
    if (HasFlag(o.args, "--write")) {
        int code = 0;
        if (!ReadDeviceHub(o, *image, code)) {
            return code;
        }
    } else {
        HubMakeDefault(*image);
    }
    // A workbook without a single tank sheet would reset every preset of the device.
    const bool allowEmpty = HasFlag(o.args, "--allow-empty");
    const sheets::ExchangeResult r = sheets::ImportTankList(*image, *scratch, file, DecimalPoint,
                                                            [allowEmpty] { return allowEmpty; });
    if (!r.ok && r.message.empty()) {
        std::fprintf(stderr, "%s: %s\n(--allow-empty takes it as the default configuration)\n",
                     file.c_str(), r.detail.c_str());
        return 1;
    }
    if (!r.ok) {
        return ExchangeFail(r);
    }
    std::printf("%s\n", r.detail.c_str());
    PrintTanks(*image);
    for (const std::string& line : r.leftOut) {
        std::fprintf(stderr, "%s\n", line.c_str());
    }
    if (!r.leftOut.empty() && HasFlag(o.args, "--write") && !HasFlag(o.args, "--accept-dropped")) {
        std::fprintf(stderr, "vq31ctl: rows were left out; nothing written (--accept-dropped "
                             "writes the rest)\n");
        return 1;
    }
    return HasFlag(o.args, "--write") ? WriteDeviceHub(o, *image) : 0;
}

int Tare(const Options& o) {
    if (const auto words = Positional(o.args); !words.empty() && words[0] == "shape") {
        return TareShape(o, &WriteDeviceHub);
    }
    std::string verb, file;
    if (!FileArgument(o, verb, file, TareUsage, true)) {
        return 2;
    }
    if (const std::string wrong = CheckTareOptions(verb, file, o.args); !wrong.empty()) {
        std::fprintf(stderr, "vq31ctl tare: %s\nusage: vq31ctl %s\n", wrong.c_str(), TareUsage);
        return 2;
    }
    if (verb == "report") {
        return TareReport(o, file);
    }
    if (verb == "export" && IsTelematicsFile(file)) {
        return TareTelematics(o, file);
    }
    auto image = std::make_unique<HubBuffer>();
    int code = 0;
    if (!ReadDeviceHub(o, *image, code)) {
        return code;
    }
    if (!HubIsValid(*image)) {
        std::fprintf(stderr, "%s\n", std::string(sheets::WrongHubMessage).c_str());
        return 1;
    }
    const auto entry = HubFindEntry(*image, CalibratedTankId);
    if (!entry) {
        std::fprintf(stderr, "the hub has no tank 1\n");
        return 1;
    }
    auto tank = std::make_unique<TankRecord>();
    EntryToRecord(*image, *entry, *tank);
    TareGrid grid;
    if (verb == "export") {
        FillTareGrid(*tank, grid, DecimalPoint);
        const sheets::ExchangeResult r = sheets::ExportTareTable(
            TableTextsOf(grid), std::string(sheets::TareSheetName), file, DecimalPoint);
        if (!r.ok) {
            return ExchangeFail(r);
        }
        std::printf("tank 1: %d rows exported to %s\n", CountStorableRows(grid, DecimalPoint),
                    file.c_str());
        return 0;
    }
    sheets::TareRows rows;
    const sheets::ExchangeResult r = sheets::ImportTareTable(file, DecimalPoint, rows);
    if (!r.ok) {
        return ExchangeFail(r);
    }
    PutTableTexts(grid, rows);
    RenumberRows(grid);
    // As the editor's OK with the truncation question answered Yes; a batch run is told that
    // the table was cut.
    bool cut = false;
    const TareOutcome stored = StoreTareGrid(grid, DecimalPoint, *tank, [&cut] {
        std::fprintf(stderr, "more than %zu table rows: only the first %zu are taken\n",
                     TareTableRows, TareTableRows);
        cut = true;
        return true;
    });
    if (!stored.Ok()) {
        std::fprintf(stderr, "%s\n", std::string(TareMessageDefault(stored.message)).c_str());
        return 1;
    }
    if (!RecordToEntry(*tank, *image, *entry)) {
        std::fprintf(stderr, "%s\n", TableTooBigText);
        return 1;
    }
    HubSeal(*image);
    if (cut && HasFlag(o.args, "--write") && !HasFlag(o.args, "--accept-dropped")) {
        std::fprintf(stderr,
                     "vq31ctl: rows were left out; nothing written (--accept-dropped "
                     "writes the first %zu)\n",
                     TareTableRows);
        return 1;
    }
    std::printf("tank 1: %u rows, scale %u ml\n", tank->RowCount, tank->Scale);
    for (uint16_t i = 0; i < tank->RowCount; ++i) {
        std::printf("  %.1f l at %u mm\n", double(tank->rows[i].Litres),
                    LevelMillimetres(tank->rows[i].Code));
    }
    return HasFlag(o.args, "--write") ? WriteDeviceHub(o, *image) : 0;
}

const bool registeredTanks = Register("tanks", TanksUsage, &Tanks, TanksRules());
const bool registeredTare = Register("tare", TareUsage, &Tare, TareRules());

} // namespace

} // namespace vq31::ctl
