// The worker view: steps called from another thread run on the window thread and fill the
// controls; after Shutdown every call returns at once, also one whose box is still open.
#include "echo_chart.h"
#include "qt_worker_view.h"
#include "window_rig.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace vq31::app::test {
namespace {

// Runs body on a thread of its own, as the worker would, while the window thread keeps
// handling events; true when the body finished within the bound (past it the view is shut
// down, which releases the thread).
template <typename F> bool FromWorker(QtWorkerView& view, F body, int timeoutMs = 5000) {
    std::atomic<bool> done{false};
    std::thread worker([&] {
        body();
        done = true;
    });
    const bool finished = QTest::qWaitFor([&] { return done.load(); }, timeoutMs);
    if (!finished)
        view.Shutdown();
    worker.join();
    return finished;
}

struct ViewRig : WindowRig {
    QtWorkerView view{*window};
};

TEST(WorkerView, StatusStepsRunOnTheWindowThread) {
    ViewRig rig;
    ASSERT_TRUE(FromWorker(rig.view, [&] {
        rig.view.ShowPortStatus(0, "port open");
        rig.view.ShowDeviceStatus(StatusNoAnswer, "no answer");
    }));
    EXPECT_EQ(rig.w().StatusPanel0->text(), "port open");
    EXPECT_EQ(rig.w().StatusPanel1->text(), "no answer");
}

TEST(WorkerView, EnvelopeFrameRefillsBothSeriesAndTheLiveFields) {
    ViewRig rig;
    std::vector<int16_t> samples(1472);
    std::vector<uint32_t> envelope(1472);
    std::vector<uint8_t> high(1472);
    for (size_t i = 0; i < samples.size(); ++i) {
        samples[i] = int16_t(i);
        envelope[i] = uint32_t(i * 3);
        high[i] = envelope[i] >= EnvelopeHighLevel;
    }
    EchoFrame frame;
    frame.mode = 1;
    frame.labels = {"2000", "Wide", "5.0", "0", "10"};
    frame.fields = EchoFields{"OK", "2200/2", "75", "2457", "2456", "600", "-5.0"};
    frame.dataInst = "Не активен";
    frame.sampleStep = 10;
    frame.oscillogram = samples;
    frame.envelope = envelope;
    frame.envelopeHigh = high;
    ASSERT_TRUE(FromWorker(rig.view, [&] { rig.view.ShowEcho(frame); }));
    EchoChart& chart = rig.w().Chart();
    EXPECT_EQ(chart.PointCount(EchoChart::Oscill), 1472);
    EXPECT_EQ(chart.Point(EchoChart::Oscill, 3), QPointF(30, 3));
    EXPECT_EQ(chart.PointCount(EchoChart::Integrator), 1472);
    EXPECT_EQ(chart.HighPointCount(), 1472 - 1167); // 3 * 1167 = 3501 is the first high value
    EXPECT_EQ(rig.w().LblFiltr->text(), "Wide");
    EXPECT_EQ(rig.w().LblKu->text(), "10");
    EXPECT_EQ(rig.w().EditTemp->text(), "-5.0");
    EXPECT_EQ(rig.w().LblDataInst->text(), "Не активен");
    EXPECT_TRUE(rig.w().EditAuth->isEnabled());
    EXPECT_FALSE(rig.w().MainPagesLocked());

    // A raw frame replaces the oscillogram and leaves the envelope as it was.
    std::vector<int16_t> raw(1984, -7);
    EchoFrame rawFrame;
    rawFrame.mode = 2;
    rawFrame.fields = EchoFields{"-", "-", "-", "-", "-", "-", "-"};
    rawFrame.sampleStep = 1;
    rawFrame.oscillogram = raw;
    ASSERT_TRUE(FromWorker(rig.view, [&] { rig.view.ShowEcho(rawFrame); }));
    EXPECT_EQ(chart.PointCount(EchoChart::Oscill), 1984);
    EXPECT_EQ(chart.PointCount(EchoChart::Integrator), 1472);
    EXPECT_EQ(rig.w().EditAuth->text(), "-");
}

TEST(WorkerView, SignalSettingsSelectTheLastItemForLargeBytes) {
    ViewRig rig;
    SignalSettings s;
    s.gainWord = 30 | (3 << 8);
    s.pulseFrequency = 2500;
    s.filterFrequency = 450;
    s.pulseWidth = 40;
    s.attenuation = 30;
    s.integratorWord = (100u << 16) | 20u;
    ASSERT_TRUE(FromWorker(rig.view, [&] { rig.view.ShowSignalSettings(s); }));
    EXPECT_EQ(rig.w().CmbKu->currentText(), "Авто");
    EXPECT_EQ(rig.w().CmbKuMax->currentIndex(), 3);
    EXPECT_EQ(rig.w().CmbAtten->currentText(), "Вкл.");
    EXPECT_EQ(rig.w().CmbFiltr->currentText(), "WideBand");
    EXPECT_EQ(rig.w().TbFreq->value(), 2500);
    EXPECT_EQ(rig.w().EditFreq->text(), "2500");
    EXPECT_EQ(rig.w().EditIntegrateTreshold->text(), "100");
    EXPECT_EQ(rig.w().EditIntegrateDeadzone->text(), "20");
    // The frequency slider is detached; the pulse slider's handler runs (the filter slider
    // stays at its start value, so its handler has nothing to do).
    EXPECT_EQ(rig.posts, (std::vector<int>{15}));
}

TEST(WorkerView, TuningStepsDriveButtonsTextAndBar) {
    ViewRig rig;
    ASSERT_TRUE(FromWorker(rig.view, [&] { rig.view.ShowTuneStep1({"Уровень сигнала", 3}); }));
    EXPECT_TRUE(rig.w().SbPre->isChecked());
    EXPECT_FALSE(rig.w().SbAfc->isChecked());
    EXPECT_EQ(rig.w().TbDataInst->value(), 3);
    EXPECT_TRUE(rig.w().TuningPagesLocked());
    EXPECT_FALSE(rig.w().CmbKu->isEnabled());
    rig.w().SetBarAdvanceTime(0);
    ASSERT_TRUE(FromWorker(rig.view, [&] { rig.view.ShowTuneStep2("Сканирование..."); }));
    EXPECT_TRUE(rig.w().SbAfc->isChecked());
    EXPECT_FALSE(rig.w().SbPre->isChecked());
    EXPECT_EQ(rig.w().TbDataInst->value(), 4);
    EXPECT_NE(rig.w().BarAdvanceTime(), 0u);
    ASSERT_TRUE(FromWorker(rig.view, [&] { rig.view.ShowTuneStep2("Сканирование..."); }));
    EXPECT_EQ(rig.w().TbDataInst->value(), 4); // at most one step a second
}

TEST(WorkerView, DisplayPatternComesFromTheWalkOrTheBoxes) {
    ViewRig rig;
    uint32_t mask = 0;
    rig.w().ChkTestDisplay[16]->setChecked(true);
    ASSERT_TRUE(FromWorker(rig.view, [&] { mask = rig.view.BuildDisplayPattern(256); }));
    EXPECT_EQ(mask, 131072u);
    rig.w().SbDplTestAuto->setChecked(true);
    ASSERT_TRUE(FromWorker(rig.view, [&] { mask = rig.view.BuildDisplayPattern(256); }));
    EXPECT_EQ(mask, 512u);
}

TEST(WorkerView, ParametersShownAreCollectedBack) {
    ViewRig rig;
    ParameterView v;
    v.date = "090316";
    v.serial = "001234";
    v.version = "0.90";
    v.speedIndex = 6;
    v.answer255Index = 1;
    v.bitsIndex = 1;
    v.address = 12;
    v.autoOn = true;
    v.autoPeriod = 9;
    v.postFilterIndex = 4;
    v.fuelTypeIndex = 0;
    v.fuelEditsEnabled = true;
    v.fuelTempCoef = 0.25f;
    v.fuelSoundSpeed = 1320.5f;
    ParameterChoice c;
    ASSERT_TRUE(FromWorker(rig.view, [&] {
        rig.view.ShowParameters(v);
        c = rig.view.CollectParameters();
    }));
    EXPECT_EQ(rig.w().EditDate->text(), "090316");
    EXPECT_EQ(rig.w().EditFuelOfs->text(), "1320.5"); // no digit grouping
    EXPECT_EQ(rig.w().CmbBaud2->currentText(), "115200");
    EXPECT_EQ(c.speedIndex, 6);
    EXPECT_EQ(c.answer255Index, 1);
    EXPECT_EQ(c.bitsIndex, 1);
    EXPECT_EQ(c.address, 12u);
    EXPECT_TRUE(c.autoOn);
    EXPECT_EQ(c.autoPeriod, 9u);
    EXPECT_EQ(c.postFilterIndex, 4);
    EXPECT_FLOAT_EQ(c.fuelTempCoef, 0.25f);
    EXPECT_FLOAT_EQ(c.fuelSoundSpeed, 1320.5f);

    v.fuelTypeIndex = 5; // not in the list
    v.fuelEditsEnabled = false;
    ASSERT_TRUE(FromWorker(rig.view, [&] { rig.view.ShowParameters(v); }));
    EXPECT_EQ(rig.w().CmbFuelType->currentIndex(), -1);
    EXPECT_FALSE(rig.w().EditFuelKu->isEnabled());
}

TEST(WorkerView, FuelNumbersAreShownWithEveryDigitTheyNeedAndGoBackUnchanged) {
    // The device's coefficient 0.00083 shows as "0.00083", not rounded to three decimals;
    // writing the page back (say, for a new address) keeps it.
    ViewRig rig;
    ParameterView v;
    v.fuelTypeIndex = 3;
    v.fuelTempCoef = 0.00083f;
    v.fuelSoundSpeed = 1360.0004f;
    ParameterChoice c;
    ASSERT_TRUE(FromWorker(rig.view, [&] {
        rig.view.ShowParameters(v);
        c = rig.view.CollectParameters();
    }));
    EXPECT_EQ(rig.w().EditFuelKu->text(), "0.00083");
    EXPECT_EQ(rig.w().EditFuelOfs->text(), "1360.0004");
    EXPECT_EQ(c.fuelTempCoef, 0.00083f);
    EXPECT_EQ(c.fuelSoundSpeed, 1360.0004f);
    rig.w().BtnParamsWrite->click();
    EXPECT_EQ(Get(rig.params.FuelTempCoef), 0.00083f);
    EXPECT_EQ(rig.posts, (std::vector<int>{20}));

    // A shown text read back gives the same float for values the old three decimals lost.
    for (const float coef : {0.0025f, 0.00083f, 1.0e-6f, 123.456f}) {
        v.fuelTempCoef = coef;
        ASSERT_TRUE(FromWorker(rig.view, [&] { rig.view.ShowParameters(v); }));
        EXPECT_EQ(rig.w().EditFuelKu->text().toFloat(), coef) << coef;
    }

    // A value the user typed is taken as typed.
    rig.w().EditFuelKu->setText("0.002");
    ASSERT_TRUE(FromWorker(rig.view, [&] { c = rig.view.CollectParameters(); }));
    EXPECT_FLOAT_EQ(c.fuelTempCoef, 0.002f);
    EXPECT_EQ(c.fuelSoundSpeed, 1360.0004f);
}

TEST(WorkerView, InvalidHubEmptiesAndDisablesTheHubControls) {
    ViewRig rig;
    HubView good;
    good.valid = true;
    good.version = "3.01";
    good.tankIds = {0, 1, 4};
    good.selectedIndex = 2;
    good.heightMm = 1500;
    good.tableLength = uint16_t(30);
    good.mlPerBitIndex = 1;
    ASSERT_TRUE(FromWorker(rig.view, [&] { rig.view.ShowHubData(good); }));
    EXPECT_EQ(rig.w().CmbHubTankID->currentText(), "4");
    EXPECT_EQ(rig.w().SpinHubTankHeight->value(), 1500);
    EXPECT_EQ(rig.w().EditHubTableLen->text(), "30");
    EXPECT_EQ(rig.w().CmbHubMlPerBit->currentText(), "10 мл/бит");
    HubChoice choice;
    ASSERT_TRUE(FromWorker(rig.view, [&] {
        rig.view.ShowHubData(HubView{});
        choice = rig.view.PrepareHubData();
    }));
    EXPECT_EQ(rig.w().CmbHubTankID->count(), 0);
    EXPECT_TRUE(rig.w().EditHubVersion->text().isEmpty());
    EXPECT_FALSE(rig.w().BtnHubTareSet->isEnabled());
    EXPECT_EQ(choice.heightMm, 1500u);
}

TEST(WorkerView, AfterShutdownCallsReturnAtOnceAndQuestionsAnswerNo) {
    ViewRig rig;
    rig.boxes.answerYes = true;
    rig.view.Shutdown();
    bool answer = true;
    // No event loop runs here: a call that waited for the window would never return.
    std::thread worker([&] {
        answer = rig.view.AskYesNo("?");
        rig.view.ShowError("lost");
    });
    worker.join();
    EXPECT_FALSE(answer);
    EXPECT_TRUE(rig.boxes.shown.empty());
}

TEST(WorkerView, ShutdownWhileABoxIsOpenReleasesTheWaitingWorker) {
    ViewRig rig;
    rig.boxes.answerYes = true;
    bool answer = true;
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        answer = rig.view.AskYesNo("Создать конфигурацию по умолчанию?");
        returned = true;
    });
    // The window closes while its box is still open: the worker must come back before the
    // box does, or stopping the worker from here would hang.
    rig.boxes.onBox = [&] {
        rig.view.Shutdown();
        for (int i = 0; i < 500 && !returned; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    };
    EXPECT_TRUE(QTest::qWaitFor([&] { return !rig.boxes.shown.empty(); }, 5000));
    rig.view.Shutdown(); // bounds the test should the box never have been shown
    worker.join();
    EXPECT_TRUE(returned);
    EXPECT_FALSE(answer);
}

} // namespace
} // namespace vq31::app::test
