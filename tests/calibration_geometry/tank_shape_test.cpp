// Tank volumes: the closed forms against known volumes and against the general sliced path,
// a tilted tank's antiderivative path against the slices, and the sensor's view (dead zone,
// tilt, full tank).
#include "tank_shape.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

namespace vq31 {
namespace {

constexpr double Pi = std::numbers::pi;
constexpr double Relative = 1e-9;

TankShape Cylinder(double d, double l, TankHeads heads = TankHeads::Flat, double depth = 0) {
    TankShape s;
    s.kind = TankShapeKind::Cylinder;
    s.diameterMm = d;
    s.lengthMm = l;
    s.heads = heads;
    s.headDepthMm = depth;
    return Normalised(s);
}

TankShape Box(double w, double h, double l, double r = 0) {
    TankShape s;
    s.kind = TankShapeKind::Box;
    s.widthMm = w;
    s.heightMm = h;
    s.lengthMm = l;
    s.cornerRadiusMm = r;
    return Normalised(s);
}

TankShape Oval(double w, double h, double l) {
    TankShape s = Box(w, h, l);
    s.kind = TankShapeKind::Oval;
    return Normalised(s);
}

TankShape Vertical(double d, double h) {
    TankShape s;
    s.kind = TankShapeKind::Vertical;
    s.diameterMm = d;
    s.heightMm = h;
    return s;
}

struct KnownVolume {
    const char* name;
    TankShape shape;
    double depthMm;
    double mm3;
};

TEST(TankShape, ClosedFormsGiveTheKnownVolumes) {
    const double R = 500, L = 2000;
    const KnownVolume cases[] = {
        {"cylinder half full", Cylinder(1000, L), R, Pi * R * R * L / 2},
        // Depth R/2: the segment's half-angle is 60 degrees.
        {"cylinder at a quarter of the diameter", Cylinder(1000, L), R / 2,
         R * R * (Pi / 3 - std::sqrt(3.0) / 4) * L},
        {"cylinder full", Cylinder(1000, L), 2 * R, Pi * R * R * L},
        {"hemispherical heads full", Cylinder(1000, L, TankHeads::Hemispherical), 2 * R,
         Pi * R * R * L + 4.0 / 3 * Pi * R * R * R},
        {"hemispherical heads half full", Cylinder(1000, L, TankHeads::Hemispherical), R,
         (Pi * R * R * L + 4.0 / 3 * Pi * R * R * R) / 2},
        // Both heads: a sphere cap of depth R/2, h^2 (3R - h) pi / 3, stretched by a / R.
        {"ellipsoidal heads at a quarter", Cylinder(1000, L, TankHeads::Ellipsoidal, 250), R / 2,
         R * R * (Pi / 3 - std::sqrt(3.0) / 4) * L +
             Pi * (R / 2) * (R / 2) * (3 * R - R / 2) / 3 * 250 / R},
        {"ellipsoidal heads full", Cylinder(1000, L, TankHeads::Ellipsoidal, 250), 2 * R,
         Pi * R * R * L + 4.0 / 3 * Pi * 250 * R * R},
        {"box", Box(800, 600, L), 300, 800.0 * 300 * L},
        {"box with rounded corners full", Box(800, 600, L, 100), 600,
         (800.0 * 600 - (4 - Pi) * 100 * 100) * L},
        {"box with rounded corners half full", Box(800, 600, L, 100), 300,
         (800.0 * 600 - (4 - Pi) * 100 * 100) * L / 2},
        {"box with rounded corners at the corner's top", Box(800, 600, L, 100), 100,
         (800.0 * 100 - 2 * (1 - Pi / 4) * 100 * 100) * L},
        {"lying oval full", Oval(1200, 600, L), 600, (Pi * 300 * 300 + 600.0 * 600) * L},
        {"standing oval full", Oval(600, 1200, L), 1200, (Pi * 300 * 300 + 600.0 * 600) * L},
        {"vertical cylinder", Vertical(1000, 1500), 700, Pi * R * R * 700},
        {"vertical cylinder over the top", Vertical(1000, 1500), 1600, Pi * R * R * 1500},
    };
    for (const KnownVolume& c : cases) {
        const double expected = c.mm3 / CubicMmPerLitre;
        EXPECT_NEAR(LitresAtDepth(c.shape, c.depthMm), expected, Relative * expected) << c.name;
    }
}

TEST(TankShape, SlicedPathAgreesWithTheClosedFormsAtEveryDepth) {
    const std::vector<std::pair<const char*, TankShape>> shapes = {
        {"cylinder", Cylinder(1200, 3000)},
        {"hemispherical", Cylinder(1200, 3000, TankHeads::Hemispherical)},
        {"ellipsoidal", Cylinder(1200, 3000, TankHeads::Ellipsoidal, 300)},
        {"box", Box(900, 700, 2500, 120)},
        {"oval", Oval(1400, 800, 2600)},
        {"vertical", Vertical(900, 1800)},
    };
    for (const auto& [name, shape] : shapes) {
        const double height = TankHeightMm(shape);
        for (double share : {0.003, 0.05, 0.2, 0.37, 0.5, 0.71, 0.95, 1.0}) {
            const double closed = LitresAtDepth(shape, share * height);
            const double sliced = SlicedLitres(shape, share * height, 0.0, 0.0);
            EXPECT_NEAR(sliced, closed, Relative * closed) << name << " at " << share;
        }
    }
}

TEST(TankShape, TiltedTanksAgreeWithTheirSlices) {
    const std::vector<std::pair<const char*, TankShape>> shapes = {
        {"cylinder", Cylinder(1200, 3000)},
        {"ellipsoidal", Cylinder(1200, 3000, TankHeads::Ellipsoidal, 300)},
        {"box", Box(900, 700, 2500, 120)},
        {"oval", Oval(1400, 800, 2600)},
    };
    const double slope = std::tan(3.0 * Pi / 180);
    for (const auto& [name, shape] : shapes) {
        const double height = TankHeightMm(shape), length = TankLengthMm(shape);
        for (double at : {0.0, 0.3 * length, length}) {
            for (double share : {0.1, 0.5, 0.9}) {
                const double antiderivative = TiltedLitres(shape, share * height, at, slope);
                const double sliced = SlicedLitres(shape, share * height, at, slope);
                EXPECT_NEAR(antiderivative, sliced, Relative * sliced)
                    << name << " sensor at " << at << " depth share " << share;
            }
        }
    }
}

TEST(TankShape, TiltAboutTheMiddleKeepsHalfAndTheWholeOfASymmetricTank) {
    const TankShape shape = Cylinder(1000, 2400, TankHeads::Ellipsoidal, 200);
    const double capacity = TankCapacityLitres(shape);
    const double middle = TankLengthMm(shape) / 2;
    for (double degrees : {1.0, 5.0, -8.0}) {
        const double slope = std::tan(degrees * Pi / 180);
        EXPECT_NEAR(TiltedLitres(shape, 500, middle, slope), capacity / 2, Relative * capacity);
        EXPECT_NEAR(TiltedLitres(shape, 1000 + 2400 * std::abs(slope), middle, slope), capacity,
                    Relative * capacity);
    }
}

TEST(TankModel, ASensorAtTheHighEndLeavesAWedgeOfFuelBelowItsReach) {
    // Box tilted 5 degrees, sensor at the start end: at reading 0 the fuel is a wedge
    // L tan(a) deep at the far end.
    const TankShape box = Box(1000, 800, 3000);
    SensorPlacement placement;
    placement.tiltDeg = 5;
    const TankModel model(box, placement);
    const double wedge = 1000.0 * 3000 * 3000 * std::tan(5 * Pi / 180) / 2 / CubicMmPerLitre;
    EXPECT_NEAR(model.DeadLitres(), wedge, Relative * wedge);
    // The tank is full only when the sensor's own end reaches the top.
    EXPECT_NEAR(model.TopReadingMm(), 800, 0.01);
    EXPECT_NEAR(model.LitresAtReading(800), model.CapacityLitres(), 1e-9);
}

TEST(TankModel, TheZeroPointAboveTheBottomHoldsTheFuelBelowIt) {
    const TankShape shape = Cylinder(1000, 2000);
    SensorPlacement placement;
    placement.offsetMm = 60;
    const TankModel model(shape, placement, 0.98);
    EXPECT_NEAR(model.DeadLitres(), 0.98 * LitresAtDepth(shape, 60), 1e-12);
    EXPECT_DOUBLE_EQ(model.TopReadingMm(), 940);
    EXPECT_NEAR(model.LitresAtReading(440), 0.98 * TankCapacityLitres(shape) / 2, 1e-9);
}

TEST(TankShape, DimensionsThatCannotBeComputedAreRefused) {
    struct Case {
        const char* name;
        TankShape shape;
        SensorPlacement placement;
    };
    TankShape flatWithDepth = Cylinder(1000, 2000);
    flatWithDepth.headDepthMm = 100;
    TankShape hemiWithDepth;
    hemiWithDepth.diameterMm = 1000;
    hemiWithDepth.lengthMm = 2000;
    hemiWithDepth.heads = TankHeads::Hemispherical;
    hemiWithDepth.headDepthMm = 300;
    const Case refused[] = {
        {"no diameter", Cylinder(0, 2000), {}},
        {"negative length", Box(800, 600, -1), {}},
        {"corner radius over half the height", Box(800, 600, 2000, 301), {}},
        {"head depth with flat heads", flatWithDepth, {}},
        {"hemispherical heads of another depth", hemiWithDepth, {}},
        {"offset at the top", Cylinder(1000, 2000), {1000, 0, 0}},
        {"negative offset", Cylinder(1000, 2000), {-1, 0, 0}},
        {"tilt over 45 degrees", Cylinder(1000, 2000), {0, 46, 0}},
        {"sensor beyond the tank", Cylinder(1000, 2000), {0, 2, 2001}},
        {"tilted vertical tank", Vertical(1000, 2000), {0, 1, 0}},
        {"taller than a row holds", Vertical(1000, 7000), {}},
        {"more litres than a table holds", Box(3000, 3000, 80000), {}},
    };
    for (const Case& c : refused) {
        EXPECT_FALSE(CheckTankShape(c.shape, c.placement).empty()) << c.name;
    }
    EXPECT_EQ(CheckTankShape(Cylinder(1000, 2000, TankHeads::Ellipsoidal, 250), {40, 2, 1200}), "");
}

} // namespace
} // namespace vq31
