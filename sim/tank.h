// The simulated fuel tank: a horizontal cylinder whose fuel level follows the litres in it.
// The control channel pours and drains litres; the echo model reads the level.
#pragma once

namespace vq31::sim {

class CylinderTank {
public:
    // Diameter and length in millimetres, both positive.
    CylinderTank(double diameterMm, double lengthMm);

    double diameterMm() const { return diameter_; }
    double lengthMm() const { return length_; }
    double CapacityLitres() const;
    // Litres held at a level (clamped to 0 .. diameter).
    double LitresAt(double levelMm) const;
    // Level at a volume (clamped to 0 .. capacity); the inverse of LitresAt.
    double LevelAt(double litres) const;

private:
    double diameter_;
    double length_;
};

} // namespace vq31::sim
