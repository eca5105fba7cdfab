// Test entry for the window tests: one offscreen application for every test, in the regional
// format the binary was built for (digit grouping by default; a comma separator for the
// regional-format tests). The C library keeps the "C" number format, as in the program.
#include "program.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#ifndef VQ31_TEST_LOCALE
#define VQ31_TEST_LOCALE "en_US.UTF-8"
#endif

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("LC_ALL", VQ31_TEST_LOCALE);
    QApplication app(argc, argv);
    vq31::app::KeepCNumberFormat();
    // The snapshots the write jobs save go to a folder of this run, never the user's own.
    char dataHome[] = "/tmp/vq31-app-test-data-XXXXXX";
    if (mkdtemp(dataHome) == nullptr)
        return 1;
    setenv("XDG_DATA_HOME", dataHome, 1);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    std::error_code ec;
    std::filesystem::remove_all(dataHome, ec);
    return result;
}
