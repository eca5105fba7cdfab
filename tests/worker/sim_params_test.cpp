// Passport and output parameter jobs against the simulated sensor.
#include "sim_rig.h"

namespace vq31 {
namespace {

using test::SimRig;

constexpr uint32_t KeptFlagBits = 1u << 1 | 1u << 6;

// Gives the device link flags with bits 1 and 6 set, at its present speed code.
void SetKeptBits(SimRig& rig) {
    const uint8_t flags = rig.server.State().linkFlags;
    ASSERT_EQ(WriteValue(rig.link, cmd::WriteLinkFlags, uint8_t(Get(rig.params.DeviceAddress)),
                         flags | KeptFlagBits),
              StatusOk);
}

ParameterChoice Choice(int32_t speedIndex, uint32_t address) {
    ParameterChoice c;
    c.speedIndex = speedIndex;
    c.address = address;
    c.answer255Index = 1;
    c.bitsIndex = 1;
    c.autoOn = true;
    c.autoPeriod = 5;
    c.postFilterIndex = 6;
    c.fuelTypeIndex = 0;
    c.fuelTempCoef = 0.125f;
    c.fuelSoundSpeed = 1420.5f;
    return c;
}

TEST(ReadParametersJob, ShowsPassportOutputAndFuelAndStopsPolling) {
    sim::SimOptions options;
    options.baud = 115200;
    SimRig rig(options);
    rig.Control("firmware 0x12");
    rig.OpenLink(115200);
    rig.worker->Start();
    ASSERT_TRUE(rig.RunUntil(job::ReadParameters, job::None));
    rig.Stop();
    const auto device = rig.server.State();
    ASSERT_EQ(rig.view.parameterViews.size(), 1u);
    const auto& v = rig.view.parameterViews[0];
    EXPECT_EQ(v.date, "090326"); // the simulator's passport date, 9 March 2026
    EXPECT_EQ(v.serial, "004711");
    EXPECT_EQ(v.version, "1.20");
    EXPECT_EQ(v.speedIndex, 6) << "speed code 7 selects 115200";
    EXPECT_EQ(v.address, device.address);
    EXPECT_EQ(v.postFilterIndex, device.postFilter);
    EXPECT_EQ(v.fuelTypeIndex, device.fuelType);
    EXPECT_FLOAT_EQ(Get(rig.params.FuelSoundSpeed), device.fuelSoundSpeed);
    EXPECT_EQ(rig.worker->Parameters().flagsARead, device.linkFlags);
    EXPECT_EQ(rig.view.Count("LockControls"), 1u);
    EXPECT_EQ(rig.view.Count("UnlockControls"), 1u);
    EXPECT_TRUE(rig.view.errors.empty());
}

TEST(ReadParametersJob, FailureShowsOneBoxAndNoPage) {
    SimRig rig;
    rig.OpenLink(19200);
    rig.Control("fault code 0x60 silent 1");
    rig.worker->Start();
    ASSERT_TRUE(rig.RunUntil(job::ReadParameters, job::None));
    rig.Stop();
    EXPECT_EQ(rig.view.errors,
              std::vector<std::string>{"Статус устройства: Устройство не отвечает"});
    EXPECT_TRUE(rig.view.parameterViews.empty());
    EXPECT_EQ(rig.view.Count("UnlockControls"), 1u);
}

TEST(WriteParametersJob, FollowsTheDeviceToItsNewAddressAndSpeedKeepingBitsOneAndSix) {
    SimRig rig;
    rig.OpenLink(19200);
    SetKeptBits(rig);
    rig.view.parameterChoice = Choice(2, 9); // 9600, address 9
    rig.worker->Start();
    ASSERT_TRUE(rig.RunUntil(job::ReadParameters, job::None));
    ASSERT_TRUE(rig.RunUntil(job::WriteParameters, job::None, 2));
    // Reading again works at the new address and speed.
    ASSERT_TRUE(rig.RunUntil(job::ReadParameters, job::None, 3));
    rig.Stop();
    const auto device = rig.server.State();
    EXPECT_EQ(device.address, 9);
    EXPECT_EQ(device.baud, 9600u);
    EXPECT_EQ(device.linkFlags, KeptFlagBits | 3u << 2 | 1u << 5 | 1u << 7 | 1u);
    EXPECT_EQ(device.autoPeriod, 5);
    EXPECT_EQ(device.postFilter, 6);
    EXPECT_EQ(device.fuelType, 0);
    EXPECT_FLOAT_EQ(device.fuelSoundSpeed, 1420.5f);
    EXPECT_EQ(Get(rig.params.DeviceAddress), 9);
    EXPECT_EQ(Get(rig.params.BaudRate), 9600);
    EXPECT_EQ(rig.link.BaudRate(), 9600u);
    EXPECT_EQ(rig.view.newAddresses, (std::vector<std::pair<uint32_t, uint32_t>>{{9, 19200}}));
    EXPECT_EQ(rig.view.newSpeeds, (std::vector<std::pair<uint32_t, uint32_t>>{{9600, 9}}));
    EXPECT_EQ(rig.view.parameterViews.size(), 2u);
    EXPECT_TRUE(rig.view.errors.empty());
}

TEST(WriteParametersJob, NoSpeedFuelTypeOrPostFilterChosenKeepsTheDevicesOwnAndThePort) {
    SimRig rig;
    rig.OpenLink(19200);
    rig.Control("postfilter 5");
    rig.view.parameterChoice = Choice(-1, 1);
    rig.view.parameterChoice.fuelTypeIndex = -1;
    rig.view.parameterChoice.postFilterIndex = -1;
    rig.worker->Start();
    ASSERT_TRUE(rig.RunUntil(job::ReadParameters, job::None));
    const uint8_t speedBits = rig.server.State().linkFlags & (7u << 2);
    const uint8_t fuelType = rig.server.State().fuelType;
    ASSERT_EQ(rig.server.State().postFilter, 5);
    ASSERT_TRUE(rig.RunUntil(job::WriteParameters, job::None, 2));
    rig.Stop();
    const auto device = rig.server.State();
    EXPECT_EQ(device.linkFlags & (7u << 2), speedBits) << "speed code 0 must not be written";
    EXPECT_EQ(device.fuelType, fuelType) << "fuel type -1 must not be written";
    EXPECT_EQ(device.postFilter, 5) << "post-filter -1 must not be written";
    EXPECT_FLOAT_EQ(device.fuelSoundSpeed, 1420.5f);
    EXPECT_EQ(device.baud, 19200u);
    EXPECT_EQ(rig.link.BaudRate(), 19200u);
    EXPECT_TRUE(rig.view.newSpeeds.empty());
    EXPECT_EQ(rig.view.deviceStatus.back().second, rig.texts.Text(msg::SpeedNotChosen));
    EXPECT_TRUE(rig.view.errors.empty());
}

TEST(WriteParametersJob, RefusedAddressEndsWithOneBoxBeforeTheAddressChanges) {
    SimRig rig;
    rig.OpenLink(19200);
    rig.Control("fault ack 0x56 1");
    rig.view.parameterChoice = Choice(3, 12);
    rig.worker->Start();
    ASSERT_TRUE(rig.RunUntil(job::WriteParameters, job::None));
    rig.Stop();
    // One box: the refusal, and the settings the device took before it.
    EXPECT_EQ(rig.view.errors,
              std::vector<std::string>{"Статус устройства: Команда не выполнена\n" +
                                       WithArguments(rig.texts.Text(msg::SettingsWritten),
                                                     {"Пост-фильтрация, Настройки топлива"})});
    EXPECT_EQ(rig.server.State().address, 1);
    EXPECT_EQ(Get(rig.params.DeviceAddress), 1);
    EXPECT_TRUE(rig.view.newAddresses.empty());
}

} // namespace
} // namespace vq31
