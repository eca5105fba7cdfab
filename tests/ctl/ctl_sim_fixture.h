// vq31ctl run against a simulated sensor on a pseudo-terminal, with a folder of its own for
// the files a test writes; the folder goes at the end of the test.
#pragma once

#include "../run_command.h"
#include "sim_server.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace vq31::test {

class CtlSimTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(sim_.Start(&error)) << error;
        char pattern[] = "/tmp/vq31-ctl-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    // vq31ctl with the simulator's port and the words given.
    CommandRun Ctl(const std::string& words) {
        return RunCommand("timeout 60 " + std::string(VQ31CTL_PATH) + " --port " + sim_.path() +
                          " " + words);
    }

    sim::SimServer sim_;
    std::string dir_;
};

} // namespace vq31::test
