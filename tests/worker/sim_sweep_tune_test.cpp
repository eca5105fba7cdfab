// The frequency-response sweep, the automatic tuning steps and the display test against the
// simulated sensor.
#include "sim_rig.h"

#include <algorithm>

namespace vq31 {
namespace {

using namespace std::chrono_literals;
using test::SimRig;

WorkerTiming QuickSweep() {
    WorkerTiming t;
    t.sweepPause = 20ms;
    t.slowRepeat = 20ms;
    return t;
}

// Peak of the sweep window over the samples the worker holds right now.
int32_t WindowPeak(const SampleBuffer& samples, int32_t start, int32_t width) {
    int32_t peak = 0;
    const int32_t end = std::min(1472, (start + width) / 10);
    for (int32_t i = std::max(0, start / 10); i < end; ++i)
        peak = std::max<int32_t>(peak, int16_t(samples[size_t(i)]));
    return peak;
}

struct SweepCase {
    int32_t start;
    int32_t width;
};
class Sweep : public ::testing::TestWithParam<SweepCase> {};

TEST_P(Sweep, PlotsEveryFrequencyUpToTheWrapWithTheWindowPeak) {
    const SweepCase c = GetParam();
    SimRig rig({}, QuickSweep());
    rig.Control("level 300");
    rig.OpenLink(19200);
    Put(rig.params.AfcStep, 500);
    Put(rig.params.AfcStart, c.start);
    Put(rig.params.AfcWidth, c.width);
    Put(rig.params.OscillMode, 2);
    Put(rig.params.PulseFrequency, 1800);
    std::vector<int32_t> expectedPeaks;
    rig.view.onStep = [&](const std::string& step) {
        if (step == "AddSweepPoint") // on the worker thread, with the record still in place
            expectedPeaks.push_back(WindowPeak(rig.worker->Samples(), c.start, c.width));
    };
    rig.worker->Start();
    ASSERT_TRUE(rig.RunUntil(job::SweepFrequencyResponse, job::PollEcho));
    rig.Stop();
    std::vector<uint32_t> frequencies;
    std::vector<int32_t> peaks;
    for (const auto& p : rig.view.sweepPoints) {
        frequencies.push_back(p.frequency);
        peaks.push_back(p.peak);
    }
    EXPECT_EQ(frequencies, (std::vector<uint32_t>{500, 1000, 1500, 2000, 2500, 3000, 3500, 4000}));
    EXPECT_EQ(peaks, expectedPeaks);
    const bool anyPeak = std::any_of(peaks.begin(), peaks.end(), [](int32_t p) { return p > 0; });
    if (c.start >= 14720) {
        EXPECT_FALSE(anyPeak) << "an empty window plots 0";
    } else if (c.width >= 14720) {
        EXPECT_TRUE(anyPeak) << "the whole record holds an echo";
    }
    EXPECT_EQ(rig.view.informations, std::vector<std::string>{"Построение АЧХ завершено"});
    EXPECT_TRUE(rig.view.errors.empty());
    const auto device = rig.server.State();
    EXPECT_FALSE(device.sweeping);
    EXPECT_EQ(device.signal.frequency, 1800) << "the user's frequency is restored";
}

INSTANTIATE_TEST_SUITE_P(Windows, Sweep,
                         ::testing::Values(SweepCase{2000, 1000}, SweepCase{0, 14720},
                                           SweepCase{15000, 1000}, SweepCase{-500, 3000}));

TEST(SweepFailure, RefusedSweepStartShowsOneBoxAndPlotsNothing) {
    SimRig rig({}, QuickSweep());
    rig.OpenLink(19200);
    rig.Control("fault ack 0x30 1 2");
    rig.worker->Start();
    ASSERT_TRUE(rig.RunUntil(job::SweepFrequencyResponse, job::PollEcho));
    rig.Stop();
    EXPECT_EQ(rig.view.errors.size(), 1u);
    EXPECT_TRUE(rig.view.informations.empty());
    EXPECT_TRUE(rig.view.sweepPoints.empty());
}

TEST(SweepStop, StopInsideTheSweepWaitReturnsWithoutTouchingTheView) {
    WorkerTiming t;
    t.sweepPause = std::chrono::hours(1);
    SimRig rig({}, t);
    rig.OpenLink(19200);
    rig.worker->Start();
    rig.worker->PostCommand(job::SweepFrequencyResponse);
    ASSERT_TRUE(rig.view.WaitForStep("ShowDeviceStatus"));
    rig.worker->Stop();
    EXPECT_EQ(rig.view.stepsAfterStop, 0u);
    EXPECT_TRUE(rig.view.informations.empty());
}

TEST(TuneStep1, ShowsTheSignalLevelWithLiveValuesOff) {
    SimRig rig;
    rig.Control("level 500");
    rig.OpenLink(19200);
    Put(rig.params.TuneMode, 134);
    rig.worker->Start();
    rig.worker->PostCommand(job::SetTuneMode);
    ASSERT_TRUE(rig.view.WaitForStep("ShowTuneStep1", 3));
    const size_t echoes = rig.view.Count("ShowEcho");
    // Releasing the step returns the device to measuring and the page to its echo.
    Put(rig.params.TuneMode, 0);
    rig.worker->PostCommand(job::SetTuneMode);
    ASSERT_TRUE(rig.view.WaitForStep("ShowEcho", echoes + 1));
    rig.Stop();
    const auto step = rig.view.tuneStep1.at(0);
    EXPECT_EQ(step.text, "Уровень сигнала");
    EXPECT_GE(step.barPosition, 0);
    EXPECT_LE(step.barPosition, TuneBarMax);
    EXPECT_EQ(echoes, 0u) << "no echo refresh while the device tunes";
    EXPECT_EQ(rig.server.State().mode, 0);
    EXPECT_TRUE(rig.view.errors.empty());
}

struct Step2Case {
    const char* control;
    bool failed;
};
class TuneStep2 : public ::testing::TestWithParam<Step2Case> {};

TEST_P(TuneStep2, AnimatesThenShowsExactlyOneBoxAndReturnsToMeasuring) {
    SimRig rig;
    rig.OpenLink(19200);
    rig.Control("tune time 400");
    rig.Control(GetParam().control);
    Put(rig.params.TuneMode, 135);
    rig.worker->Start();
    rig.worker->PostCommand(job::SetTuneMode);
    ASSERT_TRUE(rig.view.WaitForStep("ShowTuneStep2"));
    ASSERT_TRUE(rig.view.WaitForStep("ShowEcho"));
    rig.Stop();
    auto& v = rig.view;
    EXPECT_EQ(v.tuneStep2.at(0), "Сканирование...");
    if (GetParam().failed) {
        EXPECT_EQ(v.errors, std::vector<std::string>{"Автоматическое определение параметров "
                                                     "завершено неудачно. Ошибка Е12"});
        EXPECT_TRUE(v.informations.empty());
    } else {
        // The box says what the device set: the simulated search settles on 1950.
        EXPECT_EQ(v.informations,
                  std::vector<std::string>{"Автоматическое определение параметров завершено "
                                           "успешно\nДатчик установил:\nЧастота: 2000 \u2192 "
                                           "1950\nФильтр: 2000 \u2192 1950"});
        EXPECT_TRUE(v.errors.empty());
    }
    EXPECT_EQ(Get(rig.params.TuneMode), 0);
    EXPECT_EQ(rig.server.State().mode, 0);
    // Every tuning refresh had the live values off; the echo turned them on again.
    EXPECT_EQ(v.liveView.back(), true);
    EXPECT_EQ(std::count(v.liveView.begin(), v.liveView.end(), false),
              std::ptrdiff_t(v.tuneStep2.size()));
}

INSTANTIATE_TEST_SUITE_P(Outcomes, TuneStep2,
                         ::testing::Values(Step2Case{"tune fail 12", true},
                                           Step2Case{"tune ok", false}));

// Stopping the worker (the window closing) while the device tunes or sweeps ends that on the
// device, so the sensor is not left in a tuning mode or sweeping its frequency.
TEST(StopWhileTheDeviceWorks, EndsATuningStepOrASweepOnTheDevice) {
    {
        SimRig rig;
        rig.OpenLink(19200);
        rig.Control("tune time 60000");
        Put(rig.params.TuneMode, 135);
        rig.worker->Start();
        rig.worker->PostCommand(job::SetTuneMode);
        ASSERT_TRUE(rig.view.WaitForStep("ShowTuneStep2"));
        ASSERT_EQ(rig.server.State().mode, 135);
        rig.worker->Stop();
        EXPECT_EQ(rig.server.State().mode, 0);
    }
    {
        WorkerTiming t = QuickSweep();
        SimRig rig({}, t);
        rig.OpenLink(19200);
        Put(rig.params.PulseFrequency, 2500);
        Put(rig.params.AfcStep, 1); // a long sweep
        rig.worker->Start();
        rig.worker->PostCommand(job::SweepFrequencyResponse);
        ASSERT_TRUE(rig.view.WaitForStep("AddSweepPoint"));
        ASSERT_TRUE(rig.server.State().sweeping);
        rig.worker->Stop();
        const auto device = rig.server.State();
        EXPECT_FALSE(device.sweeping);
        EXPECT_EQ(device.signal.frequency, 2500);
    }
}

TEST(SweepStop, AnotherPostedActionEndsTheSweepAndPutsTheFrequencyBack) {
    SimRig rig({}, QuickSweep());
    rig.OpenLink(19200);
    Put(rig.params.PulseFrequency, 3100);
    Put(rig.params.AfcStep, 1);
    rig.worker->Start();
    rig.worker->PostCommand(job::SweepFrequencyResponse);
    ASSERT_TRUE(rig.view.WaitForStep("AddSweepPoint"));
    const size_t echoes = rig.view.Count("ShowEcho");
    rig.worker->PostCommand(job::PollEcho);
    ASSERT_TRUE(rig.view.WaitForStep("ShowEcho", echoes + 1));
    rig.Stop();
    const auto device = rig.server.State();
    EXPECT_FALSE(device.sweeping);
    EXPECT_EQ(device.signal.frequency, 3100);
    EXPECT_TRUE(rig.view.informations.empty()) << "a stopped sweep is not reported as finished";
    EXPECT_TRUE(rig.view.errors.empty());
}

TEST(DisplayTest, AutomaticWalkSendsEachSegmentInTurn) {
    SimRig rig({}, QuickSweep());
    rig.OpenLink(19200);
    Put(rig.params.DisplayTestPattern, 256);
    rig.worker->Start();
    rig.worker->PostCommand(job::TestDisplay);
    ASSERT_TRUE(rig.log.WaitFor(job::TestDisplay, 17));
    ASSERT_TRUE(rig.RunUntil(job::PollEcho, job::PollEcho));
    rig.Stop();
    auto masks = rig.view.displayMasks;
    EXPECT_EQ(rig.server.State().displayMask, 0u) << "the next job gives the display back";
    masks.resize(17);
    EXPECT_EQ(masks, (std::vector<uint32_t>{512, 1024, 2048, 4096, 8192, 16384, 1, 2, 4, 8, 16, 32,
                                            64, 131072, 256, 512, 1024}));
    EXPECT_EQ(rig.view.liveView.front(), false);
}

TEST(DisplayTest, ManualBoxesAreSentAsTheirMask) {
    SimRig rig({}, QuickSweep());
    rig.OpenLink(19200);
    rig.view.displayAuto = false;
    rig.view.displayBoxes.fill(true);
    rig.worker->Start();
    ASSERT_TRUE(rig.RunUntil(job::TestDisplay, job::TestDisplay, 2));
    EXPECT_EQ(rig.server.State().displayMask, 163711u);
    rig.Stop();
    EXPECT_EQ(Get(rig.params.DisplayTestPattern), 163711);
    EXPECT_EQ(rig.server.State().displayMask, 0u) << "a stop gives the display back";
}

} // namespace
} // namespace vq31
