// The device model without a port: admission by address and speed, validation of written
// values, the answers' layout, the oscillogram record, the sweep and the tuning steps.
#include "device_model.h"
#include "protocol.h"

#include <gtest/gtest.h>

#include <cstring>

namespace vq31::sim {
namespace {

std::vector<uint8_t> Request(uint8_t address, uint8_t code, uint32_t value = 0, uint32_t extra1 = 0,
                             uint32_t extra2 = 0) {
    RequestFields r;
    r.address = address;
    r.code = code;
    r.value = value;
    r.extra1 = extra1;
    r.extra2 = extra2;
    std::vector<uint8_t> frame(MaxRequestLength);
    frame.resize(BuildRequest(r, frame.data()));
    return frame;
}

struct ModelTest : ::testing::Test {
    DeviceModel device{1, 19200};
    Clock::time_point now = Clock::now();

    Answer Run(uint8_t code, uint32_t value = 0, uint32_t extra1 = 0, uint32_t extra2 = 0) {
        const std::vector<uint8_t> r = Request(1, code, value, extra1, extra2);
        EXPECT_EQ(device.Admit(r, 19200, now), Admission::Accept);
        Answer a = device.Execute(r, std::nullopt, now);
        device.Apply(a.followUp);
        return a;
    }
    uint8_t Ack(uint8_t code, uint32_t value = 0, uint32_t extra1 = 0, uint32_t extra2 = 0) {
        const Answer a = Run(code, value, extra1, extra2);
        EXPECT_EQ(a.bytes.size(), 5u);
        return a.bytes.size() == 5 ? a.bytes[3] : 0xFF;
    }
};

TEST_F(ModelTest, EveryAnswerHasItsKindsLengthAndAGoodCrc) {
    for (int code = 0; code < 256; ++code) {
        const AnswerKind kind = AnswerKindOf(uint8_t(code));
        if (RequestLayoutOf(uint8_t(code)) == RequestLayout::None ||
            kind == AnswerKind::Oscillogram)
            continue;
        // Keep the link settings: an address or speed write would move the device away.
        if (code == cmd::WriteAddress || code == cmd::WriteLinkFlags || code == cmd::EnterFastMode)
            continue;
        const std::vector<uint8_t> r = Request(1, uint8_t(code));
        const Answer a = device.Execute(r, std::nullopt, now);
        ASSERT_EQ(a.bytes.size(), AnswerLength(kind)) << std::hex << code;
        EXPECT_EQ(a.bytes[0], AnswerStart);
        EXPECT_EQ(a.bytes[1], 1);
        EXPECT_EQ(a.bytes[2], code);
        EXPECT_EQ(a.bytes.back(), Crc8(uint8_t(a.bytes.size() - 1), a.bytes.data()));
    }
}

TEST_F(ModelTest, ModelCodeAnswerIsTheModelWordInOrder) {
    const Answer a = Run(cmd::ReadModelCode);
    EXPECT_EQ(std::string(a.bytes.begin() + 3, a.bytes.begin() + 7), "VQ31");
}

TEST_F(ModelTest, RequestsForOthersOrAtAnotherSpeedAreNotAdmitted) {
    EXPECT_EQ(device.Admit(Request(2, cmd::ReadMode), 19200, now), Admission::OtherAddress);
    EXPECT_EQ(device.Admit(Request(1, cmd::ReadMode), 9600, now), Admission::WrongSpeed);
    EXPECT_EQ(device.Admit(Request(255, cmd::ReadMode), 19200, now), Admission::Accept);
    const DeviceState s = device.Snapshot();
    EXPECT_EQ(s.counters.ignoredAddress, 1u);
    EXPECT_EQ(s.counters.ignoredSpeed, 1u);
}

TEST_F(ModelTest, FastModeStartsAfterTheAcknowledgementAndEndsAtTheConfiguredSpeed) {
    const std::vector<uint8_t> r = Request(1, cmd::EnterFastMode);
    const Answer a = device.Execute(r, std::nullopt, now);
    EXPECT_EQ(device.Snapshot().speed, 19200u); // not before the answer has left
    device.Apply(a.followUp);
    EXPECT_EQ(device.Snapshot().speed, 115200u);
    EXPECT_EQ(device.Admit(Request(1, cmd::ReadMode), 115200, now), Admission::Accept);
    EXPECT_EQ(device.Admit(Request(1, cmd::ReadMode), 9600, now), Admission::WrongSpeed);
    EXPECT_TRUE(device.Snapshot().fastMode);
    EXPECT_EQ(device.Admit(Request(1, cmd::ReadMode), 19200, now), Admission::Accept);
    EXPECT_FALSE(device.Snapshot().fastMode);
}

TEST_F(ModelTest, FastModeEndsAfterTheIdleLimitWhenOneIsSet) {
    device.SetFastIdle(std::chrono::seconds(5));
    device.Apply(Run(cmd::EnterFastMode).followUp);
    const auto later = Clock::now() + std::chrono::seconds(6);
    EXPECT_EQ(device.Admit(Request(1, cmd::ReadMode), 115200, later), Admission::WrongSpeed);
    EXPECT_FALSE(device.Snapshot().fastMode);
}

struct BadWrite {
    uint8_t code;
    uint32_t value;
    uint32_t extra1;
};

TEST_F(ModelTest, ValuesTheDeviceCannotTakeAreBadParameterAndLeaveTheStateAlone) {
    const DeviceState before = device.Snapshot();
    const BadWrite cases[] = {
        {cmd::WriteFrequency, 499, 0},
        {cmd::WriteFrequency, 4001, 0},
        {cmd::WriteFilter, 449, 0},
        {cmd::WriteFilter, 4001, 0},
        {cmd::WriteGain, 26, 0},
        {cmd::WriteGain, 26 << 8, 0},
        {cmd::WriteAttenuator, 15, 0},
        {cmd::WritePulseWidth, 201, 0},
        {cmd::WritePostFilter, 9, 0},
        {cmd::WriteTareMode, 2, 0},
        {cmd::WriteMode, 5, 0},
        {cmd::WriteAddress, 255, 0},
        {cmd::WriteLinkFlags, 0xA0, 0},
        {cmd::SetSweep, 1, 0},
        {cmd::SetSweep, 2, 20},
        {cmd::WriteFuelSettings, 4, 0},
        {cmd::WriteFuelSettings, 0, 0x7FC00000u},
    };
    for (const BadWrite& c : cases)
        EXPECT_EQ(Ack(c.code, c.value, c.extra1), 2) << std::hex << int(c.code) << " " << c.value;
    const DeviceState after = device.Snapshot();
    EXPECT_EQ(std::memcmp(&before.signal, &after.signal, sizeof before.signal), 0);
    EXPECT_EQ(after.address, 1);
    EXPECT_EQ(after.baud, 19200u);
    EXPECT_EQ(after.postFilter, before.postFilter);
    EXPECT_EQ(after.mode, ModeNormal);
    EXPECT_FALSE(after.sweeping);
    EXPECT_EQ(after.fuelType, before.fuelType);
}

TEST_F(ModelTest, ForcedAcknowledgementReplacesTheStatusAndSkipsTheCommand) {
    const std::vector<uint8_t> r = Request(1, cmd::WriteFrequency, 1500);
    const Answer a = device.Execute(r, uint8_t(1), now);
    EXPECT_EQ(a.bytes[3], 1);
    EXPECT_EQ(device.Snapshot().signal.frequency, 2000);
    EXPECT_EQ(device.Execute(r, uint8_t(0), now).bytes[3], 0);
    EXPECT_EQ(device.Snapshot().signal.frequency, 1500);
}

TEST_F(ModelTest, LinkFlagsMoveTheConfiguredSpeedAfterTheAnswer) {
    const uint8_t flags = uint8_t(0xA0 | 3 << 2); // 9600
    const Answer a = Run(cmd::WriteLinkFlags, flags);
    EXPECT_EQ(a.bytes[3], 0);
    EXPECT_EQ(device.Snapshot().baud, 9600u);
    const std::vector<uint8_t> r = Request(1, cmd::ReadPassport);
    EXPECT_EQ(device.Admit(r, 19200, now), Admission::WrongSpeed);
    ASSERT_EQ(device.Admit(r, 9600, now), Admission::Accept);
    const Answer passport = device.Execute(r, std::nullopt, now);
    EXPECT_EQ(passport.bytes[20], flags);
    EXPECT_EQ(passport.bytes[17], 1);
}

TEST_F(ModelTest, BroadcastAnswerAddressFollowsTheAnswerModeFlag) {
    const std::vector<uint8_t> r = Request(255, cmd::ReadIdentity);
    EXPECT_EQ(device.Execute(r, std::nullopt, now).bytes[1], 1);
    device.Apply(Run(cmd::WriteLinkFlags, 0x80 | 4 << 2).followUp); // answer mode bit clear
    EXPECT_EQ(device.Execute(r, std::nullopt, now).bytes[1], 255);
}

TEST_F(ModelTest, EnvelopeRecordHasStatusAnd23BlocksWithGoodChecks) {
    const Answer a = Run(cmd::ReadOscillogram, 1);
    ASSERT_EQ(a.bytes.size(), 24 * OscBlockSize);
    EXPECT_EQ(a.bytes[3], 24);
    for (size_t b = 0; b < 24; ++b) {
        const uint8_t* block = a.bytes.data() + b * OscBlockSize;
        uint16_t words[OscWordsPerBlock];
        for (size_t i = 0; i < OscWordsPerBlock; ++i)
            words[i] = uint16_t(GetU16(block + OscBlockHead + 2 * i));
        EXPECT_EQ(GetU32(block + OscCheckOffset), Sum16(words, OscWordsPerBlock)) << b;
    }
    EXPECT_EQ(Run(cmd::ReadOscillogram, 2).bytes.size(), 32 * OscBlockSize);
    EXPECT_EQ(Run(cmd::ReadOscillogram, 3).bytes.size(), 32 * OscBlockSize);
    EXPECT_EQ(Run(cmd::ReadOscillogram, 11).bytes.size(), OscBlockSize);
    EXPECT_EQ(Run(cmd::ReadOscillogram, 0).bytes.size(), OscBlockSize);
}

uint16_t Word(const Answer& a, size_t index) {
    return uint16_t(GetU16(a.bytes.data() + OscBlockHead + 2 * index));
}

TEST_F(ModelTest, StatusWordsCarrySettingsLevelAndAnAdvancingFrameCounter) {
    ASSERT_EQ(Ack(cmd::WriteFrequency, 1800), 0);
    ASSERT_EQ(Ack(cmd::WriteFilter, 450), 0);
    ASSERT_EQ(Ack(cmd::WriteAttenuator, 30), 0);
    ASSERT_EQ(Ack(cmd::WriteGain, 0x1918), 0); // Ku 24 makes up for the attenuator
    ASSERT_EQ(Ack(cmd::WritePulseWidth, 75), 0);
    std::string why;
    ASSERT_TRUE(device.SetLevel(432.1, why));
    ASSERT_TRUE(device.SetTemperature(-5, why));
    const Answer first = Run(cmd::ReadOscillogram, 11);
    EXPECT_EQ(Word(first, 1), 1800);
    EXPECT_EQ(Word(first, 3), 450);
    EXPECT_EQ(Word(first, 4), 24);
    EXPECT_EQ(Word(first, 8), 0);
    EXPECT_EQ(Word(first, 5), 30);
    EXPECT_EQ(Word(first, 6), 75);
    EXPECT_EQ(Word(first, 31), 4321);
    EXPECT_EQ(Word(first, 9), 1000 + 2 * 432);
    EXPECT_EQ(int16_t(Word(first, 21)), -1280);
    const Answer second = Run(cmd::ReadOscillogram, 11);
    EXPECT_EQ(Word(second, 16), uint16_t(Word(first, 16) + 1));
}

TEST_F(ModelTest, NoLevelSetsTheFlagAndKeepsTheLastGoodLevel) {
    device.SetNoLevel(true);
    const Answer a = Run(cmd::ReadOscillogram, 11);
    EXPECT_NE(Word(a, 33), 0);
    EXPECT_NE(Word(a, 8), 0);
    EXPECT_EQ(Word(a, 31), 6000);
    device.SetNoLevel(false);
    EXPECT_EQ(Word(Run(cmd::ReadOscillogram, 11), 33), 0);
}

TEST_F(ModelTest, SweepStepsEveryRecordAndWrapsAfterTheTop) {
    ASSERT_EQ(Ack(cmd::WriteFrequency, 500), 0);
    ASSERT_EQ(Ack(cmd::SetSweep, 1, 1000), 0);
    std::vector<uint16_t> seen;
    for (int i = 0; i < 6; ++i)
        seen.push_back(Word(Run(cmd::ReadOscillogram, 1), 1));
    EXPECT_EQ(seen, (std::vector<uint16_t>{500, 1500, 2500, 3500, 500, 1500}));
    ASSERT_EQ(Ack(cmd::SetSweep, 0, 0), 0);
    EXPECT_EQ(Word(Run(cmd::ReadOscillogram, 1), 1), Word(Run(cmd::ReadOscillogram, 1), 1));
}

TEST_F(ModelTest, TuningStepOneReportsASignalLevelUpToFive) {
    ASSERT_EQ(Ack(cmd::WriteMode, ModeTuneLevel), 0);
    EXPECT_EQ(Run(cmd::ReadMode).bytes[3], ModeTuneLevel);
    const uint32_t level = GetU32(Run(cmd::ReadTuneProgress).bytes.data() + 3);
    EXPECT_GE(level, 1u);
    EXPECT_LE(level, 5u);
    device.SetNoLevel(true);
    EXPECT_EQ(GetU32(Run(cmd::ReadTuneProgress).bytes.data() + 3), 0u);
}

TEST_F(ModelTest, TuningStepTwoRunsItsTimeThenSucceedsOrFails) {
    device.SetTuneTime(std::chrono::seconds(3));
    ASSERT_EQ(Ack(cmd::WriteMode, ModeTuneSearch), 0);
    EXPECT_EQ(GetU32(Run(cmd::ReadTuneProgress).bytes.data() + 3), 0u);
    now += std::chrono::seconds(4);
    EXPECT_EQ(GetU32(Run(cmd::ReadTuneProgress).bytes.data() + 3), 1u);
    EXPECT_EQ(device.Snapshot().signal.frequency, ResonanceFrequency);

    device.SetTuneOutcome(12);
    ASSERT_EQ(Ack(cmd::WriteMode, ModeTuneSearch), 0);
    now += std::chrono::seconds(4);
    EXPECT_EQ(GetU32(Run(cmd::ReadTuneProgress).bytes.data() + 3), 0x8000000Cu);
    ASSERT_EQ(Ack(cmd::WriteMode, ModeNormal), 0);
    EXPECT_EQ(Run(cmd::ReadMode).bytes[3], ModeNormal);
}

TEST_F(ModelTest, FuelSettingsRoundTripAsFloatPatterns) {
    float coef = 0.00125f, speed = 1402.5f;
    uint32_t coefBits, speedBits;
    std::memcpy(&coefBits, &coef, 4);
    std::memcpy(&speedBits, &speed, 4);
    ASSERT_EQ(Ack(cmd::WriteFuelSettings, 0, coefBits, speedBits), 0);
    const Answer a = Run(cmd::ReadFuelSettings);
    EXPECT_EQ(a.bytes[3], 0);
    EXPECT_EQ(GetU32(&a.bytes[4]), coefBits);
    EXPECT_EQ(GetU32(&a.bytes[8]), speedBits);
}

} // namespace
} // namespace vq31::sim
