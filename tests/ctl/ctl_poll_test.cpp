// vq31ctl poll against the simulated sensor when the device stops answering part-way: the run
// says when the answers stopped and exits 1, with or without --keep-going.
#include "../run_command.h"
#include "sim_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

namespace vq31::test {
namespace {

using namespace std::chrono_literals;

class CtlPoll : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(sim_.Start(&error)) << error;
    }
    std::future<CommandRun> Poll(const std::string& words) {
        const std::string line =
            "timeout 60 " + std::string(VQ31CTL_PATH) + " --port " + sim_.path() + " poll " + words;
        return std::async(std::launch::async, [line] { return RunCommand(line); });
    }
    // Waits until the run has polled the device for a while.
    void WaitForPolls(uint64_t records) {
        for (int i = 0; i < 1000 && sim_.State().counters.records < records; ++i)
            std::this_thread::sleep_for(10ms);
    }

    sim::SimServer sim_;
};

TEST_F(CtlPoll, ADeviceThatStopsAnsweringEndsTheRunWithExitOne) {
    auto run = Poll("--seconds 30");
    WaitForPolls(10);
    sim_.Control("fault silent 100000");
    const CommandRun r = run.get();
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_NE(r.output.find("the device stopped answering at"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("refreshes"), std::string::npos) << r.output;
}

TEST_F(CtlPoll, KeepGoingPollsOnAfterALossButStillExitsOne) {
    auto run = Poll("--seconds 3 --keep-going");
    WaitForPolls(10);
    const uint64_t before = sim_.State().counters.records;
    sim_.Control("fault silent 3");
    const CommandRun r = run.get();
    EXPECT_EQ(r.exitCode, 1) << r.output;
    // The closing line gives the failures' span and that the device came back.
    EXPECT_NE(r.output.find("failed between"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("answered again after each"), std::string::npos) << r.output;
    EXPECT_GT(sim_.State().counters.records, before + 5) << "polling resumed after the loss";

    // A run without a loss still ends well.
    const CommandRun good = Poll("--seconds 1").get();
    EXPECT_EQ(good.exitCode, 0) << good.output;
}

// --reopen: the port taken away and given back under the same name (the simulator behind a
// link, as a by-id name) is reconnected, and the refreshes go on.
TEST(CtlPollReopen, AnUnpluggedPortThatComesBackIsReconnected) {
    char pattern[] = "/tmp/vq31-ctl-reopen-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    sim::SimOptions options;
    options.linkPath = dir + "/usb-vq31-port0";
    sim::SimServer sim(options);
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;
    const std::string line = "timeout 60 " + std::string(VQ31CTL_PATH) + " --port " +
                             options.linkPath + " poll --seconds 6 --reopen";
    auto run = std::async(std::launch::async, [line] { return RunCommand(line); });
    for (int i = 0; i < 1000 && sim.State().counters.records < 5; ++i)
        std::this_thread::sleep_for(10ms);
    sim.Stop();
    std::this_thread::sleep_for(1s);
    ASSERT_TRUE(sim.Start(&error)) << error;
    const uint64_t before = sim.State().counters.records;
    const CommandRun r = run.get();
    EXPECT_NE(r.output.find("was unplugged at"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("is back at"), std::string::npos) << r.output;
    EXPECT_GT(sim.State().counters.records, before + 5) << "no refreshes after the reconnect\n"
                                                        << r.output;
    EXPECT_EQ(r.exitCode, 1) << "answers were lost";
    sim.Stop();
    std::system(("rm -rf " + dir).c_str());
}

} // namespace
} // namespace vq31::test
