// vq31ctl's command line against the simulated sensor: every command refuses words and options
// it does not know with its usage and exit code 2, before anything reaches the device, and
// still takes what it does know.
#include "ctl_sim_fixture.h"
#include "sim_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

namespace vq31::test {
namespace {

class CtlArguments : public CtlSimTest {
protected:
    uint64_t Requests() const { return sim_.State().counters.requests; }
};

TEST_F(CtlArguments, EveryCommandRefusesUnknownWordsAndOptionsBeforeTalkingToTheDevice) {
    const std::vector<std::string> wrong = {
        "search extra",
        "search --fast",
        "info now",
        "echo 3",
        "echo --mode",
        "echo --mod 3",
        "poll --secs 1",
        "poll forever",
        "set freq",
        "set freq 2000 3000",
        "set freq 2000 --now",
        "sweep 20",
        "sweep --step",
        "tune",
        "tune 1 2",
        "tune 1 --quick",
        "display",
        "display auto --fast",
        "params set postfilter 9",
        "params set colour 3",
        "params set address",
        "params show",
        "params --all",
        "hub",
        "hub read a b",
        "hub dump --raw",
        "tanks export",
        "tanks import a.xlsx b.xlsx",
        "tanks import a.xlsx --writ",
        "tare import a.xlsx --allow-empty",
        "tare export",
    };
    for (const std::string& words : wrong) {
        const CommandRun run = Ctl(words);
        EXPECT_EQ(run.exitCode, 2) << words << "\n" << run.output;
        EXPECT_NE(run.output.find("usage: vq31ctl"), std::string::npos) << words << "\n"
                                                                        << run.output;
    }
    EXPECT_EQ(Requests(), 0u) << "a refused command line reached the device";
}

TEST_F(CtlArguments, KnownOptionsAndGlobalOptionsAfterTheCommandAreTaken) {
    const CommandRun echo = Ctl("echo --mode 1");
    EXPECT_EQ(echo.exitCode, 0) << echo.output;
    EXPECT_NE(echo.output.find("mode 1:"), std::string::npos) << echo.output;
    const CommandRun info = RunCommand("timeout 60 " + std::string(VQ31CTL_PATH) + " info --port " +
                                       sim_.path() + " --baud 19200");
    EXPECT_EQ(info.exitCode, 0) << info.output;
    const CommandRun unknown = Ctl("fly");
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_NE(unknown.output.find("unknown command"), std::string::npos);
}

TEST_F(CtlArguments, PollEndsSoonWithAMessageWhenTheDeviceGoesAway) {
    auto poll = std::async(std::launch::async, [&] { return Ctl("poll --seconds 50"); });
    // Polling has begun once the connection job's requests are followed by echo reads.
    for (int i = 0; i < 200 && Requests() < 20; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_GE(Requests(), 20u);
    sim_.Stop();
    // Polling on for the rest of the 50 s would end in the time-out of 60 s (exit code 124).
    ASSERT_EQ(poll.wait_for(std::chrono::seconds(90)), std::future_status::ready);
    const CommandRun run = poll.get();
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_NE(run.output.find("the device stopped answering at"), std::string::npos) << run.output;
}

} // namespace
} // namespace vq31::test
