// Least-squares fit of a tank model to measured pours, and the pours file.
#include "tank_pours.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <sstream>

namespace vq31 {

namespace {

// The zero point is looked for this share of the tank's height either side of the given
// one (never below the bottom nor above the middle), first on a grid, then narrowed.
constexpr double ZeroSearchShare = 0.2;
constexpr int ZeroGridSteps = 200;
constexpr int ZeroRefineSteps = 60;

struct Residual {
    double factor = 1.0;
    double sumSquares = 0.0;
};

// The best factor for a zero point, with its sum of squared relative differences: every
// pour weighs by its share, so one misread point shows as its own deviation instead of
// tilting the small pours' shares.
Residual FitFactor(const TankShape& shape, SensorPlacement placement, double offset,
                   const std::vector<PourPoint>& points) {
    placement.offsetMm = offset;
    const TankModel model(shape, placement);
    double rr = 0.0, sum = 0.0;
    std::vector<double> ratio(points.size(), 0.0);
    for (std::size_t i = 0; i < points.size(); ++i) {
        if (points[i].litres <= 0.0) {
            continue; // an empty tank's point weighs nothing in shares
        }
        ratio[i] = model.LitresAtReading(points[i].levelMm) / points[i].litres;
        rr += ratio[i] * ratio[i];
        sum += ratio[i];
    }
    Residual r;
    r.factor = rr > 0.0 ? sum / rr : 1.0;
    for (std::size_t i = 0; i < points.size(); ++i) {
        if (points[i].litres > 0.0) {
            const double d = 1.0 - r.factor * ratio[i];
            r.sumSquares += d * d;
        }
    }
    return r;
}

std::optional<double> ReadNumber(std::string text, bool commaDecimal) {
    if (commaDecimal) {
        std::replace(text.begin(), text.end(), ',', '.');
    }
    const auto first = text.find_first_not_of(" \t\r\"");
    const auto last = text.find_last_not_of(" \t\r\"");
    if (first == std::string::npos) {
        return std::nullopt;
    }
    text = text.substr(first, last - first + 1);
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || *end != '\0' || !std::isfinite(v)) {
        return std::nullopt;
    }
    return v;
}

} // namespace

bool PourFit::Warning() const {
    return std::any_of(deviations.begin(), deviations.end(),
                       [](const PourDeviation& d) { return d.tooFar; });
}

PourFit FitPours(const TankShape& shape, const SensorPlacement& placement,
                 const std::vector<PourPoint>& points) {
    PourFit fit;
    fit.offsetMm = placement.offsetMm;
    if (points.size() < kPoursForFactor) {
        fit.error = "at least two pours are needed";
        return fit;
    }
    Residual best = FitFactor(shape, placement, placement.offsetMm, points);
    if (points.size() >= kPoursForZero) {
        const double height = TankHeightMm(Normalised(shape));
        const double low = std::max(0.0, placement.offsetMm - ZeroSearchShare * height);
        const double high = std::min(height / 2, placement.offsetMm + ZeroSearchShare * height);
        const double step = (high - low) / ZeroGridSteps;
        double at = placement.offsetMm;
        for (int i = 0; i <= ZeroGridSteps; ++i) {
            const double offset = low + i * step;
            const Residual r = FitFactor(shape, placement, offset, points);
            if (r.sumSquares < best.sumSquares) {
                best = r;
                at = offset;
            }
        }
        // Golden-section narrowing inside the grid cell pair around the best point.
        double a = std::max(low, at - step), b = std::min(high, at + step);
        const double g = (std::sqrt(5.0) - 1) / 2;
        for (int i = 0; i < ZeroRefineSteps && b - a > 1e-9; ++i) {
            const double c = b - g * (b - a), d = a + g * (b - a);
            if (FitFactor(shape, placement, c, points).sumSquares <
                FitFactor(shape, placement, d, points).sumSquares) {
                b = d;
            } else {
                a = c;
            }
        }
        const Residual narrowed = FitFactor(shape, placement, (a + b) / 2, points);
        if (narrowed.sumSquares <= best.sumSquares) {
            best = narrowed;
            at = (a + b) / 2;
        }
        fit.offsetMm = at;
        fit.offsetFitted = true;
    }
    if (!(best.factor > 0.0)) {
        fit.error = "the pours do not fit the tank: check the levels and litres";
        return fit;
    }
    fit.factor = best.factor;
    SensorPlacement fitted = placement;
    fitted.offsetMm = fit.offsetMm;
    const TankModel model(shape, fitted, fit.factor);
    for (const PourPoint& p : points) {
        PourDeviation d;
        d.point = p;
        d.modelLitres = model.LitresAtReading(p.levelMm);
        d.litres = p.litres - d.modelLitres;
        const double base = std::max(d.modelLitres, p.litres);
        d.share = base > 0.0 ? d.litres / base : 0.0;
        d.tooFar = std::abs(d.share) > kPourWarnShare;
        fit.deviations.push_back(d);
    }
    fit.ok = true;
    return fit;
}

bool ParsePours(const std::string& text, std::vector<PourPoint>& points, std::string& error) {
    points.clear();
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
        ++number;
        const bool semicolon = line.find(';') != std::string::npos;
        const char separator = semicolon ? ';' : line.find('\t') != std::string::npos ? '\t' : ',';
        const auto cut = line.find(separator);
        if (cut == std::string::npos) {
            continue;
        }
        const auto litres = ReadNumber(line.substr(0, cut), semicolon);
        const auto level = ReadNumber(line.substr(cut + 1), semicolon);
        if (!litres || !level) {
            continue; // a header or a note
        }
        if (*litres < 0.0 || *level < 0.0) {
            error = "line " + std::to_string(number) + ": litres and level must not be negative";
            return false;
        }
        points.push_back({*litres, *level});
    }
    if (points.empty()) {
        error = "no line holds a pair of numbers (litres;level)";
        return false;
    }
    return true;
}

} // namespace vq31
