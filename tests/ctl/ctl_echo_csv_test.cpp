// vq31ctl echo --csv against the simulated sensor: the samples of one oscillogram record read
// back from the file, signed in the raw mode, and a file that cannot be written.
#include "ctl_sim_fixture.h"
#include "sim_server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace vq31::test {
namespace {

using CtlEchoCsv = CtlSimTest;

// Reads "index,value" lines after the header; false at the first line that is not one.
bool ReadSamples(const std::string& file, std::vector<std::string>& comments,
                 std::vector<long>& values) {
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line) && line.rfind('#', 0) == 0) {
        comments.push_back(line);
    }
    if (line != "index,value") {
        return false;
    }
    while (std::getline(in, line)) {
        long index = -1, value = 0;
        char comma = 0;
        std::istringstream fields(line);
        if (!(fields >> index >> comma >> value) || comma != ',' || index != long(values.size())) {
            return false;
        }
        values.push_back(value);
    }
    return true;
}

TEST_F(CtlEchoCsv, TheSamplesOfOneRecordReadBackWithItsSettings) {
    sim_.Control("level 600");
    const std::string envelope = dir_ + "/envelope.csv";
    const CommandRun run = Ctl("echo --csv " + envelope);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    std::vector<std::string> comments;
    std::vector<long> values;
    ASSERT_TRUE(ReadSamples(envelope, comments, values));
    EXPECT_NE(run.output.find(std::to_string(values.size()) + " samples written"),
              std::string::npos)
        << run.output;
    EXPECT_GT(values.size(), 1000u);
    ASSERT_EQ(comments.size(), 2u);
    EXPECT_NE(comments[0].find("# mode 1, frequency "), std::string::npos);
    EXPECT_NE(comments[1].find("level 600 mm"), std::string::npos) << comments[1];
    EXPECT_TRUE(std::all_of(values.begin(), values.end(), [](long v) { return v >= 0; }));

    // The raw waveform swings both ways.
    const std::string raw = dir_ + "/raw.csv";
    ASSERT_EQ(Ctl("echo --mode 2 --csv " + raw).exitCode, 0);
    comments.clear();
    values.clear();
    ASSERT_TRUE(ReadSamples(raw, comments, values));
    EXPECT_TRUE(std::any_of(values.begin(), values.end(), [](long v) { return v < 0; }));
}

TEST_F(CtlEchoCsv, AFileThatCannotBeWrittenFailsAndAMissingNameIsAUsageError) {
    const CommandRun run = Ctl("echo --csv " + dir_ + "/none/echo.csv");
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_NE(run.output.find("none"), std::string::npos);
    EXPECT_EQ(Ctl("echo --csv").exitCode, 2);
}

} // namespace
} // namespace vq31::test
