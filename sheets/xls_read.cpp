// Reading .xls workbooks through FreeXL (with booleans, error values and formula results
// from the workbook's records), and running a workbook parser in a child process.
// The parsers of the workbook libraries have had memory faults and failed assertions on
// damaged files, and such a fault must neither touch the program's own memory nor end the
// program. The child sends the cells back over a pipe; a child that crashes, hangs or sends
// nonsense makes the read fail with a reason.
#include "xls_read.h"

#include <freexl.h>

#include "child_process.h"
#include "xls_records.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string_view>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VQ31_XLS_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define VQ31_XLS_SANITIZED 1
#endif
#ifdef VQ31_XLS_SANITIZED
#include <sanitizer/common_interface_defs.h>
#endif

namespace vq31::sheets {

namespace {

// A read of a large workbook takes well under a second; this only bounds a hung child.
constexpr auto ChildTimeLimit = std::chrono::seconds(30);
constexpr int ChildFailedExit = 3;
constexpr uint8_t ReplyOk = 0;
constexpr uint8_t ReplyError = 1;
// Largest reply accepted from the child.
constexpr std::size_t MaxReplyBytes = 512u << 20;

} // namespace

FileResult ReadXlsInProcess(const std::string& fileName, Workbook& book) {
    const void* handle = nullptr;
    if (freexl_open(fileName.c_str(), &handle) != FREEXL_OK) {
        if (handle) {
            freexl_close(handle);
        }
        return {false, "not a readable .xls workbook"};
    }
    std::unique_ptr<const void, int (*)(const void*)> closer(handle, freexl_close);
    unsigned int count = 0;
    if (freexl_get_info(handle, FREEXL_BIFF_SHEET_COUNT, &count) != FREEXL_OK || count == 0) {
        return {false, "no worksheet"};
    }
    Workbook read;
    std::size_t cells = 0;
    for (unsigned int i = 0; i < count && i <= 0xFFFF; ++i) {
        const auto index = static_cast<unsigned short>(i);
        const char* name = nullptr;
        freexl_get_worksheet_name(handle, index, &name);
        Sheet& sheet = read.sheets.emplace_back(name ? name : DefaultSheetName(i + 1));
        unsigned int rows = 0;
        unsigned short columns = 0;
        if (freexl_select_active_worksheet(handle, index) != FREEXL_OK ||
            freexl_worksheet_dimensions(handle, &rows, &columns) != FREEXL_OK) {
            return {false, "damaged worksheet"};
        }
        if (rows > MaxReadRows || columns > MaxReadColumns) {
            return {false, "worksheet too large"};
        }
        // The dimensions are counts, but one more row and column are asked for so that a
        // reader reporting the last index instead loses nothing; cells outside the sheet
        // answer with an error and are passed over.
        for (unsigned int r = 0; r <= rows; ++r) {
            for (unsigned int c = 0; c <= columns && c <= 0xFFFF; ++c) {
                FreeXL_CellValue value{};
                if (freexl_get_cell_value(handle, r, static_cast<unsigned short>(c), &value) !=
                    FREEXL_OK) {
                    continue;
                }
                Cell cell;
                switch (value.type) {
                case FREEXL_CELL_INT:
                    cell = Cell::Num(value.value.int_value);
                    break;
                case FREEXL_CELL_DOUBLE:
                    cell = Cell::Num(value.value.double_value);
                    break;
                case FREEXL_CELL_TEXT:
                case FREEXL_CELL_SST_TEXT:
                case FREEXL_CELL_DATE:
                case FREEXL_CELL_DATETIME:
                case FREEXL_CELL_TIME:
                    cell = Cell::Str(value.value.text_value ? value.value.text_value : "");
                    break;
                default:
                    continue;
                }
                if (++cells > MaxReadCells) {
                    return {false, "workbook too large"};
                }
                sheet.Set(r + 1, static_cast<uint32_t>(c) + 1, std::move(cell));
            }
        }
    }
    // Booleans and error values came as numbers and formula cells not at all; the records
    // give them as they are.
    std::ifstream in(fileName, std::ios::binary);
    const std::string bytes(std::istreambuf_iterator<char>(in), {});
    for (XlsRecordSheet& records : XlsRecordCells(bytes)) {
        for (Sheet& sheet : read.sheets) {
            if (sheet.name() != records.name) {
                continue;
            }
            for (XlsRecordCell& c : records.cells) {
                if (c.row <= MaxReadRows && c.column <= MaxReadColumns && ++cells <= MaxReadCells) {
                    sheet.Set(c.row, c.column, std::move(c.cell));
                }
            }
            break;
        }
    }
    if (cells > MaxReadCells) {
        return {false, "workbook too large"};
    }
    book = std::move(read);
    return {true, {}};
}

namespace {

void PutU32(std::string& out, uint32_t v) {
    out.append(reinterpret_cast<const char*>(&v), 4);
}

void PutText(std::string& out, const std::string& text) {
    PutU32(out, static_cast<uint32_t>(text.size()));
    out += text;
}

std::string Serialise(const FileResult& result, const Workbook& book) {
    std::string out;
    if (!result.ok) {
        out += static_cast<char>(ReplyError);
        PutText(out, result.error);
        return out;
    }
    out += static_cast<char>(ReplyOk);
    PutU32(out, static_cast<uint32_t>(book.sheets.size()));
    for (const Sheet& sheet : book.sheets) {
        PutText(out, sheet.name());
        PutU32(out, static_cast<uint32_t>(sheet.CellCount()));
        for (const auto& [pos, cell] : sheet.cells()) {
            PutU32(out, pos.first);
            PutU32(out, pos.second);
            out += static_cast<char>(cell.kind == Cell::Kind::Number ? 'n' : 't');
            if (cell.kind == Cell::Kind::Number) {
                out.append(reinterpret_cast<const char*>(&cell.number), sizeof cell.number);
            } else {
                PutText(out, cell.text);
            }
        }
    }
    return out;
}

class ReplyReader {
public:
    explicit ReplyReader(std::string_view bytes) : bytes_(bytes) {}
    bool U8(uint8_t& v) {
        if (bytes_.size() < 1) {
            return false;
        }
        v = static_cast<uint8_t>(bytes_[0]);
        bytes_.remove_prefix(1);
        return true;
    }
    bool U32(uint32_t& v) { return Raw(&v, 4); }
    bool Double(double& v) { return Raw(&v, sizeof v); }
    bool Text(std::string& text) {
        uint32_t n = 0;
        if (!U32(n) || bytes_.size() < n) {
            return false;
        }
        text.assign(bytes_.substr(0, n));
        bytes_.remove_prefix(n);
        return true;
    }
    bool AtEnd() const { return bytes_.empty(); }

private:
    bool Raw(void* out, std::size_t n) {
        if (bytes_.size() < n) {
            return false;
        }
        std::memcpy(out, bytes_.data(), n);
        bytes_.remove_prefix(n);
        return true;
    }
    std::string_view bytes_;
};

FileResult Deserialise(std::string_view bytes, Workbook& book) {
    ReplyReader in(bytes);
    uint8_t status = 0;
    if (!in.U8(status)) {
        return {false, "the workbook reader gave no answer"};
    }
    if (status == ReplyError) {
        std::string error;
        if (!in.Text(error)) {
            error = "the workbook reader failed";
        }
        return {false, error};
    }
    Workbook read;
    uint32_t sheets = 0;
    if (status != ReplyOk || !in.U32(sheets)) {
        return {false, "the workbook reader gave a bad answer"};
    }
    std::size_t total = 0;
    for (uint32_t i = 0; i < sheets; ++i) {
        std::string name;
        uint32_t cells = 0;
        if (!in.Text(name) || !in.U32(cells)) {
            return {false, "the workbook reader gave a bad answer"};
        }
        Sheet& sheet = read.sheets.emplace_back(std::move(name));
        for (uint32_t c = 0; c < cells; ++c) {
            uint32_t row = 0, column = 0;
            uint8_t kind = 0;
            if (!in.U32(row) || !in.U32(column) || !in.U8(kind) || ++total > MaxReadCells ||
                row == 0 || column == 0 || row > MaxReadRows || column > MaxReadColumns) {
                return {false, "the workbook reader gave a bad answer"};
            }
            Cell cell;
            if (kind == 'n') {
                double v = 0;
                if (!in.Double(v)) {
                    return {false, "the workbook reader gave a bad answer"};
                }
                cell = Cell::Num(v);
            } else {
                std::string text;
                if (!in.Text(text)) {
                    return {false, "the workbook reader gave a bad answer"};
                }
                cell = Cell::Str(std::move(text));
            }
            sheet.Set(row, column, std::move(cell));
        }
    }
    if (!in.AtEnd() || read.sheets.empty()) {
        return {false, "the workbook reader gave a bad answer"};
    }
    book = std::move(read);
    return {true, {}};
}

#ifdef VQ31_XLS_SANITIZED
// In the child a sanitizer report ends the child only; the parent reports the failure.
void ChildDeath() {
    std::_Exit(ChildFailedExit);
}
#endif

// What the child runs: the read, its outcome and cells serialised to the parent.
int RunChild(const std::function<FileResult(Workbook&)>& read, const ChildWrite& write) {
#ifdef VQ31_XLS_SANITIZED
    __sanitizer_set_death_callback(ChildDeath);
#endif
    Workbook book;
    FileResult result;
    try {
        result = read(book);
    } catch (...) {
        result = {false, "unreadable workbook"};
    }
    return write(Serialise(result, book)) ? 0 : ChildFailedExit;
}

// The .xls read as a task a new child process can run by name (the file name its argument).
constexpr const char* XlsTask = "xls-read";
int RunXlsChild(const std::string& fileName, const ChildWrite& write) {
    return RunChild([&fileName](Workbook& read) { return ReadXlsInProcess(fileName, read); },
                    write);
}
const bool xlsTaskRegistered = (RegisterChildTask(XlsTask, RunXlsChild), true);

FileResult Collect(const ChildOutcome& outcome, Workbook& book) {
    switch (outcome.end) {
    case ChildOutcome::End::NotStarted:
        return {false, "cannot start the workbook reader"};
    case ChildOutcome::End::TimedOut:
        return {false, "the workbook reader did not finish"};
    case ChildOutcome::End::TooLarge:
        return {false, "workbook too large"};
    case ChildOutcome::End::Crashed:
        return {false, "the workbook reader failed on this file"};
    case ChildOutcome::End::Exited:
        break;
    }
    if (outcome.exitCode != 0) {
        return {false, "the workbook reader failed on this file"};
    }
    return Deserialise(outcome.output, book);
}

} // namespace

FileResult ReadXlsFile(const std::string& fileName, Workbook& book) {
    (void)xlsTaskRegistered;
    return Collect(RunInChild({XlsTask, fileName, RunXlsChild}, ChildTimeLimit, MaxReplyBytes),
                   book);
}

FileResult ReadInChild(const std::function<FileResult(Workbook&)>& read, Workbook& book) {
    // Only a forked child can run an arbitrary read; a new process runs named tasks only.
    const ChildTask task{"", "", [&read](const std::string&, const ChildWrite& write) {
                             return RunChild(read, write);
                         }};
    return Collect(RunInChild(task, ChildTimeLimit, MaxReplyBytes), book);
}

} // namespace vq31::sheets
