// vq31ctl --trace and --stats against the simulated sensor: the lines for good answers and
// for injected corrupt, silent and wrong-address answers, where the lines go, and the
// counters printed after the command.
#include "../run_command.h"
#include "sim_server.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <unistd.h>

namespace vq31::test {
namespace {

class CtlTrace : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(sim_.Start(&error)) << error;
        char name[] = "/tmp/vq31-trace-XXXXXX";
        const int fd = mkstemp(name);
        ASSERT_GE(fd, 0);
        close(fd);
        tracePath_ = name;
    }
    void TearDown() override { std::remove(tracePath_.c_str()); }
    CommandRun Ctl(const std::string& words) {
        return RunCommand("timeout 60 " + std::string(VQ31CTL_PATH) + " --port " + sim_.path() +
                          " " + words);
    }
    std::string TraceFile() const {
        std::ifstream in(tracePath_);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    static bool Has(const std::string& text, const std::string& part) {
        return text.find(part) != std::string::npos;
    }

    sim::SimServer sim_;
    std::string tracePath_;
};

TEST_F(CtlTrace, GoodExchangesGiveOneRequestAndOneAnswerLineEach) {
    const CommandRun run = Ctl("--trace " + tracePath_ + " info");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const std::string trace = TraceFile();
    const std::regex line(R"(^\d\d:\d\d:\d\d\.\d\d\d (->|<-) [0-9A-F]{2}( [0-9A-F]{2})* \| .+$)");
    std::istringstream lines(trace);
    std::string l;
    int count = 0;
    while (std::getline(lines, l)) {
        EXPECT_TRUE(std::regex_match(l, line)) << l;
        ++count;
    }
    EXPECT_EQ(count, 6) << trace; // model code, identity, passport: request and answer each
    EXPECT_TRUE(Has(trace, "-> 31 01 80 3D | ReadModelCode addr 1\n")) << trace;
    EXPECT_TRUE(Has(trace, "| ReadModelCode addr 1, value 825446742 | OK\n")) << trace;
    EXPECT_TRUE(Has(trace, "| ReadPassport addr 1, date ")) << trace;
    EXPECT_FALSE(Has(run.output, "-> 31")) << "a trace file keeps standard error clear";
}

TEST_F(CtlTrace, CorruptSilentAndWrongAddressAnswersAreEachNamed) {
    struct Case {
        const char* fault;
        const char* line;
    };
    const Case cases[] = {
        {"fault crc 1", "| broken answer ReadModelCode addr 1 | CRC error"},
        {"fault silent 1", " -- | ReadModelCode addr 1, no answer byte for "},
        {"fault address 1", " !! | ReadModelCode addr 1, answered by ReadModelCode addr "},
        {"fault short 1", "| broken answer ReadModelCode addr 1 | bad length"},
    };
    for (const Case& c : cases) {
        std::remove(tracePath_.c_str());
        sim_.Control(c.fault);
        const CommandRun run = Ctl("--trace " + tracePath_ + " info");
        EXPECT_EQ(run.exitCode, 1) << c.fault << "\n" << run.output;
        const std::string trace = TraceFile();
        EXPECT_TRUE(Has(trace, c.line)) << c.fault << "\n" << trace;
        EXPECT_TRUE(Has(trace, "-> 31 01 80 3D | ReadModelCode addr 1\n")) << trace;
    }
}

TEST_F(CtlTrace, DashSendsTheLinesToStandardErrorAndAFileIsAppendedTo) {
    // Standard output thrown away: what remains is standard error.
    const CommandRun dash = RunCommand("( timeout 60 " + std::string(VQ31CTL_PATH) + " --port " +
                                       sim_.path() + " info --trace - 2>&1 >/dev/null )");
    ASSERT_EQ(dash.exitCode, 0) << dash.output;
    EXPECT_TRUE(Has(dash.output, "-> 31 01 80 3D | ReadModelCode addr 1\n")) << dash.output;
    EXPECT_FALSE(Has(dash.output, "model code:")) << dash.output;

    ASSERT_EQ(Ctl("--trace " + tracePath_ + " info").exitCode, 0);
    ASSERT_EQ(Ctl("--trace " + tracePath_ + " echo --mode 1").exitCode, 0);
    const std::string trace = TraceFile();
    EXPECT_TRUE(Has(trace, "ReadPassport")) << "the first run's lines are kept";
    EXPECT_TRUE(Has(trace, "| ReadOscillogram addr 1, ")) << trace;
    EXPECT_TRUE(Has(trace, " blocks | OK")) << trace;
}

TEST_F(CtlTrace, AnUnwritableTraceFileIsAUsageErrorBeforeTheDeviceIsAsked) {
    const CommandRun run = Ctl("--trace /nonexistent-folder/trace.txt info");
    EXPECT_EQ(run.exitCode, 2) << run.output;
    EXPECT_TRUE(Has(run.output, "cannot open the trace file /nonexistent-folder/trace.txt"))
        << run.output;
    EXPECT_EQ(sim_.State().counters.requests, 0u);
    EXPECT_EQ(Ctl("info --trace").exitCode, 2);
}

TEST_F(CtlTrace, StatsCountRequestsAnswersStatusesAndTheLastError) {
    const CommandRun good = Ctl("info --stats");
    ASSERT_EQ(good.exitCode, 0) << good.output;
    EXPECT_TRUE(Has(good.output, "requests 3, answers 3, broken 0, silent 0, refused 0"))
        << good.output;
    EXPECT_TRUE(Has(good.output, "exchanges 3: OK 3\n")) << good.output;
    EXPECT_TRUE(Has(good.output, "last error: none")) << good.output;

    sim_.Control("fault silent 1");
    const CommandRun silent = Ctl("--stats info");
    EXPECT_EQ(silent.exitCode, 1);
    EXPECT_TRUE(Has(silent.output, "requests 1, answers 0, broken 0, silent 1")) << silent.output;
    EXPECT_TRUE(Has(silent.output, "exchanges 1: no answer 1")) << silent.output;
    EXPECT_TRUE(Has(silent.output, "last error: ")) << silent.output;
    EXPECT_TRUE(Has(silent.output, "ReadModelCode addr 1, no answer byte for")) << silent.output;
}

} // namespace
} // namespace vq31::test
