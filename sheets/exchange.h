// The workbook exchange operations as the windows and the command-line tool call them: each
// takes a file name and gives back whether it succeeded and, when something must be shown,
// the exact text of the error box. Nothing here shows anything itself.
#pragma once

#include "hub_image.h"
#include "workbook.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vq31::sheets {

inline constexpr std::string_view SaveErrorMessage = "Error save excel file\nUnknown error";
inline constexpr std::string_view ReadErrorMessage = "Error read excel file\nUnknown error";
inline constexpr std::string_view WrongHubMessage = "Wrong hub structure";
// The sheet name the tare editor gives its table.
inline constexpr std::string_view TareSheetName = "Tare table";
inline constexpr std::string_view NoTankSheetsDetail =
    "the workbook has no tank sheet; the tank list was left as it was";

// Why a workbook could not be imported: the second line of the read error box, under
// ReadErrorMessage, in the user's language.
enum class ReadReason {
    None,
    CannotOpen,   // the file cannot be opened or read
    NotWorkbook,  // neither a workbook package, a .xls workbook nor a text table
    Damaged,      // a damaged file, or one in a form the reader does not know
    TooLarge,     // over the reader's size limits
    Encoding,     // a package part in an encoding the reader does not know
    NoWorksheet,  // a workbook without worksheets
    ReaderFailed, // the reader stopped on the file
    SingleCell,   // tare table: the used area is one cell or none
    TooManyCells, // tare table: the used area is too large
    NoPairs,      // tare table: no row holds a litres and level pair
};
struct ReasonText {
    std::string_view key;     // the language file's key
    std::string_view builtIn; // the built-in text
};
ReasonText ReadReasonText(ReadReason reason);
// The reason for a failed workbook read, from the read's error text.
ReadReason ReasonOfReadError(std::string_view error);

struct ExchangeResult {
    ExchangeResult() = default;
    ExchangeResult(bool ok_, std::string message_, std::string detail_)
        : ok(ok_), message(std::move(message_)), detail(std::move(detail_)) {}

    bool ok = false;
    // Text of the error box to show; empty when there is nothing to show.
    std::string message;
    // The underlying reason, for the command line; never shown in the window.
    std::string detail;
    // A failed import: why, for the window's error box (ReadReasonText).
    ReadReason reason = ReadReason::None;
    // What a successful import left out, one line per sheet ("sheet 'TankID 3': 2 rows past
    // the first 100 left out"); empty when everything was taken. A tare table import counts
    // the rows without a litres and level pair, which the grid keeps as texts and storing it
    // leaves out.
    std::vector<std::string> leftOut;
};

// A failed import: ReadErrorMessage with the reason and the detail.
ExchangeResult ReadFailed(ReadReason reason, std::string detail);

// Table rows of the tare grid as cell texts (grid rows 1 and down, without the header row and
// the row numbers): element 0 the litres text, element 1 the level text, and any further
// texts an imported sheet carried.
using TareRows = std::vector<std::vector<std::string>>;

// Writes the rows into A1:B<n> of a new workbook with one sheet of the given name, texts that
// are numbers (with the given decimal point) as numeric cells, others as texts.
ExchangeResult ExportTareTable(const TareRows& rows, const std::string& sheetName,
                               const std::string& fileName, std::string_view decimalPoint);
// Reads the first sheet's used area, row for row and column for column, into rows; numbers
// become texts with the given decimal point. A used area of one cell (or none) is refused.
// On failure rows is left as it was.
ExchangeResult ImportTareTable(const std::string& fileName, std::string_view decimalPoint,
                               TareRows& rows);

// One sheet per preset tank (id 2 and up) in image order, with titles, id, height and the
// table; refused with WrongHubMessage for an image that is not valid.
ExchangeResult ExportTankList(const HubBuffer& image, const std::string& fileName);
// Asked when a readable workbook holds no qualifying tank sheet, so that the import would
// reset every preset to the default configuration: true goes ahead. Without one the import
// is refused.
using ConfirmNoTanks = std::function<bool()>;

// Builds a new image (the default configuration, with the calibrated tank 1 of a valid current
// image kept as it is, plus one tank per qualifying sheet) and puts it in place of image only
// when the whole workbook was read; on failure image and scratch
// stay as they were. scratch is the record each sheet's table passes through. A workbook
// without any tank sheet replaces the image only when confirmNoTanks says so; otherwise the
// result is a failure with no message to show (NoTankSheetsDetail as its detail).
ExchangeResult ImportTankList(HubBuffer& image, TankRecord& scratch, const std::string& fileName,
                              std::string_view decimalPoint,
                              const ConfirmNoTanks& confirmNoTanks = {});

// The two imports over a workbook already read (the file operations above read the file and
// then call these).
ExchangeResult ImportTareTableFrom(const Workbook& book, std::string_view decimalPoint,
                                   TareRows& rows);
ExchangeResult ImportTankListFrom(const Workbook& book, HubBuffer& image, TankRecord& scratch,
                                  std::string_view decimalPoint,
                                  const ConfirmNoTanks& confirmNoTanks = {});
// The workbook an export writes.
Workbook TareTableWorkbook(const TareRows& rows, const std::string& sheetName,
                           std::string_view decimalPoint);
Workbook TankListWorkbook(const HubBuffer& image);

// Limits of a tank list sheet row: litres at most 65535, level at most 6553.5 mm.
inline constexpr double MaxSheetLitres = 65535.0;
inline constexpr double MaxSheetLevelCode = 65535.0;
// A tare import refuses a used area larger than this many cells.
inline constexpr std::size_t MaxTareImportCells = 1'000'000;

} // namespace vq31::sheets
