// Several simulated sensors on one line, through the real link: each answers at its own
// address and speed, answers given together overlap into broken frames, and the bus
// commands add, remove and address the sensors.
#include "bus.h"
#include "sim_fixture.h"

namespace vq31::sim {
namespace {

class SimBus : public SimLink {
protected:
    void SetUp() override {
        SimOptions options;
        options.address = 1;
        options.moreAddresses = {2, 7};
        Begin(options);
    }
    uint32_t SerialAt(uint8_t address, Status expected = StatusOk) {
        Identity id;
        EXPECT_EQ(ReadIdentity(link, address, id), expected) << "address " << int(address);
        return id.serialNumber;
    }
};

TEST_F(SimBus, EverySensorAnswersAtItsOwnAddressWithItsOwnSerial) {
    const uint32_t first = sim().State().serialNumber;
    EXPECT_EQ(SerialAt(1), first);
    EXPECT_EQ(SerialAt(2), first + 1);
    EXPECT_EQ(SerialAt(7), first + 2);
    SerialAt(3, StatusNoAnswer);
}

TEST_F(SimBus, TwoSensorsAtOneAddressNeverGiveACleanAnswer) {
    Control("collide 2");
    for (int i = 0; i < 6; ++i) {
        Identity id;
        const Status s = ReadIdentity(link, 2, id);
        EXPECT_TRUE(s == StatusCrcError || s == StatusBadLength || s == StatusBadAnswer)
            << "try " << i << " status " << s;
    }
    EXPECT_EQ(SerialAt(1), sim().State().serialNumber); // the others still answer cleanly
}

TEST_F(SimBus, ASensorAtAnotherSpeedAnswersOnlyAtItsSpeed) {
    Control("bus add 9 9600");
    SerialAt(9, StatusNoAnswer);
    Reopen(9600);
    EXPECT_NE(SerialAt(9), 0u);
    SerialAt(1, StatusNoAnswer);
}

TEST_F(SimBus, CommandsGoToTheAddressedSensorOrTheFirst) {
    Control("@7 firmware 8");
    Control("firmware 10");
    Identity id;
    ASSERT_EQ(ReadIdentity(link, 7, id), StatusOk);
    EXPECT_EQ(id.firmwareVersion, 8u);
    ASSERT_EQ(ReadIdentity(link, 2, id), StatusOk);
    EXPECT_EQ(id.firmwareVersion, 9u);
    ASSERT_EQ(ReadIdentity(link, 1, id), StatusOk);
    EXPECT_EQ(id.firmwareVersion, 10u);
}

TEST_F(SimBus, AnAddressWrittenMovesOnlyThatSensor) {
    ASSERT_EQ(WriteValue(link, cmd::WriteAddress, 2, 5), StatusOk);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    SerialAt(2, StatusNoAnswer);
    EXPECT_EQ(SerialAt(5), sim().State().serialNumber + 1);
    EXPECT_EQ(SerialAt(1), sim().State().serialNumber);
}

TEST(SimBusControl, BusCommandsAndTheirRefusals) {
    SensorBus bus({1, 2}, 19200);
    bool quit = false;
    struct Case {
        const char* line;
        const char* replyStart;
    };
    const Case cases[] = {
        {"bus add 3 9600", "ok: sensor at address 3, 9600 bit/s, serial 4713"},
        {"bus add 4 1234", "error:"},
        {"bus add 255", "error:"},
        {"collide 9", "error: no sensor at address 9"},
        {"collide 2", "ok: sensor at address 2, 19200 bit/s, serial 4714"},
        {"@9 state", "error: no sensor at address 9"},
        {"@3 serial 99", "ok"},
        {"bus remove 2", "ok: 3 sensors"},
        {"bus remove 8", "error:"},
        {"bus list", "address 1 baud 19200 serial 4711\naddress 2 baud 19200 serial 4712\n"
                     "address 3 baud 9600 serial 99"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(bus.Control(c.line, quit).rfind(c.replyStart, 0), 0u) << c.line;
    SensorBus alone({1}, 19200);
    EXPECT_EQ(alone.Control("bus remove 1", quit), "error: the line keeps at least one sensor");
}

TEST(SimBusWire, OverlappingAnswersReadAsOtherBytes) {
    const std::vector<uint8_t> a = {0x3E, 0x02, 0x42, 0x10};
    const std::vector<uint8_t> b = {0x3E, 0x02, 0x42, 0x20};
    // One answer alone reads back as sent; two skewed within a character do not.
    EXPECT_EQ(OverlapOnWire({a}, {0}), a);
    for (unsigned skew = 1; skew <= MaxOverlapSkewBits; ++skew)
        EXPECT_NE(OverlapOnWire({a, b}, {0, skew}), a) << "skew " << skew;
    // Driven together to the bit, the line carries the AND of both.
    EXPECT_EQ(OverlapOnWire({a, b}, {0, 0}), (std::vector<uint8_t>{0x3E, 0x02, 0x42, 0x00}));
}

} // namespace
} // namespace vq31::sim
