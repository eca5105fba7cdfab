// Cell texts and numbers: the shared parsing and formatting of the workbook formats.
#include "cell_text.h"

#include <charconv>
#include <cmath>

namespace vq31::sheets {

namespace {
bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}
} // namespace

std::optional<double> ParseCellNumber(std::string_view text, std::string_view decimalPoint) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    // Rebuild the text in the C form, checking its shape on the way.
    std::string plain;
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        if (text[i] == '-') {
            plain += '-';
        }
        ++i;
    }
    bool digits = false;
    bool point = false;
    while (i < text.size()) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            plain += c;
            digits = true;
            ++i;
        } else if (!point && !decimalPoint.empty() && text.substr(i).starts_with(decimalPoint)) {
            plain += '.';
            point = true;
            i += decimalPoint.size();
        } else {
            break;
        }
    }
    if (!digits) {
        return std::nullopt;
    }
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        plain += 'e';
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
            plain += text[i++];
        }
        bool expDigits = false;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            plain += text[i++];
            expDigits = true;
        }
        if (!expDigits) {
            return std::nullopt;
        }
    }
    if (i != text.size()) {
        return std::nullopt;
    }
    double value = 0;
    const auto [end, ec] = std::from_chars(plain.data(), plain.data() + plain.size(), value);
    if (ec != std::errc() || end != plain.data() + plain.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
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
        return FormatCellNumber(cell.number, decimalPoint);
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
