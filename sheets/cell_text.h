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

// A date as the text a date cell is read as: "2016-12-31", or "2016-12-31 08:30:00" when it
// has a time of day; a time alone (day 0) is "08:30:00".
std::string DateText(int year, int month, int day, int hour, int minute, int second);
// A date cell's serial number as that text. In the 1900 system day 1 is 1900-01-01 and day 60
// the 29 February 1900 that the system counts; in the 1904 system day 0 is 1904-01-01. A
// serial outside the years 1900 to 9999 gives "#DATE".
std::string SerialDateText(double serial, bool date1904);
// The texts of boolean cells.
inline constexpr std::string_view TrueText = "TRUE";
inline constexpr std::string_view FalseText = "FALSE";

} // namespace vq31::sheets
