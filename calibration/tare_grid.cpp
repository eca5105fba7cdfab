// Tare grid model: grid storage, number texts and the row operations of the tare editor.
#include "tare_grid.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace vq31 {

namespace {

const std::string kEmpty;

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// A level cell that a rule needs as a whole number; when it is not one the rule stops with
// the conversion message naming the cell's text.
struct Level {
    std::optional<int32_t> value;
    std::string text;
};

Level LevelAt(const TareGrid& grid, int row) {
    const std::string& text = grid.Cell(TareGrid::kLevelColumn, row);
    return {ParseTareWhole(text), text};
}

void WritePair(TareGrid& grid, int row, double litres, int millimetres,
               std::string_view decimalPoint) {
    grid.SetCell(TareGrid::kLitresColumn, row,
                 FormatTareLitres(litres, decimalPoint, grid.LitresDecimals()));
    grid.SetCell(TareGrid::kLevelColumn, row, std::to_string(millimetres));
}

} // namespace

TareGrid::TareGrid() : rows_(kMinRows, std::vector<std::string>(kColumns)) {}

void TareGrid::SetRowCount(int rows) {
    rows_.resize(static_cast<size_t>(std::max(rows, kMinRows)), std::vector<std::string>(kColumns));
}

const std::string& TareGrid::Cell(int column, int row) const {
    if (row < 0 || row >= RowCount() || column < 0) {
        return kEmpty;
    }
    const auto& cells = rows_[static_cast<size_t>(row)];
    return static_cast<size_t>(column) < cells.size() ? cells[static_cast<size_t>(column)] : kEmpty;
}

void TareGrid::SetCell(int column, int row, std::string text) {
    if (row < 0 || row >= RowCount() || column < 0) {
        return;
    }
    auto& cells = rows_[static_cast<size_t>(row)];
    if (static_cast<size_t>(column) >= cells.size()) {
        cells.resize(static_cast<size_t>(column) + 1);
    }
    cells[static_cast<size_t>(column)] = std::move(text);
}

void TareGrid::ClearRow(int row) {
    if (row >= 0 && row < RowCount()) {
        rows_[static_cast<size_t>(row)].assign(kColumns, std::string());
    }
}

void TareGrid::InsertEmptyRow(int row) {
    if (row >= 1 && row <= RowCount()) {
        rows_.insert(rows_.begin() + row, std::vector<std::string>(kColumns));
    }
}

void TareGrid::RemoveRow(int row) {
    if (row >= 1 && row < RowCount() && RowCount() > kMinRows) {
        rows_.erase(rows_.begin() + row);
    }
}

void TareGrid::Reset() {
    rows_.resize(kMinRows);
    ClearRow(1);
}

void TareGrid::SetHeaders(std::string number, std::string litres, std::string level) {
    SetCell(kNumberColumn, 0, std::move(number));
    SetCell(kLitresColumn, 0, std::move(litres));
    SetCell(kLevelColumn, 0, std::move(level));
}

namespace {
// Each message's language key and built-in text.
struct MessageText {
    TareMessage message;
    std::string_view key;
    std::string_view text;
};
constexpr MessageText MessageTexts[] = {
    {TareMessage::WrongCodeValue, "msg_wrong_code_value", "Неверное значение кода"},
    {TareMessage::WrongLitrValue, "msg_wrong_litr_value",
     "Литраж превышает максимально допустимый"},
    {TareMessage::WrongLitres, "msg_litres_value_wrong", "Неверное значение литров"},
    {TareMessage::AccuracyWrong, "msg_accuracy_value_wrong", "Неверное значение чувствительности"},
    {TareMessage::PortionWrong, "msg_fuel_portion_wrong", "Неверное значение порции топлива"},
    {TareMessage::PortionTooSmall, "msg_fuel_portion_too_small", "Порция топлива менее допустимой"},
    {TareMessage::CodeChangeTooSmall, "msg_code_change_less_than_accuracy",
     "Изменение кода не превышает установленной чувствительности"},
    {TareMessage::DrainPortionTooBig, "msg_drain_portion_too_big",
     "Порция слива превышает остаток топлива в баке"},
    {TareMessage::TableWillTruncate, "msg_table_will_trunc",
     "Превышено максимальное количество записей. Таблица будет усечена. Продолжить?"},
    {TareMessage::NotAnInteger, {}, "'%s' is not a valid integer value"},
};

const MessageText* TextOf(TareMessage message) {
    for (const MessageText& m : MessageTexts)
        if (m.message == message)
            return &m;
    return nullptr;
}
} // namespace

std::string_view TareMessageKey(TareMessage message) {
    const MessageText* m = TextOf(message);
    return m ? m->key : std::string_view();
}

std::string_view TareMessageDefault(TareMessage message) {
    const MessageText* m = TextOf(message);
    return m ? m->text : std::string_view();
}

std::optional<double> ParseTareNumber(std::string_view text, std::string_view decimalPoint) {
    text = Trim(text);
    std::string plain; // the text with '.' as separator, for the locale-free parser
    size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        if (text[i] == '-') {
            plain += '-';
        }
        ++i;
    }
    size_t digits = 0;
    bool separator = false;
    while (i < text.size()) {
        if (IsDigit(text[i])) {
            plain += text[i++];
            ++digits;
        } else if (!separator && !decimalPoint.empty() &&
                   text.substr(i, decimalPoint.size()) == decimalPoint) {
            plain += '.';
            i += decimalPoint.size();
            separator = true;
        } else {
            break;
        }
    }
    if (digits == 0) {
        return std::nullopt;
    }
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        plain += 'e';
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
            plain += text[i++];
        }
        size_t exponentDigits = 0;
        while (i < text.size() && IsDigit(text[i])) {
            plain += text[i++];
            ++exponentDigits;
        }
        if (exponentDigits == 0) {
            return std::nullopt;
        }
    }
    if (i != text.size()) {
        return std::nullopt;
    }
    double value = 0.0;
    const auto [end, error] = std::from_chars(plain.data(), plain.data() + plain.size(), value);
    if (error != std::errc() || end != plain.data() + plain.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::optional<int32_t> ParseTareWhole(std::string_view text) {
    text = Trim(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || !std::all_of(text.begin(), text.end(), IsDigit)) {
        return std::nullopt;
    }
    int64_t value = 0;
    for (char c : text) {
        value = value * 10 + (c - '0');
        if (value > int64_t{std::numeric_limits<int32_t>::max()} + 1) {
            return std::nullopt;
        }
    }
    value = negative ? -value : value;
    if (value > std::numeric_limits<int32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<int32_t>(value);
}

int LitresDecimalsForScale(uint16_t scale) {
    if (scale == 0) {
        return 1;
    }
    return scale <= 1 ? 3 : scale <= 10 ? 2 : scale <= 100 ? 1 : 0;
}

std::string FormatTareLitres(double litres, std::string_view decimalPoint, int decimals) {
    char buffer[64];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, litres,
                                            std::chars_format::fixed, std::clamp(decimals, 0, 3));
    if (error != std::errc()) {
        return {};
    }
    std::string text(buffer, end);
    if (const size_t dot = text.find('.'); dot != std::string::npos) {
        text.replace(dot, 1, decimalPoint);
    }
    return text;
}

std::vector<std::vector<std::string>> TableTextsOf(const TareGrid& grid) {
    std::vector<std::vector<std::string>> rows;
    for (int r = 1; r < grid.RowCount(); ++r) {
        rows.push_back(
            {grid.Cell(TareGrid::kLitresColumn, r), grid.Cell(TareGrid::kLevelColumn, r)});
    }
    return rows;
}

void PutTableTexts(TareGrid& grid, const std::vector<std::vector<std::string>>& rows) {
    grid.Reset();
    grid.SetRowCount(static_cast<int>(rows.size()) + 1);
    for (size_t i = 0; i < rows.size(); ++i) {
        const int row = static_cast<int>(i) + 1;
        grid.ClearRow(row);
        for (size_t c = 0; c < rows[i].size(); ++c) {
            grid.SetCell(static_cast<int>(c) + 1, row, rows[i][c]);
        }
    }
}

void RenumberRows(TareGrid& grid) {
    for (int row = 1; row < grid.RowCount(); ++row) {
        grid.SetCell(TareGrid::kNumberColumn, row, std::to_string(row));
    }
}

void OpenGridRow(TareGrid& grid, int row) {
    grid.InsertEmptyRow(row);
}

void DeleteTareRow(TareGrid& grid, int row) {
    if (row < 1 || row >= grid.RowCount()) {
        return;
    }
    if (grid.RowCount() == TareGrid::kMinRows) {
        grid.ClearRow(1);
        return;
    }
    grid.RemoveRow(row);
}

void DeleteTareRows(TareGrid& grid, int top, int bottom) {
    for (int row = bottom; row >= top; --row) {
        DeleteTareRow(grid, row);
    }
    RenumberRows(grid);
}

TareOutcome InsertTareRow(TareGrid& grid, double litres, int millimetres,
                          std::string_view decimalPoint) {
    if (litres < 1.0 && millimetres == 0) {
        return TareOutcome::Refused(TareMessage::WrongCodeValue);
    }
    if (litres > kMaxTareLitres) {
        return TareOutcome::Refused(TareMessage::WrongLitrValue);
    }
    // A negative volume or a level past the 16-bit code would be stored wrapped around.
    if (litres < 0.0) {
        return TareOutcome::Refused(TareMessage::WrongLitres);
    }
    if (millimetres < 0 || millimetres > kMaxTareMillimetres) {
        return TareOutcome::Refused(TareMessage::WrongCodeValue);
    }

    // True when the level of `row` lies below the new level; the row above the first one
    // counts as lower. A level cell that is not a whole number stops the whole insert.
    std::optional<TareOutcome> failure;
    auto belowNew = [&](int row) {
        if (row < 1) {
            return true;
        }
        const Level level = LevelAt(grid, row);
        if (!level.value) {
            failure = TareOutcome::Refused(TareMessage::NotAnInteger, level.text);
            return false;
        }
        return *level.value < millimetres;
    };
    auto aboveNew = [&](int row) {
        const Level level = LevelAt(grid, row);
        if (!level.value) {
            failure = TareOutcome::Refused(TareMessage::NotAnInteger, level.text);
            return false;
        }
        return millimetres < *level.value;
    };

    int row = 1;
    for (; row < grid.RowCount(); ++row) {
        const auto rowLitres =
            ParseTareNumber(grid.Cell(TareGrid::kLitresColumn, row), decimalPoint);
        if (!rowLitres) {
            WritePair(grid, row, litres, millimetres, decimalPoint);
            return {};
        }
        if (litres > *rowLitres) {
            continue;
        }
        if (litres < *rowLitres) {
            const bool fits = belowNew(row - 1) && aboveNew(row);
            if (failure) {
                return *failure;
            }
            if (!fits) {
                return TareOutcome::Refused(TareMessage::WrongCodeValue);
            }
            OpenGridRow(grid, row);
            WritePair(grid, row, litres, millimetres, decimalPoint);
            RenumberRows(grid);
            return {};
        }
        const bool last = row == grid.RowCount() - 1;
        const bool fits = belowNew(row - 1) && (last || aboveNew(row + 1));
        if (failure) {
            return *failure;
        }
        if (!fits) {
            return TareOutcome::Refused(TareMessage::WrongCodeValue);
        }
        WritePair(grid, row, litres, millimetres, decimalPoint);
        return {};
    }

    const bool fits = belowNew(row - 1);
    if (failure) {
        return *failure;
    }
    if (!fits) {
        return TareOutcome::Refused(TareMessage::WrongCodeValue);
    }
    grid.SetRowCount(row + 1);
    WritePair(grid, row, litres, millimetres, decimalPoint);
    RenumberRows(grid);
    return {};
}

TareOutcome CalibrationStep(TareGrid& grid, std::string_view levelText,
                            std::string_view sensitivityText, std::string_view portionText,
                            std::string_view decimalPoint) {
    const auto level = ParseTareWhole(levelText);
    if (!level) {
        return TareOutcome::Refused(TareMessage::WrongCodeValue);
    }
    const auto sensitivity = ParseTareWhole(sensitivityText);
    if (!sensitivity || *sensitivity <= 0) {
        return TareOutcome::Refused(TareMessage::AccuracyWrong);
    }
    const auto portion = ParseTareNumber(portionText, decimalPoint);
    if (!portion) {
        return TareOutcome::Refused(TareMessage::PortionWrong);
    }
    if (std::trunc(*portion) == 0.0) {
        return TareOutcome::Refused(TareMessage::PortionTooSmall);
    }

    // Filling grows the table from its last row, draining from its first.
    const bool filling = *portion > 0.0;
    const int anchor = filling ? grid.RowCount() - 1 : 1;
    const double anchorLitres =
        ParseTareNumber(grid.Cell(TareGrid::kLitresColumn, anchor), decimalPoint).value_or(0.0);
    const int64_t anchorLevel =
        ParseTareWhole(grid.Cell(TareGrid::kLevelColumn, anchor)).value_or(0);
    if (filling) {
        if (anchorLevel + *sensitivity > *level) {
            return TareOutcome::Refused(TareMessage::CodeChangeTooSmall);
        }
    } else {
        if (anchorLevel - *sensitivity < *level) {
            return TareOutcome::Refused(TareMessage::CodeChangeTooSmall);
        }
        if (anchorLitres + *portion < 0.0) {
            return TareOutcome::Refused(TareMessage::DrainPortionTooBig);
        }
    }
    return InsertTareRow(grid, anchorLitres + *portion, *level, decimalPoint);
}

} // namespace vq31
