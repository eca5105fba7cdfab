// A tare table computed from a tank's shape, with the pours that corrected it: what the
// tare window's shape dialog and vq31ctl compute, and what the calibration report names.
#pragma once

#include "tank_pours.h"
#include "tank_table.h"

#include <string>
#include <vector>

namespace vq31 {

struct ShapeCalculation {
    TankShape shape;
    SensorPlacement placement; // with the zero point fitted to the pours, when it was
    double factor = 1.0;       // the volume factor fitted to the pours
    bool zeroFitted = false;
    std::vector<PourDeviation> pours; // empty: the table comes from the geometry alone
    ShapeTable table;

    bool CorrectedByPours() const { return !pours.empty(); }
    bool PourWarning() const;
};

// Checks the shape, fits the pours when two or more are given (fewer than two: the
// geometry alone), and computes the table. False with the reason in error (the shape's
// check or the fit's) and the calculation untouched.
bool CalculateShapeTable(const TankShape& shape, const SensorPlacement& placement,
                         const std::vector<PourPoint>& pours, const ShapeTableOptions& options,
                         ShapeCalculation& calculation, std::string& error);

} // namespace vq31
