// Workbooks in memory, and reading and writing them as files. A workbook is a list of named
// worksheets of sparse cells (numbers or texts); the tare table and tank list formats build
// on this. Files: .xlsx is written directly; a .xls name is converted from .xlsx by
// LibreOffice when it is installed; .xlsx, .ods and .csv are read through one importer and
// .xls through another, the format being recognised from the file's first bytes.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vq31::sheets {

struct Cell {
    enum class Kind { Empty, Number, Text };
    Kind kind = Kind::Empty;
    double number = 0.0;
    std::string text;

    static Cell Num(double v) { return Cell{Kind::Number, v, {}}; }
    static Cell Str(std::string s) { return Cell{Kind::Text, 0.0, std::move(s)}; }
    bool IsEmpty() const { return kind == Kind::Empty || (kind == Kind::Text && text.empty()); }
};

// Last used row and column (1-based); 0 and 0 for a sheet without cells.
struct UsedArea {
    uint32_t rows = 0;
    uint32_t columns = 0;
};

class Sheet {
public:
    explicit Sheet(std::string name = {}) : name_(std::move(name)) {}

    const std::string& name() const { return name_; }
    void SetName(std::string name) { name_ = std::move(name); }

    // Rows and columns count from 1. Setting an empty cell removes it.
    void Set(uint32_t row, uint32_t column, Cell cell);
    void SetNumber(uint32_t row, uint32_t column, double v) { Set(row, column, Cell::Num(v)); }
    void SetText(uint32_t row, uint32_t column, std::string s) {
        Set(row, column, Cell::Str(std::move(s)));
    }
    // An empty cell for positions never set.
    const Cell& At(uint32_t row, uint32_t column) const;
    UsedArea Used() const { return used_; }
    std::size_t CellCount() const { return cells_.size(); }
    // Cells in row order, then column order.
    const std::map<std::pair<uint32_t, uint32_t>, Cell>& cells() const { return cells_; }

private:
    std::string name_;
    std::map<std::pair<uint32_t, uint32_t>, Cell> cells_;
    UsedArea used_;
};

struct Workbook {
    std::vector<Sheet> sheets;
};

// The default name of worksheet n (from 1) in a new workbook.
std::string DefaultSheetName(std::size_t n);
// Appends a worksheet after the last one, under its default name; returns it.
Sheet& XlsAddSheet(Workbook& book);

// Cell name of a 1-based row and column: "A1", "C10", "Z3", "AA7".
std::string CellName(uint32_t row, uint32_t column);

// Outcome of a file operation; error holds a short reason for logs and the command line.
struct FileResult {
    bool ok = false;
    std::string error;
};

// Largest used area a read accepts, so a file cannot make a reader allocate without bound.
inline constexpr uint32_t MaxReadRows = 1048576;
inline constexpr uint32_t MaxReadColumns = 16384;
// Largest number of cells a read keeps.
inline constexpr std::size_t MaxReadCells = 4'000'000;

// Reads every worksheet, in workbook order, with numbers, texts and the stored results of
// formulas (a formula stored without a result is an empty cell). Dates are read as texts
// ("2016-12-31", with the time of day when there is one) and booleans as the texts TRUE and
// FALSE, never as numbers. The format comes from the content: OLE2 (.xls), ZIP (.xlsx or
// .ods), otherwise text (.csv).
FileResult ReadWorkbook(const std::string& fileName, Workbook& book);
// The same over bytes in memory (fuzzing, tests); .xls content is read from a temporary file.
FileResult ReadWorkbookBytes(std::string_view bytes, Workbook& book);

// Saves by the name's extension: exactly ".xlsx" or any name that is not .xls gives the Open
// XML workbook format; ".xls" (any case) is converted by LibreOffice when installed, and
// otherwise refused with XlsNeedsLibreOfficeMessage. An existing file is replaced.
FileResult SaveWorkbook(const Workbook& book, const std::string& fileName);
// Writes the Open XML workbook format whatever the name.
FileResult WriteXlsx(const Workbook& book, const std::string& fileName);

inline constexpr std::string_view XlsNeedsLibreOfficeMessage =
    "Saving in the .xls format needs LibreOffice (soffice), which is not installed.\n"
    "Choose the .xlsx format instead.";

// True when a LibreOffice converter is found on PATH.
bool HaveLibreOffice();

} // namespace vq31::sheets
