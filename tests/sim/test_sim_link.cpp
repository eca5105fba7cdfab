// The simulator through the real link over its pseudo-terminal: every command answered with
// its frame kind and the device's values, speed and address handling, hub blocks and the
// simulated level.
#include "sim_fixture.h"

#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace vq31::sim {
namespace {

TEST_F(SimLink, ModelCodeQueryIsAnsweredWithTheModelWord) {
    uint32_t model = 0;
    ASSERT_EQ(ReadValue(link, cmd::ReadModelCode, 1, model), StatusOk);
    EXPECT_EQ(model, SupportedModelCode);
    Control("model 13QV");
    ASSERT_EQ(ReadValue(link, cmd::ReadModelCode, 1, model), StatusOk);
    EXPECT_EQ(model, uint32_t('1' | '3' << 8 | 'Q' << 16 | 'V' << 24));
}

TEST_F(SimLink, IdentityPassportAndOutputSettingsCarryTheDeviceValues) {
    Control("firmware 8");
    Identity id;
    ASSERT_EQ(ReadIdentity(link, 1, id), StatusOk);
    EXPECT_EQ(id.firmwareVersion, 8u);
    EXPECT_EQ(id.date, 26u | 2u << 8 | 8u << 16);
    Passport p;
    ASSERT_EQ(ReadPassport(link, 1, p), StatusOk);
    const DeviceState s = sim().State();
    EXPECT_EQ(p.serialNumber, s.serialNumber);
    EXPECT_EQ(p.model, s.modelByte);
    EXPECT_EQ(p.firmwareVersion, 8u);
    EXPECT_EQ(p.address, 1u);
    EXPECT_EQ(p.linkFlags, s.linkFlags);
    EXPECT_EQ((p.linkFlags >> 2) & 7, 4u); // 19200
    // Passport values set from the control channel travel in their answer fields; the
    // speed code is kept so the device stays reachable.
    Control("date 16 2 8");
    Control("serial 1234");
    Control("flags 0x53");
    ASSERT_EQ(ReadPassport(link, 1, p), StatusOk);
    EXPECT_EQ(p.date, 16u | 2u << 8 | 8u << 16);
    EXPECT_EQ(p.serialNumber, 1234u);
    EXPECT_EQ(p.linkFlags, 0x53u);
    ASSERT_EQ(ReadIdentity(link, 1, id), StatusOk);
    EXPECT_EQ(id.date, 16u | 2u << 8 | 8u << 16);
    EXPECT_EQ(id.serialNumber, 1234u);
    OutputSettings o;
    ASSERT_EQ(ReadOutputSettings(link, 1, o), StatusOk);
    EXPECT_EQ(o.revisionByte & 0x0F, s.revision);
    std::array<uint32_t, 3> wake{};
    EXPECT_EQ(WakeUp(link, 1, &wake), StatusOk);
}

struct SettingCase {
    uint8_t write;
    uint8_t read;
    uint32_t value;
};

TEST_F(SimLink, WrittenSettingsAreReadBack) {
    const SettingCase cases[] = {
        {cmd::WriteFrequency, cmd::ReadFrequency, 1730},
        {cmd::WriteFilter, cmd::ReadFilter, 450},
        {cmd::WriteGain, cmd::ReadGain, 0x1805},
        {cmd::WriteAttenuator, cmd::ReadAttenuator, 30},
        {cmd::WritePulseWidth, cmd::ReadPulseWidth, 120},
        {cmd::WriteIntegrator, cmd::ReadIntegrator, 200u << 16 | 100u},
        {cmd::WritePostFilter, cmd::ReadPostFilter, 7},
        {cmd::WriteTankHeight, cmd::ReadTankHeight, 23450},
        {cmd::WriteTankId, cmd::ReadTankId, 3},
        {cmd::WriteMode, cmd::ReadMode, ModeTuneLevel},
    };
    for (const SettingCase& c : cases) {
        ASSERT_EQ(WriteValue(link, c.write, 1, c.value), StatusOk) << std::hex << int(c.write);
        uint32_t back = 0;
        ASSERT_EQ(ReadValue(link, c.read, 1, back), StatusOk) << std::hex << int(c.read);
        EXPECT_EQ(back, c.value) << std::hex << int(c.read);
    }
    ASSERT_EQ(WriteValue(link, cmd::WriteDisplayTest, 1, 0x27F7F), StatusOk);
    ASSERT_EQ(WriteValue(link, cmd::WriteTareMode, 1, 1), StatusOk);
    ASSERT_EQ(WriteValue(link, cmd::WriteAutoPeriod, 1, 9), StatusOk);
    ASSERT_EQ(WriteFuelSettings(link, 1, 0, 0.0011f, 1333.5f), StatusOk);
    FuelSettings fuel;
    ASSERT_EQ(ReadFuelSettings(link, 1, fuel), StatusOk);
    EXPECT_EQ(fuel.fuelType, 0u);
    EXPECT_EQ(FloatFromBits(fuel.tempCoefBits), 0.0011f);
    EXPECT_EQ(FloatFromBits(fuel.soundSpeedBits), 1333.5f);
    const DeviceState s = sim().State();
    EXPECT_EQ(s.displayMask, 0x27F7Fu);
    EXPECT_EQ(s.tareMode, 1);
    EXPECT_EQ(s.autoPeriod, 9);
    EXPECT_EQ(WriteValue(link, cmd::WriteFrequency, 1, 4500), StatusBadParameter);
}

TEST_F(SimLink, RequestsAtAnotherSpeedAreIgnored) {
    Reopen(9600);
    uint32_t mode = 0;
    EXPECT_EQ(ReadValue(link, cmd::ReadMode, 1, mode), StatusNoAnswer);
    EXPECT_EQ(sim().State().counters.ignoredSpeed, 1u);
    Reopen(19200);
    EXPECT_EQ(ReadValue(link, cmd::ReadMode, 1, mode), StatusOk);
}

TEST_F(SimLink, FastModeMovesTheDeviceTo115200AfterTheAcknowledgement) {
    ASSERT_EQ(WriteValue(link, cmd::EnterFastMode, 1, 0), StatusOk);
    EXPECT_TRUE(Eventually([](const DeviceState& d) { return d.speed == 115200u; }));
    Reopen(115200);
    uint32_t gain = 0;
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(ReadValue(link, cmd::ReadGain, 1, gain), StatusOk);
    EXPECT_TRUE(sim().State().fastMode);
    // Coming back at the configured speed ends the fast mode.
    Reopen(19200);
    EXPECT_EQ(ReadValue(link, cmd::ReadGain, 1, gain), StatusOk);
    EXPECT_FALSE(sim().State().fastMode);
}

TEST_F(SimLink, NewAddressAndSpeedTakeEffectAfterTheAcknowledgement) {
    ASSERT_EQ(WriteValue(link, cmd::WriteAddress, 1, 7), StatusOk); // answered from 1
    EXPECT_TRUE(Eventually([](const DeviceState& d) { return d.address == 7; }));
    uint32_t value = 0;
    EXPECT_EQ(ReadValue(link, cmd::ReadMode, 7, value), StatusOk);
    ASSERT_EQ(WriteValue(link, cmd::WriteLinkFlags, 7, 0xA0 | 6 << 2), StatusOk); // 57600
    Reopen(57600);
    EXPECT_EQ(ReadValue(link, cmd::ReadMode, 7, value), StatusOk);
    EXPECT_EQ(sim().State().counters.ignoredAddress, 0u);
}

TEST_F(SimLink, BroadcastSearchFindsTheDeviceAddress) {
    Control("address 17");
    uint8_t found = 0;
    ASSERT_EQ(FindDevice(link, found), StatusOk);
    EXPECT_EQ(found, 17);
    uint32_t mode = 0;
    EXPECT_EQ(ReadValue(link, cmd::ReadMode, 255, mode), StatusOk);
}

TEST_F(SimLink, HubBlocksRoundTripAndTheStoreStartsWithAValidImage) {
    std::array<uint8_t, HubBlockSize> block{};
    ASSERT_EQ(ReadHubBlock(link, 1, 0, block), StatusOk);
    EXPECT_EQ(GetU16(&block[4]), 0x0301u);
    const std::vector<uint8_t> store = sim().HubStore();
    EXPECT_TRUE(std::equal(block.begin(), block.end(), store.begin()));

    for (size_t i = 0; i < block.size(); ++i)
        block[i] = uint8_t(i * 7 + 3);
    ASSERT_EQ(WriteHubBlock(link, 1, 255, block), StatusOk);
    std::array<uint8_t, HubBlockSize> back{};
    ASSERT_EQ(ReadHubBlock(link, 1, 255, back), StatusOk);
    EXPECT_EQ(back, block);
    const std::vector<uint8_t> after = sim().HubStore();
    EXPECT_TRUE(std::equal(block.begin(), block.end(), after.begin() + 255 * 128));

    EXPECT_FALSE(sim().SetHubStore(std::vector<uint8_t>(HubStoreSize + 1, 1)));
    EXPECT_EQ(sim().HubStore(), after);
    ASSERT_TRUE(sim().SetHubStore({1, 2, 3}));
    ASSERT_EQ(ReadHubBlock(link, 1, 0, back), StatusOk);
    EXPECT_EQ(back[2], 3);
    EXPECT_EQ(back[3], 0);
}

uint16_t LevelWord(DeviceLink& link) {
    EchoStatusRecord status{};
    auto samples = std::make_unique<SampleBuffer>();
    EXPECT_EQ(ReadOscillogram(link, 1, 11, status, *samples), StatusOk);
    return status[31];
}

TEST_F(SimLink, PouringAndDrainingMoveTheLevelWord) {
    Control("level 100");
    EXPECT_EQ(LevelWord(link), 1000);
    Control("pour 200");
    const uint16_t up = LevelWord(link);
    EXPECT_GT(up, 1000);
    EXPECT_NEAR(up, sim().State().levelMm * 10, 0.5);
    Control("drain 200");
    EXPECT_EQ(LevelWord(link), 1000);
}

TEST_F(SimLink, OscillogramModesCarryTheirBlockCountsAndTheFrameCounterAdvances) {
    EchoStatusRecord status{};
    auto samples = std::make_unique<SampleBuffer>();
    uint32_t blocks = 0;
    ASSERT_EQ(ReadOscillogram(link, 1, 1, status, *samples, &blocks), StatusOk);
    EXPECT_EQ(blocks, 24u);
    const uint16_t frame = status[16];
    // The echo of the 600 mm level shows at envelope index (1000 + 2 x 600) / 10.
    const auto peak = std::max_element(samples->begin() + 80, samples->begin() + 1472);
    EXPECT_NEAR(double(peak - samples->begin()), 220, 2);
    ASSERT_EQ(ReadOscillogram(link, 1, 2, status, *samples, &blocks), StatusOk);
    EXPECT_EQ(blocks, 32u);
    EXPECT_EQ(status[16], uint16_t(frame + 1));
    ASSERT_EQ(ReadOscillogram(link, 1, 3, status, *samples, &blocks), StatusOk);
    EXPECT_EQ(blocks, 32u);
}

TEST_F(SimLink, SweepRecordsStepTheFrequencyAndWrap) {
    ASSERT_EQ(WriteValue(link, cmd::WriteFrequency, 1, 500), StatusOk);
    ASSERT_EQ(SetSweep(link, 1, 1, 900), StatusOk);
    EchoStatusRecord status{};
    auto samples = std::make_unique<SampleBuffer>();
    std::vector<uint16_t> seen;
    for (int i = 0; i < 6; ++i) {
        ASSERT_EQ(ReadOscillogram(link, 1, 11, status, *samples), StatusOk);
        seen.push_back(status[1]);
    }
    EXPECT_EQ(seen, (std::vector<uint16_t>{500, 1400, 2300, 3200, 500, 1400}));
    EXPECT_EQ(SetSweep(link, 1, 0, 0), StatusOk);
    EXPECT_FALSE(sim().State().sweeping);
}

TEST_F(SimLink, TuningStepTwoReportsTheErrorItWasToldToFailWith) {
    Control("tune time 0");
    Control("tune fail 12");
    ASSERT_EQ(WriteValue(link, cmd::WriteMode, 1, ModeTuneSearch), StatusOk);
    uint32_t progress = 0;
    ASSERT_EQ(ReadValue(link, cmd::ReadTuneProgress, 1, progress), StatusOk);
    EXPECT_EQ(progress, 0x8000000Cu);
    Control("tune ok");
    ASSERT_EQ(WriteValue(link, cmd::WriteMode, 1, ModeTuneSearch), StatusOk);
    ASSERT_EQ(ReadValue(link, cmd::ReadTuneProgress, 1, progress), StatusOk);
    EXPECT_EQ(progress, 1u);
}

TEST(SimServerStart, RefusesBadOptionsAndAnExistingFileAsLink) {
    SimOptions bad;
    bad.baud = 12345;
    std::string error;
    EXPECT_FALSE(SimServer(bad).Start(&error));
    EXPECT_NE(error.find("speed"), std::string::npos);

    const std::string file = ::testing::TempDir() + "vq31_sim_not_a_link";
    std::FILE* f = std::fopen(file.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    SimOptions linked;
    linked.linkPath = file;
    SimServer server(linked);
    EXPECT_FALSE(server.Start(&error));
    EXPECT_NE(error.find("not a symbolic link"), std::string::npos);
    std::remove(file.c_str());
}

TEST(SimServerStart, LinkPointsAtTheTerminalWhileRunningAndGoesAway) {
    SimOptions o;
    o.linkPath = ::testing::TempDir() + "vq31_sim_link";
    SimServer server(o);
    std::string error;
    ASSERT_TRUE(server.Start(&error)) << error;
    DeviceLink link;
    ASSERT_EQ(link.UartOpen(o.linkPath, 19200), 0) << link.OpenError();
    uint32_t model = 0;
    EXPECT_EQ(ReadValue(link, cmd::ReadModelCode, 1, model), StatusOk);
    link.UartClose();
    server.Stop();
    EXPECT_NE(::access(o.linkPath.c_str(), F_OK), 0);
}

TEST_F(SimLink, UnlockReleasesThePortAfterAToolVanishedHoldingIt) {
    link.UartClose();
    // A tool that ends without closing leaves the exclusive-use flag behind.
    const int fd = ::open(sim().path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ioctl(fd, TIOCEXCL), 0);
    ::close(fd);
    EXPECT_EQ(sim().Control("unlock"), "ok: the port may be opened again");
    const int probe = ::open(sim().path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(probe, 0);
    int exclusive = -1;
    ASSERT_EQ(::ioctl(probe, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    ::close(probe);
    Reopen(19200);
    uint32_t model = 0;
    EXPECT_EQ(ReadValue(link, cmd::ReadModelCode, 1, model), StatusOk);
    EXPECT_EQ(sim().Control("unlock now").rfind("error:", 0), 0u);
}

} // namespace
} // namespace vq31::sim
