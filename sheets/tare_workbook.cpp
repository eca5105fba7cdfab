// The tare table workbook: one sheet, litres in column A and millimetres in column B, one
// table row per sheet row, no header row.
#include "cell_text.h"
#include "exchange.h"
#include "workbook.h"

#include <algorithm>

namespace vq31::sheets {

namespace {

ExchangeResult SaveFailed(const FileResult& saved) {
    // The missing converter has its own message; every other failure the fixed one.
    const bool own = saved.error == XlsNeedsLibreOfficeMessage;
    return {false, own ? saved.error : std::string(SaveErrorMessage), saved.error};
}

} // namespace

ExchangeResult ReadFailed(ReadReason reason, std::string detail) {
    ExchangeResult result{false, std::string(ReadErrorMessage), std::move(detail)};
    result.reason = reason;
    return result;
}

Workbook TareTableWorkbook(const TareRows& rows, const std::string& sheetName,
                           std::string_view decimalPoint) {
    Workbook book;
    Sheet& sheet = book.sheets.emplace_back(sheetName);
    for (std::size_t r = 0; r < rows.size(); ++r) {
        for (std::size_t c = 0; c < rows[r].size(); ++c) {
            const std::string& text = rows[r][c];
            const auto row = static_cast<uint32_t>(r + 1);
            const auto column = static_cast<uint32_t>(c + 1);
            if (const auto number = ParseCellNumber(text, decimalPoint)) {
                sheet.SetNumber(row, column, *number);
            } else {
                sheet.SetText(row, column, text);
            }
        }
    }
    return book;
}

ExchangeResult ExportTareTable(const TareRows& rows, const std::string& sheetName,
                               const std::string& fileName, std::string_view decimalPoint) {
    const FileResult saved =
        SaveWorkbook(TareTableWorkbook(rows, sheetName, decimalPoint), fileName);
    if (!saved.ok) {
        return SaveFailed(saved);
    }
    return {true, {}, {}};
}

ExchangeResult ImportTareTable(const std::string& fileName, std::string_view decimalPoint,
                               TareRows& rows) {
    Workbook book;
    const FileResult read = ReadWorkbook(fileName, book);
    if (!read.ok) {
        return ReadFailed(ReasonOfReadError(read.error), read.error);
    }
    return ImportTareTableFrom(book, decimalPoint, rows);
}

ExchangeResult ImportTareTableFrom(const Workbook& book, std::string_view decimalPoint,
                                   TareRows& rows) {
    if (book.sheets.empty()) {
        return ReadFailed(ReadReason::NoWorksheet, "no worksheet");
    }
    const Sheet& sheet = book.sheets.front();
    const UsedArea used = sheet.Used();
    // A single cell is not a table block; a sheet without cells has the same used area.
    if (used.rows <= 1 && used.columns <= 1) {
        return ReadFailed(ReadReason::SingleCell, "the used area is a single cell");
    }
    if (static_cast<std::size_t>(used.rows) * used.columns > MaxTareImportCells) {
        return ReadFailed(ReadReason::TooManyCells, "the used area is too large");
    }
    TareRows imported(used.rows, std::vector<std::string>(used.columns));
    for (const auto& [pos, cell] : sheet.cells()) {
        imported[pos.first - 1][pos.second - 1] = CellText(cell, decimalPoint);
    }
    // A sheet with rows but not one litres and level pair that reads as numbers is not a
    // tare table (a csv split at the wrong separator, say): taking it would empty the table.
    const bool anyPair = std::any_of(imported.begin(), imported.end(), [&](const auto& row) {
        return row.size() >= 2 && ParseCellNumber(row[0], decimalPoint) &&
               ParseCellNumber(row[1], decimalPoint);
    });
    if (!anyPair) {
        return ReadFailed(ReadReason::NoPairs, "no row holds a litres and level pair");
    }
    // Rows that hold something but no litres and level pair (titles, dates, booleans) stay in
    // the grid as texts, and storing the table leaves them out: they are counted here.
    const auto leftOut = std::count_if(imported.begin(), imported.end(), [&](const auto& row) {
        const bool any = !row[0].empty() || (row.size() >= 2 && !row[1].empty());
        return any && !(row.size() >= 2 && ParseCellNumber(row[0], decimalPoint) &&
                        ParseCellNumber(row[1], decimalPoint));
    });
    rows = std::move(imported);
    ExchangeResult result{true, {}, {}};
    if (leftOut > 0) {
        result.leftOut.push_back("sheet '" + sheet.name() + "': " + std::to_string(leftOut) +
                                 (leftOut == 1 ? " row" : " rows") +
                                 " without a number for litres or level left out");
    }
    return result;
}

} // namespace vq31::sheets
