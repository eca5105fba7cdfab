// Builds tare grids from (litres, level) text pairs and reads them back, for the model tests.
#pragma once

#include "tare_grid.h"

#include <string>
#include <utility>
#include <vector>

namespace vq31::test {

using Pairs = std::vector<std::pair<std::string, std::string>>;

inline TareGrid GridOf(const Pairs& rows) {
    TareGrid grid;
    grid.SetRowCount(static_cast<int>(rows.size()) + 1);
    for (size_t i = 0; i < rows.size(); ++i) {
        grid.SetCell(TareGrid::kLitresColumn, static_cast<int>(i) + 1, rows[i].first);
        grid.SetCell(TareGrid::kLevelColumn, static_cast<int>(i) + 1, rows[i].second);
    }
    RenumberRows(grid);
    return grid;
}

inline Pairs PairsOf(const TareGrid& grid) {
    Pairs rows;
    for (int r = 1; r < grid.RowCount(); ++r) {
        rows.emplace_back(grid.Cell(TareGrid::kLitresColumn, r),
                          grid.Cell(TareGrid::kLevelColumn, r));
    }
    return rows;
}

inline std::vector<std::string> NumbersOf(const TareGrid& grid) {
    std::vector<std::string> numbers;
    for (int r = 1; r < grid.RowCount(); ++r) {
        numbers.push_back(grid.Cell(TareGrid::kNumberColumn, r));
    }
    return numbers;
}

} // namespace vq31::test
