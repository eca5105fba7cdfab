// Forms of the settings page, the link flags written back, and the live level.
#include "echo_format.h"
#include "parameter_format.h"

#include <gtest/gtest.h>

namespace vq31 {
namespace {

TEST(ParameterForms, PassportShowsDayMonthYearSerialAndVersion) {
    ParameterRecord r;
    r.date = 16u | 2u << 8 | 8u << 16; // year 16, month byte 2, day byte 8
    r.serialNumber = 1234;
    r.firmwareVersion = 0x12;
    r.revision = 0xA7;
    const auto v = MakeParameterView(r, 0, 0.5f, 1300.0f);
    EXPECT_EQ(v.date, "090316");
    EXPECT_EQ(v.serial, "001234");
    EXPECT_EQ(v.version, "1.20");
    EXPECT_EQ(v.revision, "7");
    r.firmwareVersion = 0x09;
    EXPECT_EQ(MakeParameterView(r, 0, 0, 0).version, "0.90");
}

TEST(ParameterForms, LinkFlagsSelectSpeedAnswerAndDataWidth) {
    ParameterRecord r;
    r.flagsA = 7u << 2 | 1u << 5 | 1u << 0; // 115200, own address, auto output, 10 bits
    auto v = MakeParameterView(r, 3, 0, 0);
    EXPECT_EQ(v.speedIndex, 6);
    EXPECT_EQ(*SpeedForIndex(v.speedIndex), 115200u);
    EXPECT_EQ(v.answer255Index, 1);
    EXPECT_EQ(v.bitsIndex, 0);
    EXPECT_TRUE(v.autoOn);
    r.flagsA = 1u << 7;
    r.flagsB = 1u << 5; // 1 + 2: past the two data-width items
    v = MakeParameterView(r, 3, 0, 0);
    EXPECT_EQ(v.speedIndex, -1) << "speed code 0 selects nothing";
    EXPECT_EQ(v.bitsIndex, -1);
}

TEST(ParameterForms, FuelTypeOutsideTheListLeavesItEmptyAndEditsDisabled) {
    ParameterRecord r;
    auto v = MakeParameterView(r, 5, 0, 0);
    EXPECT_EQ(v.fuelTypeIndex, -1);
    EXPECT_FALSE(v.fuelEditsEnabled);
    v = MakeParameterView(r, 0, 0, 0);
    EXPECT_EQ(v.fuelTypeIndex, 0);
    EXPECT_TRUE(v.fuelEditsEnabled);
}

TEST(LinkFlagsWritten, KeepBitsOneAndSixAndEncodeTheChosenSpeed) {
    ParameterChoice c;
    c.speedIndex = 2; // 9600: speed code 3
    c.answer255Index = 1;
    c.bitsIndex = 1;
    c.autoOn = false;
    const uint32_t read = 1u << 1 | 1u << 6 | 7u << 2 | 1u << 0;
    EXPECT_EQ(LinkFlagsFor(c, read), 1u << 1 | 1u << 6 | 3u << 2 | 1u << 5 | 1u << 7);
    c.speedIndex = -1; // no speed chosen: the speed bits stay as read
    EXPECT_EQ(LinkFlagsFor(c, read) & (7u << 2), 7u << 2);
    c.speedIndex = 7; // past the list
    EXPECT_FALSE(SpeedForIndex(c.speedIndex));
    EXPECT_EQ(LinkFlagsFor(c, read) & (7u << 2), 7u << 2);
    // No data width shown (the device's choice is past the two items): bit 7 stays as read,
    // set or not, and so does the answer bit.
    c.bitsIndex = -1;
    c.answer255Index = -1;
    EXPECT_EQ(LinkFlagsFor(c, read) & (1u << 7 | 1u << 5), 0u);
    EXPECT_EQ(LinkFlagsFor(c, read | 1u << 7 | 1u << 5) & (1u << 7 | 1u << 5), 1u << 7 | 1u << 5);
}

TEST(LiveLevel, MillimetresAndBarOrNoData) {
    EchoStatusRecord s{};
    s[echo::Level] = 65000;
    auto v = MakeLevelView(s);
    EXPECT_TRUE(v.hasLevel);
    EXPECT_EQ(v.text, "6500");
    EXPECT_EQ(v.barHeight, 325u);
    s[echo::NoLevel] = 1;
    v = MakeLevelView(s);
    EXPECT_FALSE(v.hasLevel);
    EXPECT_EQ(v.text, "No Data");
    EXPECT_EQ(v.barHeight, 0u);
}

} // namespace
} // namespace vq31
