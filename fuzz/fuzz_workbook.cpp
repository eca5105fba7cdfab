// Fuzzes the workbook import: arbitrary bytes are read as a workbook (.xlsx, .ods, .csv or
// .xls by their content) and, when that succeeds, go through the tare table and tank list
// imports. A read must either fail with a reason or give sheets the imports can take. ZIP
// packages and .xls files are parsed in a child process, so the package reading and repairs
// that run before the parser, and the reading of .xls records, are also fuzzed here, in this
// process.
// fuzz-libs: vq31_sheets vq31_calibration
#include "exchange.h"
#include "package_prepare.h"
#include "workbook.h"
#include "xls_records.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vq31;
    static auto image = std::make_unique<HubBuffer>();
    static auto scratch = std::make_unique<TankRecord>();

    sheets::Workbook book;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (size >= 2 && data[0] == 'P' && data[1] == 'K') {
        sheets::PreparedPackage package;
        const sheets::FileResult prepared =
            sheets::PreparePackage(bytes, std::size_t{40} << 20, package);
        // A failure says why; a success gives a package.
        if (prepared.ok ? package.bytes.empty() : prepared.error.empty()) {
            std::abort();
        }
    }
    // The records of .xls content are read in the child too; here they are read in process.
    if (size >= 8 && data[0] == 0xD0 && data[1] == 0xCF) {
        for (const sheets::XlsRecordSheet& sheet : sheets::XlsRecordCells(bytes)) {
            for (const sheets::XlsRecordCell& c : sheet.cells) {
                if (c.row == 0 || c.column == 0) {
                    std::abort();
                }
            }
        }
    }
    const sheets::FileResult read = sheets::ReadWorkbookBytes(bytes, book);
    if (!read.ok) {
        if (read.error.empty()) {
            std::abort(); // a failure always says why
        }
        return 0;
    }
    sheets::TareRows rows;
    const sheets::ExchangeResult tare = sheets::ImportTareTableFrom(book, ",", rows);
    if (!tare.ok && tare.message != sheets::ReadErrorMessage) {
        std::abort();
    }
    // A workbook without tank sheets is refused unless confirmed, and then leaves the image
    // untouched; any other outcome gives a valid image within the device's limit.
    HubMakeDefault(*image);
    static auto before = std::make_unique<HubBuffer>();
    *before = *image;
    const sheets::ExchangeResult tanks = sheets::ImportTankListFrom(book, *image, *scratch, ".");
    if (!tanks.ok) {
        if (tanks.detail != sheets::NoTankSheetsDetail || before->bytes() != image->bytes()) {
            std::abort();
        }
        return 0;
    }
    if (!HubIsValid(*image) || image->TotalSize() > HubMaxImageSize) {
        std::abort();
    }
    return 0;
}
