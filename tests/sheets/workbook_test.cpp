// Workbook files: cell names, number texts, the save format by extension, and reading what
// other writers produce (openpyxl, a formula with a stored result, csv, damaged files).
#include "cell_text.h"
#include "sheet_test_util.h"
#include "workbook.h"
#include "xls_read.h"

#include <xlsxwriter.h>

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <string>

namespace vq31::sheets {
namespace {

using testing::TempDir;

TEST(CellNames, RowAndColumnGiveTheA1Name) {
    EXPECT_EQ(CellName(1, 1), "A1");
    EXPECT_EQ(CellName(10, 3), "C10");
    EXPECT_EQ(CellName(7, 26), "Z7");
    EXPECT_EQ(CellName(2, 27), "AA2");
    EXPECT_EQ(CellName(1, 16384), "XFD1");
}

TEST(CellNumbers, ParseWithTheGivenDecimalPointOnly) {
    EXPECT_EQ(ParseCellNumber("12.5", "."), 12.5);
    EXPECT_EQ(ParseCellNumber(" -3,25 ", ","), -3.25);
    EXPECT_EQ(ParseCellNumber("+1E3", "."), 1000.0);
    EXPECT_EQ(ParseCellNumber("7", ","), 7.0);
    EXPECT_FALSE(ParseCellNumber("12.5", ","));
    EXPECT_FALSE(ParseCellNumber("12,5", "."));
    EXPECT_FALSE(ParseCellNumber("", "."));
    EXPECT_FALSE(ParseCellNumber("Liters", "."));
    EXPECT_FALSE(ParseCellNumber("1e", "."));
    EXPECT_FALSE(ParseCellNumber("inf", "."));
    EXPECT_FALSE(ParseCellNumber("1e999", "."));
    EXPECT_FALSE(ParseCellNumber("5 l", "."));
}

TEST(CellNumbers, FormatShortestWithTheGivenDecimalPoint) {
    EXPECT_EQ(FormatCellNumber(10.0, "."), "10");
    EXPECT_EQ(FormatCellNumber(12.5, ","), "12,5");
    EXPECT_EQ(FormatCellNumber(0.1, "."), "0.1");
    EXPECT_EQ(FormatCellNumber(-1e20, "."), "-1E+20");
}

Workbook SmallBook() {
    Workbook book;
    Sheet& s = XlsAddSheet(book);
    s.SetNumber(1, 1, 1.5);
    s.SetText(1, 2, "text");
    s.SetNumber(3, 30, -2);
    XlsAddSheet(book).SetText(2, 2, "второй");
    return book;
}

TEST(WorkbookFiles, XlsxRoundTripKeepsSheetsNumbersAndTexts) {
    TempDir dir;
    const std::string file = dir.File("book.xlsx");
    ASSERT_TRUE(SaveWorkbook(SmallBook(), file).ok);
    Workbook back;
    const FileResult read = ReadWorkbook(file, back);
    ASSERT_TRUE(read.ok) << read.error;
    ASSERT_EQ(back.sheets.size(), 2u);
    EXPECT_EQ(back.sheets[0].name(), "Sheet1");
    EXPECT_EQ(back.sheets[1].name(), "Sheet2");
    EXPECT_EQ(back.sheets[0].Used().rows, 3u);
    EXPECT_EQ(back.sheets[0].Used().columns, 30u);
    EXPECT_EQ(back.sheets[0].At(1, 1).number, 1.5);
    EXPECT_EQ(back.sheets[0].At(1, 2).text, "text");
    EXPECT_EQ(back.sheets[0].At(3, 30).number, -2);
    EXPECT_EQ(back.sheets[1].At(2, 2).text, "второй");
}

TEST(WorkbookFiles, SaveFormatFollowsTheExtension) {
    TempDir dir;
    // Not a .xls name: the Open XML format whatever the case of the extension.
    for (const char* name : {"upper.XLSX", "plain.xlsx", "noext"}) {
        ASSERT_TRUE(SaveWorkbook(SmallBook(), dir.File(name)).ok) << name;
        EXPECT_EQ(testing::ReadBytes(dir.File(name)).substr(0, 2), "PK") << name;
    }
    if (HaveLibreOffice()) {
        GTEST_SKIP() << "LibreOffice installed: .xls conversion covered by the format tests";
    }
    // A .xls name never receives Open XML bytes: without the converter nothing is written.
    for (const char* name : {"old.xls", "OLD.XLS"}) {
        const FileResult saved = SaveWorkbook(SmallBook(), dir.File(name));
        EXPECT_FALSE(saved.ok);
        EXPECT_EQ(saved.error, XlsNeedsLibreOfficeMessage);
        EXPECT_FALSE(std::filesystem::exists(dir.File(name)));
    }
}

// Switches LC_NUMERIC to a locale whose decimal separator is a comma: an installed one, or
// one built into dir with localedef when the system's locale sources are there. False when
// neither is possible.
bool UseCommaLocale(const TempDir& dir) {
    for (const char* name : {"ru_RU.UTF-8", "de_DE.UTF-8", "fr_FR.UTF-8"}) {
        if (std::setlocale(LC_NUMERIC, name)) {
            return true;
        }
    }
    const std::string build =
        "timeout 60 localedef -i de_DE -f UTF-8 " + dir.File("de_DE.UTF-8") + " >/dev/null 2>&1";
    if (std::system(build.c_str()) != 0) {
        return false;
    }
    setenv("LOCPATH", dir.path().c_str(), 1);
    const bool set = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
    unsetenv("LOCPATH");
    return set;
}

TEST(WorkbookFiles, NumbersKeepTheirPointUnderAProcessLocaleWithADecimalComma) {
    TempDir dir;
    if (!UseCommaLocale(dir)) {
        GTEST_SKIP() << "no locale with a decimal comma available";
    }
    const bool comma = std::localeconv()->decimal_point == std::string(",");
    const std::string file = dir.File("comma.xlsx");
    const bool saved = SaveWorkbook(SmallBook(), file).ok;
    Workbook back;
    const bool read = ReadWorkbook(file, back).ok;
    Workbook csv;
    const bool csvRead = ReadWorkbookBytes("10.5,2.25\n", csv).ok;
    std::setlocale(LC_NUMERIC, "C");
    EXPECT_TRUE(comma);
    ASSERT_TRUE(saved);
    ASSERT_TRUE(read);
    ASSERT_TRUE(csvRead);
    EXPECT_EQ(back.sheets[0].At(1, 1).number, 1.5);
    EXPECT_EQ(csv.sheets[0].At(1, 1).number, 10.5);
    EXPECT_EQ(csv.sheets[0].At(1, 2).number, 2.25);
    EXPECT_EQ(FormatCellNumber(1.5, "."), "1.5");
}

TEST(WorkbookFiles, FailedSaveKeepsTheExistingFile) {
    TempDir dir;
    const std::string file = dir.File("keep.xlsx");
    ASSERT_TRUE(SaveWorkbook(SmallBook(), file).ok);
    const std::string before = testing::ReadBytes(file);
    Workbook bad;
    bad.sheets.emplace_back("bad[name]"); // refused by the writer
    EXPECT_FALSE(SaveWorkbook(bad, file).ok);
    EXPECT_EQ(testing::ReadBytes(file), before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(WorkbookFiles, ReadsTheStoredResultOfAFormula) {
    TempDir dir;
    const std::string file = dir.File("formula.xlsx");
    lxw_workbook* wb = workbook_new(file.c_str());
    lxw_worksheet* ws = workbook_add_worksheet(wb, "F");
    worksheet_write_number(ws, 0, 0, 2, nullptr);
    worksheet_write_formula_num(ws, 0, 1, "=A1*21", nullptr, 42);
    worksheet_write_formula_str(ws, 1, 1, "=\"x\"&\"y\"", nullptr, "xy");
    ASSERT_EQ(workbook_close(wb), LXW_NO_ERROR);
    Workbook book;
    ASSERT_TRUE(ReadWorkbook(file, book).ok);
    EXPECT_EQ(book.sheets[0].At(1, 2).kind, Cell::Kind::Number);
    EXPECT_EQ(book.sheets[0].At(1, 2).number, 42);
    EXPECT_EQ(book.sheets[0].At(2, 2).text, "xy");
}

TEST(WorkbookFiles, ReadsCsvWithNumbersAndTexts) {
    TempDir dir;
    const std::string file = dir.File("table.csv");
    std::ofstream(file) << "Liters,mm,Tank ID,\"Tank Height, mm\"\n10.5,120,3,900\n";
    Workbook book;
    const FileResult read = ReadWorkbook(file, book);
    ASSERT_TRUE(read.ok) << read.error;
    ASSERT_EQ(book.sheets.size(), 1u);
    const Sheet& s = book.sheets[0];
    EXPECT_EQ(s.At(1, 4).text, "Tank Height, mm");
    EXPECT_EQ(s.At(2, 1).kind, Cell::Kind::Number);
    EXPECT_EQ(s.At(2, 1).number, 10.5);
    EXPECT_EQ(s.At(2, 4).number, 900);
}

TEST(WorkbookFiles, CsvWithAnOpenQuotedFieldIsRefused) {
    Workbook book;
    EXPECT_FALSE(ReadWorkbookBytes("a,b\n1,\"x\"\"y\n", book).ok);
    const FileResult closed = ReadWorkbookBytes("a,b\"c\n1,\"x\"\"y\"\n", book);
    ASSERT_TRUE(closed.ok) << closed.error;
    EXPECT_EQ(book.sheets[0].At(2, 2).text, "x\"y");
}

TEST(WorkbookFiles, PackageDeclaringAHugePartIsRefusedBeforeReading) {
    TempDir dir;
    const std::string file = dir.File("book.xlsx");
    ASSERT_TRUE(SaveWorkbook(SmallBook(), file).ok);
    std::string bytes = testing::ReadBytes(file);
    const std::size_t central = bytes.find(std::string("PK\x01\x02", 4));
    ASSERT_NE(central, std::string::npos);
    for (int i = 0; i < 4; ++i) {
        bytes[central + 24 + i] = '\xF0'; // uncompressed size of about 4 GiB
    }
    Workbook book;
    const FileResult read = ReadWorkbookBytes(bytes, book);
    EXPECT_FALSE(read.ok);
    EXPECT_FALSE(read.error.empty());
}

// A package that unpacks to more than the reader's bound is refused before it is parsed,
// also when each of its parts is small enough on its own; one just under it is read.
TEST(WorkbookFiles, PackageUnpackingToMoreThanTheBoundIsRefusedAndOneBelowIsRead) {
    TempDir dir;
    const std::string file = dir.File("book.xlsx");
    ASSERT_TRUE(SaveWorkbook(SmallBook(), file).ok);
    int status = 0;
    const std::string out = testing::RunPython(dir, R"PY(
import shutil, sys, zipfile
d = sys.argv[0].rsplit('/', 1)[0] + '/'
for name, parts in (('over.xlsx', 2), ('under.xlsx', 1)):
    shutil.copy(d + 'book.xlsx', d + name)
    with zipfile.ZipFile(d + name, 'a', zipfile.ZIP_DEFLATED) as z:
        for i in range(parts):
            z.writestr('xl/media/pad%d.bin' % i, b'7' * (21 << 20))
)PY",
                                               status);
    ASSERT_EQ(status, 0) << out;
    Workbook book = SmallBook();
    const FileResult over = ReadWorkbook(dir.File("over.xlsx"), book);
    EXPECT_FALSE(over.ok);
    EXPECT_EQ(over.error, "the workbook unpacks to more than 40 MB");
    EXPECT_EQ(book.sheets.size(), SmallBook().sheets.size()) << "a refused read changed the book";
    Workbook under;
    const FileResult read = ReadWorkbook(dir.File("under.xlsx"), under);
    EXPECT_TRUE(read.ok) << read.error;
}

TEST(WorkbookFiles, XlsWithDamagedDirectoryNamesIsRefusedAndTheReaderSurvives) {
    TempDir dir;
    const std::string file = dir.File("bad.xls");
    const std::string cmd =
        std::string(testing::SystemPython) + " " BIFF_WRITER " " + file + " Sheet 0,0,1 1,1,2";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    std::string bytes = testing::ReadBytes(file);
    // The directory sector follows the header and the allocation sector; its first entry's
    // name and name length become garbage.
    for (std::size_t i = 1024; i < 1024 + 66; ++i) {
        bytes[i] = '\xFF';
    }
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
    for (int round = 0; round < 2; ++round) {
        Workbook book;
        const FileResult read = ReadWorkbook(file, book);
        EXPECT_FALSE(read.ok);
        EXPECT_FALSE(read.error.empty());
        EXPECT_TRUE(book.sheets.empty());
    }
}

TEST(WorkbookFiles, ParserStoppingItsProcessGivesAFailedReadAndKeepsTheBook) {
    Workbook book;
    XlsAddSheet(book).SetNumber(1, 1, 7);
    const FileResult stopped = ReadInChild([](Workbook&) -> FileResult { std::abort(); }, book);
    EXPECT_FALSE(stopped.ok);
    EXPECT_FALSE(stopped.error.empty());
    ASSERT_EQ(book.sheets.size(), 1u);
    EXPECT_EQ(book.sheets[0].At(1, 1).number, 7);

    const FileResult read = ReadInChild(
        [](Workbook& b) {
            Sheet& s = XlsAddSheet(b);
            s.SetText(2, 3, "x");
            s.SetNumber(4, 1, -0.25);
            return FileResult{true, {}};
        },
        book);
    ASSERT_TRUE(read.ok) << read.error;
    EXPECT_EQ(book.sheets[0].At(2, 3).text, "x");
    EXPECT_EQ(book.sheets[0].At(4, 1).number, -0.25);
    EXPECT_TRUE(book.sheets[0].At(1, 1).IsEmpty());
}

TEST(WorkbookFiles, MissingAndDamagedFilesAreErrors) {
    TempDir dir;
    Workbook book;
    EXPECT_FALSE(ReadWorkbook(dir.File("absent.xlsx"), book).ok);
    const std::string good = dir.File("good.xlsx");
    ASSERT_TRUE(SaveWorkbook(SmallBook(), good).ok);
    std::string bytes = testing::ReadBytes(good);
    // Cut archive, garbage after the ZIP magic, and an OLE2 header with nothing behind it.
    for (const std::string& damaged :
         {bytes.substr(0, bytes.size() / 2), std::string("PK\x03\x04garbage"),
          std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(600, '\0')}) {
        Workbook out;
        EXPECT_FALSE(ReadWorkbookBytes(damaged, out).ok);
        EXPECT_TRUE(out.sheets.empty());
    }
}

} // namespace
} // namespace vq31::sheets
