// The whole program (window, worker view, worker, link) against the simulated sensor over a
// real pseudo-terminal, driven through the window's controls.
#include "echo_chart.h"
#include "main_window.h"
#include "program.h"
#include "program_rig.h"
#include "qt_worker_view.h"
#include "sim_server.h"
#include "window_rig.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include "snapshot_dialog.h"

#include <QCheckBox>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>

#include <chrono>
#include <thread>

#ifdef VQ31_HAVE_TARE_UI
#include "tare_editor.h"
#endif

#include <gtest/gtest.h>

namespace vq31::app::test {
namespace {

TEST(ProgramWithSensor, OpeningThePortIdentifiesAndPollsTheOscilloscopePage) {
    ProgramRig rig;
    ASSERT_TRUE(rig.Connect());
    LanguageTexts texts;
    EXPECT_EQ(rig.w().StatusPanel0->text().toStdString(), texts.PortStatus(PortOpened));
    EXPECT_EQ(rig.w().StatusPanel1->text().toStdString(), texts.DeviceStatus(StatusOk));
    EXPECT_EQ(rig.w().TbFreq->value(), 2000);
    EXPECT_EQ(rig.w().LblFreq->text(), "2000");
    EXPECT_EQ(rig.w().Chart().Point(EchoChart::Oscill, 0).y(), 0); // envelope starts at 0
    EXPECT_TRUE(rig.boxes.shown.empty());
}

TEST(ProgramWithSensor, ClosingThePortShowsItClosedOnTheProgramPage) {
    ProgramRig rig;
    ASSERT_TRUE(rig.Connect());
    rig.w().BtnPortClose->click();
    LanguageTexts texts;
    EXPECT_TRUE(rig.WaitFor([&] {
        return rig.w().PcMain->currentIndex() == PageProgram &&
               rig.w().StatusPanel0->text().toStdString() == texts.PortStatus(PortClosed);
    }));
    EXPECT_TRUE(rig.WaitFor([&] { return !rig.program->Link().IsOpen(); }));
}

// The adapter pulled out while polling and put back under the same stable name: one box, the
// port closed, then "Reconnect" shows; its click reads the page again and polling resumes.
TEST(ProgramWithSensor, AnUnpluggedAdapterThatComesBackIsReconnectedWithOneClick) {
    QTemporaryDir links;
    sim::SimOptions options;
    options.linkPath = links.filePath("usb-FTDI_vq31-if00-port0").toStdString();
    ProgramRig rig(options);
    ASSERT_TRUE(rig.Connect());
    rig.server.Stop();
    ASSERT_TRUE(rig.WaitFor([&] { return rig.boxes.shown.size() == 1; }));
    EXPECT_TRUE(rig.WaitFor([&] { return !rig.program->Link().IsOpen(); }));
    QTest::qWait(1500); // the watch finds nothing while the adapter is out
    EXPECT_FALSE(rig.w().BtnReconnect->isVisible());
    EXPECT_EQ(rig.w().VanishedPort().toStdString(), options.linkPath);

    std::string error;
    ASSERT_TRUE(rig.server.Start(&error)) << error;
    ASSERT_TRUE(rig.WaitFor([&] { return rig.w().BtnReconnect->isVisible(); }));
    const uint64_t records = rig.server.State().counters.records;
    rig.w().BtnReconnect->click();
    EXPECT_TRUE(rig.WaitFor([&] { return rig.server.State().counters.records > records + 3; }));
    EXPECT_TRUE(rig.program->Link().IsOpen());
    EXPECT_FALSE(rig.w().BtnReconnect->isVisible());
    EXPECT_EQ(rig.w().PcMain->currentIndex(), PageOscill);
    EXPECT_EQ(rig.boxes.shown.size(), 1u) << "no more boxes after the reconnect";
}

TEST(ProgramWithSensor, APortThatCannotBeOpenedIsReportedInABoxAndThePanel) {
    ProgramRig rig;
    rig.w().CmbCom->setEditText(rig.dir.filePath("no-such-port"));
    rig.w().CmbComChange();
    rig.w().BtnPortOpen->click();
    LanguageTexts texts;
    ASSERT_TRUE(rig.WaitFor([&] {
        return rig.w().StatusPanel0->text().toStdString() == texts.PortStatus(PortOpenError);
    }));
    ASSERT_EQ(rig.boxes.shown.size(), 1u);
    EXPECT_EQ(rig.boxes.shown[0].kind, "error");
    EXPECT_TRUE(rig.boxes.shown[0].text.startsWith("Ошибка открытия порта"));
    EXPECT_EQ(rig.w().PcMain->currentIndex(), PageProgram);
}

TEST(ProgramWithSensor, GainChangeReachesTheDeviceAndComesBackInTheLabel) {
    ProgramRig rig;
    ASSERT_TRUE(rig.Connect());
    rig.w().CmbKu->setCurrentIndex(7);
    emit rig.w().CmbKu->activated(7);
    EXPECT_TRUE(rig.WaitFor([&] { return (rig.server.State().signal.gainWord & 0xFF) == 7; }));
    EXPECT_TRUE(rig.WaitFor([&] { return rig.w().LblKu->text() == "7"; }));
    EXPECT_TRUE(rig.boxes.shown.empty());
}

TEST(ProgramWithSensor, SearchFindsTheDeviceAtAnUnknownSpeedAndRemembersIt) {
    sim::SimOptions options;
    options.baud = 57600;
    options.address = 5;
    ProgramRig rig(options, "[UART]\nBAUD=19200\nADDR=1\n");
    rig.w().BtnSearchDevice->click();
    ASSERT_TRUE(rig.WaitFor([&] {
        return rig.w().PcMain->currentIndex() == PageOscill &&
               rig.w().Chart().PointCount(EchoChart::Oscill) == 1472;
    }));
    EXPECT_EQ(rig.w().CmbBaud->currentText(), "57600");
    EXPECT_EQ(rig.w().EditAddr->text(), "5");
    const std::string ini = rig.Settings();
    EXPECT_NE(ini.find("BAUD=57600"), std::string::npos) << ini;
    EXPECT_NE(ini.find("ADDR=5"), std::string::npos) << ini;
    EXPECT_TRUE(rig.w().BtnPortOpen->isEnabled());
}

TEST(ProgramWithSensor, SettingsPageIsReadAndWritten) {
    ProgramRig rig;
    ASSERT_TRUE(rig.Connect());
    rig.ClickTab(PageSettings);
    ASSERT_TRUE(rig.WaitFor([&] {
        return !rig.w().EditDate->text().isEmpty() && rig.w().BtnParamsWrite->isEnabled();
    }));
    rig.Settle();
    EXPECT_EQ(rig.w().SpinAddr2->value(), 1);
    rig.w().RepAutoPeriod->setValue(17);
    rig.w().BtnParamsWrite->click();
    EXPECT_TRUE(rig.WaitFor([&] { return rig.server.State().autoPeriod == 17; }));
    EXPECT_TRUE(rig.boxes.shown.empty()) << rig.boxes.shown[0].text.toStdString();
}

TEST(ProgramWithSensor, SettingsWriteLeavesASnapshotTheSnapshotWindowComparesAndRestores) {
    ProgramRig rig;
    ASSERT_TRUE(rig.Connect());
    rig.ClickTab(PageSettings);
    ASSERT_TRUE(rig.WaitFor([&] {
        return !rig.w().EditDate->text().isEmpty() && rig.w().BtnParamsWrite->isEnabled();
    }));
    rig.Settle();
    rig.w().RepAutoPeriod->setValue(17);
    rig.w().BtnParamsWrite->click();
    ASSERT_TRUE(rig.WaitFor([&] { return rig.server.State().autoPeriod == 17; }));
    rig.Settle();
    ASSERT_EQ(rig.program->Snapshots().List().size(), 1u);

    rig.w().BtnSnapshots->click();
    auto* dialog = rig.w().findChild<SnapshotDialog*>("FormSnapshots");
    ASSERT_NE(dialog, nullptr);
    ASSERT_EQ(dialog->LstSnapshots->count(), 1);
    // The write changed only the period, and the snapshot before it says so.
    EXPECT_TRUE(dialog->LstSnapshots->item(0)->text().endsWith(
        ": перед установкой параметров (Период автовыдачи)"))
        << dialog->LstSnapshots->item(0)->text().toStdString();
    EXPECT_TRUE(dialog->MemoSnapshot->toPlainText().contains("Серийный номер: 004711"))
        << dialog->MemoSnapshot->toPlainText().toStdString();
    dialog->ChkSnapshotParams->setChecked(true);
    dialog->BtnSnapshotDiff->click();
    ASSERT_TRUE(rig.WaitFor([&] { return !rig.boxes.shown.empty(); }));
    EXPECT_EQ(rig.boxes.shown[0].kind, "information");
    EXPECT_TRUE(rig.boxes.shown[0].text.contains("Период автовыдачи: в датчике 17, в снимке"))
        << rig.boxes.shown[0].text.toStdString();
    rig.Settle();

    rig.boxes.answerYes = true; // the confirmation before the restore
    dialog->BtnSnapshotRestore->click();
    EXPECT_TRUE(rig.WaitFor([&] { return rig.server.State().autoPeriod == 0; }));
    ASSERT_TRUE(rig.WaitFor([&] { return rig.boxes.shown.size() == 3; }));
    EXPECT_EQ(rig.boxes.shown[1].kind, "ask");
    EXPECT_EQ(rig.boxes.shown[2].kind, "information") << rig.boxes.shown[2].text.toStdString();
    dialog->BtnSnapshotRefresh->click();
    EXPECT_EQ(dialog->LstSnapshots->count(), 2);
}

TEST(ProgramWithSensor, TarePageIsReadAndWritten) {
    ProgramRig rig;
    rig.boxes.answerYes = true; // a blank hub store gets the default configuration
    ASSERT_TRUE(rig.Connect());
    rig.ClickTab(PageTara);
    ASSERT_TRUE(rig.WaitFor([&] {
        return !rig.w().EditHubVersion->text().isEmpty() && rig.w().BtnHubTareSet->isEnabled();
    }));
    ASSERT_TRUE(rig.WaitPolling());
    EXPECT_EQ(rig.w().EditHubVersion->text(), "3.01");
    // The passport comes with the page, so a report can name the sensor at once.
    ASSERT_TRUE(rig.w().LastPassport().has_value());
    EXPECT_EQ(rig.w().LastPassport()->serialNumber, 4711u);
    ASSERT_TRUE(rig.w().SpinHubTankHeight->isEnabled());
    rig.w().SpinHubTankHeight->setValue(1234);
    rig.w().BtnHubTareSet->click();
    EXPECT_TRUE(rig.WaitFor([&] { return rig.server.State().tankHeight == 12340; }))
        << rig.server.Control("state");
    EXPECT_TRUE(rig.WaitFor([&] {
        const auto store = rig.server.HubStore();
        return store.size() > 5 && store[4] == 0x01 && store[5] == 0x03; // version 3.01
    }));
}

#ifdef VQ31_HAVE_TARE_UI
TEST(ProgramWithSensor, TareWindowTellsTheDeviceAndShowsTheLiveLevel) {
    ProgramRig rig;
    rig.boxes.answerYes = true;
    ASSERT_TRUE(rig.Connect());
    rig.server.Control("level 734");
    rig.ClickTab(PageTara);
    ASSERT_TRUE(rig.WaitFor([&] { return rig.w().BtnHubTareTable->isEnabled(); }));
    ASSERT_TRUE(rig.WaitPolling());
    int tareModeWhileOpen = -1;
    QString levelShown;
    rig.w().onTareWindow = [&](TareEditor& editor) {
        // Close the window once the level poll has reached it.
        auto* poll = new QTimer(&editor);
        QObject::connect(poll, &QTimer::timeout, &editor, [&, poll] {
            auto* label = editor.findChild<QLabel*>("lbl_fuel");
            if (label && label->text() == "734" && rig.server.State().tareMode == 1) {
                poll->stop();
                levelShown = label->text();
                tareModeWhileOpen = rig.server.State().tareMode;
                editor.reject();
            }
        });
        poll->start(20);
        QTimer::singleShot(WaitMs, &editor, [&] {
            auto* label = editor.findChild<QLabel*>("lbl_fuel");
            ADD_FAILURE() << "level label: " << (label ? label->text().toStdString() : "none")
                          << " status " << rig.w().StatusPanel1->text().toStdString()
                          << " tare mode " << int(rig.server.State().tareMode)
                          << rig.server.Control("state") << " level reply "
                          << rig.server.Control("level 734");
            editor.reject();
        });
    };
    rig.w().BtnHubTareTable->click();
    EXPECT_EQ(levelShown, "734");
    EXPECT_EQ(tareModeWhileOpen, 1);
    EXPECT_TRUE(rig.WaitFor([&] { return rig.server.State().tareMode == 0; }));
    EXPECT_EQ(rig.w().TareWindow, nullptr);
}
#endif

TEST(ProgramWithSensor, ClosingWhilePollingStopsTheWorkerAndClosesThePort) {
    ProgramRig rig;
    ASSERT_TRUE(rig.Connect());
    rig.w().close();
    ASSERT_NE(rig.program->Worker(), nullptr);
    EXPECT_TRUE(rig.program->Worker()->StopRequested());
    EXPECT_FALSE(rig.program->Link().IsOpen());
}

TEST(ProgramWithSensor, ClosingDuringASweepEndsPromptly) {
    ProgramRig rig;
    ASSERT_TRUE(rig.Connect());
    const int chosen = rig.w().TbFreq->value();
    rig.w().BtnAFC->click();
    ASSERT_TRUE(rig.WaitFor([&] { return rig.server.State().sweeping; }));
    rig.w().close(); // returns only once the worker has been joined
    EXPECT_TRUE(rig.program->Worker()->StopRequested());
    EXPECT_FALSE(rig.program->Link().IsOpen());
    // The sweep was ended on the device, back at the frequency chosen before it.
    const sim::DeviceState device = rig.server.State();
    EXPECT_FALSE(device.sweeping);
    EXPECT_EQ(device.signal.frequency, chosen);
}

TEST(ProgramWithSensor, ClosingDuringASearchEndsPromptly) {
    sim::SimOptions options;
    options.baud = 2400; // found last: the search runs through every other speed first
    ProgramRig rig(options);
    rig.w().BtnSearchDevice->click();
    ASSERT_TRUE(rig.WaitFor([&] { return !rig.w().BtnPortOpen->isEnabled(); }));
    rig.w().close();
    EXPECT_TRUE(rig.program->Worker()->StopRequested());
    EXPECT_FALSE(rig.program->Link().IsOpen());
}

// Waits, without running the window's events, until the worker has queued its count-th step
// and waits for it.
bool WaitForStepQueued(QtWorkerView& view, uint64_t count) {
    for (int i = 0; i < 5000; ++i) {
        if (view.StepsQueued() >= count && view.StepsWaiting() > 0)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

// The window closes while a write job waits for the window step that hands it the values to
// write. The view stops first and hands the job its fallback (address 0, post-filter 0, fuel
// numbers 0, no hub choice); that must never reach the device, however late the worker's own
// stop comes. Then the whole program closes.
TEST(ProgramWithSensor, ClosingWhileAWriteWaitsForItsValuesSendsNothing) {
    for (const int32_t code : {job::WriteParameters, job::WriteHubData}) {
        ProgramRig rig;
        ASSERT_EQ(rig.program->Link().UartOpen(rig.server.path(), 19200), 0);
        HubMakeDefault(rig.program->Hub().hubBuffer);
        QtWorkerView& view = rig.program->View();
        const uint64_t queued = view.StepsQueued();
        const uint64_t requests = rig.server.State().counters.requests;
        rig.program->Worker()->PostCommand(code);
        if (code == job::WriteHubData) {
            // LockControls first; the values come with the second step.
            ASSERT_TRUE(WaitForStepQueued(view, queued + 1));
            QCoreApplication::processEvents();
            ASSERT_TRUE(WaitForStepQueued(view, queued + 2)) << "no PrepareHubData step";
        } else {
            ASSERT_TRUE(WaitForStepQueued(view, queued + 1)) << "no CollectParameters step";
        }
        view.Shutdown(); // the job gets its fallback now; the worker's stop comes later
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        EXPECT_EQ(rig.server.State().counters.requests, requests) << "code " << code;
        rig.w().close(); // stops the worker and closes the port
        EXPECT_FALSE(rig.program->Link().IsOpen());
        const sim::DeviceState device = rig.server.State();
        EXPECT_EQ(device.counters.requests, requests) << "code " << code;
        EXPECT_EQ(device.address, 1) << "code " << code;
    }
}

} // namespace
} // namespace vq31::app::test
