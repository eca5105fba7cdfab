// Horizontal cylinder geometry: the wetted cross-section is a circular segment, and the
// level for a volume is found by bisection (the volume rises monotonically with the level).
#include "tank.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vq31::sim {

namespace {
constexpr double CubicMmPerLitre = 1e6;
} // namespace

CylinderTank::CylinderTank(double diameterMm, double lengthMm)
    : diameter_(diameterMm), length_(lengthMm) {}

double CylinderTank::CapacityLitres() const {
    const double r = diameter_ / 2;
    return std::numbers::pi * r * r * length_ / CubicMmPerLitre;
}

double CylinderTank::LitresAt(double levelMm) const {
    const double r = diameter_ / 2;
    const double h = std::clamp(levelMm, 0.0, diameter_);
    const double d = r - h;
    const double area = r * r * std::acos(std::clamp(d / r, -1.0, 1.0)) -
                        d * std::sqrt(std::max(0.0, 2 * r * h - h * h));
    return area * length_ / CubicMmPerLitre;
}

double CylinderTank::LevelAt(double litres) const {
    if (litres <= 0)
        return 0;
    if (litres >= CapacityLitres())
        return diameter_;
    double low = 0, high = diameter_;
    for (int i = 0; i < 60; ++i) {
        const double mid = (low + high) / 2;
        (LitresAt(mid) < litres ? low : high) = mid;
    }
    return (low + high) / 2;
}

} // namespace vq31::sim
