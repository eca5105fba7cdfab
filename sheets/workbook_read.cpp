// Reading workbooks: .xlsx, .ods and .csv through the orcus importer, with our own receiver of
// its callbacks (orcus_receiver.h), and .xls through FreeXL (xls_read.cpp). A ZIP package is
// read part by part and repaired before orcus sees it (package_prepare.h). ZIP packages and
// .xls files are read in a child process. Every failure becomes a FileResult; nothing is
// thrown to the caller.
#include "c_locale_scope.h"
#include "csv_text.h"
#include "orcus_receiver.h"
#include "package_prepare.h"
#include "workbook.h"
#include "xls_read.h"

#include <orcus/csv_parser.hpp>
#include <orcus/orcus_ods.hpp>
#include <orcus/orcus_xlsx.hpp>

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <memory>

namespace vq31::sheets {

namespace {

using namespace reader;

// Largest file a read accepts; workbooks of tank lists stay far below.
constexpr std::size_t MaxFileBytes = 64u << 20;
// Largest size a workbook package may unpack to, all its parts together. The reader holds up
// to about four times what a package unpacks to (measured by the workbook memory benchmark:
// about 150 MB for 38 MB of numbers), so this keeps it near 150 MB; a sheet of a million
// cells unpacks to about 35 MB.
constexpr std::size_t MaxUnpackedBytes = 40u << 20;
constexpr unsigned char Ole2Magic[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr std::size_t CsvPadding = 64;
constexpr std::string_view CsvSheetName = "Sheet1";

enum class Format { Xls, Package, Csv };

// The container from the first bytes: OLE2 (.xls), ZIP (.xlsx or .ods), otherwise text.
Format Container(std::string_view bytes) {
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    if (bytes.size() >= sizeof Ole2Magic &&
        std::equal(std::begin(Ole2Magic), std::end(Ole2Magic), data)) {
        return Format::Xls;
    }
    if (bytes.size() >= 2 && bytes[0] == 'P' && bytes[1] == 'K') {
        return Format::Package;
    }
    return Format::Csv;
}

FileResult ReadWithOrcus(Format format, std::string_view bytes, Workbook& book) {
    PreparedPackage package;
    if (format != Format::Csv) {
        if (FileResult prepared = PreparePackage(bytes, MaxUnpackedBytes, package); !prepared.ok) {
            return prepared;
        }
    }
    Workbook read;
    try {
        BookReceiver receiver;
        if (format != Format::Csv && package.kind == PackageKind::OpenXml) {
            receiver.SetDateFormats(std::move(package.dateFormats), package.date1904);
            orcus::orcus_xlsx(&receiver).read_stream(package.bytes);
        } else if (format != Format::Csv) {
            orcus::orcus_ods(&receiver).read_stream(package.bytes);
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
            [bytes](Workbook& read) { return ReadWithOrcus(Format::Package, bytes, read); }, book);
    }
}

} // namespace vq31::sheets
