// vq31ctl tare shape SHAPE --DIMENSION MM ... [--offset MM] [--tilt DEG --sensor-at MM]
//   [--rows N] [--pours FILE.csv] [--write]
// computes tank 1's table from the tank's dimensions: at most 50 rows placed where the curve
// bends most, the litres at the scale's resolution and the levels to the tenth of a
// millimetre the sensor stores. Prints it like "tare import" with its largest interpolation
// error. --pours fits the model to measured points (litres;level a line) and shows each
// point's deviation; --write puts the table into tank 1 of the device's hub through the
// tool's hub write (snapshot, write, read-back). Nothing but --write opens the port.
#include "ctl_tare_shape.h"
#include "ctl_english.h"

#include "ctl_hub.h"
#include "hub_image.h"
#include "tank_calculation.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>

namespace vq31::ctl {

namespace {

struct ShapeWords {
    TankShapeKind kind;
    std::vector<std::string> required;
    std::vector<std::string> optional;
};

const std::map<std::string, ShapeWords>& Shapes() {
    static const std::map<std::string, ShapeWords> shapes = {
        {"cylinder",
         {TankShapeKind::Cylinder, {"--diameter", "--length"}, {"--heads", "--head-depth"}}},
        {"box", {TankShapeKind::Box, {"--width", "--height", "--length"}, {"--corner-radius"}}},
        {"oval", {TankShapeKind::Oval, {"--width", "--height", "--length"}, {}}},
        {"vertical", {TankShapeKind::Vertical, {"--diameter", "--height"}, {}}},
    };
    return shapes;
}

int Usage(const std::string& why) {
    std::fprintf(stderr, "vq31ctl tare shape: %s\nusage: vq31ctl %s\n", why.c_str(),
                 TareShapeUsage);
    return 2;
}

// A decimal option; false with the reason when given but not a finite number.
bool Decimal(const Options& o, const char* name, double& value, std::string& why) {
    const auto text = OptionText(o.args, name);
    if (!text) {
        return true;
    }
    char* end = nullptr;
    const double v = std::strtod(text->c_str(), &end);
    if (text->empty() || *end != '\0' || !std::isfinite(v)) {
        why = std::string(name) + " needs a number in millimetres or degrees, not '" + *text + "'";
        return false;
    }
    value = v;
    return true;
}

bool Among(const std::vector<std::string>& list, const std::string& word) {
    for (const auto& item : list) {
        if (item == word) {
            return true;
        }
    }
    return false;
}

// Litres with the decimals the scale keeps: 1 ml three, 10 ml two, 100 ml one, else none.
std::string Litres(double litres, unsigned scaleMl) {
    const int decimals = scaleMl <= 1 ? 3 : scaleMl <= 10 ? 2 : scaleMl <= 100 ? 1 : 0;
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", decimals, litres);
    return text;
}

bool ReadPours(const std::string& file, std::vector<PourPoint>& points) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "vq31ctl: cannot read %s\n", file.c_str());
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    std::string error;
    if (!ParsePours(text.str(), points, error)) {
        std::fprintf(stderr, "vq31ctl: %s: %s\n", file.c_str(), error.c_str());
        return false;
    }
    return true;
}

void PrintFit(const ShapeCalculation& c) {
    std::printf("pours: volume factor %.4f, zero point %.1f mm%s\n", c.factor, c.placement.offsetMm,
                c.zeroFitted ? " (fitted)" : "");
    for (std::size_t i = 0; i < c.pours.size(); ++i) {
        const PourDeviation& d = c.pours[i];
        std::printf("  pour %zu: %.2f l at %.1f mm, model %.2f l, deviation %+.2f l (%+.2f %%)%s\n",
                    i + 1, d.point.litres, d.point.levelMm, d.modelLitres, d.litres, d.share * 100,
                    d.tooFar ? "  <- over 2 %" : "");
    }
}

} // namespace

int TareShape(const Options& o, HubWriter writeHub) {
    const auto words = Positional(o.args);
    if (words.size() != 2 || Shapes().count(words[1]) == 0) {
        return Usage("SHAPE must be cylinder, box, oval or vertical");
    }
    const ShapeWords& kind = Shapes().at(words[1]);
    for (const std::string& a : o.args) {
        if (a.rfind("--", 0) == 0 &&
            Among(std::vector<std::string>(std::begin(TareShapeValues), std::end(TareShapeValues)),
                  a)) {
            const bool common =
                Among({"--offset", "--tilt", "--sensor-at", "--rows", "--pours"}, a);
            if (!common && !Among(kind.required, a) && !Among(kind.optional, a)) {
                return Usage(a + " does not go with " + words[1]);
            }
        } else if (a == "--accept-dropped" || a == "--tank" || a == "--field" ||
                   a == "--separator") {
            return Usage(a + " does not go with tare shape");
        }
    }
    for (const std::string& name : kind.required) {
        if (!OptionText(o.args, name.c_str())) {
            return Usage(words[1] + " needs " + name);
        }
    }
    TankShape shape;
    shape.kind = kind.kind;
    SensorPlacement placement;
    std::string why;
    if (!Decimal(o, "--diameter", shape.diameterMm, why) ||
        !Decimal(o, "--length", shape.lengthMm, why) ||
        !Decimal(o, "--width", shape.widthMm, why) ||
        !Decimal(o, "--height", shape.heightMm, why) ||
        !Decimal(o, "--corner-radius", shape.cornerRadiusMm, why) ||
        !Decimal(o, "--head-depth", shape.headDepthMm, why) ||
        !Decimal(o, "--offset", placement.offsetMm, why) ||
        !Decimal(o, "--tilt", placement.tiltDeg, why) ||
        !Decimal(o, "--sensor-at", placement.sensorAtMm, why)) {
        return Usage(why);
    }
    if (const auto heads = OptionText(o.args, "--heads")) {
        const std::map<std::string, TankHeads> names = {
            {"flat", TankHeads::Flat},
            {"ellipsoidal", TankHeads::Ellipsoidal},
            {"hemispherical", TankHeads::Hemispherical}};
        if (names.count(*heads) == 0) {
            return Usage("--heads must be flat, ellipsoidal or hemispherical");
        }
        shape.heads = names.at(*heads);
    }
    if (OptionText(o.args, "--tilt") && !OptionText(o.args, "--sensor-at")) {
        return Usage("--tilt needs --sensor-at (where the sensor stands along the length)");
    }
    if (!OptionText(o.args, "--sensor-at")) {
        placement.sensorAtMm = TankLengthMm(Normalised(shape)) / 2;
    }
    long long rows = TareTableRows;
    if (!OptionNumber(o.args, "--rows", rows)) {
        return 2;
    }
    if (rows < 2 || rows > static_cast<long long>(TareTableRows)) {
        return Usage("--rows must be 2 to " + std::to_string(TareTableRows));
    }
    if (const std::string wrong = CheckTankShape(shape, placement); !wrong.empty()) {
        return Usage(wrong);
    }
    const bool write = HasFlag(o.args, "--write");
    if (write && writeHub == nullptr) {
        std::fprintf(stderr, "vq31ctl: this build cannot write the hub\n");
        return 2;
    }

    std::vector<PourPoint> points;
    const auto file = OptionText(o.args, "--pours");
    if (file && !ReadPours(*file, points)) {
        return 1;
    }
    if (file && points.size() < kPoursForFactor) {
        std::fprintf(stderr, "vq31ctl: %s: at least two pours are needed\n", file->c_str());
        return 1;
    }
    ShapeTableOptions options;
    options.maxRows = std::size_t(rows);
    ShapeCalculation calculation;
    if (!CalculateShapeTable(shape, placement, points, options, calculation, why)) {
        std::fprintf(stderr, "%s: %s\n", file ? file->c_str() : "vq31ctl", why.c_str());
        return 1;
    }
    if (calculation.CorrectedByPours()) {
        PrintFit(calculation);
    }
    const bool warning = calculation.PourWarning();
    const ShapeTable& table = calculation.table;

    std::printf("shape: %s\n", DescribeTankShape(shape).c_str());
    std::printf("capacity %s l, below the sensor's reach %s l, readings 0 to %.1f mm\n",
                Litres(table.capacityLitres, table.scaleMl).c_str(),
                Litres(table.deadLitres, table.scaleMl).c_str(), table.topMm);

    std::unique_ptr<HubBuffer> image;
    auto tank = std::make_unique<TankRecord>();
    if (write) {
        image = std::make_unique<HubBuffer>();
        int code = 0;
        if (!ReadDeviceHub(o, *image, code) || !TankOfHub(*image, CalibratedTankId, *tank)) {
            return code != 0 ? code : 1;
        }
    }
    ShapeTableToRecord(table, *tank);
    std::printf("tank 1: %u rows, scale %u ml\n", tank->RowCount, tank->Scale);
    for (const ShapeRow& row : table.rows) {
        std::printf("  %s l at %.1f mm\n", Litres(row.litres, table.scaleMl).c_str(), row.levelMm);
    }
    std::printf("largest interpolation error: %s l (%.4f %% of capacity) at %.1f mm\n",
                Litres(table.maxErrorLitres, 1).c_str(), table.ErrorShare() * 100,
                table.maxErrorAtMm);
    if (warning) {
        std::fprintf(stderr,
                     "vq31ctl: warning: a pour deviates more than 2 %% from the fitted model: a "
                     "leak, a wrong dimension or a misread measure\n");
    }
    if (!write) {
        return 0;
    }
    if (warning) {
        std::fprintf(stderr, "vq31ctl: nothing written; check the pours first\n");
        return 1;
    }
    const auto entry = HubFindEntry(*image, CalibratedTankId);
    if (!RecordToEntry(*tank, *image, *entry)) {
        std::fprintf(stderr, "vq31ctl: %s\n", EnglishTexts().Text(msg::TableTooBig).c_str());
        return 1;
    }
    HubSeal(*image);
    return writeHub(o, *image);
}

} // namespace vq31::ctl
