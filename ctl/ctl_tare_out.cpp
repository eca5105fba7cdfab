// vq31ctl tare table outputs:
//   tare export FILE.csv [--tank N] [--separator ';'|',']
//                      the table as telematics pairs (level in mm, litres), ';' by default
//   tare report FILE.pdf [--tank N] [--field NAME=VALUE ...]
//                      the calibration report, with the passport read from the device
// Both read the hub from the device and take tank 1 unless --tank names a preset.
#include "ctl_tare_out.h"

#include "commands.h"
#include "ctl_hub.h"
#include "device_ops.h"
#include "link.h"
#include "tare_check.h"
#include "tare_export.h"
#include "tare_grid.h"
#include "tare_record.h"
#ifdef VQ31_HAVE_REPORT
#include "tare_report.h"
#endif

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <memory>

namespace vq31::ctl {

namespace {

constexpr std::string_view DecimalPoint = ".";

bool Among(const std::string& word, std::initializer_list<const char*> words) {
    return std::any_of(words.begin(), words.end(), [&word](const char* w) { return word == w; });
}

// --tank N: 1 unless given; false (message printed) for a value that is not an id.
bool TankId(const Options& o, uint16_t& id) {
    long long value = CalibratedTankId;
    if (!OptionNumber(o.args, "--tank", value)) {
        return false;
    }
    if (value < 0 || value > 0xFFFF) {
        std::fprintf(stderr, "vq31ctl: --tank must be 0..65535\n");
        return false;
    }
    id = uint16_t(value);
    return true;
}

} // namespace

bool IsTelematicsFile(const std::string& file) {
    std::string extension = std::filesystem::path(file).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return extension == ".csv";
}

std::string CheckTareOptions(const std::string& verb, const std::string& file,
                             const std::vector<std::string>& args) {
    const bool csv = verb == "export" && IsTelematicsFile(file);
    for (const std::string& a : args) {
        if (Among(a, {"--write", "--accept-dropped"}) && verb != "import") {
            return a + " goes with tare import only";
        }
        // The workbook words work on tank 1, the tank the window edits.
        if (a == "--tank" && verb != "report" && !csv) {
            return "--tank goes with tare export FILE.csv and tare report only";
        }
        if (a == "--field" && verb != "report") {
            return "--field goes with tare report only";
        }
        if (a == "--separator" && !csv) {
            return "--separator goes with tare export FILE.csv only";
        }
    }
    return {};
}

int TareTelematics(const Options& o, const std::string& file) {
    uint16_t id = CalibratedTankId;
    if (!TankId(o, id)) {
        return 2;
    }
    const std::string separator = OptionText(o.args, "--separator").value_or(";");
    if (separator.size() != 1 || !IsTelematicsSeparator(separator[0])) {
        std::fprintf(stderr, "vq31ctl: --separator must be ';' or ','\n");
        return 2;
    }
    auto image = std::make_unique<HubBuffer>();
    int code = 0;
    if (!ReadDeviceHub(o, *image, code)) {
        return code;
    }
    auto tank = std::make_unique<TankRecord>();
    if (!TankOfHub(*image, id, *tank)) {
        return 1;
    }
    const std::vector<TarePoint> points = StoredTarePoints(*tank);
    if (points.empty()) {
        std::fprintf(stderr, "vq31ctl: tank %u has an empty table: nothing written\n", id);
        return 1;
    }
    std::string error;
    if (!WriteFileReplacing(file, TelematicsCsvText(points, separator[0]), error)) {
        std::fprintf(stderr, "vq31ctl: %s\n", error.c_str());
        return 1;
    }
    std::printf("tank %u: %zu pairs written to %s\n", id, points.size(), file.c_str());
    return 0;
}

#ifdef VQ31_HAVE_REPORT

int TareReport(const Options& o, const std::string& file) {
    uint16_t id = CalibratedTankId;
    if (!TankId(o, id)) {
        return 2;
    }
    report::ReportData data;
    // --field NAME=VALUE, any number of times; a name given twice keeps the last value.
    for (size_t i = 0; i + 1 < o.args.size(); ++i) {
        if (o.args[i] != "--field") {
            continue;
        }
        const std::string& field = o.args[++i];
        const size_t equals = field.find('=');
        const std::string name = field.substr(0, equals);
        if (equals == std::string::npos || !report::IsFieldName(name)) {
            std::fprintf(stderr,
                         "vq31ctl: --field needs NAME=VALUE with NAME one of organisation, "
                         "client, vehicle, plate, tank, technician, notes (not '%s')\n",
                         field.c_str());
            return 2;
        }
        std::erase_if(data.fields, [&name](const auto& f) { return f.first == name; });
        data.fields.emplace_back(name, field.substr(equals + 1));
    }
    DeviceLink link;
    if (!OpenHubLink(link, o)) {
        return 1;
    }
    Passport passport;
    Status status = ReadPassport(link, o.address, passport);
    if (status != StatusOk) {
        return StatusFail(status);
    }
    data.device = report::DeviceFromPassport(passport.date, passport.serialNumber, passport.model,
                                             passport.firmwareVersion);
    auto image = std::make_unique<HubBuffer>();
    if ((status = ReadHubImage(link, o.address, *image)) != StatusOk) {
        return StatusFail(status);
    }
    auto tank = std::make_unique<TankRecord>();
    if (!TankOfHub(*image, id, *tank)) {
        return 1;
    }
    if (OwnsHeight(id)) {
        uint32_t height = 0;
        if ((status = ReadValue(link, cmd::ReadTankHeight, o.address, height)) != StatusOk) {
            return StatusFail(status);
        }
        data.tankHeightMm = height / 10.0;
    } else {
        data.tankHeightMm = HubEntryHead(*image, *HubFindEntry(*image, id)).Height / 10.0;
    }
    link.UartClose();
    data.tankId = id;
    data.scaleMl = tank->Scale;
    data.points = StoredTarePoints(*tank);
    data.issues = CheckTareTable(data.points, data.tankHeightMm);
    std::string error;
    if (!report::WriteReportPdf(data, file, error)) {
        std::fprintf(stderr, "vq31ctl: %s\n", error.c_str());
        return 1;
    }
    std::printf("tank %u: report with %zu rows and %zu findings written to %s\n", id,
                data.points.size(), data.issues.size(), file.c_str());
    return 0;
}

#else

int TareReport(const Options&, const std::string&) {
    std::fprintf(stderr, "vq31ctl: this build has no report support\n");
    return 2;
}

#endif

} // namespace vq31::ctl
