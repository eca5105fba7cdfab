// Test entry for the tare windows: one offscreen application for every test, with a German
// regional format so that the windows' numbers carry a decimal comma.
#include <QApplication>

#include <clocale>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // QLocale::system() reads this; the C library keeps its own "C" numbers (set back below).
    qputenv("LC_ALL", "de_DE.UTF-8");
    qputenv("LC_NUMERIC", "de_DE.UTF-8");
    QApplication app(argc, argv);
    std::setlocale(LC_ALL, "C");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
