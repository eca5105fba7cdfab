// The main window's start-up, program and oscilloscope page handlers, page rules and resize
// limits, without a worker.
#include "echo_chart.h"
#include "language_keys.h"
#include "window_actions.h"
#include "window_rig.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#ifdef VQ31_HAVE_TARE_UI
#include "tare_editor.h"
#endif

namespace vq31::app::test {
namespace {

// --- start-up and settings file -------------------------------------------------------

TEST(WindowStartUp, WithoutSettingsFileShowsDefaultsAndWritesThem) {
    WindowRig rig;
    EXPECT_EQ(rig.w().CmbBaud->currentText(), "19200");
    EXPECT_EQ(rig.w().EditAddr->text(), "1");
    const std::string ini = rig.Settings();
    EXPECT_TRUE(Holds(ini, "NUM=1")) << ini;
    EXPECT_TRUE(Holds(ini, "BAUD=19200")) << ini;
    EXPECT_TRUE(Holds(ini, "ADDR=1")) << ini;
    EXPECT_EQ(rig.w().StatusPanel0->text(), "Статус порта: Порт закрыт");
    EXPECT_EQ(rig.w().StatusPanel1->text().toStdString(), rig.texts.DeviceStatus(0));
    EXPECT_EQ(rig.w().PcMain->currentIndex(), PageProgram);
    EXPECT_TRUE(rig.w().Chart().IsSeriesActive(EchoChart::Oscill));
    EXPECT_FALSE(rig.w().Chart().IsSeriesActive(EchoChart::Afc));
    EXPECT_FALSE(rig.w().Chart().IsSeriesActive(EchoChart::Integrator));
}

TEST(WindowStartUp, AStoredAddressOutsideTheBusIsSaidAndTheDefaultTaken) {
    WindowRig rig("[UART]\nNUM=1\nBAUD=9600\nADDR=300\n");
    EXPECT_EQ(rig.w().EditAddr->text(), "1");
    EXPECT_EQ(Get(rig.params.DeviceAddress), 1);
    EXPECT_TRUE(Holds(rig.Settings(), "ADDR=1")) << rig.Settings();
    ASSERT_EQ(rig.boxes.shown.size(), 1u);
    EXPECT_TRUE(rig.boxes.shown[0].text.contains("300")) << rig.boxes.shown[0].text.toStdString();
    EXPECT_EQ(rig.w().CmbBaud->currentText(), "9600");
}

TEST(WindowStartUp, SpeedNotInTheListLeavesNoSelectionButKeepsTheSpeed) {
    WindowRig rig("[UART]\nBAUD=1200\n");
    EXPECT_EQ(rig.w().CmbBaud->currentIndex(), -1);
    EXPECT_EQ(Get(rig.params.BaudRate), 1200);
}

TEST(WindowStartUp, UnlistedPortKeepsItsNumberAndStoredNameWins) {
    WindowRig rig("[UART]\nNUM=7\nPORT=/dev/ttyNOSUCH9\n");
    EXPECT_EQ(Get(rig.params.PortNumber), 7);
    EXPECT_EQ(rig.params.PortName(), "/dev/ttyNOSUCH9");
    EXPECT_EQ(rig.w().CmbCom->findText("/dev/ttyNOSUCH9"), -1);
    EXPECT_EQ(rig.w().CmbCom->currentText(), "/dev/ttyNOSUCH9");
}

TEST(WindowStartUp, UnlistedPortNumberShowsNoPort) {
    WindowRig rig("[UART]\nNUM=77\n");
    EXPECT_EQ(Get(rig.params.PortNumber), 77);
    EXPECT_EQ(rig.w().CmbCom->currentIndex(), -1);
    EXPECT_TRUE(rig.w().CmbCom->currentText().isEmpty());
}

TEST(WindowStartUp, EveryControlCarriesItsComponentName) {
    WindowRig rig;
    for (const char* name :
         {"PcMain", "TsProgram", "TsOscill", "TsTara", "TsSettings", "CmbCom", "EditAddr",
          "BtnSearchDevice", "TbFreq", "CmbFiltr", "SbPre", "ChkTestDisplay16", "Chart1",
          "CmbHubTankID", "BtnTanksExp", "EditFuelKu", "BtnParamsWrite", "RepAutoPeriod"})
        EXPECT_NE(rig.w().findChild<QWidget*>(name), nullptr) << name;
    EXPECT_EQ(rig.w().findChild<QWidget*>("ChkTestDisplay7"), nullptr);
    EXPECT_EQ(rig.w().windowTitle(), "vQ31 Install Service v.2.0.0.8");
}

TEST(WindowStartUp, EveryCaptionedControlShowsItsBuiltInCaption) {
    // The caption table is what the shipped language file is checked against; the window
    // must show the same texts when no language file replaces them.
    WindowRig rig;
    for (const KeyText& entry : MainWindowCaptions()) {
        QWidget* w = rig.w().findChild<QWidget*>(entry.key);
        ASSERT_NE(w, nullptr) << entry.key;
        QString caption;
        if (auto* label = qobject_cast<QLabel*>(w))
            caption = label->text();
        else if (auto* button = qobject_cast<QAbstractButton*>(w))
            caption = button->text();
        else if (auto* group = qobject_cast<QGroupBox*>(w))
            caption = group->title();
        else if (auto* tabs = qobject_cast<QTabWidget*>(w->parentWidget()->parentWidget()))
            caption = tabs->tabText(tabs->indexOf(w)); // a page: its tab's text
        EXPECT_EQ(caption, QString::fromUtf8(entry.text)) << entry.key;
    }
}

// --- program page -----------------------------------------------------------------------

TEST(ProgramPage, AddressTextThatIsNotANumberGivesTheStoredAddressBack) {
    WindowRig rig;
    rig.w().EditAddr->setText("17");
    for (const char* text : {"", "-", "abc"}) {
        rig.w().EditAddr->setText(text);
        EXPECT_EQ(rig.w().EditAddr->text(), "17") << '"' << text << '"';
    }
    EXPECT_EQ(Get(rig.params.DeviceAddress), 17);
}

TEST(ProgramPage, SpinArrowsStepTheAddressAndStopAtTheBusRange) {
    WindowRig rig;
    rig.w().EditAddr->setText("254");
    rig.w().SbAddrUp->click();
    EXPECT_EQ(rig.w().EditAddr->text(), "254");
    EXPECT_EQ(Get(rig.params.DeviceAddress), 254);
    rig.w().EditAddr->setText("0");
    rig.w().SbAddrDown->click();
    EXPECT_EQ(rig.w().EditAddr->text(), "0");
    EXPECT_EQ(Get(rig.params.DeviceAddress), 0);
    EXPECT_EQ(rig.boxes.shown.size(), 2u); // each refusal names the range
}

TEST(ProgramPage, TypedPortPathIsStoredByNameAndSaved) {
    WindowRig rig;
    rig.w().CmbCom->setEditText("/dev/ttyUSB3");
    rig.w().CmbComChange();
    EXPECT_EQ(rig.params.PortName(), "/dev/ttyUSB3");
    EXPECT_EQ(Get(rig.params.PortNumber), 3);
    EXPECT_TRUE(Holds(rig.Settings(), "PORT=/dev/ttyUSB3")) << rig.Settings();
    EXPECT_TRUE(Holds(rig.Settings(), "NUM=3"));
}

// A network gateway typed into the port box is kept as typed, with no port number taken from
// its TCP port, and comes back from the settings file at the next start; when its connection
// drops, Reconnect is offered at once (there is no device node to watch for).
TEST(ProgramPage, TypedGatewayNamesAreStoredAsTheyStandAndRemembered) {
    for (const std::string name :
         {"rfc2217://127.0.0.1:7000", "tcp://depot-gw:4001", "rfc2217://[::1]:7000"}) {
        WindowRig rig;
        rig.w().CmbCom->setEditText(QString::fromStdString(name));
        rig.w().CmbComChange();
        EXPECT_EQ(rig.params.PortName(), name);
        EXPECT_EQ(Get(rig.params.PortNumber), 0) << name;
        EXPECT_TRUE(Holds(rig.Settings(), "PORT=" + name)) << rig.Settings();

        WindowRig again(rig.Settings());
        EXPECT_EQ(again.params.PortName(), name);
        EXPECT_EQ(again.w().CmbCom->currentText().toStdString(), name);
        again.w().PortVanished(QString::fromStdString(name));
        EXPECT_FALSE(again.w().BtnReconnect->isHidden()) << name;
    }
}

TEST(ProgramPage, NoPortChosenClearsTheNumberAndSavesNothing) {
    WindowRig rig("[UART]\nNUM=4\nPORT=/dev/ttyUSB4\n");
    EXPECT_EQ(rig.params.PortName(), "/dev/ttyUSB4");
    const std::string before = rig.Settings();
    rig.w().CmbCom->setEditText("");
    rig.w().CmbComChange();
    EXPECT_EQ(Get(rig.params.PortNumber), 0);
    EXPECT_EQ(rig.params.PortName(), "COM0"); // the port shown before is not opened
    EXPECT_EQ(rig.Settings(), before);
}

TEST(ProgramPage, SpeedChoiceIsStoredAndSaved) {
    WindowRig rig;
    Choose(rig.w().CmbBaud, rig.w().CmbBaud->findText("57600"));
    EXPECT_EQ(Get(rig.params.BaudRate), 57600);
    EXPECT_TRUE(Holds(rig.Settings(), "BAUD=57600"));
}

TEST(ProgramPage, PortButtonsPostConnectDisconnectAndSearch) {
    WindowRig rig;
    rig.w().BtnPortOpen->click();
    rig.w().BtnPortClose->click();
    rig.w().BtnSearchDevice->click();
    EXPECT_EQ(rig.posts, (std::vector<int>{1, 2, 3}));
}

// --- pages and locks ----------------------------------------------------------------------

TEST(MainPages, EachPageTabPostsTheJobThatLoadsIt) {
    WindowRig rig;
    rig.window->show();
    for (int page : {1, 2, 3, 0})
        ClickTab(rig.w().PcMain, page);
    EXPECT_EQ(rig.posts, (std::vector<int>{4, 21, 19, 0}));
}

TEST(MainPages, LockedPagesRefuseTheUsersChangeAndPostNothing) {
    WindowRig rig;
    rig.window->show();
    rig.w().SetMainPagesLocked(true);
    ClickTab(rig.w().PcMain, 2);
    EXPECT_EQ(rig.w().PcMain->currentIndex(), 0);
    EXPECT_TRUE(rig.posts.empty());
    rig.w().SetMainPage(2); // the worker's own page changes still happen, silently
    EXPECT_EQ(rig.w().PcMain->currentIndex(), 2);
    EXPECT_TRUE(rig.posts.empty());
}

TEST(MainPages, TuningLockKeepsTheInnerTabs) {
    WindowRig rig;
    rig.window->show();
    rig.w().SetMainPage(PageOscill);
    rig.w().SetLiveView(false);
    ClickTab(rig.w().PcPulse, 3);
    EXPECT_EQ(rig.w().PcPulse->currentIndex(), 0);
    EXPECT_TRUE(rig.w().MainPagesLocked());
    rig.w().SetLiveView(true);
    ClickTab(rig.w().PcPulse, 3);
    EXPECT_EQ(rig.w().PcPulse->currentIndex(), 3);
}

TEST(MainPages, UnlockingEnablesTableAndHeightByTankId) {
    WindowRig rig;
    struct Case {
        int tankId;
        bool table;
        bool height;
    };
    for (Case c : {Case{0, false, true}, Case{1, true, true}, Case{5, true, false}}) {
        rig.w().LockControls();
        EXPECT_FALSE(rig.w().BtnPortOpen->isEnabled());
        EXPECT_TRUE(rig.w().MainPagesLocked());
        rig.w().UnlockControls(c.tankId);
        EXPECT_EQ(rig.w().BtnHubTareTable->isEnabled(), c.table) << c.tankId;
        EXPECT_EQ(rig.w().CmbHubMlPerBit->isEnabled(), c.table) << c.tankId;
        EXPECT_EQ(rig.w().SpinHubTankHeight->isEnabled(), c.height) << c.tankId;
        EXPECT_TRUE(rig.w().PcMain->isEnabled());
        EXPECT_FALSE(rig.w().MainPagesLocked());
    }
}

TEST(MainWindowSize, SmallerThanTheLimitsIsRefusedAndTheChartFillsThePage) {
    EXPECT_FALSE(MainWindow::CanResize(808, 600));
    EXPECT_FALSE(MainWindow::CanResize(900, 399));
    EXPECT_TRUE(MainWindow::CanResize(809, 400));
    WindowRig rig;
    rig.window->show();
    rig.window->resize(100, 100);
    EXPECT_GE(rig.window->width(), MinWindowWidth - 17);
    EXPECT_GE(rig.window->height(), MinWindowHeight - 39);
    rig.window->resize(900, 700);
    QWidget* chart = rig.w().findChild<QWidget*>("Chart1");
    ASSERT_NE(chart, nullptr);
    EXPECT_EQ(chart->y(), ChartTop);
    EXPECT_EQ(chart->height(), rig.window->height() - ChartHeightReserve);
    rig.w().SetMainPage(PageOscill);
    QApplication::processEvents();
    EXPECT_EQ(chart->width(), rig.w().TsOscill->width());
}

// --- oscilloscope page ----------------------------------------------------------------------

// A typed value outside the slider's range is refused with the range; it is never written
// as the nearest end of it.
TEST(OscillPage, TypedValuesPastTheRangeAreRefusedWithTheRange) {
    WindowRig rig;
    struct Case {
        QLineEdit* edit;
        QSlider* slider;
        const char* text;
        const char* message;
    };
    const Case cases[] = {
        {rig.w().EditFreq, rig.w().TbFreq, "5000",
         "Значение 5000 вне допустимого диапазона 500..4000"},
        {rig.w().EditFreq, rig.w().TbFreq, "2", "Значение 2 вне допустимого диапазона 500..4000"},
        {rig.w().EditPulse, rig.w().TbPulse, "250",
         "Значение 250 вне допустимого диапазона 0..200"},
        {rig.w().EditPulse, rig.w().TbPulse, "-5", "Значение -5 вне допустимого диапазона 0..200"},
    };
    for (const Case& c : cases) {
        rig.boxes.shown.clear();
        const int before = c.slider->value();
        c.edit->setText(c.text);
        // "-5" is no acceptable text for the digits-only field, so Enter does nothing there:
        // the button takes it.
        (c.edit == rig.w().EditFreq ? rig.w().BtnFreq : rig.w().BtnPulse)->click();
        ASSERT_EQ(rig.boxes.shown.size(), 1u) << c.text;
        EXPECT_EQ(rig.boxes.shown[0].text.toStdString(), c.message);
        EXPECT_EQ(c.slider->value(), before) << c.text;
    }
    // Text that is no number gets the conversion message.
    rig.boxes.shown.clear();
    rig.w().EditFreq->setText("2k");
    rig.w().BtnFreq->click();
    ASSERT_EQ(rig.boxes.shown.size(), 1u);
    EXPECT_EQ(rig.boxes.shown[0].text, "'2k' is not a valid integer value");
    EXPECT_TRUE(rig.posts.empty());
}

TEST(OscillPage, PulseWidthInRangeIsPostedByTheMoveAndTheButton) {
    WindowRig rig;
    rig.w().EditPulse->setText("150");
    QTest::keyClick(rig.w().EditPulse, Qt::Key_Return);
    EXPECT_EQ(rig.w().TbPulse->value(), 150);
    EXPECT_EQ(rig.w().EditPulse->text(), "150");
    EXPECT_EQ(Get(rig.params.PulseWidth), 150);
    // The slider's own handler runs on the move, then the button runs it again.
    EXPECT_EQ(rig.posts, (std::vector<int>{15, 15}));

    // A value the slider already holds does not move it: the button's run is the only one.
    rig.posts.clear();
    rig.w().BtnPulse->click();
    EXPECT_EQ(rig.posts, (std::vector<int>{15}));

    rig.posts.clear();
    rig.w().EditFreq->setText("3000");
    QTest::keyClick(rig.w().EditFreq, Qt::Key_Return);
    EXPECT_EQ(Get(rig.params.PulseFrequency), 3000);
    EXPECT_EQ(rig.posts, (std::vector<int>{9}));
}

TEST(OscillPage, FilterFollowsTheFrequencyToTheNearestListItem) {
    WindowRig rig;
    Choose(rig.w().CmbFiltr, rig.w().CmbFiltr->findText("1000"));
    EXPECT_EQ(rig.w().TbFiltr->value(), 1000);
    rig.w().TbFreq->setValue(2340);
    EXPECT_EQ(rig.w().TbFiltr->value(), 2340);
    EXPECT_EQ(rig.w().CmbFiltr->currentText(), "2350");
    EXPECT_EQ(Get(rig.params.FilterFrequency), 2340);
    EXPECT_EQ(rig.posts, (std::vector<int>{10, 9}));
}

TEST(OscillPage, WideBandFilterStaysWhenTheFrequencyMoves) {
    WindowRig rig;
    Choose(rig.w().CmbFiltr, 0);
    EXPECT_EQ(Get(rig.params.FilterFrequency), 450);
    rig.w().TbFreq->setValue(1500);
    EXPECT_EQ(rig.w().TbFiltr->value(), 450);
    EXPECT_EQ(rig.w().CmbFiltr->currentText(), "WideBand");
    EXPECT_EQ(Get(rig.params.FilterFrequency), 450);
}

TEST(OscillPage, FilterIndexPicksTheNearestItemAndTheHigherOnATie) {
    const std::pair<int, int> cases[] = {{450, 0},   {474, 0},   {475, 1},  {500, 1},
                                         {2340, 38}, {3999, 71}, {4000, 71}};
    for (auto [position, index] : cases)
        EXPECT_EQ(MainWindow::FilterIndex(position), index) << position;
}

TEST(OscillPage, GainWordCarriesBothListIndices) {
    WindowRig rig;
    rig.w().CmbKuMax->setCurrentIndex(10);
    Choose(rig.w().CmbKu, 25);
    EXPECT_EQ(Get(rig.params.GainWord), 2585);
    EXPECT_EQ(rig.posts, (std::vector<int>{11}));
}

TEST(OscillPage, GainWithNoCeilingChosenYetKeepsTheCeilingByteZero) {
    // Before the device's values are shown the ceiling list has no selection; its byte is
    // sent as 0 rather than spilling a negative index over the whole word.
    WindowRig rig;
    ASSERT_EQ(rig.w().CmbKuMax->currentIndex(), -1);
    Choose(rig.w().CmbKu, 12);
    EXPECT_EQ(Get(rig.params.GainWord), 12);
}

TEST(OscillPage, AttenuatorOnSendsThirty) {
    WindowRig rig;
    Choose(rig.w().CmbAtten, 1);
    EXPECT_EQ(Get(rig.params.Attenuation), 30);
    EXPECT_EQ(rig.posts, (std::vector<int>{12}));
}

TEST(OscillPage, IntegratorWordKeepsThresholdHighAndDeadZoneLowSixteenBits) {
    WindowRig rig;
    rig.w().EditIntegrateTreshold->setText("100");
    rig.w().EditIntegrateDeadzone->setText("20");
    rig.w().BtnSetIntegrator->click();
    EXPECT_EQ(uint32_t(Get(rig.params.IntegratorWord)), (100u << 16) | 20u);
    rig.w().EditIntegrateTreshold->setText("65537");
    rig.w().EditIntegrateDeadzone->setText("65540");
    rig.w().BtnSetIntegrator->click();
    EXPECT_EQ(uint32_t(Get(rig.params.IntegratorWord)), (1u << 16) | 4u);
    EXPECT_EQ(rig.posts, (std::vector<int>{16, 16}));
}

TEST(OscillPage, ConversionErrorShowsTheMessageAndChangesNothing) {
    WindowRig rig;
    Put(rig.params.IntegratorWord, 77);
    rig.w().EditIntegrateTreshold->setText("abc");
    rig.w().EditIntegrateDeadzone->setText("20");
    rig.w().BtnSetIntegrator->click();
    ASSERT_EQ(rig.boxes.shown.size(), 1u);
    EXPECT_EQ(rig.boxes.shown[0].kind, "error");
    EXPECT_TRUE(rig.boxes.shown[0].text.contains("abc"));
    EXPECT_EQ(Get(rig.params.IntegratorWord), 77);

    rig.w().EditFreq->setText("");
    rig.w().BtnFreq->click();
    EXPECT_EQ(rig.w().TbFreq->value(), 500);
    EXPECT_EQ(rig.boxes.shown.size(), 2u);
    EXPECT_TRUE(rig.posts.empty());
}

TEST(OscillPage, SweepStoresTheFieldsBeforeAFailingOneAndDoesNotStart) {
    WindowRig rig;
    rig.w().EditAfcDeadZone->setText("3000");
    rig.w().EditAfcBandwidth->setText("500");
    rig.w().EditDAfc->setText("x");
    rig.w().BtnAFC->click();
    EXPECT_EQ(Get(rig.params.AfcStart), 3000);
    EXPECT_EQ(Get(rig.params.AfcWidth), 500);
    EXPECT_EQ(Get(rig.params.AfcStep), 20);
    EXPECT_TRUE(rig.posts.empty());
    rig.w().EditDAfc->setText("40");
    rig.w().BtnAFC->click();
    EXPECT_EQ(Get(rig.params.AfcStep), 40);
    EXPECT_EQ(rig.posts, (std::vector<int>{17}));
}

TEST(OscillPage, TuningButtonsFormOneGroupAndReleasingPostsModeZero) {
    WindowRig rig;
    rig.w().SetBarAdvanceTime(1234);
    rig.w().SbPre->click();
    EXPECT_EQ(Get(rig.params.TuneMode), 134);
    EXPECT_EQ(rig.w().BarAdvanceTime(), 0u);
    rig.w().SbAfc->click();
    EXPECT_FALSE(rig.w().SbPre->isChecked());
    EXPECT_EQ(Get(rig.params.TuneMode), 135);
    rig.w().SbAfc->click();
    EXPECT_FALSE(rig.w().SbAfc->isChecked());
    EXPECT_EQ(Get(rig.params.TuneMode), 0);
    EXPECT_EQ(rig.posts, (std::vector<int>{6, 6, 6}));
}

TEST(OscillPage, DisplayTestButtonsStartAndStopTheTest) {
    WindowRig rig;
    rig.w().SbDplTestAuto->click();
    EXPECT_EQ(Get(rig.params.DisplayTestPattern), 256);
    rig.w().SbDplTestManual->click();
    EXPECT_FALSE(rig.w().SbDplTestAuto->isChecked());
    rig.w().SbDplTestManual->click();
    EXPECT_EQ(rig.posts, (std::vector<int>{18, 18, 5}));
}

TEST(OscillPage, ModeChoiceSetsTheModeAndTheLeftAxis) {
    WindowRig rig;
    Choose(rig.w().CmbOscillMode, 1);
    EXPECT_EQ(Get(rig.params.OscillMode), 2);
    EXPECT_EQ(rig.w().Chart().LeftMin(), -32000);
    EXPECT_EQ(rig.w().Chart().LeftMax(), 32000);
    Choose(rig.w().CmbOscillMode, 0);
    EXPECT_EQ(rig.w().Chart().LeftMin(), 0);
    EXPECT_TRUE(rig.posts.empty());
}

TEST(OscillPage, LegendBoxesSwitchSeriesOnAndOff) {
    WindowRig rig;
    rig.w().Chart().LegendBox(EchoChart::Afc)->click();
    EXPECT_TRUE(rig.w().Chart().IsSeriesActive(EchoChart::Afc));
    rig.w().Chart().LegendBox(EchoChart::Oscill)->click();
    EXPECT_FALSE(rig.w().Chart().IsSeriesActive(EchoChart::Oscill));
}

// --- oscilloscope chart export ---------------------------------------------------------------

// The chart as a picture at its shown size and its points as CSV, through the two buttons
// under the legend; a hidden series is left out of the points, a failed write is reported.
TEST(OscillChart, SavesThePictureAtItsSizeAndThePointsOfTheShownSeries) {
    WindowRig rig;
    rig.window->resize(1000, 700);
    rig.window->show();
    EchoChart& chart = rig.w().Chart();
    const int16_t samples[] = {5, -7, 300};
    chart.SetOscillogram(samples, 2);
    const uint32_t envelope[] = {1, 2};
    const uint8_t high[] = {0, 1};
    chart.SetIntegrator(envelope, high);
    chart.SetSeriesActive(EchoChart::Integrator, false);

    rig.boxes.saveFile = rig.dir.filePath("echo"); // the ending is added
    chart.PictureButton()->click();
    const QImage image(rig.dir.filePath("echo.png"));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), chart.Picture().size());
    EXPECT_GT(image.width(), 100);

    rig.boxes.saveFile = rig.dir.filePath("echo.csv");
    chart.PointsButton()->click();
    EXPECT_EQ(ReadText(rig.dir.filePath("echo.csv")),
              "series,index,x,y\nOscill,0,0,5\nOscill,1,2,-7\nOscill,2,4,300\n");
    chart.SetSeriesActive(EchoChart::Integrator, true);
    chart.PointsButton()->click();
    EXPECT_NE(ReadText(rig.dir.filePath("echo.csv")).find("Integrator,1,10,2\n"),
              std::string::npos);
    EXPECT_TRUE(rig.boxes.shown.empty());

    rig.boxes.saveFile = rig.dir.filePath("none/echo.csv");
    chart.PointsButton()->click();
    ASSERT_EQ(rig.boxes.shown.size(), 1u);
    EXPECT_TRUE(rig.boxes.shown[0].text.startsWith(QStringLiteral("Не удалось записать файл: ")));
    rig.boxes.saveFile.clear(); // cancelled: nothing happens
    chart.PictureButton()->click();
    EXPECT_EQ(rig.boxes.shown.size(), 1u);
}

} // namespace
} // namespace vq31::app::test
