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
#include "ctl_english.h"
#include "ctl_hub.h"
#include "ctl_sheets_words.h"
#include "ctl_tare_out.h"
#include "ctl_tare_shape.h"
#include "ctl_write.h"
#include "exchange.h"
#include "hub_image.h"
#include "link.h"
#include "status_texts.h"
#include "tare_grid.h"
#include "tare_record.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

namespace vq31::ctl {

namespace {

constexpr std::string_view DecimalPoint = ".";

// The workbook layer's own message (its lines joined), then its detail, on one error line.
int ExchangeFail(const sheets::ExchangeResult& r) {
    std::string text = r.message;
    for (size_t at; (at = text.find('\n')) != std::string::npos;) {
        text.replace(at, 1, ": ");
    }
    if (!r.detail.empty() && r.detail != r.message) {
        text += " (" + r.detail + ")";
    }
    std::fprintf(stderr, "vq31ctl: %s\n", text.c_str());
    return 1;
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

int WriteDeviceHub(const Options& o, const HubBuffer& image) {
    DeviceLink link;
    if (!OpenLink(link, o)) {
        return 1;
    }
    return WriteHubOnLink(o, link, {&image, HubTransferPages(image), {}, {}},
                          "written to the device and read back");
}

// The table as the device will store it: litres at the scale's resolution, and how many rows
// the scale rounded, and by how much at most.
void PrintStoredTable(const TankRecord& tank) {
    const uint16_t scale = tank.Scale == 0 ? 1 : tank.Scale;
    const int decimals = scale >= 1000 ? 0 : scale >= 100 ? 1 : scale >= 10 ? 2 : 3;
    std::printf("tank 1: %u rows, scale %u ml\n", tank.RowCount, scale);
    size_t rounded = 0;
    double largest = 0;
    for (uint16_t i = 0; i < tank.RowCount; ++i) {
        const double typed = double(tank.rows[i].Litres);
        const double stored = StoredLitres(ValueForLitres(tank.rows[i].Litres, scale), scale);
        std::printf("  %.*f l at %u mm\n", decimals, stored, LevelMillimetres(tank.rows[i].Code));
        // A float keeps about 7 digits: a difference below that is no rounding by the scale.
        const double change = std::fabs(stored - typed);
        if (change > 1e-6 * std::max(1.0, std::fabs(typed))) {
            ++rounded;
            largest = std::max(largest, change);
        }
    }
    if (rounded > 0)
        std::printf("%zu rows rounded to the scale of %u ml, by %.*f l at most\n", rounded, scale,
                    decimals + 1, largest);
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
        std::fprintf(stderr,
                     "vq31ctl: %s: %s (--allow-empty takes it as the default configuration)\n",
                     file.c_str(), r.detail.c_str());
        return 1;
    }
    if (!r.ok) {
        return ExchangeFail(r);
    }
    std::printf("%s\n", r.detail.c_str());
    PrintTanks(*image);
    for (const std::string& line : r.leftOut) {
        std::fprintf(stderr, "vq31ctl: %s\n", line.c_str());
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
        std::fprintf(stderr, "vq31ctl: %s\n", std::string(sheets::WrongHubMessage).c_str());
        return 1;
    }
    const auto entry = HubFindEntry(*image, CalibratedTankId);
    if (!entry) {
        std::fprintf(stderr, "vq31ctl: the hub has no tank 1\n");
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
    for (const std::string& line : r.leftOut) {
        std::fprintf(stderr, "vq31ctl: %s\n", line.c_str());
    }
    PutTableTexts(grid, rows);
    RenumberRows(grid);
    // As the editor's OK with the truncation question answered Yes; a batch run is told that
    // the table was cut.
    bool cut = false;
    const TareOutcome stored = StoreTareGrid(grid, DecimalPoint, *tank, [&cut] {
        std::fprintf(stderr, "vq31ctl: more than %zu table rows: only the first %zu are taken\n",
                     TareTableRows, TareTableRows);
        cut = true;
        return true;
    });
    if (!stored.Ok()) {
        std::fprintf(stderr, "vq31ctl: %s\n",
                     EnglishTexts().Text(TareMessageKey(stored.message)).c_str());
        return 1;
    }
    if (!RecordToEntry(*tank, *image, *entry)) {
        std::fprintf(stderr, "vq31ctl: %s\n", EnglishTexts().Text(msg::TableTooBig).c_str());
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
    PrintStoredTable(*tank);
    return HasFlag(o.args, "--write") ? WriteDeviceHub(o, *image) : 0;
}

const bool registeredTanks = Register("tanks", TanksUsage, &Tanks, TanksRules());
const bool registeredTare = Register("tare", TareUsage, &Tare, TareRules());

} // namespace

} // namespace vq31::ctl
