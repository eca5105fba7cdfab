// vq31ctl's exit codes, command by command, against the simulated sensor: 0 when the command
// did its work, 1 when the device (silent, refusing) or a file (missing, unwritable, damaged)
// failed it, and the three codes named in the usage text. Usage errors (2) of every command
// are covered by the argument tests.
#include "../run_command.h"
#include "sim_server.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace vq31::test {
namespace {

struct Case {
    const char* words;
    int exitCode;
    const char* fault = nullptr; // simulator control line sent first
};

class CtlExitCodes : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(sim_.Start(&error)) << error;
        char pattern[] = "/tmp/vq31-ctl-exit-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        std::ofstream(dir_ / "tare.csv") << "10;120\n20;121\n";
        std::ofstream(dir_ / "tare2.csv") << "10;130\n20;131\n";
        std::ofstream(dir_ / "damaged.xlsx") << "PK\x03\x04 not a package";
        std::ofstream(dir_ / "short.bin") << "tiny";
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    // Words with {dir} standing for the test's folder.
    CommandRun Ctl(std::string words) {
        for (size_t at; (at = words.find("{dir}")) != std::string::npos;)
            words.replace(at, 5, dir_.string());
        return RunCommand("XDG_DATA_HOME=" + dir_.string() + " timeout 120 " +
                          std::string(VQ31CTL_PATH) + " --port " + sim_.path() + " " + words);
    }
    void Check(const std::vector<Case>& cases) {
        for (const Case& c : cases) {
            sim_.Control("fault clear");
            if (c.fault) {
                const std::string reply = sim_.Control(c.fault);
                ASSERT_EQ(reply.rfind("error:", 0), std::string::npos) << c.fault << ": " << reply;
            }
            const CommandRun run = Ctl(c.words);
            EXPECT_EQ(run.exitCode, c.exitCode)
                << c.words << " (" << (c.fault ? c.fault : "") << ")\n"
                << run.output;
        }
    }

    sim::SimServer sim_;
    std::filesystem::path dir_;
};

TEST_F(CtlExitCodes, UsageNamesTheCodesAndHelpIsASuccess) {
    const CommandRun help = RunCommand(std::string(VQ31CTL_PATH) + " --help");
    EXPECT_EQ(help.exitCode, 0);
    for (const char* line :
         {"exit codes:", "  0  done", "  1  the device or a file failed", "  2  usage error"})
        EXPECT_NE(help.output.find(line), std::string::npos) << line << "\n" << help.output;
    EXPECT_EQ(RunCommand(VQ31CTL_PATH).exitCode, 2);
    EXPECT_EQ(Ctl("frobnicate").exitCode, 2);
    EXPECT_EQ(RunCommand(std::string(VQ31CTL_PATH) + " info").exitCode, 2) << "no --port";
}

TEST_F(CtlExitCodes, LinkCommands) {
    Check({
        {"search", 0},
        {"info", 0},
        {"info", 1, "fault silent 100"},
        {"echo", 0},
        {"echo --mode 2", 1, "fault crc 100"},
        {"poll --seconds 1", 0},
        {"poll --seconds 1", 1, "fault silent 100"},
        {"set freq 2100", 0},
        {"set freq 2100", 1, "fault ack 0x26 2 5"},
        {"sweep --step 500", 0},
        {"sweep --step 500", 1, "fault silent 100"},
        {"tune 1 --seconds 2", 0},
        {"tune 1 --seconds 2", 1, "fault silent 100"},
        {"display auto --seconds 1", 0},
        {"display auto --seconds 1", 1, "fault silent 100"},
        {"ports", 0},
    });
    // A port that is not there fails every command that needs it.
    for (const char* words : {"search", "info", "params", "hub dump"}) {
        const CommandRun run = RunCommand(std::string(VQ31CTL_PATH) + " --port " +
                                          (dir_ / "ttyGone").string() + " " + words);
        EXPECT_EQ(run.exitCode, 1) << words << "\n" << run.output;
    }
}

TEST_F(CtlExitCodes, SettingsHubAndSnapshotCommands) {
    Check({
        {"params", 0},
        {"params", 1, "fault silent 100"},
        {"params set postfilter 5", 0},
        {"params set postfilter 6", 1, "fault nostore any 1"},
        {"hub dump", 0},
        {"hub read {dir}/hub.bin", 0},
        {"hub read {dir}/no/such/folder/hub.bin", 1},
        {"hub write {dir}/hub.bin", 0},
        {"hub write {dir}/missing.bin", 1},
        {"hub write {dir}/short.bin", 1},
        {"hub write {dir}/hub.bin", 1, "fault code 0x6E silent 1 after 1"},
        {"snapshot list", 0},
        {"snapshot show {dir}/missing.ini", 1},
        {"snapshot show {dir}/tare.csv", 1},
    });
    // The snapshot taken before the first write holds the post-filter of before it (3).
    std::string file;
    for (const auto& e :
         std::filesystem::directory_iterator(dir_ / "vq31-install-service" / "snapshots")) {
        std::ifstream in(e.path());
        const std::string text{std::istreambuf_iterator<char>(in), {}};
        if (text.find("postfilter = 3\n") != std::string::npos)
            file = e.path().string();
    }
    ASSERT_FALSE(file.empty());
    Check({
        {("snapshot show " + file).c_str(), 0},
        {("snapshot restore " + file + " --params").c_str(), 1, "fault nostore 0x32 1"},
        {("snapshot restore " + file + " --params").c_str(), 0},
    });
}

TEST_F(CtlExitCodes, WorkbookCommands) {
    Check({
        {"tanks export {dir}/tanks.xlsx", 0},
        {"tanks export {dir}/no/such/folder/tanks.xlsx", 1},
        {"tanks export {dir}/tanks.xlsx", 1, "fault silent 100"},
        {"tanks import {dir}/tanks.xlsx", 0},
        {"tanks import {dir}/tanks.xlsx --write", 0},
        {"tanks import {dir}/missing.xlsx", 1},
        {"tanks import {dir}/damaged.xlsx", 1},
        {"tare export {dir}/tare.xlsx", 0},
        {"tare import {dir}/tare.csv", 0},
        {"tare import {dir}/tare.csv --write", 0},
        {"tare import {dir}/tare2.csv --write", 1, "fault nostore any 1"},
        {"tare import {dir}/damaged.xlsx", 1},
    });
}

} // namespace
} // namespace vq31::test
