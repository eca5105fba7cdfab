// Cell texts and numbers: the shared parsing and formatting of the workbook formats.
#include "cell_text.h"

#include "tare_grid.h"

#include <charconv>
#include <cmath>
#include <cstdio>

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

namespace {

// Days since 1970-01-01 to a civil date (proleptic Gregorian calendar).
void CivilFromDays(long long z, int& year, int& month, int& day) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

// 1899-12-30 and 1904-01-01 as days since 1970-01-01.
constexpr long long Epoch1900 = -25569;
constexpr long long Epoch1904 = -24107;
// 9999-12-31 in the 1900 system.
constexpr double LastSerial = 2958465.0;

} // namespace

std::string DateText(int year, int month, int day, int hour, int minute, int second) {
    char text[48];
    if (year == 0 && month == 0 && day == 0) {
        std::snprintf(text, sizeof text, "%02d:%02d:%02d", hour, minute, second);
    } else if (hour == 0 && minute == 0 && second == 0) {
        std::snprintf(text, sizeof text, "%04d-%02d-%02d", year, month, day);
    } else {
        std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", year, month, day, hour,
                      minute, second);
    }
    return text;
}

std::string SerialDateText(double serial, bool date1904) {
    if (!std::isfinite(serial) || serial < 0 || serial > LastSerial) {
        return "#DATE";
    }
    auto days = static_cast<long long>(std::floor(serial));
    auto seconds = std::llround((serial - static_cast<double>(days)) * 86400.0);
    if (seconds >= 86400) {
        ++days;
        seconds -= 86400;
    }
    const int hour = static_cast<int>(seconds / 3600);
    const int minute = static_cast<int>(seconds / 60 % 60);
    const int second = static_cast<int>(seconds % 60);
    if (days == 0 && !date1904) {
        return DateText(0, 0, 0, hour, minute, second);
    }
    if (!date1904 && days == 60) {
        return DateText(1900, 2, 29, hour, minute, second);
    }
    // Days before the counted 29 February 1900 start one day later.
    const long long epoch = date1904 ? Epoch1904 : (days < 60 ? Epoch1900 + 1 : Epoch1900);
    int year = 0, month = 0, day = 0;
    CivilFromDays(epoch + days, year, month, day);
    return DateText(year, month, day, hour, minute, second);
}

} // namespace vq31::sheets
