// The receiver of the orcus importer's callbacks: cells, shared strings, stored formula
// results and cell references become the sheets of a Workbook. Dates are read as date texts
// and booleans as TRUE and FALSE, never as numbers: a tare table or tank list takes neither
// as litres or millimetres.
#pragma once

#include "cell_text.h"
#include "workbook.h"

#include <orcus/spreadsheet/import_interface.hpp>

#include <algorithm>
#include <cmath>
#include <deque>
#include <exception>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vq31::sheets::reader {

namespace ss = orcus::spreadsheet;

// Largest number of bytes the shared strings of one workbook may hold.
inline constexpr std::size_t MaxStringBytes = std::size_t{256} << 20;

// Thrown inside the importer callbacks when a file asks for more than the limits allow;
// caught by the read (workbook_read.cpp).
struct LimitExceeded : std::exception {
    const char* what() const noexcept override { return "workbook too large"; }
};

// Parses a whole text as a number in the C format; used for csv cells.
bool ParsePlainNumber(std::string_view s, double& value);
// Parses a number written with one decimal comma ("12,5", "-0,25"); no point may appear.
bool ParseCommaNumber(std::string_view s, double& value);
// Parses "A1", "$B$7", "Sheet1!C3" or "$Sheet1.$C$3" (the sheet part ignored) into 0-based
// row and column.
bool ParseA1(std::string_view ref, ss::row_t& row, ss::col_t& col);

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
        if (bytes_ > MaxStringBytes) {
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
    void set_result_bool(bool value) override {
        result_ = Cell::Str(std::string(value ? TrueText : FalseText));
    }
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
        Put(row, col, Cell::Str(std::string(value ? TrueText : FalseText)));
    }
    void set_date_time(ss::row_t row, ss::col_t col, int year, int month, int day, int hour,
                       int minute, double second) override {
        const long seconds = std::lround(second);
        Put(row, col,
            Cell::Str(DateText(year, month, day, hour, minute, static_cast<int>(seconds))));
    }
    // A cell whose format shows a date holds a date, whatever number it stores; it is turned
    // into date text once the sheet has been read (the format may come before the value).
    void set_format(ss::row_t row, ss::col_t col, std::size_t xf) override {
        if (dateFormats_ != nullptr && xf < dateFormats_->size() && (*dateFormats_)[xf] &&
            row >= 0 && col >= 0) {
            counter_.Count();
            dateCells_.emplace(static_cast<uint32_t>(row) + 1, static_cast<uint32_t>(col) + 1);
        }
    }
    void SetDateFormats(const std::vector<bool>* formats, bool date1904) {
        dateFormats_ = formats;
        date1904_ = date1904;
    }
    // The numbers of date-formatted cells become date texts.
    void FinishDates() {
        for (const auto& [row, column] : dateCells_) {
            const Cell& cell = sheet_.At(row, column);
            if (cell.kind == Cell::Kind::Number) {
                sheet_.Set(row, column, Cell::Str(SerialDateText(cell.number, date1904_)));
            }
        }
        dateCells_.clear();
    }
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
    const std::vector<bool>* dateFormats_ = nullptr;
    bool date1904_ = false;
    std::set<std::pair<uint32_t, uint32_t>> dateCells_;
};

// Resolves the cell and range references the readers meet (shared formula ranges, named
// ranges). Only stored values are read, so a reference that does not resolve (a name, a
// reference to another file) takes the first cell instead of failing the file.
class A1Resolver : public ss::iface::import_reference_resolver {
public:
    ss::src_address_t resolve_address(std::string_view address) override {
        ss::src_address_t out{0, 0, 0};
        if (!ParseA1(address, out.row, out.column)) {
            out = {0, 0, 0};
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
        receiver.SetDateFormats(&dateFormats_, date1904_);
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

    // Open XML: which cell formats show dates, and the date system.
    void SetDateFormats(std::vector<bool> formats, bool date1904) {
        dateFormats_ = std::move(formats);
        date1904_ = date1904;
    }

    void MoveInto(Workbook& book) {
        for (SheetReceiver& r : receivers_) {
            r.FinishDates();
        }
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
    std::vector<bool> dateFormats_;
    bool date1904_ = false;
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

} // namespace vq31::sheets::reader
