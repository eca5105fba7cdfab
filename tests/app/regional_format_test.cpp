// The window in a regional format whose decimal separator is a comma: decimals are shown and
// read in that format, while the C library keeps the point that the worker's texts and the
// workbook writers rely on.
#include "echo_format.h"
#include "qt_worker_view.h"
#include "window_rig.h"

#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#ifndef _WIN32
#include <locale.h>
#endif

namespace vq31::app::test {
namespace {

struct ViewRig : WindowRig {
    QtWorkerView view{*window};
};

TEST(RegionalFormat, EchoDecimalsAreShownWithTheRegionalComma) {
    ASSERT_EQ(QLocale::system().decimalPoint(), ",");
    ViewRig rig;
    EchoStatusRecord status{};
    status[echo::PulseWidth] = 125;
    status[echo::Temperature] = uint16_t(int16_t(-1280));
    EchoFrame frame;
    frame.mode = 1;
    frame.labels = FormatEchoLabels(status, rig.texts);
    frame.fields = FormatEchoFields(status, rig.texts);
    EXPECT_EQ(frame.labels.pulse, "12.5"); // the worker's own texts keep the point
    rig.view.ShowEcho(frame);              // on the window thread: runs at once
    EXPECT_EQ(rig.w().LblPulse->text(), "12,5");
    EXPECT_EQ(rig.w().EditTemp->text(), "-5,0");
}

TEST(RegionalFormat, FuelNumbersAreShownAndReadWithTheRegionalComma) {
    ViewRig rig;
    ParameterView v;
    v.fuelTypeIndex = 0;
    v.fuelEditsEnabled = true;
    v.fuelTempCoef = 0.25f;
    v.fuelSoundSpeed = 1320.5f;
    rig.view.ShowParameters(v);
    EXPECT_EQ(rig.w().EditFuelKu->text(), "0,25");
    EXPECT_EQ(rig.w().EditFuelOfs->text(), "1320,5");
    const ParameterChoice c = rig.view.CollectParameters();
    EXPECT_FLOAT_EQ(c.fuelTempCoef, 0.25f);
    EXPECT_FLOAT_EQ(c.fuelSoundSpeed, 1320.5f);

    rig.w().EditFuelKu->setText("0,75");
    rig.w().EditFuelOfs->setText("1400,5");
    rig.w().BtnParamsWrite->click();
    EXPECT_TRUE(rig.boxes.shown.empty());
    EXPECT_FLOAT_EQ(Get(rig.params.FuelTempCoef), 0.75f);
    EXPECT_FLOAT_EQ(Get(rig.params.FuelSoundSpeed), 1400.5f);
    EXPECT_EQ(rig.posts, (std::vector<int>{20}));
}

#ifndef _WIN32
TEST(RegionalFormat, CLibraryKeepsThePointAfterTheApplicationStarted) {
    // Only meaningful where the C library has the comma locale that the application took
    // from the environment; without it the C library could never have changed.
    locale_t comma = newlocale(LC_NUMERIC_MASK, VQ31_TEST_LOCALE, locale_t(nullptr));
    if (comma == locale_t(nullptr))
        GTEST_SKIP() << VQ31_TEST_LOCALE << " is not installed";
    freelocale(comma);
    EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
    char text[16];
    std::snprintf(text, sizeof text, "%.1f", 2.5);
    EXPECT_STREQ(text, "2.5");
}
#endif

} // namespace
} // namespace vq31::app::test
