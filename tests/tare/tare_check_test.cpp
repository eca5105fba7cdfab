// Tare table checks on crafted tables, the telematics pairs and their file, and the settle
// detector's window.
#include "settle.h"
#include "tare_check.h"
#include "tare_export.h"
#include "tare_test_util.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include <unistd.h>

#include <gtest/gtest.h>

namespace vq31 {
namespace {

using test::GridOf;
using Kind = TareIssueKind;

struct Found {
    Kind kind;
    int row;
    int other;
    bool operator==(const Found&) const = default;
};

std::vector<Found> Check(const test::Pairs& rows, double heightMm = 0.0) {
    std::vector<Found> found;
    for (const TareIssue& issue : CheckTareTable(TarePointsOf(GridOf(rows), "."), heightMm)) {
        found.push_back({issue.kind, issue.gridRow, issue.otherRow});
    }
    return found;
}

// A straight tank: 1 l per mm, 10 mm steps.
test::Pairs Even(int rows) {
    test::Pairs pairs;
    for (int i = 1; i <= rows; ++i) {
        pairs.emplace_back(std::to_string(i * 10) + ".0", std::to_string(i * 10));
    }
    return pairs;
}

TEST(TareCheck, AnEvenTableAndTablesTooShortToJudgeHaveNoFindings) {
    EXPECT_TRUE(Check(Even(8), 1000).empty());
    EXPECT_TRUE(Check({}, 1000).empty());
    EXPECT_TRUE(Check({{"10.0", "10"}}, 1000).empty());
    // Two segments far apart in slope: each is the other's only neighbour, both flagged.
    EXPECT_EQ(Check({{"10.0", "10"}, {"20.0", "20"}, {"120.0", "30"}}).size(), 2u);
}

TEST(TareCheck, OrderFaultsAreFoundOnTheLaterRow) {
    // Row 3 drops below row 2 in level; row 4 holds less than row 3.
    EXPECT_EQ(Check({{"10.0", "10"}, {"20.0", "30"}, {"30.0", "25"}, {"25.0", "40"}}),
              (std::vector<Found>{{Kind::LevelNotRising, 3, 2}, {Kind::VolumeNotRising, 4, 3}}));
    // Equal volumes do not rise either.
    EXPECT_EQ(Check({{"10.0", "10"}, {"10.0", "20"}}),
              (std::vector<Found>{{Kind::VolumeNotRising, 2, 1}}));
}

TEST(TareCheck, DuplicateLevelsAreFoundAlsoWhenNotAdjacent) {
    EXPECT_EQ(Check({{"10.0", "10"}, {"20.0", "10"}}),
              (std::vector<Found>{{Kind::DuplicateLevel, 2, 1}}));
    // Imported out of order: row 3 repeats row 1's level and lies below row 2.
    const auto found = Check({{"10.0", "10"}, {"20.0", "20"}, {"30.0", "10"}});
    EXPECT_NE(std::find(found.begin(), found.end(), Found{Kind::DuplicateLevel, 3, 1}),
              found.end());
    EXPECT_NE(std::find(found.begin(), found.end(), Found{Kind::LevelNotRising, 3, 2}),
              found.end());
}

TEST(TareCheck, OnlyTheOddSegmentOfAMissedOrDoubledPourIsFlagged) {
    // A portion of 10 l poured but 40 l noted: the segment ending in row 4 has 4 l/mm.
    test::Pairs doubled = Even(7);
    for (size_t i = 3; i < doubled.size(); ++i) {
        doubled[i].first = std::to_string((i + 1) * 10 + 30) + ".0";
    }
    const auto flagged = CheckTareTable(TarePointsOf(GridOf(doubled), "."), 0);
    ASSERT_EQ(flagged.size(), 1u);
    EXPECT_EQ(flagged[0].kind, Kind::SlopeOutlier);
    EXPECT_EQ(flagged[0].gridRow, 4);
    EXPECT_EQ(flagged[0].otherRow, 3);
    EXPECT_DOUBLE_EQ(flagged[0].value, 4.0);
    // A missed reading: 10 l noted over a step of 40 mm gives a quarter of the slope.
    const test::Pairs missed = {{"10.0", "10"}, {"20.0", "20"}, {"30.0", "60"}, {"40.0", "70"}};
    EXPECT_EQ(Check(missed), (std::vector<Found>{{Kind::SlopeOutlier, 3, 2}}));
    // Exactly three times is still accepted; a little more is not. The end segment is judged
    // against the two segments after it.
    EXPECT_TRUE(Check({{"10.0", "10"}, {"40.0", "20"}, {"50.0", "30"}, {"60.0", "40"}}).empty());
    EXPECT_EQ(Check({{"0.0", "10"}, {"31.0", "20"}, {"41.0", "30"}, {"51.0", "40"}}),
              (std::vector<Found>{{Kind::SlopeOutlier, 2, 1}}));
}

TEST(TareCheck, GapsOverATenthOfTheTankHeight) {
    const test::Pairs rows = {{"10.0", "100"}, {"110.0", "200"}, {"210.0", "300"}};
    EXPECT_TRUE(Check(rows, 1000).empty()); // a step of exactly 100 mm is allowed
    EXPECT_EQ(Check(rows, 999),
              (std::vector<Found>{{Kind::LevelGap, 2, 1}, {Kind::LevelGap, 3, 2}}));
    EXPECT_TRUE(Check(rows, 0).empty()); // unknown height
}

TEST(TareCheck, RowsThatDoNotReadAreLeftOutAndRowsKeepTheirGridNumbers) {
    const auto points =
        TarePointsOf(GridOf({{"10,5", "10"}, {"", ""}, {"x", "20"}, {"30,0", "12,6"}}), ",");
    ASSERT_EQ(points.size(), 2u);
    EXPECT_EQ(points[1].gridRow, 4);
    EXPECT_DOUBLE_EQ(points[1].millimetres, 12.6);
    const TareIssue issue{Kind::LevelGap, 4, 1, 123.45};
    EXPECT_EQ(FormatTareIssue(issue, TareIssueDefault(Kind::LevelGap), ","),
              "Промежуток от строки 1: 123,5 мм, больше 10 % высоты бака");
    for (Kind kind : {Kind::LevelNotRising, Kind::VolumeNotRising, Kind::DuplicateLevel,
                      Kind::SlopeOutlier, Kind::LevelGap}) {
        EXPECT_EQ(TareIssueKey(kind).substr(0, 10), "msg_check_");
    }
}

TEST(TelematicsCsv, PairsInEitherSeparatorReadBackAsTheTable) {
    const auto points =
        TarePointsOf(GridOf({{"0,0", "5"}, {"12,34", "12,5"}, {"650000,0", "6500"}}), ",");
    // Litres keep the resolution they were given (up to the millilitre).
    EXPECT_EQ(TelematicsCsvText(points, ';'), "5;0.0\n13;12.34\n6500;650000.0\n");
    const std::string comma = TelematicsCsvText(points, ',');
    std::istringstream lines(comma);
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
        const auto at = line.find(',');
        ASSERT_NE(at, std::string::npos);
        EXPECT_EQ(line.find(',', at + 1), std::string::npos) << "one separator per line";
        ++count;
    }
    EXPECT_EQ(count, 3);
    EXPECT_TRUE(IsTelematicsSeparator(';') && IsTelematicsSeparator(','));
    EXPECT_FALSE(IsTelematicsSeparator('\t'));
}

TEST(TelematicsCsv, AFailedWriteLeavesTheOldFile) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("vq31_csv_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string file = (dir / "pairs.csv").string();
    std::string error;
    ASSERT_TRUE(WriteFileReplacing(file, "1;1.0\n", error)) << error;
    ASSERT_TRUE(WriteFileReplacing(file, "2;2.0\n", error)) << error;
    std::ifstream in(file);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "2;2.0\n");
    EXPECT_FALSE(fs::exists(file + ".part"));
    // A folder that does not exist: refused with the reason.
    EXPECT_FALSE(WriteFileReplacing((dir / "none" / "pairs.csv").string(), "x", error));
    EXPECT_NE(error.find("none"), std::string::npos);
    fs::remove_all(dir);
}

using namespace std::chrono_literals;

TEST(SettleDetector, SettlesAfterAWholeWindowWithinTheBand) {
    SettleDetector settle(30s, 0.5);
    const auto t0 = SettleDetector::Clock::time_point{} + 1000s;
    EXPECT_FALSE(settle.Settled(t0));
    EXPECT_EQ(settle.Remaining(t0), 30s);
    // Pouring: the level climbs, then wobbles within half a millimetre.
    for (int s = 0; s < 10; ++s) {
        settle.Add(t0 + s * 1s, 100.0 + s * 2.0);
    }
    const auto calm = t0 + 9s;
    for (int s = 0; s <= 30; ++s) {
        settle.Add(calm + s * 1s, 118.0 + (s % 2 ? 0.5 : 0.0));
        EXPECT_EQ(settle.Settled(calm + s * 1s), s >= 30) << s;
    }
    EXPECT_EQ(settle.Remaining(calm + 30s), 0s);
    // A wave of 0.6 mm starts the wait again from that reading.
    settle.Add(calm + 31s, 118.6 + 0.5);
    EXPECT_FALSE(settle.Settled(calm + 31s));
    settle.Add(calm + 40s, 119.0);
    EXPECT_EQ(settle.StableFor(calm + 40s), 9s);
}

TEST(SettleDetector, ALostLevelOrAClockGoingBackStartsAgain) {
    SettleDetector settle(2s, 0.5);
    const auto t0 = SettleDetector::Clock::time_point{} + 100s;
    settle.Add(t0, 50.0);
    settle.Add(t0 + 3s, 50.0);
    EXPECT_TRUE(settle.Settled(t0 + 3s));
    settle.Add(t0 + 4s, std::nullopt);
    EXPECT_FALSE(settle.Settled(t0 + 4s));
    settle.Add(t0 + 5s, 50.0);
    settle.Add(t0 + 1s, 50.0);
    EXPECT_EQ(settle.StableFor(t0 + 1s), 0s);
    // A shorter window judges the readings already kept.
    settle.Add(t0 + 2s, 50.2);
    settle.SetWindow(1s);
    EXPECT_TRUE(settle.Settled(t0 + 2s));
    settle.SetWindow(0s);
    EXPECT_EQ(settle.Window(), 1ms);
}

TEST(SettleDetector, ALevelNotReadForTwoSecondsIsNotSettled) {
    SettleDetector settle(5s, 0.5);
    const auto t0 = SettleDetector::Clock::time_point{} + 100s;
    for (int s = 0; s <= 10; ++s)
        settle.Add(t0 + s * 1s, 50.0);
    struct Case {
        std::chrono::milliseconds sinceLastReading;
        bool settled;
    };
    for (const Case c :
         {Case{0ms, true}, Case{2000ms, true}, Case{2001ms, false}, Case{30000ms, false}})
        EXPECT_EQ(settle.Settled(t0 + 10s + c.sinceLastReading), c.settled)
            << c.sinceLastReading.count();
}

} // namespace
} // namespace vq31
