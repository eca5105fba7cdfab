// Echo polling and the signal settings jobs against the simulated sensor.
#include "sim_rig.h"

#include <algorithm>
#include <filesystem>

namespace vq31 {
namespace {

using namespace std::chrono_literals;
using test::SimRig;

struct ModeCase {
    int32_t mode;
    int32_t step;
    size_t points;
    bool envelope;
    bool fields;
};
class EchoPolling : public ::testing::TestWithParam<ModeCase> {};

TEST_P(EchoPolling, RefreshCarriesTheModesSeriesAndTexts) {
    const ModeCase c = GetParam();
    SimRig rig;
    rig.Control("level 812");
    rig.OpenLink(19200);
    rig.view.oscillMode = c.mode;
    rig.worker->Start();
    ASSERT_TRUE(rig.RunUntil(job::PollEcho, job::PollEcho, 2));
    rig.Stop();
    const auto& e = rig.view.echoes.at(0);
    EXPECT_EQ(Get(rig.params.OscillMode), c.mode);
    EXPECT_EQ(e.mode, c.mode);
    EXPECT_EQ(e.labels.freq, std::to_string(rig.server.State().signal.frequency));
    EXPECT_EQ(e.dataInst, "Не активен");
    EXPECT_EQ(e.sampleStep, c.step);
    EXPECT_EQ(e.oscillogram.size(), c.points);
    ASSERT_EQ(e.fields.has_value(), c.fields);
    EXPECT_EQ(e.envelope.size(), c.envelope ? 1472u : 0u);
    EXPECT_EQ(rig.view.liveView.front(), true);
    if (c.mode == 1) {
        EXPECT_EQ(e.oscillogram[0], 0) << "the first envelope point is always 0";
        EXPECT_EQ(e.fields->mm, "812");
        for (size_t i = 0; i < e.envelope.size(); ++i)
            ASSERT_EQ(e.envelopeHigh[i], e.envelope[i] >= 3500 ? 1 : 0) << i;
        // The echo at 812 mm rises well above its floor somewhere.
        EXPECT_GT(*std::max_element(e.envelope.begin(), e.envelope.end()), 1000u);
    } else if (c.fields) {
        EXPECT_EQ(e.fields->mm, "-");
        EXPECT_EQ(e.fields->auth, "-");
    }
    EXPECT_EQ(rig.view.deviceStatus.back().first, StatusOk);
}

INSTANTIATE_TEST_SUITE_P(Modes, EchoPolling,
                         ::testing::Values(ModeCase{1, 10, 1472, true, true},
                                           ModeCase{2, 1, 1984, false, true},
                                           ModeCase{3, 1, 1984, false, true},
                                           ModeCase{0, 0, 0, false, false}));

TEST(EchoPolling, LostDeviceIsReportedAndReReadExactlyOnce) {
    SimRig rig;
    rig.OpenLink(19200);
    rig.Control("fault silent 2");
    rig.worker->Start();
    ASSERT_TRUE(rig.RunUntil(job::PollEcho, job::StartOscilloscope));
    // Let polling run on a while after the re-read.
    ASSERT_TRUE(rig.log.WaitFor(job::PollEcho, rig.log.Count(job::PollEcho) + 4));
    rig.Stop();
    EXPECT_EQ(rig.log.Count(job::StartOscilloscope), 1u);
    EXPECT_FALSE(rig.worker->DeviceLost());
    EXPECT_EQ(rig.view.deviceStatus.front().second, "Статус устройства: Устройство не отвечает");
    EXPECT_TRUE(rig.view.errors.empty()) << "a failed poll shows no box";
}

// The simulator going away takes its pseudo-terminal with it, as pulling out an adapter takes
// its device node: one box, the port closed, polling ended.
TEST(EchoPolling, UnpluggedPortIsClosedWithOneMessage) {
    WorkerTiming quick;
    quick.slowRepeat = 30ms;
    SimRig rig({}, quick);
    rig.OpenLink(19200);
    rig.worker->Start();
    ASSERT_TRUE(rig.RunUntil(job::PollEcho, job::PollEcho, 3));
    const std::string port = rig.server.path();
    rig.server.Stop();
    ASSERT_TRUE(rig.view.WaitUntil([&] { return !rig.view.errors.empty(); }));
    std::this_thread::sleep_for(300ms); // time for a flood, if there were one
    const size_t polls = rig.log.Count(job::PollEcho);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(rig.log.Count(job::PollEcho), polls) << "polling goes on after the unplug";
    rig.Stop();
    ASSERT_EQ(rig.view.errors.size(), 1u);
    EXPECT_NE(rig.view.errors[0].find(port + ": адаптер отключён, порт закрыт"), std::string::npos)
        << rig.view.errors[0];
    EXPECT_FALSE(rig.link.IsOpen());
    ASSERT_FALSE(rig.view.portStatus.empty());
    EXPECT_EQ(rig.view.portStatus.back().first, PortClosed);
}

// The adapter back under its stable name (the simulator again behind the same link): code 28
// opens the port, checks the device at its own or the fast speed, and posts the page's code,
// so polling resumes without another connection.
TEST(EchoPolling, ReconnectAfterTheAdapterCameBackResumesThePage) {
    WorkerTiming quick;
    quick.slowRepeat = 30ms;
    sim::SimOptions options;
    char pattern[] = "/tmp/vq31-reconnect-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    options.linkPath = dir + "/ttyUSB-by-id";
    SimRig rig(options, quick);
    rig.params.SetPortName(options.linkPath); // the stable name, not the numbered node
    rig.worker->Start();
    ASSERT_TRUE(rig.RunUntil(job::ConnectDevice, job::PollEcho, 3)); // in fast mode now
    rig.server.Stop();
    ASSERT_TRUE(rig.view.WaitUntil([&] { return !rig.view.errors.empty(); }));
    ASSERT_EQ(rig.view.vanished, std::vector<std::string>{options.linkPath});

    std::string error;
    ASSERT_TRUE(rig.server.Start(&error)) << error;
    const size_t polls = rig.log.Count(job::PollEcho);
    const size_t starts = rig.log.Count(job::StartOscilloscope);
    rig.worker->RequestReconnect(job::StartOscilloscope);
    rig.worker->PostCommand(job::ReconnectDevice);
    ASSERT_TRUE(rig.log.WaitFor(job::PollEcho, polls + 3));
    EXPECT_EQ(rig.log.Count(job::StartOscilloscope), starts + 1);
    // On the settings page the parameters are read anew instead.
    const size_t reads = rig.log.Count(job::ReadParameters);
    rig.worker->RequestReconnect(job::ReadParameters);
    rig.worker->PostCommand(job::ReconnectDevice);
    ASSERT_TRUE(rig.log.WaitFor(job::ReadParameters, reads + 1));
    rig.Stop();
    EXPECT_EQ(rig.view.errors.size(), 1u) << rig.view.errors.back();
    EXPECT_TRUE(rig.link.IsOpen());
    std::filesystem::remove_all(dir);
}

TEST(EchoPolling, StopDuringALongAnswerWaitEndsWithoutFurtherViewSteps) {
    SimRig rig;
    rig.OpenLink(19200);
    rig.Control("fault delay 20000");
    rig.worker->Start();
    rig.worker->PostCommand(job::PollEcho);
    std::this_thread::sleep_for(200ms);
    rig.worker->Stop();
    EXPECT_EQ(rig.view.stepsAfterStop, 0u);
    EXPECT_TRUE(rig.view.echoes.empty());
    rig.Control("fault clear");
}

struct SettingCase {
    int32_t code;
    std::atomic<int32_t> CommandParameters::*field;
    int32_t value;
    uint32_t (*read)(const sim::DeviceState&);
};
class SettingJob : public ::testing::TestWithParam<SettingCase> {};

TEST_P(SettingJob, WritesTheValueAndResumesPolling) {
    const SettingCase c = GetParam();
    SimRig rig;
    rig.OpenLink(19200);
    // The frequency job re-sends the filter: keep the device's own unless the case sets it.
    Put(rig.params.FilterFrequency, int32_t(rig.server.State().signal.filter));
    Put(rig.params.*c.field, c.value);
    rig.worker->Start();
    ASSERT_TRUE(rig.RunUntil(c.code, job::PollEcho));
    rig.Stop();
    EXPECT_EQ(c.read(rig.server.State()), uint32_t(c.value));
    EXPECT_TRUE(rig.view.errors.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Settings, SettingJob,
    ::testing::Values(
        SettingCase{job::SetFrequency, &CommandParameters::PulseFrequency, 1500,
                    [](const sim::DeviceState& s) { return uint32_t(s.signal.frequency); }},
        SettingCase{job::SetFilter, &CommandParameters::FilterFrequency, 450,
                    [](const sim::DeviceState& s) { return uint32_t(s.signal.filter); }},
        SettingCase{job::SetGain, &CommandParameters::GainWord, 0x1905,
                    [](const sim::DeviceState& s) { return uint32_t(s.signal.gainWord); }},
        SettingCase{job::SetAttenuator, &CommandParameters::Attenuation, 30,
                    [](const sim::DeviceState& s) { return uint32_t(s.signal.attenuation); }},
        SettingCase{job::SetPulseWidth, &CommandParameters::PulseWidth, 120,
                    [](const sim::DeviceState& s) { return uint32_t(s.signal.pulseWidth); }},
        SettingCase{job::SetIntegrator, &CommandParameters::IntegratorWord, 0x00FA0064,
                    [](const sim::DeviceState& s) { return s.signal.integratorWord; }}));

TEST(SettingJobs, AttenuatorAcceptedOnTheFourthTryShowsNoBox) {
    SimRig rig;
    rig.OpenLink(19200);
    rig.Control("fault ack 0x2A 1 3");
    Put(rig.params.Attenuation, 30);
    rig.worker->Start();
    ASSERT_TRUE(rig.RunUntil(job::SetAttenuator, job::PollEcho));
    rig.Stop();
    EXPECT_TRUE(rig.view.errors.empty());
    EXPECT_EQ(rig.server.State().signal.attenuation, 30);
    std::vector<Status> tries;
    for (const auto& s : rig.view.deviceStatus)
        tries.push_back(s.first);
    tries.resize(4);
    EXPECT_EQ(tries, (std::vector<Status>{1, 1, 1, 0}));
}

TEST(SettingJobs, FilterFailingAfterTheFrequencyShowsOneBoxAndPollsOn) {
    SimRig rig;
    rig.OpenLink(19200);
    rig.Control("fault ack 0x2C 1 2");
    const uint16_t filterBefore = rig.server.State().signal.filter;
    Put(rig.params.PulseFrequency, 1500);
    Put(rig.params.FilterFrequency, 1500);
    rig.worker->Start();
    ASSERT_TRUE(rig.RunUntil(job::SetFrequency, job::PollEcho, 2));
    rig.Stop();
    ASSERT_EQ(rig.view.errors.size(), 1u);
    EXPECT_EQ(rig.view.errors[0], "Статус устройства: Команда не выполнена");
    EXPECT_EQ(rig.server.State().signal.frequency, 1500);
    EXPECT_EQ(rig.server.State().signal.filter, filterBefore);
    EXPECT_EQ(rig.view.echoes.at(0).labels.freq, "1500") << "labels show the device's values";
}

} // namespace
} // namespace vq31
