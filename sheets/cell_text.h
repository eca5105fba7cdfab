// Numbers as cell texts in the user's format, with the decimal point given by the caller
// (the C locale is never changed), and the value of a workbook cell as a number.
#pragma once

#include "workbook.h"

#include <optional>
#include <string>
#include <string_view>

namespace vq31::sheets {

// Optional blanks (spaces, tabs, line ends), an optional sign, digits with at most one decimal
// point (the given one, no other), an optional exponent, optional blanks. Infinity and
// not-a-number are refused.
std::optional<double> ParseCellNumber(std::string_view text, std::string_view decimalPoint);
// Up to 15 significant digits, shortest form ("10", "12.5", "1E+20").
std::string FormatCellNumber(double value, std::string_view decimalPoint);
// A cell as the text the grid shows: numbers formatted, texts as they are, empty as "".
std::string CellText(const Cell& cell, std::string_view decimalPoint);
// A number cell's value, or a text cell's text parsed as a number.
std::optional<double> CellNumber(const Cell& cell, std::string_view decimalPoint);

} // namespace vq31::sheets
