// The window program's own command line, run as a separate process in an environment without
// a display: help and version are answered without one, and a start without one says how to
// get a virtual display instead of ending in the toolkit's platform message.
#include "../run_command.h"

#include <gtest/gtest.h>

#include <string>

namespace vq31::test {
namespace {

CommandRun Program(const std::string& words) {
    return RunCommand("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 60 " +
                      std::string(VQ31_PROGRAM_PATH) + " " + words);
}

TEST(ProgramCommandLine, HelpAndVersionNeedNoDisplay) {
    const CommandRun help = Program("--help");
    EXPECT_EQ(help.exitCode, 0) << help.output;
    for (const char* option : {"--port", "--baud", "--address", "--open", "--version"})
        EXPECT_NE(help.output.find(option), std::string::npos) << option << "\n" << help.output;
    EXPECT_EQ(help.output.find("platform plugin"), std::string::npos) << help.output;

    const CommandRun version = Program("--version");
    EXPECT_EQ(version.exitCode, 0) << version.output;
    EXPECT_NE(version.output.find(VQ31_VERSION_TEXT), std::string::npos) << version.output;
}

TEST(ProgramCommandLine, WithoutADisplayItSaysHowToStartItUnderXvfb) {
    const CommandRun run = Program("--port /dev/null");
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_NE(run.output.find("xvfb-run"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("platform plugin"), std::string::npos) << run.output;
}

} // namespace
} // namespace vq31::test
