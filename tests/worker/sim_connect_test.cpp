// Connection jobs against the simulated sensor: connect, search, identification failures,
// the fast-mode entry and its failures.
#include "sim_rig.h"

namespace vq31 {
namespace {

using namespace std::chrono_literals;
using test::SimRig;

WorkerTiming QuickWake() {
    WorkerTiming t;
    t.wakeUpPause = 20ms;
    return t;
}

TEST(ConnectJob, OpensIdentifiesAndStartsTheOscilloscopeAtFastSpeed) {
    SimRig rig;
    rig.worker->Start();
    ASSERT_TRUE(rig.RunUntil(job::ConnectDevice, job::PollEcho, 2));
    rig.Stop();
    auto& v = rig.view;
    EXPECT_EQ(v.portStatus.front().first, PortOpened);
    EXPECT_EQ(v.portStatus.front().second, "Статус порта: Порт открыт");
    EXPECT_EQ(v.Count("EnterOscilloscopePage"), 1u);
    EXPECT_TRUE(v.errors.empty());
    ASSERT_EQ(v.signalSettings.size(), 1u);
    const auto device = rig.server.State();
    EXPECT_EQ(v.signalSettings[0].pulseFrequency, device.signal.frequency);
    EXPECT_EQ(v.signalSettings[0].gainWord, device.signal.gainWord);
    EXPECT_EQ(v.signalSettings[0].integratorWord, device.signal.integratorWord);
    EXPECT_EQ(Get(rig.params.FilterFrequency), device.signal.filter);
    EXPECT_EQ(rig.link.BaudRate(), 115200u);
    EXPECT_EQ(Get(rig.params.BaudRate), 19200) << "the configured speed is kept";
    EXPECT_TRUE(device.fastMode);
    EXPECT_EQ(v.Count("LockControls"), v.Count("UnlockControls"));
    EXPECT_GE(v.echoes.size(), 1u);
}

struct OpenErrorCase {
    const char* portName; // empty: the numbered port
    const char* text;
    bool exact; // false: the text is followed by the system's reason
};
class PortThatCannotOpen : public ::testing::TestWithParam<OpenErrorCase> {};

TEST_P(PortThatCannotOpen, ShowsTheOpenErrorAndPortState) {
    SimRig rig;
    rig.params.SetPortName(GetParam().portName);
    Put(rig.params.PortNumber, 57);
    rig.worker->Start();
    ASSERT_TRUE(rig.RunUntil(job::ConnectDevice, job::ConnectDevice));
    rig.Stop();
    ASSERT_EQ(rig.view.errors.size(), 1u);
    const std::string& error = rig.view.errors[0];
    if (GetParam().exact)
        EXPECT_EQ(error, GetParam().text);
    else
        EXPECT_EQ(error.rfind(std::string(GetParam().text) + "\n", 0), 0u) << error;
    EXPECT_EQ(rig.worker->PortState(), PortOpenError);
    EXPECT_EQ(rig.view.portStatus.back().second, "Статус порта: Ошибка открытия");
}

INSTANTIATE_TEST_SUITE_P(
    Names, PortThatCannotOpen,
    ::testing::Values(OpenErrorCase{"", "Ошибка открытия порта COM57", true},
                      OpenErrorCase{"/dev/nonexistent-vq31-port",
                                    "Ошибка открытия порта /dev/nonexistent-vq31-port", false}));

struct IdentityCase {
    const char* control;
    const char* message;
};
class IdentificationFails : public ::testing::TestWithParam<IdentityCase> {};

TEST_P(IdentificationFails, ShowsOneBoxKeepsThePortOpenAndThePage) {
    SimRig rig;
    rig.Control(GetParam().control);
    rig.worker->Start();
    ASSERT_TRUE(rig.RunUntil(job::ConnectDevice, job::ConnectDevice));
    rig.Stop();
    ASSERT_EQ(rig.view.errors.size(), 1u);
    EXPECT_EQ(rig.view.errors[0],
              std::string(GetParam().message) + "\nПожалуйста, обновите программу");
    EXPECT_EQ(rig.view.Count("EnterOscilloscopePage"), 0u);
    EXPECT_TRUE(rig.link.IsOpen());
    EXPECT_EQ(rig.log.Count(job::StartOscilloscope), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    ModelAndFirmware, IdentificationFails,
    ::testing::Values(
        IdentityCase{"model 13QV", "Устройство не поддерживается программой"},
        IdentityCase{"model ABCD", "Устройство не поддерживается программой"},
        IdentityCase{"firmware 8", "Версия встроенного ПО не поддерживается программой"},
        IdentityCase{"firmware 10", "Версия встроенного ПО не поддерживается программой"}));

TEST(SearchJob, FindsTheDeviceOnTheSecondSpeedTried) {
    sim::SimOptions options;
    options.baud = 57600;
    options.address = 7;
    SimRig rig(options, QuickWake());
    Put(rig.params.BaudRate, 19200);
    Put(rig.params.DeviceAddress, 1);
    rig.worker->Start();
    ASSERT_TRUE(rig.RunUntil(job::SearchDevice, job::PollEcho));
    rig.Stop();
    auto& v = rig.view;
    ASSERT_EQ(v.foundLinks.size(), 1u);
    EXPECT_EQ(v.foundLinks[0], std::make_pair(57600u, 7u));
    EXPECT_EQ(Get(rig.params.BaudRate), 57600);
    EXPECT_EQ(Get(rig.params.DeviceAddress), 7);
    // 115200 failed, 57600 answered: two opens, each shown.
    EXPECT_EQ(v.portStatus.size(), 2u);
    EXPECT_EQ(v.Count("ShowBusyCursor"), 1u);
    EXPECT_EQ(v.Count("RestoreCursor"), 1u);
    EXPECT_EQ(v.Count("EnterOscilloscopePage"), 1u);
    EXPECT_TRUE(v.errors.empty());
}

TEST(SearchJob, NothingAnsweringRestoresTheSpeedAndClosesThePort) {
    SimRig rig({}, QuickWake());
    rig.Control("fault silent 1000");
    Put(rig.params.BaudRate, 9600);
    rig.worker->Start();
    ASSERT_TRUE(rig.RunUntil(job::SearchDevice, job::SearchDevice));
    rig.Stop();
    auto& v = rig.view;
    ASSERT_EQ(v.errors.size(), 1u);
    EXPECT_EQ(v.errors[0], "Статус устройства: Устройство не отвечает");
    EXPECT_EQ(Get(rig.params.BaudRate), 9600);
    EXPECT_FALSE(rig.link.IsOpen());
    EXPECT_EQ(v.Count("UnlockControls"), 1u);
    EXPECT_EQ(v.Count("RestoreCursor"), 1u);
    EXPECT_TRUE(v.foundLinks.empty());
    // Seven opens and the closed port at the end.
    ASSERT_EQ(v.portStatus.size(), 8u);
    EXPECT_EQ(v.portStatus.back().first, PortClosed);
}

TEST(OscilloscopeEntry, RefusedFastModeShowsTheStatusAndPollsAtTheOldSpeed) {
    SimRig rig;
    rig.Control("fault ack 0x36 1");
    rig.OpenLink(19200);
    rig.worker->Start();
    ASSERT_TRUE(rig.RunUntil(job::StartOscilloscope, job::PollEcho, 2));
    rig.Stop();
    ASSERT_EQ(rig.view.errors.size(), 1u);
    EXPECT_EQ(rig.view.errors[0], "Статус устройства: Команда не выполнена");
    EXPECT_EQ(rig.view.Count("UnlockControls"), 1u);
    EXPECT_EQ(rig.link.BaudRate(), 19200u);
    EXPECT_GE(rig.view.echoes.size(), 1u) << "polling works at the old speed";
}

TEST(OscilloscopeEntry, WithNoPortOpenShowsPortErrorAndStillStartsPolling) {
    SimRig rig;
    rig.worker->Start();
    ASSERT_TRUE(rig.RunUntil(job::StartOscilloscope, job::PollEcho));
    rig.Stop();
    ASSERT_EQ(rig.view.errors.size(), 1u);
    EXPECT_EQ(rig.view.errors[0], "Статус устройства: Ошибка порта");
    EXPECT_EQ(rig.view.Count("UnlockControls"), 1u);
}

TEST(DisconnectJob, StopsPollingAndClosesThePort) {
    SimRig rig;
    rig.worker->Start();
    ASSERT_TRUE(rig.RunUntil(job::ConnectDevice, job::PollEcho, 3));
    ASSERT_TRUE(rig.RunUntil(job::DisconnectDevice, job::None));
    const size_t polls = rig.log.Count(job::PollEcho);
    std::this_thread::sleep_for(100ms);
    rig.worker->Stop();
    EXPECT_EQ(rig.log.Count(job::PollEcho), polls);
    EXPECT_FALSE(rig.link.IsOpen());
    EXPECT_EQ(rig.view.portStatus.back().second, "Статус порта: Порт закрыт");
    EXPECT_EQ(rig.view.Count("ShowDisconnected"), 1u);
}

// Stopping the worker from inside a window step (as a window that closes while the worker
// waits for it) ends the job there: no further step runs, whatever the job was doing next.
struct StopCase {
    int32_t code;
    const char* step;
    bool openLink;
    int32_t tuneMode;
};
class StopInsideAStep : public ::testing::TestWithParam<StopCase> {};

TEST_P(StopInsideAStep, NoStepRunsAfterIt) {
    const StopCase c = GetParam();
    sim::SimOptions options;
    if (c.code == job::SearchDevice)
        options.baud = 115200; // found at the first speed tried
    SimRig rig(options, QuickWake());
    if (c.openLink)
        rig.OpenLink(19200);
    Put(rig.params.TuneMode, c.tuneMode);
    rig.view.onStep = [&](const std::string& step) {
        if (step == c.step)
            rig.worker->Stop(); // on the worker thread: only requests the stop
    };
    rig.worker->Start();
    rig.worker->PostCommand(c.code);
    ASSERT_TRUE(rig.view.WaitUntil([&] { return rig.worker->StopRequested(); }));
    rig.worker->Stop();
    EXPECT_EQ(rig.view.stepsAfterStop, 0u) << "last step: " << rig.view.Steps().back();
}

INSTANTIATE_TEST_SUITE_P(
    Steps, StopInsideAStep,
    ::testing::Values(StopCase{job::ConnectDevice, "EnterOscilloscopePage", false, 0},
                      StopCase{job::ConnectDevice, "ShowSignalSettings", false, 0},
                      StopCase{job::ConnectDevice, "SetLiveView", false, 0},
                      StopCase{job::SearchDevice, "RestoreCursor", false, 0},
                      StopCase{job::TestDisplay, "SetLiveView", true, 0},
                      StopCase{job::ReadParameters, "UnlockControls", true, 0},
                      StopCase{job::SetTareMode, "ShowError", false, 0},
                      StopCase{job::SetTuneMode, "SetLiveView", true, 134}));

} // namespace
} // namespace vq31
