// Tare grid rules: number texts, the calibration step, typed rows and row deletion.
#include "tare_grid.h"
#include "tare_test_util.h"

#include <gtest/gtest.h>

namespace vq31 {
namespace {

using test::GridOf;
using test::NumbersOf;
using test::Pairs;
using test::PairsOf;

struct NumberCase {
    const char* text;
    const char* separator;
    bool valid;
    double value;
};

TEST(TareNumbers, NumberTextsFollowTheRegionalSeparatorOnly) {
    const NumberCase cases[] = {
        {"12.5", ".", true, 12.5},  {"12,5", ",", true, 12.5},
        {"12,5", ".", false, 0},    {"12.5", ",", false, 0},
        {" -3 ", ".", true, -3.0},  {"+7.", ".", true, 7.0},
        {",5", ",", true, 0.5},     {"1e3", ".", true, 1000.0},
        {"1e", ".", false, 0},      {"", ".", false, 0},
        {"No Data", ".", false, 0}, {"1.2.3", ".", false, 0},
        {"1 000", ".", false, 0},   {"-", ".", false, 0},
        {"1e999", ".", false, 0},   {"12\u066B5", "\u066B", true, 12.5},
    };
    for (const auto& c : cases) {
        const auto parsed = ParseTareNumber(c.text, c.separator);
        ASSERT_EQ(parsed.has_value(), c.valid) << c.text << " with " << c.separator;
        if (c.valid) {
            EXPECT_DOUBLE_EQ(*parsed, c.value) << c.text;
        }
    }
}

TEST(TareNumbers, WholeNumbersAreSignedDigitsWithin32Bits) {
    EXPECT_EQ(ParseTareWhole(" 120 "), 120);
    EXPECT_EQ(ParseTareWhole("-5"), -5);
    EXPECT_EQ(ParseTareWhole("2147483647"), 2147483647);
    EXPECT_EQ(ParseTareWhole("-2147483648"), INT32_MIN);
    EXPECT_FALSE(ParseTareWhole("2147483648"));
    EXPECT_FALSE(ParseTareWhole("12.5"));
    EXPECT_FALSE(ParseTareWhole("No Data"));
    EXPECT_FALSE(ParseTareWhole(""));
    EXPECT_FALSE(ParseTareWhole("+"));
}

TEST(TareNumbers, LitresAreWrittenWithOneDecimalAndTheGivenSeparator) {
    EXPECT_EQ(FormatTareLitres(12.34, ","), "12,3");
    EXPECT_EQ(FormatTareLitres(12.34f, "."), "12.3");
    EXPECT_EQ(FormatTareLitres(10, "."), "10.0");
    EXPECT_EQ(FormatTareLitres(650000, ","), "650000,0");
}

TEST(TareCalibrationStep, FillingNeedsTheLevelToRiseBySensitivity) {
    TareGrid grid;
    ASSERT_TRUE(CalibrationStep(grid, "120", "1", "10", ".").Ok());
    EXPECT_EQ(PairsOf(grid), (Pairs{{"10.0", "120"}}));

    EXPECT_EQ(CalibrationStep(grid, "120", "1", "10", ".").message,
              TareMessage::CodeChangeTooSmall);
    ASSERT_TRUE(CalibrationStep(grid, "121", "1", "10", ".").Ok());
    EXPECT_EQ(PairsOf(grid), (Pairs{{"10.0", "120"}, {"20.0", "121"}}));
    EXPECT_EQ(NumbersOf(grid), (std::vector<std::string>{"1", "2"}));
}

TEST(TareCalibrationStep, SensitivityIsTheSmallestAcceptedRise) {
    TareGrid grid = GridOf({{"10.0", "200"}});
    EXPECT_EQ(CalibrationStep(grid, "204", "5", "10", ".").message,
              TareMessage::CodeChangeTooSmall);
    EXPECT_TRUE(CalibrationStep(grid, "205", "5", "10", ".").Ok());
    EXPECT_EQ(PairsOf(grid), (Pairs{{"10.0", "200"}, {"20.0", "205"}}));
}

TEST(TareCalibrationStep, PortionsUnderOneLitreEitherWayAreRefused) {
    const struct {
        const char* portion;
        TareMessage expected;
    } cases[] = {
        {"0.5", TareMessage::PortionTooSmall},
        {"-0.9", TareMessage::PortionTooSmall},
        {"0", TareMessage::PortionTooSmall},
        {"1", TareMessage::None},
        {"-1", TareMessage::None},
        {"abc", TareMessage::PortionWrong},
        {"1,5", TareMessage::PortionWrong},
    };
    for (const auto& c : cases) {
        // Row 1 full enough to drain from, level low enough to fill over.
        TareGrid grid = GridOf({{"50.0", "500"}});
        const int level = c.portion[0] == '-' ? 400 : 600;
        EXPECT_EQ(CalibrationStep(grid, std::to_string(level), "1", c.portion, ".").message,
                  c.expected)
            << c.portion;
    }
}

TEST(TareCalibrationStep, ChecksRunInOrderAndRefusalsChangeNothing) {
    const Pairs rows{{"10.0", "120"}};
    const struct {
        const char* level;
        const char* sensitivity;
        const char* portion;
        TareMessage expected;
    } cases[] = {
        {"No Data", "0", "x", TareMessage::WrongCodeValue},
        {"130", "0", "x", TareMessage::AccuracyWrong},
        {"130", "-2", "x", TareMessage::AccuracyWrong},
        {"130", "1.5", "x", TareMessage::AccuracyWrong},
        {"130", "1", "x", TareMessage::PortionWrong},
        {"130", "1", "0.2", TareMessage::PortionTooSmall},
        {"130", "1", "700000", TareMessage::WrongLitrValue},
    };
    for (const auto& c : cases) {
        TareGrid grid = GridOf(rows);
        EXPECT_EQ(CalibrationStep(grid, c.level, c.sensitivity, c.portion, ".").message, c.expected)
            << c.level << " " << c.sensitivity << " " << c.portion;
        EXPECT_EQ(PairsOf(grid), rows);
    }
}

TEST(TareCalibrationStep, DrainingGrowsTheTableDownFromRowOne) {
    TareGrid empty;
    EXPECT_EQ(CalibrationStep(empty, "0", "1", "-10", ".").message,
              TareMessage::CodeChangeTooSmall);

    TareGrid grid = GridOf({{"20.0", "300"}});
    EXPECT_EQ(CalibrationStep(grid, "200", "1", "-30", ".").message,
              TareMessage::DrainPortionTooBig);
    EXPECT_EQ(CalibrationStep(grid, "300", "1", "-10", ".").message,
              TareMessage::CodeChangeTooSmall);
    ASSERT_TRUE(CalibrationStep(grid, "200", "1", "-10", ".").Ok());
    ASSERT_TRUE(CalibrationStep(grid, "100", "1", "-10", ".").Ok());
    EXPECT_EQ(PairsOf(grid), (Pairs{{"0.0", "100"}, {"10.0", "200"}, {"20.0", "300"}}));
    EXPECT_EQ(NumbersOf(grid), (std::vector<std::string>{"1", "2", "3"}));
}

TEST(TareCalibrationStep, PortionsUseTheRegionalSeparator) {
    TareGrid grid;
    ASSERT_TRUE(CalibrationStep(grid, "120", "1", "10,5", ",").Ok());
    EXPECT_EQ(PairsOf(grid), (Pairs{{"10,5", "120"}}));
    EXPECT_TRUE(CalibrationStep(grid, "130", "1", "2,5", ",").Ok());
    EXPECT_EQ(PairsOf(grid), (Pairs{{"10,5", "120"}, {"13,0", "130"}}));
}

TEST(TareInsertRow, KeepsVolumesAscendingAndLevelsRising) {
    const Pairs rows{{"10.0", "120"}, {"20.0", "130"}};
    TareGrid grid = GridOf(rows);
    ASSERT_TRUE(InsertTareRow(grid, 15, 125, ".").Ok());
    EXPECT_EQ(PairsOf(grid), (Pairs{{"10.0", "120"}, {"15.0", "125"}, {"20.0", "130"}}));
    EXPECT_EQ(NumbersOf(grid), (std::vector<std::string>{"1", "2", "3"}));

    const struct {
        double litres;
        int level;
    } refused[] = {{15, 135}, {15, 120}, {5, 120}, {25, 130}, {10, 130}, {20, 110}};
    for (const auto& c : refused) {
        TareGrid same = GridOf(rows);
        EXPECT_EQ(InsertTareRow(same, c.litres, c.level, ".").message, TareMessage::WrongCodeValue)
            << c.litres << " l at " << c.level;
        EXPECT_EQ(PairsOf(same), rows);
    }
}

TEST(TareInsertRow, AnExistingVolumeGetsTheNewLevelWhenItFits) {
    TareGrid grid = GridOf({{"10.0", "120"}, {"20.0", "130"}, {"30.0", "140"}});
    ASSERT_TRUE(InsertTareRow(grid, 20, 135, ".").Ok());
    ASSERT_TRUE(InsertTareRow(grid, 30, 190, ".").Ok());
    ASSERT_TRUE(InsertTareRow(grid, 10, 50, ".").Ok());
    EXPECT_EQ(PairsOf(grid), (Pairs{{"10.0", "50"}, {"20.0", "135"}, {"30.0", "190"}}));
}

TEST(TareInsertRow, FirstRowLimits) {
    TareGrid grid;
    EXPECT_EQ(InsertTareRow(grid, 0.5, 0, ".").message, TareMessage::WrongCodeValue);
    EXPECT_EQ(InsertTareRow(grid, 650000.5, 10, ".").message, TareMessage::WrongLitrValue);
    EXPECT_EQ(PairsOf(grid), (Pairs{{"", ""}}));
    ASSERT_TRUE(InsertTareRow(grid, 0, 5, ".").Ok());
    EXPECT_EQ(PairsOf(grid), (Pairs{{"0.0", "5"}}));
    EXPECT_TRUE(InsertTareRow(grid, 650000, 6553, ".").Ok());
}

TEST(TareInsertRow, ValuesThatCannotBeStoredAreRefused) {
    TareGrid grid;
    EXPECT_EQ(InsertTareRow(grid, -5, 10, ".").message, TareMessage::WrongLitres);
    EXPECT_EQ(InsertTareRow(grid, 5, -10, ".").message, TareMessage::WrongCodeValue);
    EXPECT_EQ(InsertTareRow(grid, 5, 6554, ".").message, TareMessage::WrongCodeValue);
    EXPECT_EQ(PairsOf(grid), (Pairs{{"", ""}}));
}

TEST(TareInsertRow, ANeighbourLevelThatIsNotWholeStopsWithItsText) {
    // As an import may leave it: a decimal level above the new row.
    const Pairs rows{{"10.0", "120"}, {"20.0", "12.6"}};
    TareGrid grid = GridOf(rows);
    const TareOutcome outcome = InsertTareRow(grid, 15, 125, ".");
    EXPECT_EQ(outcome.message, TareMessage::NotAnInteger);
    EXPECT_EQ(outcome.detail, "12.6");
    EXPECT_EQ(PairsOf(grid), rows);
}

TEST(TareInsertRow, AnUnreadableRowIsOverwrittenInPlace) {
    // A title row from an imported sheet does not read as litres.
    TareGrid grid = GridOf({{"Литры", "мм"}, {"20.0", "130"}});
    ASSERT_TRUE(InsertTareRow(grid, 10, 120, ".").Ok());
    EXPECT_EQ(PairsOf(grid), (Pairs{{"10.0", "120"}, {"20.0", "130"}}));
}

TEST(TareDeleteRows, DeletingEveryRowLeavesOneEmptyNumberedRow) {
    TareGrid one = GridOf({{"10.0", "120"}});
    DeleteTareRows(one, 1, 1);
    EXPECT_EQ(one.RowCount(), 2);
    EXPECT_EQ(PairsOf(one), (Pairs{{"", ""}}));
    EXPECT_EQ(NumbersOf(one), (std::vector<std::string>{"1"}));

    TareGrid three = GridOf({{"10.0", "120"}, {"20.0", "130"}, {"30.0", "140"}});
    DeleteTareRows(three, 1, 3);
    EXPECT_EQ(PairsOf(three), (Pairs{{"", ""}}));
}

TEST(TareDeleteRows, ARangeInTheMiddleClosesTheGap) {
    TareGrid grid = GridOf({{"10.0", "120"}, {"20.0", "130"}, {"30.0", "140"}, {"40.0", "150"}});
    grid.SetCell(5, 4, "extra");
    DeleteTareRows(grid, 2, 3);
    EXPECT_EQ(PairsOf(grid), (Pairs{{"10.0", "120"}, {"40.0", "150"}}));
    EXPECT_EQ(grid.Cell(5, 2), "extra");
    EXPECT_EQ(NumbersOf(grid), (std::vector<std::string>{"1", "2"}));
}

TEST(TareOpenRow, MovesEveryColumnDownAndClearsTheOpenedRow) {
    TareGrid grid = GridOf({{"10.0", "120"}, {"20.0", "130"}});
    grid.SetCell(4, 2, "hidden");
    OpenGridRow(grid, 1);
    EXPECT_EQ(PairsOf(grid), (Pairs{{"", ""}, {"10.0", "120"}, {"20.0", "130"}}));
    EXPECT_EQ(grid.Cell(TareGrid::kNumberColumn, 1), "");
    EXPECT_EQ(grid.Cell(4, 3), "hidden");
}

} // namespace
} // namespace vq31
