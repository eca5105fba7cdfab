// Reading workbooks: .xlsx, .ods and .csv through the orcus importer, with our own receiver of
// its callbacks (cells, shared strings, stored formula results, cell references), and .xls
// through FreeXL; ZIP packages and .xls files are parsed in a child process. Every failure
// becomes a FileResult; nothing is thrown to the caller.
#include "c_locale_scope.h"
#include "csv_text.h"
#include "workbook.h"
#include "xls_read.h"
#include "xlsx_repair.h"

#include <orcus/csv_parser.hpp>
#include <orcus/orcus_ods.hpp>
#include <orcus/orcus_xlsx.hpp>
#include <orcus/spreadsheet/import_interface.hpp>

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <exception>
#include <fstream>
#include <memory>
#include <stdexcept>

namespace vq31::sheets {

namespace {

namespace ss = orcus::spreadsheet;

// Largest file a read accepts; workbooks of tank lists stay far below.
constexpr std::size_t MaxFileBytes = 64u << 20;
// Largest size a workbook package may unpack to, all its parts together. The package parser
// holds about three times what it unpacks while reading (measured by the workbook memory
// benchmark), so this keeps the reader under about 100 MB; a sheet of a million cells
// unpacks to about 35 MB.
constexpr std::size_t MaxUnpackedBytes = 40u << 20;
constexpr unsigned char Ole2Magic[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

// Thrown inside the importer callbacks when a file asks for more than the limits allow;
// caught by the read below.
struct LimitExceeded : std::exception {
    const char* what() const noexcept override { return "workbook too large"; }
};

constexpr std::size_t CsvPadding = 64;

// Parses a whole text as a number in the C format; used for csv cells.
bool ParsePlainNumber(std::string_view s, double& value) {
    if (s.empty() || s.front() == ' ' || s.back() == ' ') {
        return false;
    }
    std::string_view body = s.front() == '+' ? s.substr(1) : s;
    if (body.empty() || !(std::isdigit(static_cast<unsigned char>(body.front())) ||
                          body.front() == '-' || body.front() == '.')) {
        return false;
    }
    const auto [end, ec] = std::from_chars(body.data(), body.data() + body.size(), value);
    return ec == std::errc() && end == body.data() + body.size();
}

// Parses a number written with one decimal comma ("12,5", "-0,25"); no point may appear.
bool ParseCommaNumber(std::string_view s, double& value) {
    const auto comma = s.find(',');
    if (comma == std::string_view::npos || s.find(',', comma + 1) != std::string_view::npos ||
        s.find('.') != std::string_view::npos) {
        return false;
    }
    std::string plain(s);
    plain[comma] = '.';
    return ParsePlainNumber(plain, value);
}

// Parses "A1", "$B$7" or "Sheet1!C3" (the sheet part ignored) into 0-based row and column.
bool ParseA1(std::string_view ref, ss::row_t& row, ss::col_t& col) {
    if (const auto bang = ref.rfind('!'); bang != std::string_view::npos) {
        ref.remove_prefix(bang + 1);
    }
    std::size_t i = 0;
    if (i < ref.size() && ref[i] == '$') {
        ++i;
    }
    long c = 0;
    std::size_t letters = 0;
    for (; i < ref.size() && std::isalpha(static_cast<unsigned char>(ref[i])); ++i, ++letters) {
        c = c * 26 + (std::toupper(static_cast<unsigned char>(ref[i])) - 'A' + 1);
        if (c > static_cast<long>(MaxReadColumns)) {
            return false;
        }
    }
    if (i < ref.size() && ref[i] == '$') {
        ++i;
    }
    long r = 0;
    const auto [end, ec] = std::from_chars(ref.data() + i, ref.data() + ref.size(), r);
    if (letters == 0 || ec != std::errc() || end != ref.data() + ref.size() || r < 1 ||
        r > static_cast<long>(MaxReadRows)) {
        return false;
    }
    row = static_cast<ss::row_t>(r - 1);
    col = static_cast<ss::col_t>(c - 1);
    return true;
}

class StringTable : public ss::iface::import_shared_strings {
public:
    std::size_t append(std::string_view s) override {
        Charge(s.size());
        strings_.emplace_back(s);
        return strings_.size() - 1;
    }
    std::size_t add(std::string_view s) override { return append(s); }
    void set_segment_font(std::size_t) override {}
    void set_segment_bold(bool) override {}
    void set_segment_italic(bool) override {}
    void set_segment_font_name(std::string_view) override {}
    void set_segment_font_size(double) override {}
    void set_segment_font_color(ss::color_elem_t, ss::color_elem_t, ss::color_elem_t,
                                ss::color_elem_t) override {}
    void append_segment(std::string_view s) override {
        Charge(s.size());
        segments_.append(s);
    }
    std::size_t commit_segments() override {
        strings_.push_back(std::move(segments_));
        segments_.clear();
        return strings_.size() - 1;
    }
    const std::string* Find(std::size_t index) const {
        return index < strings_.size() ? &strings_[index] : nullptr;
    }

private:
    void Charge(std::size_t n) {
        bytes_ += n + 1;
        if (bytes_ > MaxFileBytes * 4) {
            throw LimitExceeded();
        }
    }
    std::vector<std::string> strings_;
    std::string segments_;
    std::size_t bytes_ = 0;
};

class CellCounter {
public:
    void Count() {
        if (++cells_ > MaxReadCells) {
            throw LimitExceeded();
        }
    }

private:
    std::size_t cells_ = 0;
};

// Captures a formula cell's stored result; the formula text itself is not evaluated.
class FormulaResult : public ss::iface::import_formula {
public:
    FormulaResult(Sheet& sheet, CellCounter& counter) : sheet_(sheet), counter_(counter) {}
    void set_position(ss::row_t row, ss::col_t col) override {
        row_ = row;
        col_ = col;
        result_ = Cell{};
    }
    void set_formula(ss::formula_grammar_t, std::string_view) override {}
    void set_shared_formula_index(std::size_t) override {}
    void set_result_string(std::string_view value) override {
        result_ = Cell::Str(std::string(value));
    }
    // A formula saved without its result (writers that do not calculate leave it empty)
    // arrives as not-a-number: the cell has no value then.
    void set_result_value(double value) override {
        result_ = std::isfinite(value) ? Cell::Num(value) : Cell{};
    }
    void set_result_bool(bool value) override { result_ = Cell::Num(value ? 1.0 : 0.0); }
    void set_result_empty() override { result_ = Cell{}; }
    void commit() override {
        if (row_ >= 0 && col_ >= 0 && static_cast<uint32_t>(row_) < MaxReadRows &&
            static_cast<uint32_t>(col_) < MaxReadColumns) {
            counter_.Count();
            sheet_.Set(static_cast<uint32_t>(row_) + 1, static_cast<uint32_t>(col_) + 1,
                       std::move(result_));
        }
        result_ = Cell{};
    }

private:
    Sheet& sheet_;
    CellCounter& counter_;
    ss::row_t row_ = -1;
    ss::col_t col_ = -1;
    Cell result_;
};

class SheetReceiver : public ss::iface::import_sheet {
public:
    SheetReceiver(Sheet& sheet, const StringTable& strings, CellCounter& counter)
        : sheet_(sheet), strings_(strings), counter_(counter), formula_(sheet, counter) {}

    ss::iface::import_formula* get_formula() override { return &formula_; }
    // The input text (end: its last byte + 1, limit: end of the buffer behind it); a cell
    // text that points into the buffer is cut at the end of the input.
    void SetInputRange(const char* begin, const char* end, const char* limit) {
        begin_ = begin;
        end_ = end;
        limit_ = limit;
    }
    void set_auto(ss::row_t row, ss::col_t col, std::string_view s) override {
        if (begin_ && s.data() >= begin_ && s.data() < limit_) {
            const std::size_t room =
                s.data() < end_ ? static_cast<std::size_t>(end_ - s.data()) : 0;
            s = s.substr(0, std::min(s.size(), room));
        }
        if (!s.empty() && s.back() == '\r') {
            s.remove_suffix(1); // a line ending in CR LF
        }
        double v = 0;
        if (ParsePlainNumber(s, v) || (decimalComma_ && ParseCommaNumber(s, v))) {
            Put(row, col, Cell::Num(v));
        } else {
            Put(row, col, Cell::Str(std::string(s)));
        }
    }
    // Csv texts separated by semicolons or tabs come from regions whose decimal separator is
    // a comma: "12,5" there is the number 12.5.
    void SetDecimalComma(bool on) { decimalComma_ = on; }
    void set_string(ss::row_t row, ss::col_t col, ss::string_id_t sindex) override {
        if (const std::string* s = strings_.Find(sindex)) {
            Put(row, col, Cell::Str(*s));
        }
    }
    void set_value(ss::row_t row, ss::col_t col, double value) override {
        Put(row, col, Cell::Num(value));
    }
    void set_bool(ss::row_t row, ss::col_t col, bool value) override {
        Put(row, col, Cell::Num(value ? 1.0 : 0.0));
    }
    void set_date_time(ss::row_t row, ss::col_t col, int year, int month, int day, int hour,
                       int minute, double second) override {
        char text[64];
        std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02.0f", year, month, day, hour,
                      minute, second);
        Put(row, col, Cell::Str(text));
    }
    void set_format(ss::row_t, ss::col_t, std::size_t) override {}
    void set_format(ss::row_t, ss::col_t, ss::row_t, ss::col_t, std::size_t) override {}
    void fill_down_cells(ss::row_t src_row, ss::col_t src_col, ss::row_t range_size) override {
        const Cell source =
            sheet_.At(static_cast<uint32_t>(src_row) + 1, static_cast<uint32_t>(src_col) + 1);
        for (ss::row_t i = 1; i <= range_size; ++i) {
            Put(src_row + i, src_col, source);
        }
    }
    ss::range_size_t get_sheet_size() const override {
        return {static_cast<ss::row_t>(MaxReadRows), static_cast<ss::col_t>(MaxReadColumns)};
    }

private:
    void Put(ss::row_t row, ss::col_t col, Cell cell) {
        if (row < 0 || col < 0 || static_cast<uint32_t>(row) >= MaxReadRows ||
            static_cast<uint32_t>(col) >= MaxReadColumns) {
            return;
        }
        counter_.Count();
        sheet_.Set(static_cast<uint32_t>(row) + 1, static_cast<uint32_t>(col) + 1, std::move(cell));
    }

    Sheet& sheet_;
    const StringTable& strings_;
    CellCounter& counter_;
    FormulaResult formula_;
    const char* begin_ = nullptr;
    const char* end_ = nullptr;
    const char* limit_ = nullptr;
    bool decimalComma_ = false;
};

// Resolves A1-style cell and range references the Open XML reader meets in sheet parts.
class A1Resolver : public ss::iface::import_reference_resolver {
public:
    ss::src_address_t resolve_address(std::string_view address) override {
        ss::src_address_t out{0, 0, 0};
        if (!ParseA1(address, out.row, out.column)) {
            throw std::invalid_argument("bad cell reference");
        }
        return out;
    }
    ss::src_range_t resolve_range(std::string_view range) override {
        const auto colon = range.find(':');
        ss::src_range_t out{};
        out.first = resolve_address(range.substr(0, colon));
        out.last =
            colon == std::string_view::npos ? out.first : resolve_address(range.substr(colon + 1));
        return out;
    }
};

class GlobalSettings : public ss::iface::import_global_settings {
public:
    void set_origin_date(int, int, int) override {}
    void set_default_formula_grammar(ss::formula_grammar_t grammar) override { grammar_ = grammar; }
    ss::formula_grammar_t get_default_formula_grammar() const override { return grammar_; }
    void set_character_set(orcus::character_set_t) override {}

private:
    ss::formula_grammar_t grammar_ = ss::formula_grammar_t::xlsx;
};

class BookReceiver : public ss::iface::import_factory {
public:
    ss::iface::import_global_settings* get_global_settings() override { return &settings_; }
    ss::iface::import_shared_strings* get_shared_strings() override { return &strings_; }
    ss::iface::import_reference_resolver*
    get_reference_resolver(ss::formula_ref_context_t) override {
        return &resolver_;
    }
    ss::iface::import_sheet* append_sheet(ss::sheet_t index, std::string_view name) override {
        if (index < 0 || static_cast<std::size_t>(index) != sheets_.size()) {
            return nullptr;
        }
        // A deque keeps every sheet and receiver in place while more are appended.
        Sheet& sheet = sheets_.emplace_back(std::string(name));
        SheetReceiver& receiver = receivers_.emplace_back(sheet, strings_, counter_);
        receiver.SetInputRange(begin_, end_, limit_);
        return &receiver;
    }
    ss::iface::import_sheet* get_sheet(std::string_view name) override {
        for (std::size_t i = 0; i < sheets_.size(); ++i) {
            if (sheets_[i].name() == name) {
                return &receivers_[i];
            }
        }
        return nullptr;
    }
    ss::iface::import_sheet* get_sheet(ss::sheet_t index) override {
        if (index < 0 || static_cast<std::size_t>(index) >= receivers_.size()) {
            return nullptr;
        }
        return &receivers_[static_cast<std::size_t>(index)];
    }
    void finalize() override {}

    void SetInputRange(const char* begin, const char* end, const char* limit) {
        begin_ = begin;
        end_ = end;
        limit_ = limit;
        for (SheetReceiver& r : receivers_) {
            r.SetInputRange(begin, end, limit);
        }
    }

    // The one sheet of a csv text.
    SheetReceiver& AddSheet(std::string_view name) {
        append_sheet(static_cast<ss::sheet_t>(sheets_.size()), name);
        return receivers_.back();
    }

    void MoveInto(Workbook& book) {
        receivers_.clear();
        book.sheets.assign(std::make_move_iterator(sheets_.begin()),
                           std::make_move_iterator(sheets_.end()));
        sheets_.clear();
    }

private:
    GlobalSettings settings_;
    StringTable strings_;
    A1Resolver resolver_;
    CellCounter counter_;
    std::deque<Sheet> sheets_;
    std::deque<SheetReceiver> receivers_;
    const char* begin_ = nullptr;
    const char* end_ = nullptr;
    const char* limit_ = nullptr;
};

// Hands the cells of orcus' csv parser to the sheet, row by row; empty fields make no cell.
class CsvCells {
public:
    explicit CsvCells(SheetReceiver& sheet) : sheet_(sheet) {}
    void begin_parse() {}
    void end_parse() {}
    void begin_row() { col_ = 0; }
    void end_row() { ++row_; }
    void cell(const char* p, std::size_t n, bool) {
        if (p != nullptr && n > 0) {
            sheet_.set_auto(row_, col_, std::string_view(p, n));
        }
        ++col_;
    }

private:
    SheetReceiver& sheet_;
    ss::row_t row_ = 0;
    ss::col_t col_ = 0;
};

constexpr std::string_view CsvSheetName = "Sheet1";

enum class Format { Xls, Xlsx, Ods, Csv };

// The container from the first bytes: OLE2 (.xls), ZIP (.xlsx or .ods), otherwise text.
Format Container(std::string_view bytes) {
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    if (bytes.size() >= sizeof Ole2Magic &&
        std::equal(std::begin(Ole2Magic), std::end(Ole2Magic), data)) {
        return Format::Xls;
    }
    if (bytes.size() >= 2 && bytes[0] == 'P' && bytes[1] == 'K') {
        return Format::Xlsx;
    }
    return Format::Csv;
}

// Which workbook a ZIP package holds. Detection already unpacks parts, so a package that
// fails the size check is not looked into (the reader refuses it).
Format PackageFormat(std::string_view bytes) {
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    if (!ZipEntriesWithin(bytes, MaxUnpackedBytes, MaxUnpackedBytes)) {
        return Format::Xlsx;
    }
    try {
        if (orcus::orcus_xlsx::detect(data, bytes.size())) {
            return Format::Xlsx;
        }
        if (orcus::orcus_ods::detect(data, bytes.size())) {
            return Format::Ods;
        }
    } catch (const std::exception&) {
    }
    return Format::Xlsx; // a damaged archive: let the reader report it
}

FileResult ReadWithOrcus(Format format, std::string_view bytes, Workbook& book) {
    if (format != Format::Csv && !ZipEntriesWithin(bytes, SIZE_MAX)) {
        return {false, "damaged workbook package"};
    }
    if (format != Format::Csv && !ZipEntriesWithin(bytes, MaxUnpackedBytes, MaxUnpackedBytes)) {
        return {false, "the workbook unpacks to more than " +
                           std::to_string(MaxUnpackedBytes >> 20) + " MB"};
    }
    Workbook read;
    try {
        BookReceiver receiver;
        if (format == Format::Xlsx) {
            const std::optional<std::string> repaired = RepairedPackage(bytes);
            orcus::orcus_xlsx(&receiver).read_stream(repaired ? *repaired : bytes);
        } else if (format == Format::Ods) {
            orcus::orcus_ods(&receiver).read_stream(bytes);
        } else {
            // The csv parser can read past the end of a text whose last quoted field is never
            // closed. Such a text is refused, and the parser gets a copy with spare bytes
            // behind it whose cells are cut back to the text.
            std::string padded = CsvText(bytes);
            const std::size_t textSize = padded.size();
            const char separator = CsvSeparator(padded);
            if (!CsvQuotesClosed(padded, separator)) {
                return {false, "unterminated quoted field"};
            }
            padded.append(CsvPadding, '\0');
            receiver.SetInputRange(padded.data(), padded.data() + textSize,
                                   padded.data() + padded.size());
            SheetReceiver& sheet = receiver.AddSheet(CsvSheetName);
            sheet.SetDecimalComma(separator != ',');
            CsvCells cells(sheet);
            orcus::csv::parser_config config;
            config.delimiters = std::string(1, separator);
            config.text_qualifier = '"';
            config.trim_cell_value = false;
            orcus::csv_parser<CsvCells>(padded.data(), textSize, cells, config).parse();
        }
        receiver.MoveInto(read);
    } catch (const std::exception& e) {
        const std::string why = e.what();
        return {false, why.empty() ? "unreadable workbook" : why};
    } catch (...) {
        return {false, "unreadable workbook"};
    }
    if (read.sheets.empty()) {
        return {false, "no worksheet"};
    }
    book = std::move(read);
    return {true, {}};
}

// A temporary file that is removed when it goes out of scope.
class TempFile {
public:
    TempFile() {
        const char* dir = std::getenv("TMPDIR");
        path_ = std::string(dir && *dir ? dir : "/tmp") + "/vq31-sheet-XXXXXX";
        fd_ = mkstemp(path_.data());
    }
    ~TempFile() {
        if (fd_ >= 0) {
            close(fd_);
            unlink(path_.c_str());
        }
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    bool Write(std::string_view bytes) {
        std::size_t done = 0;
        while (fd_ >= 0 && done < bytes.size()) {
            const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (n <= 0) {
                return false;
            }
            done += static_cast<std::size_t>(n);
        }
        return fd_ >= 0;
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    int fd_ = -1;
};

FileResult LoadFile(const std::string& fileName, std::string& bytes) {
    std::ifstream in(fileName, std::ios::binary);
    if (!in) {
        return {false, "cannot open " + fileName};
    }
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size < 0 || static_cast<std::size_t>(size) > MaxFileBytes) {
        return {false, "file too large or unreadable"};
    }
    in.seekg(0);
    bytes.resize(static_cast<std::size_t>(size));
    if (!in.read(bytes.data(), size)) {
        return {false, "cannot read " + fileName};
    }
    return {true, {}};
}

// True for names ending in .xlsx, .xls or .ods, in any letter case.
bool NamedAsWorkbookPackage(const std::string& fileName) {
    const auto dot = fileName.find_last_of('.');
    if (dot == std::string::npos || fileName.find('/', dot) != std::string::npos) {
        return false;
    }
    std::string ext = fileName.substr(dot + 1);
    for (char& c : ext) {
        c = char(std::tolower(static_cast<unsigned char>(c)));
    }
    return ext == "xlsx" || ext == "xls" || ext == "ods";
}

} // namespace

FileResult ReadWorkbook(const std::string& fileName, Workbook& book) {
    std::string bytes;
    if (FileResult loaded = LoadFile(fileName, bytes); !loaded.ok) {
        return loaded;
    }
    if (Container(bytes) == Format::Xls) {
        const CLocaleScope cLocale;
        return ReadXlsFile(fileName, book);
    }
    // A file named as a packaged or binary workbook that holds plain text (or nothing) is
    // not that workbook: reading it as csv would turn a damaged or wrong file into an
    // "empty" workbook that an import then takes as the whole tank list.
    if (Container(bytes) == Format::Csv && NamedAsWorkbookPackage(fileName)) {
        return {false, "not a workbook: " + fileName + " holds no spreadsheet package"};
    }
    return ReadWorkbookBytes(bytes, book);
}

FileResult ReadWorkbookBytes(std::string_view bytes, Workbook& book) {
    const CLocaleScope cLocale;
    if (bytes.size() > MaxFileBytes) {
        return {false, "file too large"};
    }
    switch (Container(bytes)) {
    case Format::Xls: {
        TempFile temp;
        if (!temp.Write(bytes)) {
            return {false, "cannot write a temporary file"};
        }
        return ReadXlsFile(temp.path(), book);
    }
    case Format::Csv:
        return ReadWithOrcus(Format::Csv, bytes, book);
    default:
        // The package parsers stop the process on some damaged parts (failed assertions),
        // so packages are parsed in a child process.
        return ReadInChild(
            [bytes](Workbook& read) { return ReadWithOrcus(PackageFormat(bytes), bytes, read); },
            book);
    }
}

} // namespace vq31::sheets
