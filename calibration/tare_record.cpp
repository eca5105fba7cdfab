// Tare grid ↔ tank record conversions of the tare editor.
#include "tare_record.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

namespace vq31 {

namespace {

struct StorableRow {
    double litres;
    double level;
};

std::optional<StorableRow> ReadRow(const TareGrid& grid, int row, std::string_view decimalPoint) {
    const auto level = ParseTareNumber(grid.Cell(TareGrid::kLevelColumn, row), decimalPoint);
    const auto litres = ParseTareNumber(grid.Cell(TareGrid::kLitresColumn, row), decimalPoint);
    if (!level || !litres) {
        return std::nullopt;
    }
    return StorableRow{*litres, *level};
}

} // namespace

void FillTareGrid(const TankRecord& tank, TareGrid& grid, std::string_view decimalPoint) {
    grid.Reset();
    grid.SetLitresDecimals(LitresDecimalsForScale(tank.Scale));
    // RowCount may come from an image; never read past the record's rows.
    const size_t rows = std::min<size_t>(tank.RowCount, tank.rows.size());
    int next = 1;
    for (size_t i = 0; i < rows; ++i) {
        const RecordRow& row = tank.rows[i];
        if (row.Code == 0 && row.Litres == 0.0f) {
            continue;
        }
        grid.SetRowCount(std::max(grid.RowCount(), next + 1));
        grid.SetCell(TareGrid::kLitresColumn, next,
                     FormatTareLitres(row.Litres, decimalPoint, grid.LitresDecimals()));
        grid.SetCell(TareGrid::kLevelColumn, next, std::to_string(LevelMillimetres(row.Code)));
        ++next;
    }
    RenumberRows(grid);
}

int CountStorableRows(const TareGrid& grid, std::string_view decimalPoint) {
    int count = 0;
    for (int row = 1; row < grid.RowCount(); ++row) {
        if (ReadRow(grid, row, decimalPoint)) {
            ++count;
        }
    }
    return count;
}

TareOutcome StoreTareGrid(const TareGrid& grid, std::string_view decimalPoint, TankRecord& tank,
                          const std::function<bool()>& askTruncate) {
    std::vector<StorableRow> rows;
    for (int row = 1; row < grid.RowCount(); ++row) {
        const auto read = ReadRow(grid, row, decimalPoint);
        if (!read) {
            continue;
        }
        if (rows.size() == TareTableRows) {
            if (!askTruncate || !askTruncate()) {
                return TareOutcome::Refused(TareMessage::TableWillTruncate);
            }
            break;
        }
        rows.push_back(*read);
    }

    // Rows from an import are not checked on their way in; a value that does not fit its
    // stored form would come back from the device as a different number.
    for (const StorableRow& row : rows) {
        if (row.litres < 0.0) {
            return TareOutcome::Refused(TareMessage::WrongLitres);
        }
        if (row.litres > kMaxTareLitres) {
            return TareOutcome::Refused(TareMessage::WrongLitrValue);
        }
        const double millimetres = std::trunc(row.level + 0.5);
        if (millimetres < 0.0 || millimetres > kMaxTareMillimetres) {
            return TareOutcome::Refused(TareMessage::WrongCodeValue);
        }
    }

    const TankRecord before = tank;
    std::fill_n(tank.rows.begin(), TareTableRows, RecordRow{});
    float largest = 0.0f;
    for (size_t i = 0; i < rows.size(); ++i) {
        const auto millimetres = static_cast<uint16_t>(std::trunc(rows[i].level + 0.5));
        tank.rows[i].Code = static_cast<uint16_t>(millimetres * 10);
        tank.rows[i].Litres = static_cast<float>(rows[i].litres);
        largest = std::max(largest, tank.rows[i].Litres);
    }
    tank.RowCount = static_cast<uint16_t>(rows.size());
    // A table stored back unchanged keeps the record's own scale, so the sensor gets the very
    // values it holds; any other table takes the scale that fits its largest volume.
    const uint16_t needed = ScaleForLitres(largest);
    const bool unchanged =
        before.Scale != 0 && needed <= before.Scale && before.RowCount == tank.RowCount &&
        std::equal(tank.rows.begin(), tank.rows.begin() + tank.RowCount, before.rows.begin(),
                   [&](const RecordRow& now, const RecordRow& was) {
                       return ValueForLitres(now.Litres, before.Scale) ==
                              ValueForLitres(was.Litres, before.Scale);
                   });
    tank.Scale = unchanged ? before.Scale : needed;
    return {};
}

std::vector<TarePoint> StoredTarePoints(const TankRecord& tank) {
    std::vector<TarePoint> points;
    const uint16_t scale = tank.Scale == 0 ? 1 : tank.Scale; // as the image stores it
    const size_t rows = std::min<size_t>(tank.RowCount, tank.rows.size());
    for (size_t i = 0; i < rows; ++i) {
        const RecordRow& row = tank.rows[i];
        if (row.Code == 0 && row.Litres == 0.0f) {
            continue; // FillTareGrid shows no row for it either
        }
        points.push_back({static_cast<int>(points.size()) + 1,
                          StoredLitres(ValueForLitres(row.Litres, scale), scale),
                          static_cast<double>(LevelMillimetres(row.Code))});
    }
    return points;
}

} // namespace vq31
