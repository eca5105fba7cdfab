// The trace ring and its lines without a port: what each kind of record reads as, the ring's
// bound and order, and the health counters.
#include "trace.h"

#include <gtest/gtest.h>

#include <regex>
#include <vector>

using namespace vq31;

namespace {

void Frame(LinkMonitor& m, TraceKind kind, Status status, std::vector<uint8_t> bytes) {
    m.RecordFrame(kind, status, bytes.data(), bytes.size());
}

std::string OnlyLine(const LinkMonitor& m) {
    const auto records = m.Since(0);
    EXPECT_EQ(records.size(), 1u);
    return records.empty() ? std::string() : FormatTraceLine(records.back());
}

} // namespace

TEST(TraceLines, EachKindShowsTimeDirectionBytesAndDecodedText) {
    const std::regex clock(R"(^\d\d:\d\d:\d\d\.\d\d\d )");
    struct Case {
        TraceKind kind;
        Status status;
        std::vector<uint8_t> bytes;
        std::string expected; // after the clock
    };
    const std::vector<Case> cases = {
        {TraceKind::Request,
         StatusOk,
         {0x31, 0x01, 0x80, 0x3D},
         "-> 31 01 80 3D | ReadModelCode addr 1"},
        {TraceKind::Request,
         StatusOk,
         {0x31, 0x05, 0x2A, 0x1E, 0x56},
         "-> 31 05 2A 1E 56 | WriteAttenuator addr 5, value 30"},
        {TraceKind::Answer,
         StatusOk,
         {0x3E, 0x01, 0x36, 0x00, 0x71},
         "<- 3E 01 36 00 71 | EnterFastMode addr 1, acknowledgement 0 | OK"},
        {TraceKind::Answer,
         StatusBadParameter,
         {0x3E, 0x01, 0x36, 0x07, 0x00},
         "<- 3E 01 36 07 00 | EnterFastMode addr 1, acknowledgement 7 | bad parameter"},
        {TraceKind::Broken,
         StatusCrcError,
         {0x3E, 0x01, 0x80, 0x56, 0x51, 0x33, 0x31, 0x00},
         "<! 3E 01 80 56 51 33 31 00 | broken answer ReadModelCode addr 1 | CRC error"},
        {TraceKind::Broken, StatusBadAnswer, {0x55}, "<! 55 | broken answer | bad answer"},
        {TraceKind::Broken,
         StatusBadLength,
         {0x3E, 0x01, 0x99, 0x00},
         "<! 3E 01 99 00 | broken answer code 0x99 addr 1 | bad length"},
    };
    for (const Case& c : cases) {
        LinkMonitor m;
        Frame(m, c.kind, c.status, c.bytes);
        const std::string line = OnlyLine(m);
        EXPECT_TRUE(std::regex_search(line, clock)) << line;
        EXPECT_EQ(line.substr(13), c.expected);
    }
}

TEST(TraceLines, SilenceRefusedAnswerAndWriteErrorNameTheRequest) {
    LinkMonitor m;
    m.RecordSilence(cmd::ReadModelCode, 1, 501);
    m.RecordRejected(cmd::WriteAttenuator, 5, cmd::WriteAttenuator, 6);
    m.RecordWriteError(cmd::ReadMode, 1);
    const auto r = m.Since(0);
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(FormatTraceLine(r[0]).substr(13),
              "-- | ReadModelCode addr 1, no answer byte for 501 ms | no answer");
    EXPECT_EQ(FormatTraceLine(r[1]).substr(13),
              "!! | WriteAttenuator addr 5, answered by WriteAttenuator addr 6 | bad answer");
    EXPECT_EQ(FormatTraceLine(r[2]).substr(13),
              "!! | ReadMode addr 1, request not written | port write error");
    for (const auto& record : r)
        EXPECT_TRUE(IsErrorRecord(record));
}

TEST(TraceLines, LongFramesKeepTheirHeadAndNameTheirLength) {
    std::vector<uint8_t> osc(3360, 0);
    osc[0] = 0x3E;
    osc[1] = 1;
    osc[2] = cmd::ReadOscillogram;
    osc[3] = 24;
    LinkMonitor m;
    Frame(m, TraceKind::Answer, StatusOk, osc);
    const std::string line = OnlyLine(m);
    EXPECT_NE(line.find("<- 3E 01 22 18 00"), std::string::npos) << line;
    EXPECT_NE(line.find(" ... (3360 bytes) | ReadOscillogram addr 1, 24 blocks | OK"),
              std::string::npos)
        << line;
    EXPECT_FALSE(IsErrorRecord(m.Since(0).back()));
}

TEST(TraceRing, KeepsTheNewestRecordsInOrderWithinItsBound) {
    LinkMonitor m;
    EXPECT_EQ(m.capacity(), TraceRingCapacity);
    const size_t memory = m.MemoryBytes();
    const std::vector<uint8_t> request = {0x31, 0x01, 0x71, 0x00};
    for (int i = 0; i < 25000; ++i)
        Frame(m, TraceKind::Request, StatusOk, request);
    EXPECT_EQ(m.size(), TraceRingCapacity);
    EXPECT_EQ(m.MemoryBytes(), memory);
    const auto all = m.Since(0);
    ASSERT_EQ(all.size(), TraceRingCapacity);
    EXPECT_EQ(all.front().sequence, 15001u);
    EXPECT_EQ(all.back().sequence, 25000u);
    for (size_t i = 1; i < all.size(); ++i)
        ASSERT_EQ(all[i].sequence, all[i - 1].sequence + 1);
    EXPECT_EQ(m.Health().requests, 25000u); // counters are not bounded by the ring
}

TEST(TraceRing, SinceTakesOnlyNewRecordsAndAtMostTheNewestMax) {
    LinkMonitor m(8);
    const std::vector<uint8_t> request = {0x31, 0x01, 0x71, 0x00};
    for (int i = 0; i < 5; ++i)
        Frame(m, TraceKind::Request, StatusOk, request);
    EXPECT_EQ(m.Since(5).size(), 0u);
    auto tail = m.Since(3);
    ASSERT_EQ(tail.size(), 2u);
    EXPECT_EQ(tail[0].sequence, 4u);
    for (int i = 0; i < 7; ++i) // wraps: 12 records in a ring of 8
        Frame(m, TraceKind::Request, StatusOk, request);
    auto wrapped = m.Since(2); // 3 and 4 are gone already
    ASSERT_EQ(wrapped.size(), 8u);
    EXPECT_EQ(wrapped.front().sequence, 5u);
    auto newest = m.Since(0, 3);
    ASSERT_EQ(newest.size(), 3u);
    EXPECT_EQ(newest.front().sequence, 10u);
    EXPECT_EQ(newest.back().sequence, 12u);

    m.Clear();
    EXPECT_EQ(m.size(), 0u);
    EXPECT_TRUE(m.Since(0).empty());
    EXPECT_EQ(m.Health().requests, 0u);
    Frame(m, TraceKind::Request, StatusOk, request);
    ASSERT_EQ(m.Since(12).size(), 1u);
    EXPECT_EQ(m.Since(12)[0].sequence, 13u); // numbers go on after a clear
}

TEST(TraceHealth, CountsOutcomesRateAndLastError) {
    LinkMonitor m;
    EXPECT_EQ(m.Health().requestsPerSecond, 0.0);
    Frame(m, TraceKind::Request, StatusOk, {0x31, 0x01, 0x80, 0x3D});
    Frame(m, TraceKind::Answer, StatusOk, {0x3E, 0x01, 0x80, 0x56, 0x51, 0x33, 0x31, 0x0E});
    m.CountExchange(StatusOk);
    Frame(m, TraceKind::Request, StatusOk, {0x31, 0x01, 0x80, 0x3D});
    Frame(m, TraceKind::Broken, StatusCrcError, {0x3E, 0x01, 0x80, 0x56, 0x51, 0x33, 0x31, 0x00});
    m.CountExchange(StatusCrcError);
    Frame(m, TraceKind::Request, StatusOk, {0x31, 0x01, 0x80, 0x3D});
    m.RecordSilence(cmd::ReadModelCode, 1, 500);
    m.CountExchange(StatusNoAnswer);
    m.CountExchange(42); // not a link status: counted as other

    const LinkHealth h = m.Health();
    EXPECT_EQ(h.requests, 3u);
    EXPECT_EQ(h.answers, 1u);
    EXPECT_EQ(h.broken, 1u);
    EXPECT_EQ(h.silences, 1u);
    EXPECT_EQ(h.statuses[StatusOk], 1u);
    EXPECT_EQ(h.statuses[StatusCrcError], 1u);
    EXPECT_EQ(h.statuses[StatusNoAnswer], 1u);
    EXPECT_EQ(h.statuses[9], 1u);
    EXPECT_EQ(h.exchanges(), 4u);
    EXPECT_EQ(h.lastError, StatusNoAnswer);
    EXPECT_NE(h.lastErrorLine.find("no answer byte for 500 ms"), std::string::npos);
    EXPECT_GT(h.requestsPerSecond, 0.0);
    EXPECT_LE(h.requestsPerSecond, 3.0); // three requests, counted over at least one second

    const std::string text = FormatHealth(h);
    EXPECT_NE(text.find("requests 3, answers 1, broken 1, silent 1"), std::string::npos) << text;
    EXPECT_NE(text.find("OK 1, CRC error 1, no answer 1, other 1"), std::string::npos) << text;
    EXPECT_NE(text.find("last error: "), std::string::npos);
}

TEST(TraceHealth, SinkGetsEveryLineInOrderUntilRemoved) {
    LinkMonitor m(2);
    std::vector<std::string> lines;
    m.SetLineSink([&](const std::string& line) { lines.push_back(line); });
    for (int i = 0; i < 5; ++i)
        m.RecordSilence(uint8_t(0x71), uint8_t(i), 500);
    m.SetLineSink({});
    m.RecordSilence(0x71, 9, 500);
    ASSERT_EQ(lines.size(), 5u); // the sink is not bounded by the ring
    EXPECT_NE(lines[4].find("ReadMode addr 4"), std::string::npos);
}
