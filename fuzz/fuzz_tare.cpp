// Fuzzes the tare grid rules over arbitrary cell texts: the number parsers, the insert of a
// pair, the calibration step and the OK rule that stores the grid into a tank record. A
// refused operation must leave the grid as it was, and a stored record must hold only what
// its 16-bit fields can keep.
// fuzz-libs: vq31_calibration
#include "tare_grid.h"
#include "tare_record.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

using vq31::TareGrid;

// Input: byte 0 picks the decimal separator and whether the truncation question is answered
// Yes; the rest is lines of text. The last three lines are the level, sensitivity and portion
// fields; the lines before them fill the grid two per row (litres, level).
struct Input {
    std::string decimalPoint;
    bool truncate = false;
    std::vector<std::vector<std::string>> rows;
    std::string level, sensitivity, portion;
};

Input Split(const uint8_t* data, size_t size) {
    Input in;
    const uint8_t mode = size > 0 ? data[0] : 0;
    static const char* const points[] = {".", ",", "\xD9\xAB", "::"};
    in.decimalPoint = points[mode & 3];
    in.truncate = (mode & 4) != 0;
    std::vector<std::string> lines(1);
    for (size_t i = 1; i < size; ++i) {
        if (data[i] == '\n') {
            lines.emplace_back();
        } else {
            lines.back() += static_cast<char>(data[i]);
        }
    }
    while (lines.size() < 3) {
        lines.emplace_back();
    }
    in.portion = lines.back();
    lines.pop_back();
    in.sensitivity = lines.back();
    lines.pop_back();
    in.level = lines.back();
    lines.pop_back();
    for (size_t i = 0; i < lines.size(); i += 2) {
        in.rows.push_back({lines[i], i + 1 < lines.size() ? lines[i + 1] : std::string()});
    }
    return in;
}

bool SameGrid(const TareGrid& a, const TareGrid& b) {
    return a.RowCount() == b.RowCount() && vq31::TableTextsOf(a) == vq31::TableTextsOf(b);
}

void CheckRecord(const vq31::TankRecord& tank) {
    if (tank.RowCount > vq31::TareTableRows) {
        std::abort();
    }
    if (tank.Scale != 1 && tank.Scale != 10 && tank.Scale != 100 && tank.Scale != 1000 &&
        tank.Scale != 10000) {
        std::abort();
    }
    for (size_t i = 0; i < tank.RowCount; ++i) {
        const vq31::RecordRow& row = tank.rows[i];
        if (row.Code % 10 != 0 || !std::isfinite(row.Litres) || row.Litres < 0.0f ||
            row.Litres > vq31::kMaxTareLitres) {
            std::abort();
        }
        // Every stored volume fits the entry's 16-bit value at the chosen scale.
        if (std::trunc(static_cast<double>(row.Litres) * 1000.0 / tank.Scale + 0.5) > 65535.0) {
            std::abort();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) {
        return 0;
    }
    const Input in = Split(data, size);
    TareGrid grid;
    vq31::PutTableTexts(grid, in.rows);

    for (const auto& row : in.rows) {
        for (const std::string& text : row) {
            if (const auto v = vq31::ParseTareNumber(text, in.decimalPoint);
                v && !std::isfinite(*v)) {
                std::abort();
            }
        }
    }

    // A pair from the field texts: refused means untouched.
    const auto litres = vq31::ParseTareNumber(in.portion, in.decimalPoint);
    const auto millimetres = vq31::ParseTareWhole(in.level);
    if (litres && millimetres) {
        const TareGrid before = grid;
        if (!vq31::InsertTareRow(grid, *litres, *millimetres, in.decimalPoint).Ok() &&
            !SameGrid(before, grid)) {
            std::abort();
        }
    }

    const TareGrid before = grid;
    if (!vq31::CalibrationStep(grid, in.level, in.sensitivity, in.portion, in.decimalPoint).Ok() &&
        !SameGrid(before, grid)) {
        std::abort();
    }

    vq31::TankRecord tank;
    tank.Scale = 1;
    const vq31::TankRecord untouched = tank;
    const vq31::TareOutcome stored =
        vq31::StoreTareGrid(grid, in.decimalPoint, tank, [&] { return in.truncate; });
    if (!stored.Ok()) {
        if (tank.RowCount != untouched.RowCount || tank.Scale != untouched.Scale) {
            std::abort();
        }
        return 0;
    }
    CheckRecord(tank);

    // Shown again and stored again, the table keeps its rows (a row of 0 l at level 0 is the
    // one the window does not show).
    TareGrid shown;
    vq31::FillTareGrid(tank, shown, in.decimalPoint);
    vq31::TankRecord again = tank;
    if (!vq31::StoreTareGrid(shown, in.decimalPoint, again, [] { return true; }).Ok()) {
        std::abort();
    }
    CheckRecord(again);
    if (again.RowCount > tank.RowCount) {
        std::abort();
    }
    return 0;
}
