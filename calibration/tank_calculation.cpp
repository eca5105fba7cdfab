// The shape, the pours' fit and the table in one step.
#include "tank_calculation.h"

#include <algorithm>

namespace vq31 {

bool ShapeCalculation::PourWarning() const {
    return std::any_of(pours.begin(), pours.end(), [](const PourDeviation& d) { return d.tooFar; });
}

bool CalculateShapeTable(const TankShape& shape, const SensorPlacement& placement,
                         const std::vector<PourPoint>& pours, const ShapeTableOptions& options,
                         ShapeCalculation& calculation, std::string& error) {
    if (std::string wrong = CheckTankShape(shape, placement); !wrong.empty()) {
        error = std::move(wrong);
        return false;
    }
    ShapeCalculation result;
    result.shape = Normalised(shape);
    result.placement = placement;
    if (pours.size() >= kPoursForFactor) {
        const PourFit fit = FitPours(shape, placement, pours);
        if (!fit.ok) {
            error = fit.error;
            return false;
        }
        result.factor = fit.factor;
        result.placement.offsetMm = fit.offsetMm;
        result.zeroFitted = fit.offsetFitted;
        result.pours = fit.deviations;
    }
    result.table =
        ComputeShapeTable(TankModel(result.shape, result.placement, result.factor), options);
    calculation = std::move(result);
    return true;
}

} // namespace vq31
