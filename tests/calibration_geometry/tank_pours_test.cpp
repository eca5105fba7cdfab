// Correction by pours: the fit finds the volume factor and the zero point the pours were
// made with, marks only the point that is off, and the pours file is read as written.
#include "tank_pours.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vq31 {
namespace {

TankShape Tank() {
    TankShape s;
    s.kind = TankShapeKind::Cylinder;
    s.diameterMm = 1000;
    s.lengthMm = 2500;
    s.heads = TankHeads::Ellipsoidal;
    s.headDepthMm = 250;
    return s;
}

// Pours as a tank 3 % smaller than drawn, whose sensor zero is 35 mm above the bottom,
// would show them.
std::vector<PourPoint> Measured(const std::vector<double>& levels) {
    SensorPlacement real;
    real.offsetMm = 35;
    const TankModel model(Tank(), real, 0.97);
    std::vector<PourPoint> points;
    for (double level : levels) {
        points.push_back({model.LitresAtReading(level), level});
    }
    return points;
}

TEST(PourFit, TwoPoursFitTheFactorAtTheGivenZeroPoint) {
    SensorPlacement given;
    given.offsetMm = 35;
    const PourFit fit = FitPours(Tank(), given, Measured({200, 700}));
    ASSERT_TRUE(fit.ok) << fit.error;
    EXPECT_FALSE(fit.offsetFitted);
    EXPECT_NEAR(fit.factor, 0.97, 1e-9);
    EXPECT_FALSE(fit.Warning());
}

TEST(PourFit, ThreePoursAlsoFindTheZeroPoint) {
    const PourFit fit = FitPours(Tank(), {}, Measured({80, 300, 520, 800}));
    ASSERT_TRUE(fit.ok) << fit.error;
    EXPECT_TRUE(fit.offsetFitted);
    EXPECT_NEAR(fit.offsetMm, 35, 0.05);
    EXPECT_NEAR(fit.factor, 0.97, 1e-4);
    for (const PourDeviation& d : fit.deviations) {
        EXPECT_LT(std::abs(d.share), 1e-4);
    }
}

TEST(PourFit, OnlyThePointOffByMoreThanTwoPercentWarns) {
    std::vector<PourPoint> points = Measured({100, 250, 400, 550, 700, 850});
    points[2].litres *= 1.06; // a misread measure
    SensorPlacement given;
    given.offsetMm = 35;
    const PourFit fit = FitPours(Tank(), given, points);
    ASSERT_TRUE(fit.ok);
    EXPECT_TRUE(fit.Warning());
    for (size_t i = 0; i < fit.deviations.size(); ++i) {
        EXPECT_EQ(fit.deviations[i].tooFar, i == 2) << i;
    }
    EXPECT_GT(fit.deviations[2].litres, 0.0);
}

TEST(PourFit, OnePourIsNotEnough) {
    const PourFit fit = FitPours(Tank(), {}, Measured({300}));
    EXPECT_FALSE(fit.ok);
    EXPECT_FALSE(fit.error.empty());
}

TEST(PourFile, PairsAreReadInEveryWrittenForm) {
    struct Case {
        const char* text;
        std::vector<PourPoint> points;
    };
    const Case cases[] = {
        {"litres;mm\n100;120.5\n250;260\n", {{100, 120.5}, {250, 260}}},
        {"100,5;120,5\r\n200;300\r\n", {{100.5, 120.5}, {200, 300}}},
        {"100.5,120\n\n# note\n200.25,300\n", {{100.5, 120}, {200.25, 300}}},
        {"100\t120\n", {{100, 120}}},
    };
    for (const Case& c : cases) {
        std::vector<PourPoint> points;
        std::string error;
        ASSERT_TRUE(ParsePours(c.text, points, error)) << c.text << error;
        ASSERT_EQ(points.size(), c.points.size()) << c.text;
        for (size_t i = 0; i < points.size(); ++i) {
            EXPECT_DOUBLE_EQ(points[i].litres, c.points[i].litres) << c.text;
            EXPECT_DOUBLE_EQ(points[i].levelMm, c.points[i].levelMm) << c.text;
        }
    }
    for (const char* bad : {"", "litres;mm\n", "100;-5\n"}) {
        std::vector<PourPoint> points;
        std::string error;
        EXPECT_FALSE(ParsePours(bad, points, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
}

} // namespace
} // namespace vq31
