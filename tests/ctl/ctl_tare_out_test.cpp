// vq31ctl tare outputs against the simulated sensor: telematics pairs read back from the
// file, the calibration report read back with pdftotext, and the words each verb refuses.
#include "ctl_sim_fixture.h"
#include "hub_image.h"
#include "sim_server.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace vq31::test {
namespace {

// Tank 1's table: 10 l per 20 mm, except 40 l noted between rows 4 and 5 (a portion of
// 10 l was poured).
constexpr int Rows = 12;
float LitresOf(int row) {
    return float(row * 10 + (row >= 5 ? 30 : 0)) + 0.5f;
}

class CtlTareOut : public CtlSimTest {
protected:
    void SetUp() override {
        CtlSimTest::SetUp();
        if (HasFatalFailure())
            return;
        auto image = std::make_unique<HubBuffer>();
        HubMakeDefault(*image);
        TankRecord tank;
        tank.RowCount = Rows;
        tank.Scale = 10;
        for (int r = 1; r <= Rows; ++r) {
            tank.rows[size_t(r - 1)] = {uint16_t(r * 200), LitresOf(r)};
        }
        ASSERT_TRUE(RecordToEntry(tank, *image, *HubFindEntry(*image, CalibratedTankId)));
        TankRecord preset;
        preset.Id = 2;
        preset.Height = 8000;
        preset.RowCount = 2;
        preset.Scale = 100;
        preset.rows[0] = {500, 30.0f};
        preset.rows[1] = {7995, 600.0f}; // 799.5 mm: half up to 800
        ASSERT_TRUE(HubAppendTank(*image, preset));
        HubSeal(*image);
        ASSERT_TRUE(sim_.SetHubStore(
            {image->bytes().begin(), image->bytes().begin() + image->TotalSize()}));
        sim_.Control("serial 4711");
        sim_.Control("date 25 2 8");
    }
    static std::string Read(const std::string& file) {
        std::ifstream in(file, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
};

TEST_F(CtlTareOut, TelematicsPairsReadBackAsTheTableInEitherSeparator) {
    for (const char* separator : {";", ","}) {
        const std::string file = dir_ + "/pairs.CSV"; // the extension in any case
        const CommandRun run =
            Ctl("tare export " + file + " --separator '" + std::string(separator) + "'");
        ASSERT_EQ(run.exitCode, 0) << run.output;
        std::istringstream lines(Read(file));
        std::string line;
        int row = 0;
        while (std::getline(lines, line)) {
            ++row;
            char text[64];
            std::snprintf(text, sizeof text, "%d%s%.1f", row * 20, separator, LitresOf(row));
            EXPECT_EQ(line, text);
        }
        EXPECT_EQ(row, Rows);
    }
    // The simulated preset tank 2, by --tank.
    const CommandRun preset = Ctl("tare export " + dir_ + "/two.csv --tank 2");
    EXPECT_EQ(preset.exitCode, 0) << preset.output;
    EXPECT_EQ(Read(dir_ + "/two.csv"), "50;30.0\n800;600.0\n");
}

TEST_F(CtlTareOut, AFailedExportKeepsTheOldFileAndBadWordsAreUsageErrors) {
    const std::string file = dir_ + "/keep.csv";
    std::ofstream(file) << "old\n";
    EXPECT_EQ(Ctl("tare export " + file + " --tank 9").exitCode, 1); // no such tank
    EXPECT_EQ(Read(file), "old\n");
    EXPECT_EQ(Ctl("tare export " + dir_ + "/none/x.csv").exitCode, 1);
    for (const std::string& words : std::vector<std::string>{
             "tare export " + file + " --separator x", "tare export " + file + " --field client=A",
             "tare export " + dir_ + "/t.xlsx --separator ,", "tare report " + file + " --write",
             "tare import " + file + " --tank 2", "tare export " + dir_ + "/t.xlsx --tank 2",
             "tare report r.pdf --field nobody=1", "tare report r.pdf --field client",
             "tare print r.pdf"}) {
        const CommandRun run = Ctl(words);
        EXPECT_EQ(run.exitCode, 2) << words << "\n" << run.output;
    }
    EXPECT_EQ(Read(file), "old\n");
}

#ifdef VQ31_HAVE_REPORT
TEST_F(CtlTareOut, TheReportHoldsThePassportTheJobEveryRowAndTheFinding) {
    const std::string pdf = dir_ + "/report.pdf";
    const CommandRun run = Ctl("tare report " + pdf +
                               " --field client='Северный парк' --field plate=А123ВС "
                               "--field technician=Петров --field client='Южный парк'");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const CommandRun text = RunCommand("pdftotext -layout " + pdf + " -");
    ASSERT_EQ(text.exitCode, 0) << "pdftotext (poppler-utils) is needed: " << text.output;
    const std::string& t = text.output;
    EXPECT_NE(t.find("004711"), std::string::npos) << t;
    EXPECT_NE(t.find("09.03.2025"), std::string::npos) << t;
    EXPECT_NE(t.find("Южный парк"), std::string::npos) << "the last value of a field counts";
    EXPECT_EQ(t.find("Северный парк"), std::string::npos);
    EXPECT_NE(t.find("А123ВС"), std::string::npos);
    EXPECT_NE(t.find("Петров"), std::string::npos);
    for (int row = 1; row <= Rows; ++row) {
        char pattern[64];
        std::snprintf(pattern, sizeof pattern, "(^|\\s)%d\\s+%.1f\\s+%d(\\s|$)", row, LitresOf(row),
                      row * 20);
        EXPECT_TRUE(std::regex_search(t, std::regex(pattern))) << "row " << row << "\n" << t;
    }
    // The wrong portion between rows 4 and 5 is listed beside row 5.
    EXPECT_NE(t.find("Строка 5:"), std::string::npos) << t;
    EXPECT_EQ(t.find("Замечаний нет"), std::string::npos);
}
#else
TEST_F(CtlTareOut, ABuildWithoutQtSaysItHasNoReport) {
    const CommandRun run = Ctl("tare report " + dir_ + "/report.pdf");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.output.find("no report support"), std::string::npos) << run.output;
}
#endif

} // namespace
} // namespace vq31::test
