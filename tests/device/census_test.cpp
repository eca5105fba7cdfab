// The bus census against several simulated sensors: sensors and collisions found at one
// speed and across speeds, a late sensor found by a longer wait, a cancelled census, a port
// that does not open, and the first-byte wait rule.
#include "census.h"
#include "sim_fixture.h"

#include <algorithm>
#include <set>
#include <tuple>

namespace vq31::sim {
namespace {

using Found = std::set<std::tuple<int, uint32_t>>; // address, speed

class Census : public SimLink {
protected:
    void SetUp() override {
        SimOptions options;
        options.address = 1;
        options.moreAddresses = {2, 7};
        Begin(options);
    }
    CensusResult Run(std::vector<uint32_t> speeds, uint8_t from, uint8_t to,
                     const CensusCancelFn& cancel = {}) {
        CensusOptions o;
        o.speeds = std::move(speeds);
        o.from = from;
        o.to = to;
        return RunCensus(
            link, sim().path(), o, [&](const CensusProgress& p) { seen.push_back(p); }, cancel);
    }
    static Found Sensors(const CensusResult& r) {
        Found f;
        for (const auto& s : r.sensors)
            f.insert({s.address, s.speed});
        return f;
    }
    static Found Collisions(const CensusResult& r) {
        Found f;
        for (const auto& c : r.collisions)
            f.insert({c.address, c.speed});
        return f;
    }
    std::vector<CensusProgress> seen;
};

TEST_F(Census, FindsThreeSensorsAndACollisionAtOneSpeed) {
    Control("bus add 4");
    Control("collide 4");
    const CensusResult r = Run({19200}, 0, 12);
    ASSERT_TRUE(r.Complete()) << r.portError;
    EXPECT_EQ(Sensors(r), (Found{{1, 19200}, {2, 19200}, {7, 19200}}));
    EXPECT_EQ(Collisions(r), (Found{{4, 19200}}));
    const uint32_t first = sim().State().serialNumber;
    for (const CensusSensor& s : r.sensors) {
        EXPECT_EQ(s.identity.serialNumber, first + (s.address == 7 ? 2u : s.address - 1u));
        EXPECT_EQ(s.identity.firmwareVersion, 9u);
    }
    ASSERT_EQ(seen.size(), 13u);
    EXPECT_EQ(seen.back().done, seen.back().total);
    EXPECT_EQ(seen.back().left.count(), 0);
}

TEST_F(Census, FindsSensorsAndACollisionAcrossSpeeds) {
    Control("bus add 3 9600");
    Control("bus add 6 115200");
    Control("collide 6");
    Control("bus add 8 115200");
    const CensusResult r = Run({19200, 9600, 115200}, 0, 8);
    ASSERT_TRUE(r.Complete()) << r.portError;
    EXPECT_EQ(Sensors(r), (Found{{1, 19200}, {2, 19200}, {7, 19200}, {3, 9600}, {8, 115200}}));
    EXPECT_EQ(Collisions(r), (Found{{6, 115200}}));
    EXPECT_EQ(r.timing.size(), 3u);
}

TEST_F(Census, ASensorThatAnswersLateIsFoundWithALongerWait) {
    Control("@7 fault delay 45");
    const CensusResult r = Run({19200}, 0, 9);
    ASSERT_TRUE(r.Complete());
    EXPECT_EQ(Sensors(r), (Found{{1, 19200}, {2, 19200}, {7, 19200}}));
    EXPECT_TRUE(r.collisions.empty());
    EXPECT_GT(r.timing.at(0).firstByteWait.count(), 45);
}

TEST_F(Census, CancelledHalfWayKeepsWhatItFoundAndAsksNoFurther) {
    Control("bus add 15");
    const CensusResult r =
        Run({19200}, 0, 19, [&] { return !seen.empty() && seen.back().done >= 10; });
    EXPECT_TRUE(r.cancelled);
    EXPECT_FALSE(r.Complete());
    EXPECT_EQ(Sensors(r), (Found{{1, 19200}, {2, 19200}, {7, 19200}}));
    EXPECT_EQ(seen.size(), 10u);
    EXPECT_EQ(seen.back().total, 20u);
    EXPECT_GT(seen.back().left.count(), 0);
}

TEST_F(Census, APortThatDoesNotOpenIsAFailureNotAnEmptyLine) {
    CensusOptions o;
    const CensusResult r = RunCensus(link, "/nonexistent/tty-census", o);
    EXPECT_TRUE(r.portFailed);
    EXPECT_FALSE(r.Complete());
    EXPECT_FALSE(r.portError.empty());
}

TEST(CensusWait, FollowsTheMeasuredDelayWithinItsBounds) {
    using std::chrono::microseconds;
    using std::chrono::milliseconds;
    struct Case {
        uint32_t speed;
        microseconds delay;
        milliseconds wait;
    };
    const Case cases[] = {
        {19200, microseconds(0), milliseconds(34)},       // nothing measured: two idle times
        {2400, microseconds(0), milliseconds(60)},        //
        {19200, microseconds(3000), milliseconds(17)},    // a quick sensor: the idle time-out
        {9600, microseconds(12500), milliseconds(25)},    // twice the delay, rounded up
        {19200, microseconds(400000), milliseconds(500)}, // never beyond the answer window
    };
    for (const Case& c : cases)
        EXPECT_EQ(CensusFirstByteWait(c.speed, c.delay), c.wait)
            << c.speed << " " << c.delay.count();
}

} // namespace
} // namespace vq31::sim
