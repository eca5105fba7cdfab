// Tare table checks: the rules run over the storable rows in grid order.
#include "tare_check.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>

namespace vq31 {

namespace {

// Litres per millimetre of the segment from point i to point i + 1; none when the segment
// does not rise in both level and volume (those rows carry findings of their own).
std::optional<double> SlopeOf(const std::vector<TarePoint>& points, size_t i) {
    const double rise = points[i + 1].millimetres - points[i].millimetres;
    const double litres = points[i + 1].litres - points[i].litres;
    if (rise <= 0.0 || litres <= 0.0) {
        return std::nullopt;
    }
    return litres / rise;
}

bool FarFrom(double slope, double neighbour) {
    return slope > neighbour * kSlopeOutlierRatio || slope * kSlopeOutlierRatio < neighbour;
}

void CheckOrder(const std::vector<TarePoint>& points, std::vector<TareIssue>& issues) {
    for (size_t i = 1; i < points.size(); ++i) {
        const TarePoint& before = points[i - 1];
        const TarePoint& here = points[i];
        if (here.millimetres < before.millimetres) {
            issues.push_back({TareIssueKind::LevelNotRising, here.gridRow, before.gridRow, 0.0});
        }
        if (here.litres <= before.litres) {
            issues.push_back({TareIssueKind::VolumeNotRising, here.gridRow, before.gridRow, 0.0});
        }
        // Any earlier row, not only the one before: after an import the rows may be in any
        // order.
        for (size_t j = 0; j < i; ++j) {
            if (points[j].millimetres == here.millimetres) {
                issues.push_back(
                    {TareIssueKind::DuplicateLevel, here.gridRow, points[j].gridRow, 0.0});
                break;
            }
        }
    }
}

void CheckSlopes(const std::vector<TarePoint>& points, std::vector<TareIssue>& issues) {
    if (points.size() < 3) {
        return; // one segment has no neighbour to compare with
    }
    const size_t segments = points.size() - 1;
    std::vector<std::optional<double>> slopes(segments);
    for (size_t i = 0; i < segments; ++i) {
        slopes[i] = SlopeOf(points, i);
    }
    for (size_t i = 0; i < segments; ++i) {
        if (!slopes[i]) {
            continue;
        }
        // Flagged only when it stands apart from every neighbour it has: a single odd
        // segment then carries the finding, not the normal segments beside it. An end
        // segment has one neighbour and is judged against the next one too, so an odd
        // second segment does not flag the first.
        size_t compare[2] = {i - 1, i + 1};
        if (i == 0) {
            compare[0] = 2;
        } else if (i + 1 == segments) {
            compare[1] = i - 2; // wraps round for two segments: no such segment
        }
        int neighbours = 0;
        int far = 0;
        double sum = 0.0;
        for (const size_t n : compare) {
            if (n >= segments || !slopes[n]) {
                continue;
            }
            ++neighbours;
            sum += *slopes[n];
            far += FarFrom(*slopes[i], *slopes[n]) ? 1 : 0;
        }
        if (neighbours > 0 && far == neighbours) {
            issues.push_back({TareIssueKind::SlopeOutlier, points[i + 1].gridRow, points[i].gridRow,
                              *slopes[i] / (sum / neighbours)});
        }
    }
}

void CheckGaps(const std::vector<TarePoint>& points, double tankHeightMm,
               std::vector<TareIssue>& issues) {
    if (tankHeightMm <= 0.0) {
        return;
    }
    const double widest = tankHeightMm * kGapShareOfHeight;
    for (size_t i = 1; i < points.size(); ++i) {
        const double gap = points[i].millimetres - points[i - 1].millimetres;
        if (gap > widest) {
            issues.push_back(
                {TareIssueKind::LevelGap, points[i].gridRow, points[i - 1].gridRow, gap});
        }
    }
}

} // namespace

std::vector<TarePoint> TarePointsOf(const TareGrid& grid, std::string_view decimalPoint) {
    std::vector<TarePoint> points;
    for (int r = 1; r < grid.RowCount(); ++r) {
        const auto litres = ParseTareNumber(grid.Cell(TareGrid::kLitresColumn, r), decimalPoint);
        const auto level = ParseTareNumber(grid.Cell(TareGrid::kLevelColumn, r), decimalPoint);
        if (litres && level) {
            points.push_back({r, *litres, *level});
        }
    }
    return points;
}

std::vector<TareIssue> CheckTareTable(const std::vector<TarePoint>& points, double tankHeightMm) {
    std::vector<TareIssue> issues;
    CheckOrder(points, issues);
    CheckSlopes(points, issues);
    CheckGaps(points, tankHeightMm, issues);
    std::stable_sort(issues.begin(), issues.end(), [](const TareIssue& a, const TareIssue& b) {
        return a.gridRow != b.gridRow ? a.gridRow < b.gridRow : a.kind < b.kind;
    });
    return issues;
}

std::string_view TareIssueKey(TareIssueKind kind) {
    switch (kind) {
    case TareIssueKind::LevelNotRising:
        return "msg_check_level_not_rising";
    case TareIssueKind::VolumeNotRising:
        return "msg_check_volume_not_rising";
    case TareIssueKind::DuplicateLevel:
        return "msg_check_duplicate_level";
    case TareIssueKind::SlopeOutlier:
        return "msg_check_slope";
    case TareIssueKind::LevelGap:
        return "msg_check_gap";
    }
    return {};
}

std::string_view TareIssueDefault(TareIssueKind kind) {
    switch (kind) {
    case TareIssueKind::LevelNotRising:
        return "Уровень ниже, чем в строке %1";
    case TareIssueKind::VolumeNotRising:
        return "Объём не больше, чем в строке %1";
    case TareIssueKind::DuplicateLevel:
        return "Уровень повторяет строку %1";
    case TareIssueKind::SlopeOutlier:
        return "Литры на мм от строки %1: ×%2 к соседним участкам (пропущена или двойная "
               "порция?)";
    case TareIssueKind::LevelGap:
        return "Промежуток от строки %1: %2 мм, больше 10 % высоты бака";
    }
    return {};
}

std::string FormatTareIssue(const TareIssue& issue, std::string_view pattern,
                            std::string_view decimalPoint) {
    char number[32];
    std::snprintf(number, sizeof number, "%.1f", issue.value);
    std::string value = number;
    if (const size_t dot = value.find('.'); dot != std::string::npos) {
        value.replace(dot, 1, decimalPoint);
    }
    std::string text(pattern);
    for (const auto& [mark, with] :
         {std::pair<std::string_view, std::string>{"%1", std::to_string(issue.otherRow)},
          std::pair<std::string_view, std::string>{"%2", value}}) {
        for (size_t at = text.find(mark); at != std::string::npos;
             at = text.find(mark, at + with.size())) {
            text.replace(at, mark.size(), with);
        }
    }
    return text;
}

} // namespace vq31
