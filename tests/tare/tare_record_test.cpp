// Showing a tank record in the tare grid and storing the grid back on OK.
#include "tare_record.h"
#include "tare_test_util.h"

#include <gtest/gtest.h>

namespace vq31 {
namespace {

using test::GridOf;
using test::NumbersOf;
using test::Pairs;
using test::PairsOf;

TankRecord TankWith(std::initializer_list<RecordRow> rows) {
    TankRecord tank;
    tank.EntrySize = 210;
    tank.Id = 1;
    tank.Height = 12340;
    tank.Scale = 1;
    for (const RecordRow& row : rows) {
        tank.rows[tank.RowCount++] = row;
    }
    return tank;
}

TEST(TareFillGrid, ShowsLitresAtTheTanksResolutionAndLevelsInWholeMillimetres) {
    const TankRecord tank = TankWith({{0, 0.0f}, {1205, 12.34f}, {1214, 20.0f}});
    TareGrid grid = GridOf({{"99.0", "999"}, {"98.0", "998"}, {"97.0", "997"}, {"96.0", "996"}});
    FillTareGrid(tank, grid, ",");
    // The 0 l row at code 0 is not shown; 120.5 mm rounds up; scale 1 ml shows 3 decimals.
    EXPECT_EQ(PairsOf(grid), (Pairs{{"12,340", "121"}, {"20,000", "121"}}));
    EXPECT_EQ(NumbersOf(grid), (std::vector<std::string>{"1", "2"}));
}

TEST(TareFillGrid, AnEmptyTableIsOneEmptyRow) {
    TareGrid grid = GridOf({{"10.0", "120"}});
    FillTareGrid(TankWith({}), grid, ".");
    EXPECT_EQ(grid.RowCount(), 2);
    EXPECT_EQ(PairsOf(grid), (Pairs{{"", ""}}));
    EXPECT_EQ(NumbersOf(grid), (std::vector<std::string>{"1"}));
}

TEST(TareFillGrid, ARowCountPastTheRecordReadsOnlyTheRecordsRows) {
    TankRecord tank = TankWith({});
    for (size_t i = 0; i < tank.rows.size(); ++i) {
        tank.rows[i] = {static_cast<uint16_t>(10 * (i + 1)), static_cast<float>(i + 1)};
    }
    tank.RowCount = 65535;
    TareGrid grid;
    FillTareGrid(tank, grid, ".");
    EXPECT_EQ(grid.RowCount(), static_cast<int>(tank.rows.size()) + 1);
}

TEST(TareStoreGrid, StoresParsableRowsWithCodesAndScale) {
    TankRecord tank = TankWith({{500, 99.0f}});
    const TareGrid grid =
        GridOf({{"Литры", "мм"}, {"10.0", "120"}, {"12.34", "12.6"}, {"", ""}, {"100.0", "300"}});
    bool asked = false;
    ASSERT_TRUE(StoreTareGrid(grid, ".", tank, [&] { return asked = true; }).Ok());
    EXPECT_FALSE(asked);
    ASSERT_EQ(tank.RowCount, 3);
    EXPECT_EQ(tank.rows[0].Code, 1200);
    EXPECT_FLOAT_EQ(tank.rows[0].Litres, 10.0f);
    EXPECT_EQ(tank.rows[1].Code, 130); // 12.6 mm rounds to 13 mm
    EXPECT_FLOAT_EQ(tank.rows[1].Litres, 12.34f);
    EXPECT_EQ(tank.rows[2].Code, 3000);
    EXPECT_EQ(tank.rows[3].Code, 0);
    EXPECT_EQ(tank.Scale, 10); // 100 l does not fit 65535 ml units
    EXPECT_EQ(tank.Id, 1);
    EXPECT_EQ(tank.Height, 12340);
    EXPECT_EQ(tank.EntrySize, 210);
}

TEST(TareStoreGrid, ShownVolumesComeBackUnchangedAndZeroRowsAreGone) {
    TankRecord tank = TankWith({{0, 0.0f}, {1230, 12.34f}});
    TareGrid grid;
    FillTareGrid(tank, grid, ",");
    ASSERT_TRUE(StoreTareGrid(grid, ",", tank, nullptr).Ok());
    ASSERT_EQ(tank.RowCount, 1);
    EXPECT_EQ(tank.rows[0].Code, 1230);
    EXPECT_FLOAT_EQ(tank.rows[0].Litres, 12.34f);
    EXPECT_EQ(tank.Scale, 1);
}

TareGrid SixtyRows() {
    Pairs rows;
    for (int i = 1; i <= 60; ++i) {
        rows.emplace_back(std::to_string(i) + ".0", std::to_string(100 + i));
    }
    return GridOf(rows);
}

TEST(TareStoreGrid, MoreThanFiftyRowsAsksBeforeTruncating) {
    const TareGrid grid = SixtyRows();
    EXPECT_EQ(CountStorableRows(grid, "."), 60);

    TankRecord declined = TankWith({{500, 5.0f}});
    int questions = 0;
    EXPECT_EQ(StoreTareGrid(grid, ".", declined, [&] { return ++questions, false; }).message,
              TareMessage::TableWillTruncate);
    EXPECT_EQ(questions, 1);
    EXPECT_EQ(declined.RowCount, 1);
    EXPECT_EQ(declined.rows[0].Code, 500);

    TankRecord accepted = TankWith({});
    ASSERT_TRUE(StoreTareGrid(grid, ".", accepted, [] { return true; }).Ok());
    ASSERT_EQ(accepted.RowCount, TareTableRows);
    EXPECT_EQ(accepted.rows[0].Code, 1010);
    EXPECT_FLOAT_EQ(accepted.rows[49].Litres, 50.0f);
    EXPECT_EQ(accepted.rows[49].Code, 1500);
    EXPECT_EQ(accepted.rows[50].Code, 0);
}

TEST(TareStoreGrid, RowsThatCannotBeStoredRefuseTheWholeTable) {
    const struct {
        Pairs rows;
        TareMessage expected;
    } cases[] = {
        {{{"10.0", "120"}, {"-5.0", "130"}}, TareMessage::WrongLitres},
        {{{"10.0", "120"}, {"700000", "130"}}, TareMessage::WrongLitrValue},
        {{{"10.0", "6554"}}, TareMessage::WrongCodeValue},
        {{{"10.0", "-2"}}, TareMessage::WrongCodeValue},
    };
    for (const auto& c : cases) {
        TankRecord tank = TankWith({{500, 5.0f}});
        EXPECT_EQ(StoreTareGrid(GridOf(c.rows), ".", tank, nullptr).message, c.expected);
        EXPECT_EQ(tank.RowCount, 1);
        EXPECT_EQ(tank.rows[0].Code, 500);
    }
}

} // namespace
} // namespace vq31
