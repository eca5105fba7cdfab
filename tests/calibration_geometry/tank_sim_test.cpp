// A table computed from the simulated tank's dimensions against the same table poured into
// the simulated sensor: every row's portion is poured through the control channel and the
// level is read through the real link, as an engineer checks a computed table.
#include "sim_fixture.h"
#include "tank_table.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

namespace vq31::sim {
namespace {

uint16_t LevelCode(DeviceLink& link) {
    EchoStatusRecord status{};
    auto samples = std::make_unique<SampleBuffer>();
    EXPECT_EQ(ReadOscillogram(link, 1, 11, status, *samples), StatusOk);
    return status[31];
}

TEST_F(SimLink, ComputedTableAgreesWithTheTablePouredIntoTheSimulatedTank) {
    const double diameter = 600, length = 2000;
    Control("tank 600 2000");
    Control("level 0");
    TankShape shape;
    shape.kind = TankShapeKind::Cylinder;
    shape.diameterMm = diameter;
    shape.lengthMm = length;
    const ShapeTable table = ComputeShapeTable(TankModel(shape, {}));
    ASSERT_GT(table.rows.size(), 10u);

    // The poured table: litres poured so far and the level the sensor shows.
    std::vector<ShapeRow> poured{{LevelCode(link) / 10.0, 0.0}};
    // The top row's litres are rounded to the table's step, maybe past the brim.
    const double capacity = TankCapacityLitres(shape);
    double inside = 0.0;
    for (size_t i = 1; i < table.rows.size(); ++i) {
        const double next = std::min(table.rows[i].litres, capacity);
        char line[64];
        std::snprintf(line, sizeof line, "pour %.6f", next - inside);
        Control(line);
        inside = next;
        poured.push_back({LevelCode(link) / 10.0, inside});
    }
    for (size_t i = 1; i < table.rows.size(); ++i) {
        // The poured table's litres at the computed row's level.
        const double level = table.rows[i].levelMm;
        size_t k = 1;
        while (k + 1 < poured.size() && poured[k].levelMm < level) {
            ++k;
        }
        const ShapeRow& a = poured[k - 1];
        const ShapeRow& b = poured[k];
        const double litres =
            b.levelMm > a.levelMm
                ? a.litres + (b.litres - a.litres) * (level - a.levelMm) / (b.levelMm - a.levelMm)
                : b.litres;
        EXPECT_NEAR(litres, table.rows[i].litres, 0.005 * table.rows[i].litres)
            << "row " << i << " at " << level << " mm";
    }
}

} // namespace
} // namespace vq31::sim
