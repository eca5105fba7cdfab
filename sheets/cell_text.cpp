// Cell texts and numbers: the shared parsing and formatting of the workbook formats.
#include "cell_text.h"

#include "tare_grid.h"

#include <charconv>
#include <cmath>

namespace vq31::sheets {

std::optional<double> ParseCellNumber(std::string_view text, std::string_view decimalPoint) {
    // A cell's number text has the same form as a number in the tare grid.
    return ParseTareNumber(text, decimalPoint);
}

std::string FormatCellNumber(double value, std::string_view decimalPoint) {
    // to_chars does not depend on the locale.
    char buffer[64];
    const auto [end, ec] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
    std::string out;
    for (const char* p = buffer; ec == std::errc() && p != end; ++p) {
        if (*p == '.') {
            out += decimalPoint;
        } else {
            out += *p == 'e' ? 'E' : *p;
        }
    }
    return out;
}

std::string CellText(const Cell& cell, std::string_view decimalPoint) {
    switch (cell.kind) {
    case Cell::Kind::Number:
        // Not-a-number and infinities have no text a table could use.
        return std::isfinite(cell.number) ? FormatCellNumber(cell.number, decimalPoint)
                                          : std::string();
    case Cell::Kind::Text:
        return cell.text;
    default:
        return {};
    }
}

std::optional<double> CellNumber(const Cell& cell, std::string_view decimalPoint) {
    if (cell.kind == Cell::Kind::Number) {
        return std::isfinite(cell.number) ? std::optional<double>(cell.number) : std::nullopt;
    }
    if (cell.kind == Cell::Kind::Text) {
        return ParseCellNumber(cell.text, decimalPoint);
    }
    return std::nullopt;
}

} // namespace vq31::sheets
