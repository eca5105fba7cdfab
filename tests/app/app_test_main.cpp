// Test entry for the window tests: one offscreen application for every test.
#include <QApplication>

#include <clocale>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // A regional format with digit grouping, so that number texts meet it; the C library
    // keeps its own "C" numbers.
    qputenv("LC_ALL", "en_US.UTF-8");
    QApplication app(argc, argv);
    std::setlocale(LC_ALL, "C");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
