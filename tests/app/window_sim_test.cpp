// The main window's progress and results against the simulated sensor over a real
// pseudo-terminal: the sweep's stop, the search's speed, cancel and causes, the port held
// by another program, and the word after a write.
#include "program_rig.h"

#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QToolButton>

#include <gtest/gtest.h>

namespace vq31::app::test {
namespace {

TEST(WindowWithSensor, TheSweepStopsOnItsButtonAndTheUsersFrequencyComesBack) {
    ProgramRig rig;
    ASSERT_TRUE(rig.Connect());
    rig.w().BtnAFC->click();
    ASSERT_TRUE(rig.WaitFor([&] { return rig.server.State().sweeping; }));
    ASSERT_TRUE(rig.WaitFor([&] { return rig.w().Chart().PointCount(EchoChart::Afc) > 2; }));
    EXPECT_TRUE(rig.w().BtnAfcStop->isEnabled());
    // The progress line follows the device's present frequency.
    const QString progress = rig.w().LblAfcProgress->text();
    EXPECT_TRUE(progress.contains(QString::number(
        int(rig.w()
                .Chart()
                .Point(EchoChart::Afc, rig.w().Chart().PointCount(EchoChart::Afc) - 1)
                .x()))))
        << progress.toStdString();
    rig.w().BtnAfcStop->click();
    EXPECT_TRUE(rig.WaitFor([&] { return !rig.w().Sweeping(); }));
    EXPECT_FALSE(rig.server.State().sweeping);
    EXPECT_EQ(rig.server.State().signal.frequency, 2000);
    EXPECT_FALSE(rig.w().BtnAfcStop->isEnabled());
    EXPECT_TRUE(rig.boxes.shown.empty()) << rig.boxes.shown[0].text.toStdString();
}

TEST(WindowWithSensor, ASearchSaysWhichSpeedItTriesAndStopsWhenCancelled) {
    ProgramRig rig;
    rig.server.Control("fault silent 100000");
    rig.w().BtnSearchDevice->click();
    ASSERT_TRUE(rig.WaitFor([&] { return rig.w().StatusPanel1->text().contains("бит/с"); }))
        << rig.w().StatusPanel1->text().toStdString();
    EXPECT_TRUE(rig.w().BtnSearchCancel->isVisible());
    rig.w().BtnSearchCancel->click();
    EXPECT_TRUE(rig.WaitFor([&] { return !rig.w().Searching(); }));
    EXPECT_TRUE(rig.WaitFor([&] { return rig.w().BtnSearchDevice->isEnabled(); }));
    EXPECT_FALSE(rig.program->Link().IsOpen());
    EXPECT_TRUE(rig.boxes.shown.empty()) << rig.boxes.shown[0].text.toStdString();
}

TEST(WindowWithSensor, ASearchThatFindsNothingNamesTheLikelyCauses) {
    ProgramRig rig;
    rig.server.Control("fault silent 100000");
    rig.w().BtnSearchDevice->click();
    ASSERT_TRUE(rig.WaitFor([&] { return !rig.boxes.shown.empty(); }));
    EXPECT_TRUE(rig.boxes.shown[0].text.contains("A и B")) << rig.boxes.shown[0].text.toStdString();
    EXPECT_TRUE(rig.boxes.shown[0].text.contains("255"));
}

// Another program holds the port with an advisory lock (as a second copy of this tool or
// vq31ctl would); for root the exclusive mode alone would not stop the open.
TEST(WindowWithSensor, APortHeldByAnotherProgramIsRefusedAsInUse) {
    ProgramRig rig;
    QProcess other;
    other.start("flock", {QString::fromStdString(rig.server.path()), "sleep", "30"});
    ASSERT_TRUE(other.waitForStarted());
    QTest::qWait(300);
    rig.w().BtnPortOpen->click();
    ASSERT_TRUE(rig.WaitFor([&] { return !rig.boxes.shown.empty(); }));
    EXPECT_TRUE(rig.boxes.shown[0].text.contains("in use"))
        << rig.boxes.shown[0].text.toStdString();
    EXPECT_FALSE(rig.program->Link().IsOpen());
    other.kill();
    other.waitForFinished();
}

TEST(WindowWithSensor, AWriteThatSucceededIsSaidInTheStatusBar) {
    ProgramRig rig;
    ASSERT_TRUE(rig.Connect());
    rig.ClickTab(PageSettings);
    ASSERT_TRUE(rig.WaitFor([&] {
        return !rig.w().EditDate->text().isEmpty() && rig.w().BtnParamsWrite->isEnabled();
    }));
    rig.Settle();
    rig.w().RepAutoPeriod->setValue(17);
    rig.w().BtnParamsWrite->click();
    EXPECT_TRUE(rig.WaitFor([&] { return rig.w().StatusResult->text().contains("Настройки"); }))
        << rig.w().StatusResult->text().toStdString();
    EXPECT_TRUE(rig.boxes.shown.empty());
}

TEST(WindowWithSensor, TuningStepOneSaysHowItEndsAndTheDisplayTestGivesTheDisplayBack) {
    ProgramRig rig;
    ASSERT_TRUE(rig.Connect());
    rig.Settle();
    rig.w().SbPre->click();
    EXPECT_TRUE(rig.WaitFor([&] { return rig.w().LblTuneHint->text().contains("ещё раз"); }))
        << rig.w().LblTuneHint->text().toStdString();
    ASSERT_TRUE(rig.WaitFor([&] { return rig.w().SbPre->isEnabled(); }));
    rig.w().SbPre->click();
    EXPECT_TRUE(rig.WaitFor(
        [&] { return rig.server.State().mode == 0 && rig.w().LblTuneHint->text().isEmpty(); }));
    rig.Settle();
    rig.w().SbDplTestAuto->click();
    ASSERT_TRUE(rig.WaitFor([&] { return rig.server.State().displayMask != 0; }));
    ASSERT_TRUE(rig.WaitFor([&] { return rig.w().SbDplTestAuto->isEnabled(); }));
    rig.w().SbDplTestAuto->click();
    EXPECT_TRUE(rig.WaitFor([&] { return rig.server.State().displayMask == 0; }))
        << "the display keeps test mask " << rig.server.State().displayMask;
}

} // namespace
} // namespace vq31::app::test
