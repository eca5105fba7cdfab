// Computed tables: at most 50 rows on storable levels with rising litres, the largest
// interpolation error they report is the one the table really has, it stays under 0.03 % of
// capacity for every shape, rows placed by the curve beat evenly spaced ones, and the rows
// reach the device unchanged.
#include "sample_tanks.h"
#include "tank_table.h"
#include "tare_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace vq31 {
namespace {

using samples::Shape;
using ShapeCase = samples::SampleTank;
const auto Shapes = samples::SampleTanks;

// The stored table read the way the sensor reads it: straight lines between rows.
double Interpolate(const ShapeTable& table, double reading) {
    const auto& rows = table.rows;
    auto next = std::lower_bound(rows.begin(), rows.end(), reading,
                                 [](const ShapeRow& r, double mm) { return r.levelMm < mm; });
    if (next == rows.begin()) {
        return rows.front().litres;
    }
    if (next == rows.end()) {
        return rows.back().litres;
    }
    const ShapeRow& a = *(next - 1);
    const ShapeRow& b = *next;
    return a.litres + (b.litres - a.litres) * (reading - a.levelMm) / (b.levelMm - a.levelMm);
}

TEST(ShapeTable, EveryShapeStaysUnderThreeHundredthsOfAPercentOnStorableRows) {
    for (const ShapeCase& c : Shapes()) {
        const TankModel model(c.shape, {});
        const ShapeTable table = ComputeShapeTable(model);
        ASSERT_GE(table.rows.size(), 2u) << c.name;
        EXPECT_LE(table.rows.size(), TareTableRows) << c.name;
        EXPECT_LT(table.ErrorShare(), 0.0003) << c.name;
        EXPECT_EQ(table.rows.front().levelMm, 0.0) << c.name;
        EXPECT_NEAR(table.rows.back().levelMm, model.TopReadingMm(), 0.1) << c.name;
        for (size_t i = 0; i < table.rows.size(); ++i) {
            const ShapeRow& row = table.rows[i];
            EXPECT_NEAR(row.levelMm * 10, std::round(row.levelMm * 10), 1e-6) << c.name;
            EXPECT_NEAR(row.litres / table.litresStep, std::round(row.litres / table.litresStep),
                        1e-6)
                << c.name;
            if (i > 0) {
                EXPECT_GT(row.litres, table.rows[i - 1].litres) << c.name << " row " << i;
                EXPECT_GT(row.levelMm, table.rows[i - 1].levelMm) << c.name << " row " << i;
            }
        }
    }
}

TEST(ShapeTable, ComputedTablesRaiseNoFindingOfTheTableChecks) {
    for (const ShapeCase& c : Shapes()) {
        const ShapeTable table = ComputeShapeTable(TankModel(c.shape, {}));
        std::vector<TarePoint> points;
        for (const ShapeRow& row : table.rows) {
            points.push_back({static_cast<int>(points.size()) + 1, row.litres, row.levelMm});
        }
        EXPECT_TRUE(CheckTareTable(points, TankHeightMm(Normalised(c.shape))).empty()) << c.name;
    }
}

TEST(ShapeTable, ReportedErrorIsTheLargestFoundBetweenTheRows) {
    for (const ShapeCase& c : Shapes()) {
        const TankModel model(c.shape, {});
        const ShapeTable table = ComputeShapeTable(model);
        double worst = 0.0;
        // Readings off the table's own sampling grid.
        for (double mm = 0.013; mm < model.TopReadingMm(); mm += 0.0371) {
            worst = std::max(worst, std::abs(Interpolate(table, mm) - model.LitresAtReading(mm)));
        }
        EXPECT_LE(worst, table.maxErrorLitres * 1.01 + 1e-9) << c.name;
        EXPECT_GE(worst, table.maxErrorLitres * 0.9) << c.name;
    }
}

TEST(ShapeTable, RowsPlacedByTheBendBeatEvenlySpacedRowsSeveralTimes) {
    const TankModel model(Shape(TankShapeKind::Cylinder, 1200, 0, 0, 3000), {});
    ShapeTableOptions even;
    even.evenlySpaced = true;
    const ShapeTable evenTable = ComputeShapeTable(model, even);
    const ShapeTable placed = ComputeShapeTable(model);
    EXPECT_EQ(evenTable.rows.size(), TareTableRows);
    EXPECT_GT(evenTable.ErrorShare(), 0.0005);
    EXPECT_GT(evenTable.maxErrorLitres, 3 * placed.maxErrorLitres);
}

TEST(ShapeTable, GridRowsStandOnWholeMillimetresAndStillMeetTheGoal) {
    ShapeTableOptions grid;
    grid.levelStepMm = 1.0;
    grid.minLitresStep = 0.1;
    for (const ShapeCase& c : Shapes()) {
        const ShapeTable table = ComputeShapeTable(TankModel(c.shape, {}), grid);
        EXPECT_LT(table.ErrorShare(), 0.0003) << c.name;
        for (const ShapeRow& row : table.rows) {
            EXPECT_EQ(row.levelMm, std::round(row.levelMm)) << c.name;
        }
    }
}

TEST(ShapeTable, FewerRowsGiveALargerErrorAndNeverMoreRowsThanAsked) {
    const TankModel model(Shape(TankShapeKind::Oval, 0, 1800, 900, 4000), {});
    double last = 0.0;
    for (size_t rows : {50u, 20u, 8u, 2u}) {
        ShapeTableOptions options;
        options.maxRows = rows;
        const ShapeTable table = ComputeShapeTable(model, options);
        EXPECT_LE(table.rows.size(), rows);
        EXPECT_GT(table.maxErrorLitres, last);
        last = table.maxErrorLitres;
    }
}

TEST(ShapeTable, RecordRowsKeepTheLevelsAndLitresThroughTheHubEntry) {
    const TankModel model(Shape(TankShapeKind::Cylinder, 600, 0, 0, 2000), {});
    const ShapeTable table = ComputeShapeTable(model);
    auto image = std::make_unique<HubBuffer>();
    HubMakeDefault(*image);
    auto record = std::make_unique<TankRecord>();
    ShapeTableToRecord(table, *record);
    const auto entry = HubFindEntry(*image, CalibratedTankId);
    ASSERT_TRUE(entry);
    ASSERT_TRUE(RecordToEntry(*record, *image, *entry));
    ASSERT_EQ(HubEntryHead(*image, *entry).RowCount, table.rows.size());
    for (size_t i = 0; i < table.rows.size(); ++i) {
        const EntryRow row = HubEntryRow(*image, *entry, i);
        EXPECT_EQ(row.Code, std::lround(table.rows[i].levelMm * 10)) << i;
        EXPECT_NEAR(StoredLitres(row.Value, table.scaleMl), table.rows[i].litres, 1e-9) << i;
    }
}

} // namespace
} // namespace vq31
