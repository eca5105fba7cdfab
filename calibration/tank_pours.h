// Correction of a computed table by a few measured pours: each point is the litres poured in
// so far and the level the sensor showed then. Two points fit the model's volume factor;
// three or more also fit the sensor's zero point above the bottom. Each point's deviation
// from the fitted model is shown, and a point more than 2 % off warns of a leak, a wrong
// dimension or a misread measure.
#pragma once

#include "tank_shape.h"

#include <string>
#include <vector>

namespace vq31 {

struct PourPoint {
    double litres = 0.0;
    double levelMm = 0.0;
};

struct PourDeviation {
    PourPoint point;
    double modelLitres = 0.0; // the fitted model at the point's level
    double litres = 0.0;      // measured minus model
    double share = 0.0;       // that as a share of the model's litres
    bool tooFar = false;      // over kPourWarnShare
};

inline constexpr double kPourWarnShare = 0.02;
inline constexpr std::size_t kPoursForFactor = 2;
inline constexpr std::size_t kPoursForZero = 3;

struct PourFit {
    bool ok = false;
    std::string error; // why there is no fit
    double factor = 1.0;
    double offsetMm = 0.0;
    bool offsetFitted = false;
    std::vector<PourDeviation> deviations;

    bool Warning() const;
};

// Fits the factor (and, from three points on, the zero point, within the tank's lower half)
// by least squares of each pour's share (a pour of 0 l takes no part). The placement's tilt and
// sensor position stay as given.
PourFit FitPours(const TankShape& shape, const SensorPlacement& placement,
                 const std::vector<PourPoint>& points);

// Pours from a text file: one "LITRES;LEVEL_MM" pair a line (separator ';', ',' or a tab;
// decimal point '.', or ',' when the separator is ';'). Lines that are not a pair of numbers
// (a header) are skipped. False with the reason when a line holds a negative value or no
// line holds a pair.
bool ParsePours(const std::string& text, std::vector<PourPoint>& points, std::string& error);

} // namespace vq31
