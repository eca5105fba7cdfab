// The Windows path of the workbook reader's child process, run under Wine: this test program
// starts itself again for each named task. It has its own main, since a child must run its
// task before GoogleTest starts.
#include "child_process.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>

using namespace vq31::sheets;
using namespace std::chrono_literals;

namespace {

void RegisterTasks() {
    RegisterChildTask("echo", [](const std::string& argument, const ChildWrite& write) {
        return write("got:" + argument) ? 0 : 3;
    });
    RegisterChildTask("exit5", [](const std::string&, const ChildWrite&) { return 5; });
    RegisterChildTask("fault", [](const std::string&, const ChildWrite& write) {
        write("partial");
        volatile int* nowhere = nullptr;
        return *nowhere;
    });
    RegisterChildTask("hang", [](const std::string&, const ChildWrite&) {
        std::this_thread::sleep_for(1h);
        return 0;
    });
    RegisterChildTask("flood", [](const std::string&, const ChildWrite& write) {
        const std::string block(1 << 16, 'x');
        while (write(block)) {
        }
        return 0;
    });
}

ChildOutcome RunTask(const char* name, const std::string& argument = {},
                     std::chrono::milliseconds limit = 30s) {
    return RunInChild({name, argument, {}}, limit, 1 << 20);
}

} // namespace

TEST(ChildProcess, OutputAndExitCodeComeBackWithTheArgumentIntact) {
    // Spaces, quotes, backslashes and non-ASCII bytes must survive the command line.
    const std::string argument = "C:\\tanks \"Q3\"\\таблица 1.xls";
    const ChildOutcome echo = RunTask("echo", argument);
    ASSERT_EQ(echo.end, ChildOutcome::End::Exited);
    EXPECT_EQ(echo.exitCode, 0);
    EXPECT_EQ(echo.output, "got:" + argument);

    const ChildOutcome five = RunTask("exit5");
    ASSERT_EQ(five.end, ChildOutcome::End::Exited);
    EXPECT_EQ(five.exitCode, 5);
}

TEST(ChildProcess, FaultsHangsAndFloodsEndTheChildOnly) {
    EXPECT_EQ(RunTask("fault").end, ChildOutcome::End::Crashed);
    EXPECT_EQ(RunTask("hang", {}, 1s).end, ChildOutcome::End::TimedOut);
    EXPECT_EQ(RunTask("flood").end, ChildOutcome::End::TooLarge);
    EXPECT_EQ(RunTask("not-registered").end, ChildOutcome::End::NotStarted);
}

int main(int argc, char** argv) {
    RegisterTasks();
    if (const int code = RunChildTaskIfAsked(argc, argv); code >= 0)
        return code;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
