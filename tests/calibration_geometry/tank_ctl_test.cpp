// vq31ctl tare shape as its own process: the table it prints is the table the simulated
// sensor holds after --write, words that do not fit the shape are usage errors that leave
// the device alone, and a pour far off the model stops the write.
#include "../run_command.h"
#include "hub_image.h"
#include "sim_server.h"
#include "tank_shape.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>

namespace vq31::test {
namespace {

class CtlTareShape : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(sim_.Start(&error)) << error;
        char pattern[] = "/tmp/vq31-tare-shape-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::system(("rm -rf " + dir_).c_str()); }
    CommandRun Ctl(const std::string& words) {
        // Snapshots go to the test's own folder.
        return RunCommand("XDG_DATA_HOME=" + dir_ + " timeout 60 " + std::string(VQ31CTL_PATH) +
                          " --port " + sim_.path() + " tare shape " + words);
    }
    std::string Pours(const std::string& text) {
        const std::string file = dir_ + "/pours.csv";
        std::ofstream(file) << text;
        return file;
    }

    sim::SimServer sim_;
    std::string dir_;
};

TEST_F(CtlTareShape, TheWrittenTableIsTheOnePrinted) {
    const CommandRun run = Ctl("cylinder --diameter 600 --length 2000 --heads ellipsoidal "
                               "--head-depth 150 --offset 20 --write");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("written to the device and read back"), std::string::npos);
    EXPECT_NE(run.output.find("largest interpolation error"), std::string::npos);
    const std::regex rowLine(R"(\n  ([0-9.]+) l at ([0-9.]+) mm)");
    std::vector<std::pair<double, double>> printed;
    for (auto it = std::sregex_iterator(run.output.begin(), run.output.end(), rowLine);
         it != std::sregex_iterator(); ++it) {
        printed.emplace_back(std::stod((*it)[1]), std::stod((*it)[2]));
    }
    ASSERT_GT(printed.size(), 10u);
    ASSERT_LE(printed.size(), TareTableRows);

    auto image = std::make_unique<HubBuffer>();
    const std::vector<uint8_t> store = sim_.HubStore();
    std::copy(store.begin(), store.begin() + std::min(store.size(), HubBufferSize),
              image->bytes().begin());
    ASSERT_TRUE(HubIsValid(*image));
    const auto entry = HubFindEntry(*image, CalibratedTankId);
    ASSERT_TRUE(entry);
    const TankEntryHead head = HubEntryHead(*image, *entry);
    ASSERT_EQ(head.RowCount, printed.size());
    EXPECT_NE(run.output.find("scale " + std::to_string(head.Scale) + " ml"), std::string::npos);
    for (size_t i = 0; i < printed.size(); ++i) {
        const EntryRow row = HubEntryRow(*image, *entry, i);
        EXPECT_EQ(row.Code, std::lround(printed[i].second * 10)) << i;
        EXPECT_NEAR(StoredLitres(row.Value, head.Scale), printed[i].first, 1e-9) << i;
    }
    // The fuel below the sensor's zero point is the first row, at reading 0.
    EXPECT_EQ(printed.front().second, 0.0);
    EXPECT_GT(printed.front().first, 0.0);
}

TEST_F(CtlTareShape, WordsThatDoNotFitTheShapeAreUsageErrors) {
    const std::vector<uint8_t> before = sim_.HubStore();
    const char* refused[] = {
        "sphere --diameter 600 --write",
        "cylinder --diameter 600 --length 2000 --width 300 --write",
        "cylinder --diameter 600 --write",
        "cylinder --diameter 600 --length 2000 --tilt 2 --write",
        "cylinder --diameter 600 --length 2000 --rows 51 --write",
        "cylinder --diameter 600 --length 2000 --heads conic --write",
        "cylinder --diameter 600 --length 2000 --offset 600 --write",
        "box --width 800 --height 600 --length 2000 --corner-radius 400 --write",
        "vertical --diameter 800 --height 1500 --tilt 1 --sensor-at 0 --write",
        "oval --width 8e --height 600 --length 2000 --write",
    };
    for (const char* words : refused) {
        const CommandRun run = Ctl(words);
        EXPECT_EQ(run.exitCode, 2) << words << "\n" << run.output;
        EXPECT_NE(run.output.find("usage:"), std::string::npos) << words;
    }
    EXPECT_EQ(sim_.HubStore(), before);
}

TEST_F(CtlTareShape, PoursFitTheModelAndAPourFarOffStopsTheWrite) {
    // Pours as a tank 3 % smaller than drawn with its sensor zero 25 mm up would show them.
    TankShape shape;
    shape.diameterMm = 600;
    shape.lengthMm = 2000;
    const TankModel real(shape, {25, 0, 0}, 0.97);
    std::ostringstream good;
    good << "litres;mm\n";
    for (double level : {60.0, 200.0, 380.0, 520.0}) {
        good << real.LitresAtReading(level) << ";" << level << "\n";
    }
    const CommandRun fitted =
        Ctl("cylinder --diameter 600 --length 2000 --pours " + Pours(good.str()));
    ASSERT_EQ(fitted.exitCode, 0) << fitted.output;
    EXPECT_NE(fitted.output.find("volume factor 0.9700, zero point 25.0 mm (fitted)"),
              std::string::npos)
        << fitted.output;

    const std::vector<uint8_t> before = sim_.HubStore();
    std::ostringstream bad;
    bad << real.LitresAtReading(100) << ";100\n"
        << real.LitresAtReading(300) * 1.08 << ";300\n"
        << real.LitresAtReading(500) << ";500\n";
    const CommandRun refused = Ctl("cylinder --diameter 600 --length 2000 --offset 25 --pours " +
                                   Pours(bad.str()) + " --write");
    EXPECT_EQ(refused.exitCode, 1) << refused.output;
    EXPECT_NE(refused.output.find("over 2 %"), std::string::npos) << refused.output;
    EXPECT_NE(refused.output.find("nothing written"), std::string::npos) << refused.output;
    EXPECT_EQ(sim_.HubStore(), before);
}

} // namespace
} // namespace vq31::test
