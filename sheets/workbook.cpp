// The in-memory workbook: sparse cells, used area, sheet naming and cell names.
#include "workbook.h"

#include <algorithm>

namespace vq31::sheets {

namespace {
constexpr uint32_t LettersInAlphabet = 26;
} // namespace

void Sheet::Set(uint32_t row, uint32_t column, Cell cell) {
    if (row == 0 || column == 0) {
        return;
    }
    const auto key = std::make_pair(row, column);
    if (cell.IsEmpty()) {
        if (cells_.erase(key) != 0 && (row == used_.rows || column == used_.columns)) {
            used_ = {};
            for (const auto& [pos, c] : cells_) {
                used_.rows = std::max(used_.rows, pos.first);
                used_.columns = std::max(used_.columns, pos.second);
            }
        }
        return;
    }
    cells_[key] = std::move(cell);
    used_.rows = std::max(used_.rows, row);
    used_.columns = std::max(used_.columns, column);
}

const Cell& Sheet::At(uint32_t row, uint32_t column) const {
    static const Cell empty;
    const auto it = cells_.find(std::make_pair(row, column));
    return it == cells_.end() ? empty : it->second;
}

std::string DefaultSheetName(std::size_t n) {
    return "Sheet" + std::to_string(n);
}

Sheet& XlsAddSheet(Workbook& book) {
    book.sheets.emplace_back(DefaultSheetName(book.sheets.size() + 1));
    return book.sheets.back();
}

std::string CellName(uint32_t row, uint32_t column) {
    std::string letters;
    for (uint32_t c = column; c > 0; c = (c - 1) / LettersInAlphabet) {
        letters.insert(letters.begin(), static_cast<char>('A' + (c - 1) % LettersInAlphabet));
    }
    return letters + std::to_string(row);
}

} // namespace vq31::sheets
