// Codes 29 and 30 against several simulated sensors: the census list shown to the window,
// stopped by the next post, and a sensor moved to a new address that the window follows.
#include "sim_rig.h"

namespace vq31::test {
namespace {

sim::SimOptions ThreeSensors() {
    sim::SimOptions o;
    o.address = 1;
    o.moreAddresses = {2, 7};
    return o;
}

CensusOptions Range(uint8_t from, uint8_t to) {
    CensusOptions o;
    o.speeds = {19200};
    o.from = from;
    o.to = to;
    return o;
}

TEST(CensusJob, ListsSensorsAndCollisionsAndClosesThePortItOpened) {
    SimRig rig(ThreeSensors());
    rig.Control("collide 7");
    rig.worker->Start();
    rig.worker->RequestCensus(Range(0, 9));
    rig.worker->PostCommand(job::CensusBus);
    ASSERT_TRUE(rig.view.WaitForStep("ShowCensus"));
    rig.Stop();
    const CensusView& v = rig.view.censusViews.at(0);
    ASSERT_EQ(v.rows.size(), 3u);
    EXPECT_EQ(v.rows[0].address, 1u);
    EXPECT_EQ(v.rows[0].serial, "004711");
    EXPECT_EQ(v.rows[0].firmware, "0.90");
    EXPECT_EQ(v.rows[1].address, 2u);
    EXPECT_TRUE(v.rows[2].collision);
    EXPECT_EQ(v.rows[2].address, 7u);
    EXPECT_EQ(v.summary.rfind("Найдено датчиков: 2, коллизий: 1", 0), 0u) << v.summary;
    EXPECT_EQ(rig.view.portStatus.back().first, PortClosed);
    EXPECT_FALSE(rig.link.IsOpen());
    EXPECT_EQ(rig.view.censusPercents.size(), 11u); // ten addresses, then done
}

TEST(CensusJob, ThePostOfAnotherCodeStopsIt) {
    SimRig rig(ThreeSensors());
    rig.view.onStep = [&](const std::string& step) {
        if (step == "ShowCensusProgress" && rig.view.Count(step) == 3)
            rig.worker->PostCommand(job::None);
    };
    rig.worker->Start();
    rig.worker->RequestCensus(Range(0, 200));
    rig.worker->PostCommand(job::CensusBus);
    ASSERT_TRUE(rig.view.WaitForStep("ShowCensus"));
    rig.Stop();
    EXPECT_TRUE(rig.worker->LastCensus().cancelled);
    EXPECT_LT(rig.view.censusPercents.size(), 10u);
    EXPECT_NE(rig.view.censusViews.at(0).summary.find("прерван"), std::string::npos);
}

TEST(ReaddressJob, MovesTheSensorOrSaysWhyNot) {
    struct Case {
        const char* setup;
        uint8_t to;
        const char* textStart; // of the information or error box
        bool moved;
    };
    const Case cases[] = {
        {"", 5, "Датчик 004712 перенесён с адреса 2 на адрес 5", true},
        {"", 7, "Адрес 7 занят", false},
        {"collide 2", 5, "На адресе 2 отвечают два или более датчика", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.textStart);
        SimRig rig(ThreeSensors());
        if (*c.setup)
            rig.Control(c.setup);
        rig.worker->Start();
        rig.worker->RequestReaddress(2, c.to, 19200);
        rig.worker->PostCommand(job::ReaddressDevice);
        ASSERT_TRUE(rig.view.WaitUntil(
            [&] { return !rig.view.informations.empty() || !rig.view.errors.empty(); }));
        rig.Stop();
        const auto& boxes = c.moved ? rig.view.informations : rig.view.errors;
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].rfind(c.textStart, 0), 0u) << boxes[0];
        EXPECT_EQ(Get(rig.params.DeviceAddress), c.moved ? c.to : 1);
        EXPECT_EQ(rig.view.newAddresses.size(), c.moved ? 1u : 0u);
    }
}

} // namespace
} // namespace vq31::test
