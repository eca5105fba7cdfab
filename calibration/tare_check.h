// Checks of a tare table that the editor shows beside its rows and the calibration report
// lists: levels or volumes that do not rise, repeated levels, a segment whose litres per
// millimetre stand far from its neighbours' (a portion missed or counted twice while
// pouring), and level gaps too wide for the tank. The checks only warn: every table the
// grid rules accept can still be stored.
#pragma once

#include "tare_grid.h"

#include <string>
#include <string_view>
#include <vector>

namespace vq31 {

// One table row whose litres and level both read as numbers, with its grid row.
struct TarePoint {
    int gridRow = 0;
    double litres = 0.0;
    double millimetres = 0.0;
};

// The rows of the grid that a store would keep, in grid order.
std::vector<TarePoint> TarePointsOf(const TareGrid& grid, std::string_view decimalPoint);

enum class TareIssueKind {
    LevelNotRising,  // level not above the row before
    VolumeNotRising, // litres not above the row before
    DuplicateLevel,  // the same level as an earlier row
    SlopeOutlier,    // litres per mm over 3 times or under a third of every neighbour segment
    LevelGap,        // level step over a tenth of the tank height
};

// A finding, shown beside the grid row it names. For the rules about two rows, otherRow is
// the earlier row; value is the ratio of the slopes, or the gap in millimetres.
struct TareIssue {
    TareIssueKind kind = TareIssueKind::LevelNotRising;
    int gridRow = 0;
    int otherRow = 0;
    double value = 0.0;
};

// A slope more than this many times its neighbours' (or less than its inverse) is flagged.
inline constexpr double kSlopeOutlierRatio = 3.0;
// A level step over this share of the tank height is flagged.
inline constexpr double kGapShareOfHeight = 0.10;

// Runs every check over the points in order. tankHeightMm 0 (unknown) skips the gap check.
// Findings come sorted by grid row, then in the order of the kinds above.
std::vector<TareIssue> CheckTareTable(const std::vector<TarePoint>& points, double tankHeightMm);

// Language key and built-in text of each finding. The text may hold "%1" (the other row's
// number) and "%2" (the value with one decimal).
std::string_view TareIssueKey(TareIssueKind kind);
std::string_view TareIssueDefault(TareIssueKind kind);
// The finding's text from its pattern, with the number in the user's decimal format.
std::string FormatTareIssue(const TareIssue& issue, std::string_view pattern,
                            std::string_view decimalPoint);

} // namespace vq31
