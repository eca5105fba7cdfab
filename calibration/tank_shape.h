// Tank geometry for a tare table computed from the tank's dimensions: the volume of fuel a
// tank of a regular shape holds at a given depth, and at a given reading of the sensor when
// the sensor's zero point lies above the bottom (dead zone) and the tank is tilted along its
// length. Dimensions are in millimetres, volumes in litres.
//
// Shapes:
//   horizontal cylinder: diameter, length of the cylindrical part, and two heads (flat,
//     ellipsoidal or hemispherical) of the given depth added at both ends;
//   box: width, height, length, and a corner radius of the cross-section's four corners;
//   oval: width, height, length; two half-circles joined by straight sides (a box whose
//     corner radius is half the smaller of width and height);
//   vertical cylinder: diameter and height.
// A horizontal tank's cross-section is the same along its body, so its body's volume at a
// depth is the wetted area times the length; tilted, the depth changes linearly along the
// length and the body's volume is the difference of the area's antiderivative at the two
// ends. Heads are summed slice by slice.
#pragma once

#include <string>

namespace vq31 {

inline constexpr double CubicMmPerLitre = 1e6;

enum class TankShapeKind { Cylinder, Box, Oval, Vertical };
enum class TankHeads { Flat, Ellipsoidal, Hemispherical };

struct TankShape {
    TankShapeKind kind = TankShapeKind::Cylinder;
    double diameterMm = 0.0;     // cylinder, vertical
    double lengthMm = 0.0;       // cylinder (without its heads), box, oval
    double widthMm = 0.0;        // box, oval
    double heightMm = 0.0;       // box, oval, vertical
    double cornerRadiusMm = 0.0; // box
    TankHeads heads = TankHeads::Flat;
    double headDepthMm = 0.0; // ellipsoidal heads; hemispherical heads are half the diameter
};

// Where and how the sensor reads the level.
struct SensorPlacement {
    // The sensor's zero point above the tank's bottom: a reading of 0 is this depth.
    double offsetMm = 0.0;
    // Tilt along the length in degrees: positive when the far end (at the full length from
    // the start end) lies lower, so the fuel there is deeper than at the sensor.
    double tiltDeg = 0.0;
    // The sensor's position along the length, from the start end's outside (heads included).
    double sensorAtMm = 0.0;
};

// Empty when the shape and placement can be computed, else what is wrong, in English words
// that name the command line's options (--diameter, --corner-radius, ...).
std::string CheckTankShape(const TankShape& shape, const SensorPlacement& placement);

// The shape with its defaults filled in: hemispherical heads get half the diameter as depth,
// ellipsoidal heads without a depth a quarter of it (the common 2:1 head), flat heads none;
// an oval gets its corner radius.
TankShape Normalised(TankShape shape);

// Outside height (depth of the full tank) and overall length (heads included) in mm.
double TankHeightMm(const TankShape& shape);
double TankLengthMm(const TankShape& shape);
double TankCapacityLitres(const TankShape& shape);

// Litres at a depth in a level tank, from the closed forms: the circular segment, the
// ellipsoid cut by a plane for the heads, the rounded rectangle for box and oval.
double LitresAtDepth(const TankShape& shape, double depthMm);

// Litres at a depth measured at a point along the length, the tank tilted by slope (depth
// gained per millimetre along the length). Body from the antiderivative of its wetted area,
// heads slice by slice.
double TiltedLitres(const TankShape& shape, double depthMm, double atMm, double slope);

// The same by integrating every slice of the tank along its length numerically (adaptive
// Simpson): the general path that works for any shape, used for the heads of a tilted tank
// and as the check of the closed forms.
double SlicedLitres(const TankShape& shape, double depthMm, double atMm, double slope);

// The sensor's view of a tank: litres at a reading, the reading where the tank is full (or
// the sensor's top), and the fuel that stays below the sensor's reach (at reading 0).
// factor scales every volume (the correction by pours).
class TankModel {
public:
    TankModel(const TankShape& shape, const SensorPlacement& placement, double factor = 1.0);

    double LitresAtReading(double readingMm) const;
    // The highest reading the table needs: where the tank is full, or the tank's top at the
    // sensor, whichever comes first.
    double TopReadingMm() const { return top_; }
    double DeadLitres() const { return LitresAtReading(0.0); }
    double CapacityLitres() const { return capacity_; }
    double Factor() const { return factor_; }
    const TankShape& Shape() const { return shape_; }
    const SensorPlacement& Placement() const { return placement_; }

private:
    TankShape shape_;
    SensorPlacement placement_;
    double factor_;
    double slope_;
    double capacity_;
    double top_;
};

// The shape's name and dimensions in the command line's words, e.g.
// "cylinder --diameter 1200 --length 3000 --heads ellipsoidal --head-depth 300".
std::string DescribeTankShape(const TankShape& shape);

} // namespace vq31
