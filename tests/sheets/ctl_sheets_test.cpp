// vq31ctl's workbook commands against the simulated sensor: the hub is read and written over
// the real link, the workbooks are real files.
#include "../run_command.h"
#include "exchange.h"
#include "hub_image.h"
#include "sheet_test_util.h"
#include "sim_server.h"
#include "workbook.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace vq31::sheets {
namespace {

using testing::TempDir;

using CtlRun = vq31::test::CommandRun;

class CtlSheets : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(sim_.Start(&error)) << error;
    }

    // Runs vq31ctl on the simulator's port, bounded in time; the snapshots of its writes go
    // to the test's folder.
    CtlRun Ctl(const std::string& words) {
        return vq31::test::RunCommand("XDG_DATA_HOME=" + dir_.File("data") + " timeout 60 " +
                                      std::string(VQ31CTL_PATH) + " --port " + sim_.path() + " " +
                                      words);
    }

    std::unique_ptr<HubBuffer> DeviceHub() {
        auto image = std::make_unique<HubBuffer>();
        const std::vector<uint8_t> store = sim_.HubStore();
        std::copy_n(store.begin(), std::min(store.size(), image->bytes().size()),
                    image->bytes().begin());
        return image;
    }

    static std::vector<uint16_t> Ids(const HubBuffer& image) {
        std::vector<uint16_t> ids;
        for (auto e = HubFirstEntry(image); e; e = HubNextEntry(image, *e)) {
            ids.push_back(HubEntryHead(image, *e).Id);
        }
        return ids;
    }

    sim::SimServer sim_;
    TempDir dir_;
};

TEST_F(CtlSheets, TanksExportWritesOneSheetPerPresetOfTheDevice) {
    const std::string file = dir_.File("tanks.xlsx");
    const CtlRun run = Ctl("tanks export " + file);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    Workbook book;
    ASSERT_TRUE(ReadWorkbook(file, book).ok);
    auto device = DeviceHub();
    std::vector<std::string> expected;
    for (uint16_t id : Ids(*device)) {
        if (id >= 2) {
            expected.push_back("TankID " + std::to_string(id));
        }
    }
    ASSERT_FALSE(expected.empty());
    std::vector<std::string> names;
    for (const Sheet& s : book.sheets) {
        names.push_back(s.name());
    }
    EXPECT_EQ(names, expected);
}

TEST_F(CtlSheets, TanksImportWithWriteReplacesTheDeviceHub) {
    Workbook book;
    Sheet& s = XlsAddSheet(book);
    s.SetNumber(2, 3, 7);
    s.SetNumber(2, 4, 1500);
    s.SetNumber(2, 1, 12.5);
    s.SetNumber(2, 2, 100);
    s.SetNumber(3, 1, 40);
    s.SetNumber(3, 2, 300);
    const std::string file = dir_.File("in.xlsx");
    ASSERT_TRUE(WriteXlsx(book, file).ok);

    const CtlRun dry = Ctl("tanks import " + file);
    ASSERT_EQ(dry.exitCode, 0) << dry.output;
    EXPECT_NE(Ids(*DeviceHub()), (std::vector<uint16_t>{0, 1, 7})); // nothing written yet

    const CtlRun run = Ctl("tanks import " + file + " --write");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    auto device = DeviceHub();
    EXPECT_TRUE(HubIsValid(*device));
    EXPECT_EQ(Ids(*device), (std::vector<uint16_t>{0, 1, 7}));
    const auto tank = *HubFindEntry(*device, 7);
    EXPECT_EQ(HubEntryHead(*device, tank).Height, 15000);
    EXPECT_EQ(HubEntryRow(*device, tank, 1).Code, 3000);
}

TEST_F(CtlSheets, TareImportWritesTankOneAndExportGivesItBack) {
    const std::string in = dir_.File("tare-in.xlsx");
    const TareRows rows = {{"0", "0"}, {"10.5", "120"}, {"20", "121"}, {"not", "a row"}};
    ASSERT_TRUE(ExportTareTable(rows, "Tare table", in, ".").ok);
    const CtlRun run = Ctl("tare import " + in + " --write");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(
        run.output.find("sheet 'Tare table': 1 row without a number for litres or level left out"),
        std::string::npos)
        << run.output;

    auto device = DeviceHub();
    ASSERT_TRUE(HubIsValid(*device));
    const auto tank1 = *HubFindEntry(*device, 1);
    EXPECT_EQ(HubEntryHead(*device, tank1).RowCount, 3);
    EXPECT_EQ(HubEntryRow(*device, tank1, 1).Code, 1200);

    const std::string out = dir_.File("tare-out.xlsx");
    const CtlRun back = Ctl("tare export " + out);
    ASSERT_EQ(back.exitCode, 0) << back.output;
    TareRows read;
    ASSERT_TRUE(ImportTareTable(out, ".", read).ok);
    // The row of 0 l at level 0 is not shown, so it is not exported.
    EXPECT_EQ(read, (TareRows{{"10.5", "120"}, {"20", "121"}}));
}

TEST_F(CtlSheets, UnreadableWorkbookLeavesTheDeviceHubAlone) {
    const std::vector<uint8_t> before = sim_.HubStore();
    const std::string corrupt = dir_.File("corrupt.xlsx");
    std::ofstream(corrupt) << "PK\x03\x04 broken";
    for (const std::string& words :
         {"tanks import " + corrupt + " --write", "tare import " + corrupt + " --write",
          "tanks import " + dir_.File("missing.xlsx") + " --write"}) {
        const CtlRun run = Ctl(words);
        EXPECT_NE(run.exitCode, 0) << words;
        EXPECT_NE(run.output.find("Error read excel file"), std::string::npos) << run.output;
    }
    EXPECT_EQ(sim_.HubStore(), before);
}

TEST_F(CtlSheets, AWorkbookWithoutATankSheetIsRefusedUnlessAllowed) {
    const std::vector<uint8_t> before = sim_.HubStore();
    const std::string file = dir_.File("notes.csv");
    std::ofstream(file) << "Liters,mm\n10,100\n";
    const CtlRun refused = Ctl("tanks import " + file + " --write");
    EXPECT_EQ(refused.exitCode, 1) << refused.output;
    EXPECT_NE(refused.output.find("--allow-empty"), std::string::npos) << refused.output;
    EXPECT_EQ(sim_.HubStore(), before);

    const CtlRun allowed = Ctl("tanks import " + file + " --write --allow-empty");
    ASSERT_EQ(allowed.exitCode, 0) << allowed.output;
    EXPECT_EQ(Ids(*DeviceHub()), (std::vector<uint16_t>{0, 1}));
}

TEST_F(CtlSheets, RowsLeftOutAreSaidAndAWriteNeedsAcceptDropped) {
    const std::vector<uint8_t> before = sim_.HubStore();
    const std::string file = dir_.File("dropped.csv");
    std::ofstream(file) << "Liters,mm,Tank ID,Tank Height\n0,0,2,1000\n1e999,50\n100,100\n";
    const CtlRun refused = Ctl("tanks import " + file + " --write");
    EXPECT_EQ(refused.exitCode, 1) << refused.output;
    EXPECT_NE(refused.output.find("sheet 'Sheet1': 1 row without a number"), std::string::npos)
        << refused.output;
    EXPECT_EQ(sim_.HubStore(), before);

    const CtlRun accepted = Ctl("tanks import " + file + " --write --accept-dropped");
    ASSERT_EQ(accepted.exitCode, 0) << accepted.output;
    auto device = DeviceHub();
    ASSERT_TRUE(HubFindEntry(*device, 2));
    EXPECT_EQ(HubEntryHead(*device, *HubFindEntry(*device, 2)).RowCount, 2);
}

TEST_F(CtlSheets, ASemicolonCsvWithDecimalCommasImportsItsRows) {
    const std::string file = dir_.File("tare.csv");
    std::ofstream(file) << "Литры;мм\n10,5;120\n20;121\n";
    const CtlRun run = Ctl("tare import " + file + " --write");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    auto device = DeviceHub();
    const auto tank1 = *HubFindEntry(*device, 1);
    ASSERT_EQ(HubEntryHead(*device, tank1).RowCount, 2);
    EXPECT_EQ(HubEntryRow(*device, tank1, 0).Code, 1200);
    EXPECT_EQ(HubEntryRow(*device, tank1, 1).Code, 1210);

    // Rows but not one readable pair: a read error, and tank 1 keeps its table.
    const std::string words = dir_.File("words.csv");
    std::ofstream(words) << "Литры,мм\nдесять,сто\n";
    const CtlRun bad = Ctl("tare import " + words + " --write");
    EXPECT_EQ(bad.exitCode, 1) << bad.output;
    EXPECT_EQ(HubEntryHead(*DeviceHub(), *HubFindEntry(*DeviceHub(), 1)).RowCount, 2);
}

} // namespace
} // namespace vq31::sheets
