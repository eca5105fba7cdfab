// The control language: each command's effect on the device, and bad lines that must
// change nothing.
#include "control.h"

#include <gtest/gtest.h>

namespace vq31::sim {
namespace {

struct ControlTest : ::testing::Test {
    DeviceModel device{1, 19200};
    FaultPlan faults;
    bool quit = false;
    std::string Run(const std::string& line) { return RunControl(line, {device, faults, quit}); }
};

TEST_F(ControlTest, BadLinesAnswerAnErrorAndChangeNothing) {
    const char* lines[] = {
        "level",
        "level abc",
        "level -1",
        "level 1000.5",
        "level 12 13",
        "pour -5",
        "pour 99999",
        "drain 5000",
        "pour nan",
        "tank 50 2000",
        "tank 1000",
        "temp 500",
        "model VQ3",
        "model VQ311",
        "firmware 256",
        "firmware x",
        "date 16 2",
        "date 16 2 256",
        "serial 16777216",
        "serial -1",
        "flags 0xE3",
        "flags 256",
        "address 255",
        "address -1",
        "baud 12345",
        "baud",
        "fault",
        "fault drop",
        "fault drop -1",
        "fault crc x",
        "fault ack 0x27 1",
        "fault ack 0x36",
        "fault ack 0x36 1 2 3",
        "fault code 0x99 silent 1",
        "fault code 0x2A loud 1",
        "fault delay 70000",
        "fault nonsense 1",
        "tune",
        "tune fail 0",
        "tune maybe",
        "fastidle -3",
        "frobnicate",
        "state now",
    };
    const DeviceState before = device.Snapshot();
    for (const char* line : lines) {
        const std::string reply = Run(line);
        EXPECT_EQ(reply.rfind("error:", 0), 0u) << line << " -> " << reply;
    }
    const DeviceState after = device.Snapshot();
    EXPECT_EQ(after.levelMm, before.levelMm);
    EXPECT_EQ(after.litres, before.litres);
    EXPECT_EQ(after.address, before.address);
    EXPECT_EQ(after.baud, before.baud);
    EXPECT_EQ(after.modelCode, before.modelCode);
    EXPECT_EQ(after.firmwareVersion, before.firmwareVersion);
    EXPECT_EQ(after.date, before.date);
    EXPECT_EQ(after.serialNumber, before.serialNumber);
    EXPECT_EQ(after.linkFlags, before.linkFlags);
    EXPECT_EQ(after.temperatureC, before.temperatureC);
    EXPECT_EQ(after.capacityLitres, before.capacityLitres);
    EXPECT_EQ(faults.Describe(), "");
    EXPECT_FALSE(quit);
}

TEST_F(ControlTest, PourAndDrainMoveTheLevelThroughTheTankShape) {
    ASSERT_EQ(Run("level 0").rfind("ok", 0), 0u);
    const double capacity = device.Snapshot().capacityLitres;
    Run("pour " + std::to_string(capacity / 2));
    EXPECT_NEAR(device.Snapshot().levelMm, 500, 1e-3);
    Run("pour 100");
    const double high = device.Snapshot().levelMm;
    Run("drain 100");
    EXPECT_NEAR(device.Snapshot().levelMm, 500, 1e-3);
    // Near the middle of a horizontal cylinder 100 l raise the level less than near the
    // bottom.
    Run("level 0");
    Run("pour 100");
    EXPECT_GT(device.Snapshot().levelMm, high - 500);
}

TEST_F(ControlTest, LevelEndsNoLevelAndTankKeepsTheLevel) {
    Run("nolevel");
    EXPECT_TRUE(device.Snapshot().noLevel);
    Run("level 250");
    EXPECT_FALSE(device.Snapshot().noLevel);
    ASSERT_EQ(Run("tank 800 1500").rfind("ok", 0), 0u);
    EXPECT_DOUBLE_EQ(device.Snapshot().levelMm, 250);
    EXPECT_NEAR(device.Snapshot().capacityLitres, 3.14159265 * 0.16 * 1.5 * 1000, 1e-3);
}

TEST_F(ControlTest, IdentityAndLinkSettingsChange) {
    EXPECT_EQ(Run("model 13QV"), "ok: model 13QV");
    EXPECT_EQ(device.Snapshot().modelCode, uint32_t('1' | '3' << 8 | 'Q' << 16 | 'V' << 24));
    Run("firmware 0x0A");
    EXPECT_EQ(device.Snapshot().firmwareVersion, 10);
    Run("address 17");
    EXPECT_EQ(device.Snapshot().address, 17);
    Run("baud 57600");
    EXPECT_EQ(device.Snapshot().baud, 57600u);
    EXPECT_EQ((device.Snapshot().linkFlags >> 2) & 7, 6);
    // The stored date bytes (year, month - 1, day - 1) stand for 9 March 2016.
    EXPECT_EQ(Run("date 16 2 8"), "ok: date bytes 16 2 8 (090316)");
    EXPECT_EQ(device.Snapshot().date, 16u | 2u << 8 | 8u << 16);
    Run("serial 1234");
    EXPECT_EQ(device.Snapshot().serialNumber, 1234u);
    // Automatic output, speed code 3, own-address answers, 12 bits: the speed follows.
    EXPECT_EQ(Run("flags 0xAD"), "ok: link flags 0xAD, configured speed 9600 bit/s");
    EXPECT_EQ(device.Snapshot().linkFlags, 0xAD);
    EXPECT_EQ(device.Snapshot().baud, 9600u);
}

TEST_F(ControlTest, FaultsAreListedAndClearedAndQuitIsNoted) {
    Run("fault crc 2");
    Run("fault ack 0x36 1");
    Run("fault code 0x2A silent 3");
    Run("fault delay 40");
    const std::string listed = faults.Describe();
    EXPECT_NE(listed.find("fault crc 2"), std::string::npos);
    EXPECT_NE(listed.find("fault ack 0x36 1 1"), std::string::npos);
    EXPECT_NE(listed.find("fault code 0x2A silent 3"), std::string::npos);
    EXPECT_NE(Run("state").find("fault delay 40"), std::string::npos);
    Run("fault clear");
    EXPECT_EQ(faults.Describe(), "");
    EXPECT_NE(Run("help").find("fault code CODE silent N"), std::string::npos);
    EXPECT_EQ(Run("quit"), "bye");
    EXPECT_TRUE(quit);
}

TEST(FaultPlan, CountedFaultsAreUsedUpOneAtATime) {
    FaultPlan plan;
    plan.SetAnswerFault(AnswerFault::Crc, 2);
    plan.SetCodeSilent(0x2A, 1);
    plan.SetAck(0x36, 1, 1);
    EXPECT_TRUE(plan.TakeSilent(0x2A));
    EXPECT_FALSE(plan.TakeSilent(0x2A));
    EXPECT_EQ(plan.TakeAck(0x36), std::optional<uint8_t>(1));
    EXPECT_EQ(plan.TakeAck(0x36), std::nullopt);
    EXPECT_EQ(plan.TakeAnswerFault(), AnswerFault::Crc);
    EXPECT_EQ(plan.TakeAnswerFault(), AnswerFault::Crc);
    EXPECT_EQ(plan.TakeAnswerFault(), AnswerFault::None);
}

} // namespace
} // namespace vq31::sim
