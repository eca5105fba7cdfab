// The tare table workbook: export and import of the grid's texts, checked by openpyxl.
#include "exchange.h"
#include "sheet_test_util.h"
#include "workbook.h"

#include <gtest/gtest.h>

#include <fstream>

namespace vq31::sheets {
namespace {

using testing::TempDir;

const TareRows ThreeRows = {{"10.0", "120"}, {"20.0", "121"}, {"30.0", "125"}};

TEST(TareWorkbook, ThreeRowsRoundTripThroughASingleNamedSheet) {
    TempDir dir;
    const std::string file = dir.File("tare.xlsx");
    const ExchangeResult saved = ExportTareTable(ThreeRows, "Tare table", file, ".");
    ASSERT_TRUE(saved.ok) << saved.detail;
    EXPECT_TRUE(saved.message.empty());

    TareRows back = {{"stale"}};
    const ExchangeResult read = ImportTareTable(file, ".", back);
    ASSERT_TRUE(read.ok) << read.detail;
    const TareRows expected = {{"10", "120"}, {"20", "121"}, {"30", "125"}};
    EXPECT_EQ(back, expected);
}

TEST(TareWorkbook, ExportedCellsReadByAnIndependentReader) {
    if (!testing::HaveOpenpyxl()) {
        GTEST_SKIP() << "python3-openpyxl not installed";
    }
    TempDir dir;
    const std::string file = dir.File("tare.xlsx");
    TareRows rows = ThreeRows;
    rows[1][0] = "20,5"; // not a number with "." as the point: stays a text
    ASSERT_TRUE(ExportTareTable(rows, "Tare table", file, ".").ok);
    int status = 0;
    const std::string out =
        testing::RunPython(dir,
                           "import openpyxl\n"
                           "wb = openpyxl.load_workbook('" +
                               file +
                               "')\n"
                               "print(wb.sheetnames)\n"
                               "ws = wb.worksheets[0]\n"
                               "print(ws.max_row, ws.max_column)\n"
                               "for row in ws.iter_rows(values_only=True): print(repr(row))\n",
                           status);
    ASSERT_EQ(status, 0) << out;
    EXPECT_EQ(out, "['Tare table']\n3 2\n(10, 120)\n('20,5', 121)\n(30, 125)\n");
}

TEST(TareWorkbook, ImportKeepsTitlesExtraColumnsAndUsesTheDecimalComma) {
    TempDir dir;
    const std::string file = dir.File("wide.xlsx");
    Workbook book;
    Sheet& s = XlsAddSheet(book);
    s.SetText(1, 1, "Liters");
    s.SetText(1, 2, "mm");
    s.SetNumber(2, 1, 12.5);
    s.SetNumber(2, 2, 130);
    s.SetText(3, 4, "note");
    ASSERT_TRUE(WriteXlsx(book, file).ok);
    TareRows rows;
    ASSERT_TRUE(ImportTareTable(file, ",", rows).ok);
    const TareRows expected = {
        {"Liters", "mm", "", ""}, {"12,5", "130", "", ""}, {"", "", "", "note"}};
    EXPECT_EQ(rows, expected);
}

// Workbooks as other writers make them: strings stored in the cells themselves (inline), mixed
// with the shared string table, under a namespace prefix, with a dimension that is wrong or
// absent, and part names given as absolute paths; and an OpenDocument sheet. The packages are
// built by Python's zip module (and by openpyxl where it is installed).
TEST(TareWorkbook, ImportReadsWorkbooksOfOtherWriters) {
    TempDir dir;
    int status = 0;
    const std::string out = testing::RunPython(dir, R"PY(
import sys, zipfile
NS = 'xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"'
XNS = 'xmlns:x="http://schemas.openxmlformats.org/spreadsheetml/2006/main"'
R = 'http://schemas.openxmlformats.org/officeDocument/2006/relationships/'
def make(name, sheet, sst=None):
    z = zipfile.ZipFile(name, 'w', zipfile.ZIP_DEFLATED)
    z.writestr('[Content_Types].xml', '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/><Default Extension="xml" ContentType="application/xml"/><Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/></Types>')
    z.writestr('_rels/.rels', '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="' + R + 'officeDocument" Target="xl/workbook.xml"/></Relationships>')
    z.writestr('xl/workbook.xml', '<workbook ' + NS + ' xmlns:r="' + R[:-1] + '"><sheets><sheet name="T" sheetId="1" r:id="rId1"/></sheets></workbook>')
    extra = '<Relationship Id="rId2" Type="' + R + 'sharedStrings" Target="sharedStrings.xml"/>' if sst else ''
    z.writestr('xl/_rels/workbook.xml.rels', '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="' + R + 'worksheet" Target="/xl/worksheets/sheet1.xml"/>' + extra + '</Relationships>')
    if sst:
        z.writestr('xl/sharedStrings.xml', sst)
    z.writestr('xl/worksheets/sheet1.xml', sheet)
    z.close()
d = sys.argv[0].rsplit('/', 1)[0] + '/'
make(d + 'mixed.xlsx', '<worksheet ' + NS + '><dimension ref="A1"/><sheetData><row r="1"><c r="A1" t="s"><v>0</v></c><c r="B1" t="inlineStr"><is><r><t>m</t></r><r><t>m</t></r></is></c></row><row r="2"><c r="A2"><v>10.5</v></c><c r="B2" t="inlineStr"><is><t>120</t></is></c><c r="C2" t="inlineStr"><is><t/></is></c></row><row r="3"><c r="A3" t="s"><v>1</v></c><c r="B3" t="inlineStr"><is><t>x&amp;y</t></is></c></row></sheetData></worksheet>', '<sst ' + NS + '><si><t>Litres</t></si><si><t>20</t></si></sst>')
make(d + 'prefixed.xlsx', '<x:worksheet ' + XNS + '><x:sheetData><x:row r="1"><x:c r="A1" t="s"><x:v>0</x:v></x:c><x:c r="B1" t="inlineStr"><x:is><x:t>mm</x:t></x:is></x:c></x:row><x:row r="2"><x:c r="A2" t="inlineStr"><x:is><x:t>5</x:t></x:is></x:c><x:c r="B2"><x:v>50</x:v></x:c></x:row></x:sheetData></x:worksheet>', '<x:sst ' + XNS + '><x:si><x:t>L</x:t></x:si></x:sst>')
make(d + 'nodimension.xlsx', '<worksheet ' + NS + '><sheetData><row r="1"><c r="A1" t="inlineStr"><is><t>Liters</t></is></c><c r="B1" t="inlineStr"><is><t>mm</t></is></c></row><row r="2"><c r="A2" t="inlineStr"><is><t>1.5</t></is></c><c r="B2"><v>7</v></c></row></sheetData></worksheet>')
z = zipfile.ZipFile(d + 'table.ods', 'w')
z.writestr(zipfile.ZipInfo('mimetype'), 'application/vnd.oasis.opendocument.spreadsheet')
z.writestr('META-INF/manifest.xml', '<manifest:manifest xmlns:manifest="urn:oasis:names:tc:opendocument:xmlns:manifest:1.0"><manifest:file-entry manifest:full-path="/" manifest:media-type="application/vnd.oasis.opendocument.spreadsheet"/><manifest:file-entry manifest:full-path="content.xml" manifest:media-type="text/xml"/></manifest:manifest>')
cell = lambda v: '<table:table-cell office:value-type="float" office:value="%s"><text:p>%s</text:p></table:table-cell>' % (v, v)
z.writestr('content.xml', '<office:document-content xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"><office:body><office:spreadsheet><table:table table:name="T"><table:table-row>' + cell('10') + cell('120') + '</table:table-row><table:table-row><table:table-cell office:value-type="string"><text:p>abc</text:p></table:table-cell>' + cell('121') + '</table:table-row></table:table></office:spreadsheet></office:body></office:document-content>')
z.close()
try:
    import openpyxl
except ImportError:
    sys.exit(0)
wb = openpyxl.Workbook()
ws = wb.active
ws['A1'] = 'Литры'; ws['B1'] = 'мм'; ws['A2'] = 20.5; ws['B2'] = 130
wb.save(d + 'openpyxl.xlsx')
print('openpyxl')
)PY",
                                               status);
    ASSERT_EQ(status, 0) << out;
    struct Case {
        const char* file;
        TareRows rows;
    };
    std::vector<Case> cases = {
        {"mixed.xlsx", {{"Litres", "mm"}, {"10.5", "120"}, {"20", "x&y"}}},
        {"prefixed.xlsx", {{"L", "mm"}, {"5", "50"}}},
        {"nodimension.xlsx", {{"Liters", "mm"}, {"1.5", "7"}}},
        {"table.ods", {{"10", "120"}, {"abc", "121"}}},
    };
    if (out == "openpyxl\n") {
        cases.push_back({"openpyxl.xlsx", {{"Литры", "мм"}, {"20.5", "130"}}});
    }
    for (const Case& c : cases) {
        TareRows rows;
        const ExchangeResult read = ImportTareTable(dir.File(c.file), ".", rows);
        ASSERT_TRUE(read.ok) << c.file << ": " << read.detail;
        EXPECT_EQ(rows, c.rows) << c.file;
    }
}

TEST(TareWorkbook, ImportReadsTwoHundredRows) {
    TempDir dir;
    const std::string file = dir.File("long.xlsx");
    TareRows rows;
    for (int i = 1; i <= 200; ++i) {
        rows.push_back({std::to_string(i), std::to_string(10 * i)});
    }
    ASSERT_TRUE(ExportTareTable(rows, "Tare table", file, ".").ok);
    TareRows back;
    ASSERT_TRUE(ImportTareTable(file, ".", back).ok);
    EXPECT_EQ(back, rows);
}

TEST(TareWorkbook, FormulaSavedWithoutItsResultImportsAsAnEmptyCell) {
    if (!testing::HaveOpenpyxl()) {
        GTEST_SKIP() << "python3-openpyxl not installed";
    }
    // openpyxl does not calculate: the formula is stored with an empty result.
    TempDir dir;
    const std::string file = dir.File("formula.xlsx");
    int status = 0;
    const std::string out = testing::RunPython(dir,
                                               "import openpyxl\n"
                                               "wb = openpyxl.Workbook()\n"
                                               "ws = wb.active\n"
                                               "ws.append([10, 120])\n"
                                               "ws.append(['=A1*2', 121])\n"
                                               "wb.save('" +
                                                   file + "')\n",
                                               status);
    ASSERT_EQ(status, 0) << out;
    TareRows rows;
    ASSERT_TRUE(ImportTareTable(file, ".", rows).ok);
    const TareRows expected = {{"10", "120"}, {"", "121"}};
    EXPECT_EQ(rows, expected);
}

TEST(TareWorkbook, ImportFailuresGiveTheReadMessageAndKeepTheRows) {
    TempDir dir;
    const std::string single = dir.File("single.xlsx");
    Workbook book;
    XlsAddSheet(book).SetNumber(1, 1, 5);
    ASSERT_TRUE(WriteXlsx(book, single).ok);
    const std::string corrupt = dir.File("corrupt.xlsx");
    std::ofstream(corrupt) << "PK\x03\x04 not really a workbook";

    for (const std::string& file : {single, corrupt, dir.File("missing.xlsx")}) {
        TareRows rows = ThreeRows;
        const ExchangeResult read = ImportTareTable(file, ".", rows);
        EXPECT_FALSE(read.ok) << file;
        EXPECT_EQ(read.message, "Error read excel file\nUnknown error");
        EXPECT_EQ(rows, ThreeRows);
    }
}

// Spreadsheets in regions with a decimal comma save csv with semicolons (or tabs); such a file
// is read with its own separator and its decimal commas, whatever the caller's separator.
TEST(TareWorkbook, CsvSeparatorComesFromItsFirstLine) {
    TempDir dir;
    struct Case {
        const char* name;
        const char* text;
    };
    const Case cases[] = {
        {"semicolon.csv", "Литры;мм\r\n10,5;120\r\n20;130,5\r\n"},
        {"tab.csv", "10,5\t120\n20\t130,5\n"},
        {"comma.csv", "10.5,120\n20,130.5\n"},
        {"quoted.csv", "\"Tank; mm\",x\n10.5,120\n20,130.5\n"},
    };
    for (const Case& c : cases) {
        const std::string file = dir.File(c.name);
        std::ofstream(file, std::ios::binary) << c.text;
        TareRows rows;
        const ExchangeResult read = ImportTareTable(file, ".", rows);
        ASSERT_TRUE(read.ok) << c.name << ": " << read.detail;
        ASSERT_GE(rows.size(), 2u) << c.name;
        const std::size_t first = rows.size() - 2;
        EXPECT_EQ(rows[first], (std::vector<std::string>{"10.5", "120"})) << c.name;
        EXPECT_EQ(rows[first + 1], (std::vector<std::string>{"20", "130.5"})) << c.name;
    }
}

// Csv saved under Russian regional settings is Windows-1251; csv saved as UTF-8 may start with
// a byte-order mark. Both read as the same text.
TEST(TareWorkbook, CsvInWindows1251OrWithAByteOrderMarkReadsAsUtf8) {
    TempDir dir;
    const std::string cp1251 = dir.File("cp1251.csv");
    std::ofstream(cp1251, std::ios::binary) << "\xCB\xE8\xF2\xF0\xFB;\xEC\xEC\n10,5;120\n";
    const std::string bom = dir.File("bom.csv");
    std::ofstream(bom, std::ios::binary) << "\xEF\xBB\xBFЛитры;мм\n10,5;120\n";
    for (const std::string& file : {cp1251, bom}) {
        TareRows rows;
        const ExchangeResult read = ImportTareTable(file, ",", rows);
        ASSERT_TRUE(read.ok) << file << ": " << read.detail;
        EXPECT_EQ(rows, (TareRows{{"Литры", "мм"}, {"10,5", "120"}})) << file;
    }
}

TEST(TareWorkbook, ASheetWithRowsButNoNumberPairIsAReadErrorNotAnEmptyTable) {
    TempDir dir;
    const std::string titles = dir.File("titles.csv");
    std::ofstream(titles) << "Liters,mm\nten,twenty\n";
    const std::string split = dir.File("split.csv"); // decimal commas in a comma file
    std::ofstream(split) << "x,y\n\"10,5\",\"120,5\"\n";
    for (const std::string& file : {titles, split}) {
        TareRows rows = ThreeRows;
        const ExchangeResult read = ImportTareTable(file, ".", rows);
        EXPECT_FALSE(read.ok) << file;
        EXPECT_EQ(read.message, "Error read excel file\nUnknown error");
        EXPECT_EQ(rows, ThreeRows);
    }
}

TEST(TareWorkbook, ExportFailureGivesTheSaveMessage) {
    TempDir dir;
    const ExchangeResult saved =
        ExportTareTable(ThreeRows, "Tare table", dir.File("no/such/dir/t.xlsx"), ".");
    EXPECT_FALSE(saved.ok);
    EXPECT_EQ(saved.message, "Error save excel file\nUnknown error");
}

TEST(TareWorkbook, XlsNameWithoutLibreOfficeIsRefusedWithAClearMessage) {
    if (testing::HaveSoffice()) {
        GTEST_SKIP() << "soffice installed: .xls names are converted";
    }
    TempDir dir;
    const std::string file = dir.File("tare.xls");
    const ExchangeResult saved = ExportTareTable(ThreeRows, "Tare table", file, ".");
    EXPECT_FALSE(saved.ok);
    EXPECT_EQ(saved.message, XlsNeedsLibreOfficeMessage);
    EXPECT_FALSE(std::filesystem::exists(file));
}

TEST(TareWorkbook, XlsNameIsConvertedByLibreOfficeAndReadBack) {
    if (!testing::HaveSoffice()) {
        GTEST_SKIP() << "soffice not installed";
    }
    TempDir dir;
    const std::string file = dir.File("tare.xls");
    const ExchangeResult saved = ExportTareTable(ThreeRows, "Tare table", file, ".");
    ASSERT_TRUE(saved.ok) << saved.detail;
    EXPECT_EQ(testing::ReadBytes(file).substr(0, 4), "\xD0\xCF\x11\xE0");
    TareRows back;
    ASSERT_TRUE(ImportTareTable(file, ".", back).ok);
    EXPECT_EQ(back, (TareRows{{"10", "120"}, {"20", "121"}, {"30", "125"}}));
}

TEST(TareWorkbook, OdsMadeByLibreOfficeIsRead) {
    if (!testing::HaveSoffice()) {
        GTEST_SKIP() << "soffice not installed";
    }
    TempDir dir;
    const std::string file = dir.File("tare.xlsx");
    ASSERT_TRUE(ExportTareTable(ThreeRows, "Tare table", file, ".").ok);
    ASSERT_TRUE(testing::ConvertWithSoffice(dir, file, "ods"));
    TareRows back;
    ASSERT_TRUE(ImportTareTable(dir.File("tare.ods"), ".", back).ok);
    EXPECT_EQ(back, (TareRows{{"10", "120"}, {"20", "121"}, {"30", "125"}}));
}

} // namespace
} // namespace vq31::sheets
