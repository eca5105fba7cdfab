// vq31ctl census and readdress as their own process on a simulated line of three sensors,
// one address shared by two: the lines printed and the exit codes.
#include "../run_command.h"
#include "sim_server.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace vq31::test {
namespace {

class CtlCensus : public ::testing::Test {
protected:
    void SetUp() override {
        sim::SimOptions options;
        options.moreAddresses = {2, 7};
        sim_ = std::make_unique<sim::SimServer>(options);
        std::string error;
        ASSERT_TRUE(sim_->Start(&error)) << error;
        ASSERT_EQ(sim_->Control("collide 7").rfind("ok", 0), 0u);
        char pattern[] = "/tmp/vq31-ctl-census-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    CommandRun Ctl(const std::string& words, const std::string& port = "") {
        return RunCommand("XDG_DATA_HOME=" + dir_.string() + " timeout 120 " +
                          std::string(VQ31CTL_PATH) + " --port " +
                          (port.empty() ? sim_->path() : port) + " " + words);
    }

    std::unique_ptr<sim::SimServer> sim_;
    std::filesystem::path dir_;
};

TEST_F(CtlCensus, PrintsEverySensorTheCollisionAndTheCount) {
    const CommandRun run = Ctl("census --to 9");
    EXPECT_EQ(run.exitCode, 0) << run.output;
    const std::string expected = "address 1 speed 19200 serial 004711 model 31 firmware 0.90\n"
                                 "address 2 speed 19200 serial 004712 model 31 firmware 0.90\n"
                                 "address 7 speed 19200: collision\n"
                                 "found 2 sensors, 1 collisions in ";
    EXPECT_EQ(run.output.rfind(expected, 0), 0u) << run.output;
    EXPECT_EQ(run.output.back(), '\n');
}

TEST_F(CtlCensus, ExitCodes) {
    struct Case {
        const char* words;
        int exitCode;
    };
    const Case cases[] = {
        {"census --speeds 4800,2400 --from 0 --to 3", 0}, // nothing found is still a census
        {"census --speeds 1200", 2},
        {"census --from 9 --to 3", 2},
        {"readdress 2 7", 1}, // taken (two answer there)
        {"readdress 7 5", 1}, // a collision cannot be moved by address
        {"readdress 4 5", 1}, // nothing at 4
        {"readdress 2 2", 2},
        {"readdress 2 5", 0},
    };
    for (const Case& c : cases) {
        const CommandRun run = Ctl(c.words);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.words << "\n" << run.output;
    }
    EXPECT_EQ(Ctl("census", "/nonexistent/tty-census").exitCode, 1);
}

} // namespace
} // namespace vq31::test
