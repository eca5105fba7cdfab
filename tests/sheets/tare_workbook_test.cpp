// The tare table workbook: export and import of the grid's texts, checked by openpyxl.
#include "exchange.h"
#include "sheet_test_util.h"
#include "workbook.h"

#include <gtest/gtest.h>

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
