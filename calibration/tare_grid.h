// Tare grid model: the tare table as rows of cell texts, the way the tare editor shows it.
// Row 0 holds the column headers and column 0 the row numbers; column 1 is the volume in
// litres and column 2 the level in whole millimetres. The grid is the only copy of a table
// while it is edited, so every operation works on texts and parses them when it needs a
// value. Nothing here depends on a locale: the decimal separator is always a parameter.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vq31 {

class TareGrid {
public:
    static constexpr int kColumns = 3;
    static constexpr int kNumberColumn = 0;
    static constexpr int kLitresColumn = 1;
    static constexpr int kLevelColumn = 2;
    // The header row and one (possibly empty) table row always exist.
    static constexpr int kMinRows = 2;

    TareGrid();

    int RowCount() const { return static_cast<int>(rows_.size()); }
    int ColumnCount() const { return kColumns; }

    // Grows with empty rows or drops rows from the end; never below kMinRows.
    void SetRowCount(int rows);

    // Cells outside the grid read as empty texts. Cells beyond the shown columns are kept (an
    // imported sheet may carry more columns) but no rule reads them.
    const std::string& Cell(int column, int row) const;
    // Writes inside the current row count only; writes to other rows are ignored.
    void SetCell(int column, int row, std::string text);

    void ClearRow(int row);
    // Inserts an empty row before `row` (1 to RowCount), every column of the rows below moving.
    void InsertEmptyRow(int row);
    // Removes a table row with all its cells; the grid keeps at least kMinRows rows.
    void RemoveRow(int row);
    // Back to one empty table row; the header row is kept.
    void Reset();

    void SetHeaders(std::string number, std::string litres, std::string level);

    // Decimals of the litres the row operations write: the resolution of the tank the table
    // belongs to (LitresDecimalsForScale), so that a row shows what will be stored.
    int LitresDecimals() const { return litresDecimals_; }
    void SetLitresDecimals(int decimals) { litresDecimals_ = decimals; }

private:
    std::vector<std::vector<std::string>> rows_;
    int litresDecimals_ = 1;
};

// Why a grid operation refused its input; each reason has its own message text.
enum class TareMessage {
    None,
    WrongCodeValue,     // level not usable, row order broken, under 1 l at level 0
    WrongLitrValue,     // more than the largest volume a table may hold
    WrongLitres,        // litres text not a number, or a negative volume
    AccuracyWrong,      // sensitivity not a whole number above 0
    PortionWrong,       // portion not a number
    PortionTooSmall,    // portion under 1 l either way
    CodeChangeTooSmall, // level moved less than the sensitivity
    DrainPortionTooBig, // drain would take the tank below 0 l
    TableWillTruncate,  // question: more rows than a tank record holds
    NotAnInteger,       // a neighbouring level cell is not a whole number
};

// Language key and built-in text of each message. NotAnInteger is the conversion message of
// the program (no key); its "%s" stands for the offending text.
std::string_view TareMessageKey(TareMessage message);
std::string_view TareMessageDefault(TareMessage message);

struct TareOutcome {
    TareMessage message = TareMessage::None;
    // The offending cell text for NotAnInteger; empty otherwise.
    std::string detail;

    bool Ok() const { return message == TareMessage::None; }
    static TareOutcome Refused(TareMessage m, std::string text = {}) {
        return {m, std::move(text)};
    }
};

// The largest volume a table row may hold, in litres.
inline constexpr double kMaxTareLitres = 650000.0;
// The largest level a row can store: its code in tenths of a millimetre is a 16-bit word.
inline constexpr int kMaxTareMillimetres = 6553;

// Number texts in the user's format. A number is optional blanks, an optional sign, digits
// with at most one decimal separator (the given one, no other), an optional exponent and
// optional blanks. A whole number is an optional sign and digits within 32 bits.
std::optional<double> ParseTareNumber(std::string_view text, std::string_view decimalPoint);
std::optional<int32_t> ParseTareWhole(std::string_view text);
// A volume with the given decimals (one unless told), rounded from its exact binary value
// (12.34 with one decimal gives "12.3").
std::string FormatTareLitres(double litres, std::string_view decimalPoint, int decimals = 1);
// Decimals that show a volume stored at scale millilitres per unit exactly: 1 ml gives 3,
// 10 ml 2, 100 ml 1, 1000 ml and more 0. A record without a scale yet (0) gives 1.
int LitresDecimalsForScale(uint16_t scale);

// The table rows (1 and down) as cell texts without their row numbers: litres and level.
std::vector<std::vector<std::string>> TableTextsOf(const TareGrid& grid);
// Puts rows of cell texts into table rows 1 and down, cell for cell (texts past the level
// are kept but not shown), and sets the row count to hold exactly them; no rows leave one
// empty table row.
void PutTableTexts(TareGrid& grid, const std::vector<std::vector<std::string>>& rows);

// Writes 1, 2, ... into column 0 of every table row.
void RenumberRows(TareGrid& grid);
// Inserts an empty row at `row`, moving that row and all below it one place down.
void OpenGridRow(TareGrid& grid, int row);
// Removes `row`; the last remaining table row is only cleared.
void DeleteTareRow(TareGrid& grid, int row);
// Removes rows `top` to `bottom` (from the bottom up) and renumbers.
void DeleteTareRows(TareGrid& grid, int top, int bottom);

// Puts one (litres, millimetres) pair into the grid, keeping volumes ascending and levels
// strictly rising: a new volume goes between its neighbours, an existing volume gets the new
// level. A refused pair leaves the grid as it was.
TareOutcome InsertTareRow(TareGrid& grid, double litres, int millimetres,
                          std::string_view decimalPoint);

// One calibration step ("Добавить"): the level shown now, the sensitivity in millimetres and
// the portion in litres (positive when fuel was poured in, negative when drained), all as the
// texts of their fields. Filling extends the table from its last row, draining from row 1.
TareOutcome CalibrationStep(TareGrid& grid, std::string_view levelText,
                            std::string_view sensitivityText, std::string_view portionText,
                            std::string_view decimalPoint);

} // namespace vq31
