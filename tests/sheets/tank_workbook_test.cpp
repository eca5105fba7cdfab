// The tank list workbook: export of the preset tanks, import into a new image, the limits on
// rows and sheets, and an import that fails leaving the image as it was.
#include "exchange.h"
#include "sheet_test_util.h"
#include "workbook.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <vector>

namespace vq31::sheets {
namespace {

using testing::TempDir;

TankRecord Preset(uint16_t id, uint16_t height, std::vector<std::pair<float, uint16_t>> rows) {
    TankRecord r;
    r.Id = id;
    r.Height = height;
    float largest = 0;
    for (const auto& [litres, code] : rows) {
        r.rows[r.RowCount++] = RecordRow{code, litres};
        largest = std::max(largest, litres);
    }
    r.Scale = ScaleForLitres(largest);
    return r;
}

// Default image plus presets 2 and 5; tank 1 carries a table of its own.
std::unique_ptr<HubBuffer> ImageWithPresets() {
    auto image = std::make_unique<HubBuffer>();
    HubMakeDefault(*image);
    TankRecord tank1 = Preset(1, 0, {{5.0f, 100}});
    RecordToEntry(tank1, *image, *HubFindEntry(*image, 1));
    HubSeal(*image);
    HubAppendTank(*image, Preset(2, 12345, {{10.0f, 1204}, {20.5f, 1500}, {30.0f, 2000}}));
    HubAppendTank(*image, Preset(5, 8000, {{100.0f, 300}, {700.0f, 5000}}));
    return image;
}

std::vector<uint16_t> Ids(const HubBuffer& image) {
    std::vector<uint16_t> ids;
    for (auto e = HubFirstEntry(image); e; e = HubNextEntry(image, *e)) {
        ids.push_back(HubEntryHead(image, *e).Id);
    }
    return ids;
}

TEST(TankListExport, DefaultImageGivesOneTitledSheet) {
    TempDir dir;
    auto image = std::make_unique<HubBuffer>();
    HubMakeDefault(*image);
    const std::string file = dir.File("empty.xlsx");
    ASSERT_TRUE(ExportTankList(*image, file).ok);
    Workbook book;
    ASSERT_TRUE(ReadWorkbook(file, book).ok);
    ASSERT_EQ(book.sheets.size(), 1u);
    const Sheet& s = book.sheets[0];
    EXPECT_EQ(s.CellCount(), 4u);
    EXPECT_EQ(s.At(1, 1).text, "Liters");
    EXPECT_EQ(s.At(1, 2).text, "mm");
    EXPECT_EQ(s.At(1, 3).text, "Tank ID");
    EXPECT_EQ(s.At(1, 4).text, "Tank Height, mm");
}

TEST(TankListExport, InvalidImageIsRefusedBeforeAnyFile) {
    TempDir dir;
    auto image = ImageWithPresets();
    image->bytes()[40] ^= 1;
    const ExchangeResult r = ExportTankList(*image, dir.File("x.xlsx"));
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.message, "Wrong hub structure");
    EXPECT_FALSE(std::filesystem::exists(dir.File("x.xlsx")));
}

TEST(TankListExport, PresetSheetsReadByAnIndependentReader) {
    if (!testing::HaveOpenpyxl()) {
        GTEST_SKIP() << "python3-openpyxl not installed";
    }
    TempDir dir;
    const std::string file = dir.File("tanks.xlsx");
    ASSERT_TRUE(ExportTankList(*ImageWithPresets(), file).ok);
    int status = 0;
    const std::string out =
        testing::RunPython(dir,
                           "import openpyxl\n"
                           "wb = openpyxl.load_workbook('" +
                               file +
                               "')\n"
                               "print(wb.sheetnames)\n"
                               "for ws in wb.worksheets:\n"
                               "    for row in ws.iter_rows(values_only=True): print(repr(row))\n",
                           status);
    ASSERT_EQ(status, 0) << out;
    // Height 1234.5 mm is written as 1234; level codes as whole millimetres (1204 -> 120);
    // volumes are the decimals the stored counts stand for, without a float's binary tail.
    EXPECT_EQ(out, "['TankID 2', 'TankID 5']\n"
                   "('Liters', 'mm', 'Tank ID', 'Tank Height, mm')\n"
                   "(10, 120, 2, 1234)\n(20.5, 150, None, None)\n(30, 200, None, None)\n"
                   "('Liters', 'mm', 'Tank ID', 'Tank Height, mm')\n"
                   "(100, 30, 5, 800)\n(700, 500, None, None)\n");
}

TEST(TankListExport, TwoTanksWithOneIdGetDistinctSheetNames) {
    TempDir dir;
    auto image = std::make_unique<HubBuffer>();
    HubMakeDefault(*image);
    HubAppendTank(*image, Preset(9, 100, {{1.0f, 10}}));
    HubAppendTank(*image, Preset(9, 200, {{2.0f, 20}}));
    const std::string file = dir.File("dup.xlsx");
    ASSERT_TRUE(ExportTankList(*image, file).ok);
    Workbook book;
    ASSERT_TRUE(ReadWorkbook(file, book).ok);
    ASSERT_EQ(book.sheets.size(), 2u);
    EXPECT_EQ(book.sheets[0].name(), "TankID 9");
    EXPECT_EQ(book.sheets[1].name(), "TankID 9 (2)");
    EXPECT_EQ(book.sheets[1].At(2, 4).number, 20);
}

TEST(TankListImport, ExportedPresetsRebuildTheImage) {
    TempDir dir;
    const std::string file = dir.File("tanks.xlsx");
    ASSERT_TRUE(ExportTankList(*ImageWithPresets(), file).ok);

    auto image = ImageWithPresets();
    auto scratch = std::make_unique<TankRecord>();
    const ExchangeResult r = ImportTankList(*image, *scratch, file, ".");
    ASSERT_TRUE(r.ok) << r.detail;
    EXPECT_TRUE(HubIsValid(*image));
    EXPECT_EQ(Ids(*image), (std::vector<uint16_t>{0, 1, 2, 5}));
    // Tank 1's calibrated table is not part of a tank list: the import keeps it as it was.
    const auto tank1 = *HubFindEntry(*image, 1);
    EXPECT_EQ(HubEntryHead(*image, tank1).RowCount, 1);
    EXPECT_EQ(HubEntryRow(*image, tank1, 0).Code, 100);
    EXPECT_EQ(HubEntryRow(*image, tank1, 0).Value, 5000);

    const auto tank2 = *HubFindEntry(*image, 2);
    const TankEntryHead head = HubEntryHead(*image, tank2);
    EXPECT_EQ(head.Height, 12340);
    EXPECT_EQ(head.RowCount, 3);
    EXPECT_EQ(head.EntrySize, 22);
    EXPECT_EQ(HubEntryRow(*image, tank2, 0).Code, 1200); // rounded to whole millimetres
    TankRecord back;
    EntryToRecord(*image, tank2, back);
    EXPECT_FLOAT_EQ(back.rows[1].Litres, 20.5f);
    const auto tank5 = *HubFindEntry(*image, 5);
    EXPECT_EQ(HubEntryHead(*image, tank5).Scale, 100);
    EXPECT_EQ(HubEntryRow(*image, tank5, 1).Value, 7000);
}

// Writes one sheet per table into a workbook: C2 = id, D2 = height, rows from row 2.
std::string WriteTankSheets(const TempDir& dir, const std::vector<Sheet>& sheets) {
    Workbook book;
    book.sheets = sheets;
    const std::string file = dir.File("in.xlsx");
    EXPECT_TRUE(WriteXlsx(book, file).ok);
    return file;
}

Sheet TankSheet(const std::string& name, double id, double height) {
    Sheet s(name);
    s.SetText(1, 1, "Liters");
    s.SetText(1, 4, "Tank Height, mm");
    s.SetNumber(2, 3, id);
    s.SetNumber(2, 4, height);
    return s;
}

TEST(TankListImport, RowsBeyondAHundredAndOverTheLimitsAreDropped) {
    TempDir dir;
    Sheet big = TankSheet("big", 3, 1000);
    for (uint32_t r = 2; r < 152; ++r) {
        big.SetNumber(r, 1, r);
        big.SetNumber(r, 2, r);
    }
    Sheet limits = TankSheet("limits", 4, 1234.56);
    limits.SetNumber(2, 1, 70000); // too many litres
    limits.SetNumber(2, 2, 10);
    limits.SetNumber(3, 1, 5);
    limits.SetNumber(3, 2, 6600); // level too high
    limits.SetText(4, 1, "ten");  // not a number
    limits.SetNumber(4, 2, 20);
    limits.SetNumber(5, 1, 7.5);
    limits.SetText(5, 2, "12.6");
    limits.SetNumber(6, 1, -1); // a negative volume
    limits.SetNumber(6, 2, 30);
    limits.SetNumber(7, 1, 65535);
    limits.SetNumber(7, 2, 6553.5);
    const std::string file = WriteTankSheets(dir, {big, limits});

    auto image = std::make_unique<HubBuffer>();
    HubMakeDefault(*image);
    auto scratch = std::make_unique<TankRecord>();
    const ExchangeResult r = ImportTankList(*image, *scratch, file, ".");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(Ids(*image), (std::vector<uint16_t>{0, 1, 3, 4}));
    // What was left out is said, sheet by sheet.
    EXPECT_EQ(r.leftOut, (std::vector<std::string>{
                             "sheet 'big': 50 rows past the first 100 left out",
                             "sheet 'limits': 1 row without a number for litres or level, 3 rows "
                             "outside 0..65535 l or 0..6553.5 mm left out"}));
    const auto bigEntry = *HubFindEntry(*image, 3);
    EXPECT_EQ(HubEntryHead(*image, bigEntry).RowCount, 100);
    EXPECT_EQ(HubEntryRow(*image, bigEntry, 99).Code, 1010);

    const auto limitsEntry = *HubFindEntry(*image, 4);
    const TankEntryHead head = HubEntryHead(*image, limitsEntry);
    EXPECT_EQ(head.Height, 12346);
    ASSERT_EQ(head.RowCount, 2);
    EXPECT_EQ(HubEntryRow(*image, limitsEntry, 0).Code, 126);
    EXPECT_EQ(HubEntryRow(*image, limitsEntry, 1).Code, 65535);
    EXPECT_EQ(head.Scale, 1000);
    EXPECT_EQ(HubEntryRow(*image, limitsEntry, 1).Value, 65535);
}

TEST(TankListImport, SheetsWithoutFourColumnsAnIdAboveOneOrTableRowsAreSkipped) {
    TempDir dir;
    Sheet three("three");
    three.SetNumber(2, 3, 7);
    three.SetNumber(5, 1, 1);
    Sheet idOne = TankSheet("id1", 1, 100);
    idOne.SetNumber(2, 1, 5);
    idOne.SetNumber(2, 2, 50);
    Sheet titleOnly("title");
    titleOnly.SetText(1, 4, "Tank Height, mm");
    Sheet idText = TankSheet("idtext", 0, 0);
    idText.SetText(2, 3, "seven");
    Sheet twice = TankSheet("dup", 9, 100);
    twice.SetNumber(2, 1, 1);
    twice.SetNumber(2, 2, 10);
    Sheet again = twice;
    again.SetName("dup again");
    const std::string file = WriteTankSheets(dir, {three, idOne, titleOnly, idText, twice, again});

    auto image = std::make_unique<HubBuffer>();
    HubMakeDefault(*image);
    auto scratch = std::make_unique<TankRecord>();
    ASSERT_TRUE(ImportTankList(*image, *scratch, file, ".").ok);
    EXPECT_EQ(Ids(*image), (std::vector<uint16_t>{0, 1, 9, 9}));
}

TEST(TankListImport, TanksThatNoLongerFitAreLeftOutAndTheImageStaysWithin4096Bytes) {
    TempDir dir;
    std::vector<Sheet> sheets;
    for (int id = 2; id < 14; ++id) {
        Sheet s = TankSheet("t" + std::to_string(id), id, 100);
        for (uint32_t r = 2; r < 102; ++r) {
            s.SetNumber(r, 1, r);
            s.SetNumber(r, 2, r);
        }
        sheets.push_back(s);
    }
    const std::string file = WriteTankSheets(dir, sheets);
    auto image = std::make_unique<HubBuffer>();
    auto scratch = std::make_unique<TankRecord>();
    ASSERT_TRUE(ImportTankList(*image, *scratch, file, ".").ok);
    EXPECT_LE(image->TotalSize(), 4096);
    EXPECT_EQ(Ids(*image).size(), 2u + 9u); // (4096 - 236) / 410 tanks of 100 rows
    EXPECT_TRUE(HubIsValid(*image));
}

TEST(TankListExport, CellsHoldTheDecimalsTheStoredCountsStandFor) {
    auto image = std::make_unique<HubBuffer>();
    HubMakeDefault(*image);
    // Scale 100: 147.7 l is stored as 1477, 396.3 l as 3963; scale 1: 15.76 l as 15760.
    HubAppendTank(*image, Preset(2, 1000, {{147.7f, 100}, {396.3f, 200}, {6000.0f, 300}}));
    HubAppendTank(*image, Preset(3, 1000, {{15.76f, 100}, {60.0f, 200}}));
    const Workbook book = TankListWorkbook(*image);
    ASSERT_EQ(book.sheets.size(), 2u);
    EXPECT_EQ(book.sheets[0].At(2, 1).number, 147.7);
    EXPECT_EQ(book.sheets[0].At(3, 1).number, 396.3);
    EXPECT_EQ(book.sheets[0].At(4, 1).number, 6000.0);
    EXPECT_EQ(book.sheets[1].At(2, 1).number, 15.76);
}

TEST(TankListImport, AWorkbookWithoutATankSheetReplacesThePresetsOnlyWhenConfirmed) {
    TempDir dir;
    Sheet notes("notes");
    notes.SetText(1, 1, "Liters");
    notes.SetNumber(2, 1, 10);
    const std::string file = WriteTankSheets(dir, {notes});
    const std::string csv = dir.File("tanks.csv");
    std::ofstream(csv) << "Liters,mm\n10,100\n";

    for (const std::string& f : {file, csv}) {
        auto image = ImageWithPresets();
        const auto before = std::make_unique<HubBuffer>(*image);
        auto scratch = std::make_unique<TankRecord>();
        int asked = 0;
        const ExchangeResult refused = ImportTankList(*image, *scratch, f, ".", [&] {
            ++asked;
            return false;
        });
        EXPECT_FALSE(refused.ok) << f;
        EXPECT_TRUE(refused.message.empty()) << f;
        EXPECT_EQ(refused.detail, NoTankSheetsDetail);
        EXPECT_EQ(asked, 1);
        EXPECT_EQ(image->bytes(), before->bytes()) << f;
        // Without anyone to ask, the presets stay too.
        EXPECT_FALSE(ImportTankList(*image, *scratch, f, ".").ok);
        EXPECT_EQ(image->bytes(), before->bytes()) << f;

        const ExchangeResult taken = ImportTankList(*image, *scratch, f, ".", [] { return true; });
        ASSERT_TRUE(taken.ok) << f;
        EXPECT_EQ(Ids(*image), (std::vector<uint16_t>{0, 1})) << f;
    }
}

TEST(TankListImport, TankOneKeepsItsWholeEntryAndAnInvalidImageGivesTheDefaultOne) {
    TempDir dir;
    const std::string file = dir.File("tanks.xlsx");
    ASSERT_TRUE(ExportTankList(*ImageWithPresets(), file).ok);

    // A device entry for tank 1 larger than the default one, with a height and 13 rows.
    auto image = std::make_unique<HubBuffer>();
    image->SetTotalSize(16 + 10 + 70 * 4 + 10);
    image->SetVersion(HubFormatVersion);
    image->SetWord(16, 10); // entry 0
    image->SetWord(26, 70 * 4 + 10);
    image->SetWord(28, 1);
    image->SetWord(30, 23000);
    image->SetWord(32, 13);
    image->SetWord(34, 10);
    for (uint16_t r = 0; r < 13; ++r) {
        image->SetWord(36 + 4u * r, uint16_t(100 * (r + 1)));
        image->SetWord(38 + 4u * r, uint16_t(50 * (r + 1)));
    }
    HubSeal(*image);
    const auto before = std::make_unique<HubBuffer>(*image);
    auto scratch = std::make_unique<TankRecord>();
    ASSERT_TRUE(ImportTankList(*image, *scratch, file, ".").ok);
    EXPECT_TRUE(HubIsValid(*image));
    EXPECT_EQ(Ids(*image), (std::vector<uint16_t>{0, 1, 2, 5}));
    const auto kept = *HubFindEntry(*image, 1);
    const auto old = *HubFindEntry(*before, 1);
    EXPECT_TRUE(std::equal(before->bytes().begin() + old.offset,
                           before->bytes().begin() + old.offset + 290,
                           image->bytes().begin() + kept.offset));

    // An image that fails its checks has no tank 1 worth keeping: the default entry is used.
    image->SetWord(HubChecksumOffset, uint16_t(image->Checksum() + 1));
    ASSERT_TRUE(ImportTankList(*image, *scratch, file, ".").ok);
    EXPECT_EQ(HubEntryHead(*image, *HubFindEntry(*image, 1)).RowCount, 0);
    EXPECT_EQ(HubEntryHead(*image, *HubFindEntry(*image, 1)).EntrySize, 210);
}

TEST(TankListImport, MissingOrCorruptFileLeavesTheImageAndScratchUntouched) {
    TempDir dir;
    const std::string corrupt = dir.File("corrupt.xlsx");
    std::ofstream(corrupt) << "PK\x03\x04\x14\x00 this is not a workbook";
    const std::string truncated = dir.File("truncated.xlsx");
    ASSERT_TRUE(ExportTankList(*ImageWithPresets(), dir.File("full.xlsx")).ok);
    const std::string full = testing::ReadBytes(dir.File("full.xlsx"));
    std::ofstream(truncated, std::ios::binary) << full.substr(0, full.size() - 200);
    // Text, or nothing, under a workbook's name is no workbook (not an empty tank list).
    const std::string text = dir.File("text.xlsx");
    std::ofstream(text) << "Liters;mm\n1;2\n";
    const std::string empty = dir.File("empty.XLS");
    std::ofstream{empty};

    for (const std::string& file : {dir.File("missing.xlsx"), corrupt, truncated, text, empty}) {
        auto image = ImageWithPresets();
        auto before = std::make_unique<HubBuffer>(*image);
        auto scratch = std::make_unique<TankRecord>();
        scratch->Id = 77;
        const ExchangeResult r = ImportTankList(*image, *scratch, file, ".");
        EXPECT_FALSE(r.ok) << file;
        EXPECT_EQ(r.message, "Error read excel file\nUnknown error");
        EXPECT_EQ(image->bytes(), before->bytes()) << file;
        EXPECT_EQ(scratch->Id, 77);
    }
}

TEST(TankListFormats, TankListMadeByOpenpyxlImports) {
    if (!testing::HaveOpenpyxl()) {
        GTEST_SKIP() << "python3-openpyxl not installed";
    }
    TempDir dir;
    const std::string file = dir.File("script.xlsx");
    int status = 0;
    const std::string out =
        testing::RunPython(dir,
                           "import openpyxl\n"
                           "wb = openpyxl.Workbook()\n"
                           "for n, tid in enumerate([4, 6]):\n"
                           "    ws = wb.active if n == 0 else wb.create_sheet()\n"
                           "    ws.title = 'TankID %d' % tid\n"
                           "    ws.append(['Liters', 'mm', 'Tank ID', 'Tank Height, mm'])\n"
                           "    ws['C2'] = tid\n"
                           "    ws['D2'] = 1500\n"
                           "    for r in range(10):\n"
                           "        ws.cell(row=r + 2, column=1, value=r * 2.5)\n"
                           "        ws.cell(row=r + 2, column=2, value=r * 10 + tid)\n"
                           "wb.save('" +
                               file + "')\n",
                           status);
    ASSERT_EQ(status, 0) << out;
    auto image = std::make_unique<HubBuffer>();
    auto scratch = std::make_unique<TankRecord>();
    const ExchangeResult r = ImportTankList(*image, *scratch, file, ".");
    ASSERT_TRUE(r.ok) << r.detail;
    EXPECT_EQ(Ids(*image), (std::vector<uint16_t>{0, 1, 4, 6}));
    const auto tank6 = *HubFindEntry(*image, 6);
    EXPECT_EQ(HubEntryHead(*image, tank6).RowCount, 10);
    EXPECT_EQ(HubEntryHead(*image, tank6).Height, 15000);
    EXPECT_EQ(HubEntryRow(*image, tank6, 9).Code, 960);
    EXPECT_EQ(HubEntryRow(*image, tank6, 9).Value, 22500);
}

TEST(TankListFormats, XlsWorkbookImportsUpToItsLastRowAndColumn) {
    TempDir dir;
    const std::string file = dir.File("tanks.xls");
    const std::string cmd = std::string(testing::SystemPython) + " " BIFF_WRITER " " + file +
                            " Tanks 0,0,Liters 0,3,Height 1,2,7 1,3,1500 1,0,12.5 1,1,100 "
                            "2,0,40 2,1,300 3,0,55.5 3,1,420";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    Workbook book;
    const FileResult read = ReadWorkbook(file, book);
    ASSERT_TRUE(read.ok) << read.error;
    ASSERT_EQ(book.sheets.size(), 1u);
    EXPECT_EQ(book.sheets[0].name(), "Tanks");
    EXPECT_EQ(book.sheets[0].At(1, 1).text, "Liters");
    EXPECT_EQ(book.sheets[0].Used().rows, 4u);
    EXPECT_EQ(book.sheets[0].Used().columns, 4u);

    auto image = std::make_unique<HubBuffer>();
    auto scratch = std::make_unique<TankRecord>();
    ASSERT_TRUE(ImportTankList(*image, *scratch, file, ".").ok);
    EXPECT_EQ(Ids(*image), (std::vector<uint16_t>{0, 1, 7}));
    const auto tank = *HubFindEntry(*image, 7);
    EXPECT_EQ(HubEntryHead(*image, tank).RowCount, 3);
    EXPECT_EQ(HubEntryRow(*image, tank, 2).Code, 4200);
}

TEST(TankListFormats, XlsAndOdsMadeByLibreOfficeImport) {
    if (!testing::HaveSoffice()) {
        GTEST_SKIP() << "soffice not installed";
    }
    TempDir dir;
    const std::string file = dir.File("tanks.xlsx");
    ASSERT_TRUE(ExportTankList(*ImageWithPresets(), file).ok);
    for (const char* format : {"xls", "ods"}) {
        ASSERT_TRUE(testing::ConvertWithSoffice(dir, file, format));
        auto image = std::make_unique<HubBuffer>();
        auto scratch = std::make_unique<TankRecord>();
        ASSERT_TRUE(
            ImportTankList(*image, *scratch, dir.File(std::string("tanks.") + format), ".").ok)
            << format;
        EXPECT_EQ(Ids(*image), (std::vector<uint16_t>{0, 1, 2, 5})) << format;
    }
}

} // namespace
} // namespace vq31::sheets
