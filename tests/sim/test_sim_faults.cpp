// Injected faults seen through the real link: each ends the exchange with its status and
// the link works again afterwards; a real-time simulator still answers whole frames.
#include "sim_fixture.h"

namespace vq31::sim {
namespace {

struct FaultCase {
    const char* line;
    Status expected;
};

TEST_F(SimLink, EachAnswerFaultEndsWithItsStatusAndTheLinkRecovers) {
    const FaultCase cases[] = {
        {"fault crc 1", StatusCrcError},      {"fault short 1", StatusBadLength},
        {"fault drop 1", StatusBadLength},    {"fault address 1", StatusBadAnswer},
        {"fault garbage 1", StatusBadAnswer}, {"fault silent 1", StatusNoAnswer},
    };
    for (const FaultCase& c : cases) {
        Control(c.line);
        uint32_t value = 0;
        EXPECT_EQ(ReadValue(link, cmd::ReadFrequency, 1, value), c.expected) << c.line;
        EXPECT_EQ(ReadValue(link, cmd::ReadFrequency, 1, value), StatusOk) << c.line;
        EXPECT_EQ(value, 2000u) << c.line;
    }
    const DeviceState s = sim().State();
    EXPECT_EQ(s.counters.faulted, 5u);
    EXPECT_EQ(s.counters.silenced, 1u);
}

TEST_F(SimLink, FaultsOnTheLongOscillogramAnswerAreCaught) {
    EchoStatusRecord status{};
    auto samples = std::make_unique<SampleBuffer>();
    Control("fault crc 1"); // the first block's check value
    EXPECT_EQ(ReadOscillogram(link, 1, 1, status, *samples), StatusBadAnswer);
    Control("fault drop 1");
    EXPECT_EQ(ReadOscillogram(link, 1, 1, status, *samples), StatusBadLength);
    EXPECT_EQ(ReadOscillogram(link, 1, 1, status, *samples), StatusOk);
}

TEST_F(SimLink, ForcedAcknowledgementStatusReachesTheCaller) {
    Control("fault ack 0x36 1");
    EXPECT_EQ(WriteValue(link, cmd::EnterFastMode, 1, 0), StatusNotExecuted);
    EXPECT_FALSE(sim().State().fastMode); // not carried out
    Control("fault ack 0x26 7 2");
    EXPECT_EQ(WriteValue(link, cmd::WriteFrequency, 1, 900), StatusBadParameter);
    EXPECT_EQ(WriteValue(link, cmd::WriteFrequency, 1, 900), StatusBadParameter);
    EXPECT_EQ(WriteValue(link, cmd::WriteFrequency, 1, 900), StatusOk);
    EXPECT_EQ(sim().State().signal.frequency, 900);
}

TEST_F(SimLink, UnstoredWriteIsAcknowledgedButLeavesTheOldValue) {
    Control("fault nostore 0x32");
    EXPECT_EQ(WriteValue(link, cmd::WritePostFilter, 1, 6), StatusOk);
    EXPECT_EQ(sim().State().postFilter, 3u) << "the dropped write was stored";
    EXPECT_EQ(WriteValue(link, cmd::WritePostFilter, 1, 6), StatusOk); // used up: stored
    EXPECT_EQ(sim().State().postFilter, 6u);
    // "any" drops every kind of write, also a hub page, for its count; reads are untouched.
    Control("fault nostore any 2");
    std::array<uint8_t, HubBlockSize> block{};
    block.fill(0x5A);
    EXPECT_EQ(WriteValue(link, cmd::WriteAddress, 1, 9), StatusOk);
    uint32_t value = 0;
    EXPECT_EQ(ReadValue(link, cmd::ReadPostFilter, 1, value), StatusOk);
    EXPECT_EQ(WriteHubBlock(link, 1, 0, block), StatusOk);
    EXPECT_EQ(sim().State().address, 1u); // still answering at 1
    EXPECT_NE(sim().HubStore()[0], 0x5A);
    EXPECT_EQ(WriteHubBlock(link, 1, 0, block), StatusOk);
    EXPECT_EQ(sim().HubStore()[0], 0x5A);
    // Only acknowledged commands can lose their write.
    EXPECT_NE(sim().Control("fault nostore 0x33").find("not answered with an acknowledgement"),
              std::string::npos);
    EXPECT_NE(sim().Control("fault nostore").find("usage"), std::string::npos);
}

TEST_F(SimLink, SilencedCodeLosesOnlyItsOwnRequests) {
    // The filter write fails after the frequency write went through.
    Control("fault code 0x2C silent 1");
    EXPECT_EQ(WriteValue(link, cmd::WriteFrequency, 1, 1500), StatusOk);
    EXPECT_EQ(WriteValue(link, cmd::WriteFilter, 1, 1500), StatusNoAnswer);
    EXPECT_EQ(WriteValue(link, cmd::WriteFilter, 1, 1500), StatusOk);
    const DeviceState s = sim().State();
    EXPECT_EQ(s.signal.frequency, 1500);
    EXPECT_EQ(s.signal.filter, 1500);
    EXPECT_EQ(s.counters.silenced, 1u);
}

TEST_F(SimLink, DelayedAnswerWithinTheWindowIsStillGood) {
    Control("fault delay 100");
    uint32_t value = 0;
    EXPECT_EQ(ReadValue(link, cmd::ReadPulseWidth, 1, value), StatusOk);
    EXPECT_EQ(value, 50u);
    Control("fault delay 0");
    EXPECT_EQ(sim().Control("state").find("fault delay"), std::string::npos);
}

// An answer held back by a long delay, and the requests queued behind it, are dropped by a
// clear: the next exchanges get their own answers at once, not the late ones.
TEST_F(SimLink, ClearDropsAnswersStillHeldBackByADelay) {
    Control("fault delay 2000");
    uint32_t value = 0;
    EXPECT_EQ(ReadValue(link, cmd::ReadPulseWidth, 1, value), StatusNoAnswer);
    EXPECT_EQ(ReadValue(link, cmd::ReadFrequency, 1, value), StatusNoAnswer);
    Control("fault clear");
    for (int i = 0; i < 4; ++i) {
        value = 0;
        EXPECT_EQ(ReadValue(link, cmd::ReadGain, 1, value), StatusOk) << i;
        EXPECT_EQ(value, 0x190Au) << i;
        EXPECT_EQ(ReadValue(link, cmd::ReadPulseWidth, 1, value), StatusOk) << i;
        EXPECT_EQ(value, 50u) << i;
    }
}

class RealtimeSimLink : public SimLink {
protected:
    void SetUp() override {
        SimOptions o;
        o.realtime = true;
        o.baud = 115200;
        Begin(o);
    }
};

TEST_F(RealtimeSimLink, PacedAnswersArriveWhole) {
    uint32_t model = 0;
    EXPECT_EQ(ReadValue(link, cmd::ReadModelCode, 1, model), StatusOk);
    EXPECT_EQ(model, SupportedModelCode);
    EchoStatusRecord status{};
    auto samples = std::make_unique<SampleBuffer>();
    uint32_t blocks = 0;
    EXPECT_EQ(ReadOscillogram(link, 1, 1, status, *samples, &blocks), StatusOk);
    EXPECT_EQ(blocks, 24u);
}

} // namespace
} // namespace vq31::sim
