// The port thread and the caller's side of an exchange against a scripted peer on a real
// pseudo-terminal: exact request bytes, answer checks, pacing, failures and reopening.
#include "commands.h"
#include "link.h"
#include "pty_peer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <thread>

using namespace vq31;
using namespace std::chrono_literals;
using test::Answer;
using test::PtyPeer;

namespace {

// Runs the peer's script on its own thread while the test body makes the exchange.
template <class Script> std::future<void> Serve(Script script) {
    return std::async(std::launch::async, std::move(script));
}

class LinkOnPty : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(link.UartOpen(peer.path(), 19200), 0) << link.OpenError(); }
    PtyPeer peer;
    DeviceLink link;
};

} // namespace

TEST(LinkClosed, EveryExchangeReportsPortErrorWithoutSendingAnything) {
    DeviceLink link;
    uint32_t value = 0;
    EXPECT_EQ(ReadValue(link, cmd::ReadModelCode, 1, value), StatusPortError);
    EXPECT_EQ(WriteValue(link, cmd::WriteGain, 1, 5), StatusPortError);
    EXPECT_EQ(link.StateSnapshot().pendingCode, 0);
    EXPECT_EQ(link.UartClose(), 0);
    EXPECT_EQ(link.UartClose(), 0);
}

TEST(LinkClosed, OpeningAMissingPortFailsWithItsCause) {
    DeviceLink link;
    EXPECT_EQ(link.UartOpen("/dev/vq31-no-such-port", 19200), 1);
    EXPECT_FALSE(link.IsOpen());
    EXPECT_NE(link.OpenError().find("does not exist"), std::string::npos);
    uint8_t found = 0;
    EXPECT_EQ(FindDevice(link, found), StatusPortError);
}

TEST(LinkClosed, OpeningSomethingThatIsNotATerminalFails) {
    DeviceLink link;
    EXPECT_EQ(link.UartOpen("/dev/null", 19200), 1);
    EXPECT_FALSE(link.OpenError().empty());
}

TEST_F(LinkOnPty, RequestGoesOutByteExactAndAnswerIsRead) {
    EXPECT_EQ(peer.Speed(), 19200u);
    auto done = Serve([&] {
        EXPECT_EQ(peer.ReadRequest(2s), (std::vector<uint8_t>{0x31, 0x01, 0x80, 0x3D}));
        peer.Write(Answer({0x3E, 0x01, 0x80, 'V', 'Q', '3', '1'}));
    });
    uint32_t model = 0;
    EXPECT_EQ(ReadValue(link, cmd::ReadModelCode, 1, model), StatusOk);
    EXPECT_EQ(model, SupportedModelCode);
    done.get();
    EXPECT_EQ(link.StateSnapshot().answerCode, 0); // consumed by the caller
}

TEST_F(LinkOnPty, BroadcastAcceptsAnyAddressAndReturnsIt) {
    auto done = Serve([&] {
        EXPECT_EQ(peer.ReadRequest(2s), (std::vector<uint8_t>{0x31, 0xFF, 0x42, 0x0E}));
        peer.Write(Answer({0x3E, 17, 0x42, 0x16, 0x03, 0x09, 0xD2, 0x04, 0x00, 0x01, 0x09}));
    });
    uint8_t found = 0;
    Identity id;
    EXPECT_EQ(FindDevice(link, found, &id), StatusOk);
    EXPECT_EQ(found, 17);
    EXPECT_EQ(id.date, 0x090316u);
    EXPECT_EQ(id.serialNumber, 1234u);
    EXPECT_EQ(id.firmwareVersion, 9u);
    done.get();
}

TEST_F(LinkOnPty, AnswerFromAnotherAddressOrForAnotherCodeIsBadAnswer) {
    auto done = Serve([&] {
        peer.ReadRequest(2s);
        peer.Write(Answer({0x3E, 6, cmd::WriteAttenuator, 0}));
        peer.ReadRequest(2s);
        peer.Write(Answer({0x3E, 5, cmd::WriteGain, 0}));
    });
    EXPECT_EQ(WriteValue(link, cmd::WriteAttenuator, 5, 30), StatusBadAnswer);
    EXPECT_EQ(WriteValue(link, cmd::WriteAttenuator, 5, 30), StatusBadAnswer);
    done.get();
}

TEST_F(LinkOnPty, AcknowledgementStatusesEndTheExchange) {
    auto done = Serve([&] {
        peer.ReadRequest(2s);
        peer.Write(Answer({0x3E, 1, cmd::EnterFastMode, 1}));
        peer.ReadRequest(2s);
        peer.Write(Answer({0x3E, 1, cmd::EnterFastMode, 228}));
    });
    EXPECT_EQ(WriteValue(link, cmd::EnterFastMode, 1, 0), StatusNotExecuted);
    EXPECT_EQ(WriteValue(link, cmd::EnterFastMode, 1, 0), StatusBadParameter);
    done.get();
}

// Bytes after a whole answer are judged within microseconds; the waiter must still take the
// first frame's outcome and fields.
TEST_F(LinkOnPty, BytesTrailingAnAnswerDoNotChangeItsOutcome) {
    constexpr int Rounds = 4;
    auto done = Serve([&] {
        for (int i = 0; i < Rounds; ++i) {
            peer.ReadRequest(2s);
            peer.Write({0x3E, 0x05, 0x2A, 0x00, 0x4E, 0x55}); // good acknowledgement + stray
        }
        peer.ReadRequest(2s);
        auto twice = Answer({0x3E, 5, cmd::WriteAttenuator, 0});
        const auto refused = Answer({0x3E, 5, cmd::WriteAttenuator, 2});
        twice.insert(twice.end(), refused.begin(), refused.end());
        peer.Write(twice);
        peer.ReadRequest(2s);
        auto values = Answer({0x3E, 5, cmd::ReadGain, 0x19, 0x0A});
        const auto other = Answer({0x3E, 5, cmd::ReadGain, 0x01, 0x02});
        values.insert(values.end(), other.begin(), other.end());
        peer.Write(values);
    });
    for (int i = 0; i < Rounds; ++i)
        EXPECT_EQ(WriteValue(link, cmd::WriteAttenuator, 5, 30), StatusOk) << "round " << i;
    EXPECT_EQ(WriteValue(link, cmd::WriteAttenuator, 5, 30), StatusOk);
    uint32_t gain = 0;
    EXPECT_EQ(ReadValue(link, cmd::ReadGain, 5, gain), StatusOk);
    EXPECT_EQ(gain, 0x0A19u);
    done.get();
}

TEST_F(LinkOnPty, GarbledAnswersEndInTheirStatusAndTheLinkRecovers) {
    auto done = Serve([&] {
        peer.ReadRequest(2s);
        peer.Write({0x3E, 1, cmd::ReadGain, 0x10, 0x20, 0x00}); // bad CRC
        peer.ReadRequest(2s);
        peer.Write({0x3E, 1, cmd::ReadGain}); // cut short
        peer.ReadRequest(2s);
        peer.Write({0x55, 0x3E, 1, cmd::ReadGain}); // wrong start byte
        peer.ReadRequest(2s);
        peer.Write(Answer({0x3E, 1, cmd::ReadGain, 0x19, 0x0A}));
    });
    uint32_t gain = 0;
    EXPECT_EQ(ReadValue(link, cmd::ReadGain, 1, gain), StatusCrcError);
    EXPECT_EQ(ReadValue(link, cmd::ReadGain, 1, gain), StatusBadLength);
    EXPECT_EQ(ReadValue(link, cmd::ReadGain, 1, gain), StatusBadAnswer);
    EXPECT_EQ(ReadValue(link, cmd::ReadGain, 1, gain), StatusOk);
    EXPECT_EQ(gain, 2585u);
    done.get();
    const auto counters = link.Counters();
    EXPECT_EQ(counters.statuses[StatusCrcError], 1u);
    EXPECT_EQ(counters.statuses[StatusOk], 1u);
}

TEST_F(LinkOnPty, SilentDeviceIsNoAnswerAndLinkStillWorks) {
    auto done = Serve([&] {
        peer.ReadRequest(2s); // no answer
        peer.ReadRequest(2s);
        peer.Write(Answer({0x3E, 1, cmd::ReadMode, 0}));
    });
    uint32_t mode = 99;
    EXPECT_EQ(ReadValue(link, cmd::ReadMode, 1, mode), StatusNoAnswer);
    EXPECT_EQ(ReadValue(link, cmd::ReadMode, 1, mode), StatusOk);
    EXPECT_EQ(mode, 0u);
    done.get();
}

TEST_F(LinkOnPty, CodeWithoutLayoutSendsNothingAndIsWriteError) {
    AnswerFields answer;
    EXPECT_EQ(link.Exchange({0x99, 1}, 4, 8, answer), StatusWriteError);
    EXPECT_TRUE(peer.ReadRequest(50ms).empty());
}

TEST_F(LinkOnPty, NextRequestWaitsForOneIdleTimeOutAfterTheAnswer) {
    std::chrono::steady_clock::time_point answered, secondRequest;
    auto done = Serve([&] {
        peer.ReadRequest(2s);
        peer.Write(Answer({0x3E, 1, cmd::ReadMode, 0}));
        answered = peer.lastWrite();
        peer.ReadRequest(2s);
        secondRequest = std::chrono::steady_clock::now();
        peer.Write(Answer({0x3E, 1, cmd::ReadMode, 0}));
    });
    uint32_t mode = 0;
    EXPECT_EQ(ReadValue(link, cmd::ReadMode, 1, mode), StatusOk);
    EXPECT_EQ(ReadValue(link, cmd::ReadMode, 1, mode), StatusOk);
    done.get();
    // A lower bound only: the line must have been silent for the idle time-out (17 ms).
    EXPECT_GE(secondRequest - answered, IdleTimeout(19200));
}

TEST_F(LinkOnPty, SilenceInsideAnAnswerIsToleratedUpToTheIdleTimeOut) {
    auto done = Serve([&] {
        auto frame = Answer({0x3E, 1, cmd::ReadIntegrator, 0x64, 0x00, 0xC8, 0x00});
        peer.ReadRequest(2s);
        peer.Write({frame.begin(), frame.begin() + 4});
        std::this_thread::sleep_for(5ms);
        peer.Write({frame.begin() + 4, frame.end()});
        peer.ReadRequest(2s);
        peer.Write({frame.begin(), frame.begin() + 4});
        std::this_thread::sleep_for(120ms); // far past 17 ms at 19200 bit/s
        peer.Write({frame.begin() + 4, frame.end()});
    });
    uint32_t word = 0;
    EXPECT_EQ(ReadValue(link, cmd::ReadIntegrator, 1, word), StatusOk);
    EXPECT_EQ(word, 200u << 16 | 100u);
    EXPECT_EQ(ReadValue(link, cmd::ReadIntegrator, 1, word), StatusBadLength);
    done.get();
}

TEST_F(LinkOnPty, OscillogramFillsStatusAndAllSamples) {
    auto build = [](uint8_t blocks, uint16_t base) {
        std::vector<uint8_t> frame(OscBlockSize * blocks, 0);
        for (size_t b = 0; b < blocks; ++b) {
            uint8_t* block = frame.data() + OscBlockSize * b;
            uint16_t sum = 0;
            for (size_t w = 0; w < OscWordsPerBlock; ++w) {
                const uint16_t v = uint16_t(base + b * 64 + w);
                PutU16(block + OscBlockHead + 2 * w, v);
                sum = uint16_t(sum + v);
            }
            PutU32(block + OscCheckOffset, sum);
        }
        frame[0] = AnswerStart;
        frame[1] = 1;
        frame[2] = cmd::ReadOscillogram;
        frame[3] = blocks;
        return frame;
    };
    auto done = Serve([&] {
        EXPECT_EQ(peer.ReadRequest(2s).size(), 5u);
        peer.Write(build(32, 1000));
        peer.ReadRequest(2s);
        peer.Write(build(3, 5000));
    });
    EchoStatusRecord status{};
    SampleBuffer samples{};
    uint32_t blocks = 0;
    ASSERT_EQ(ReadOscillogram(link, 1, 2, status, samples, &blocks), StatusOk);
    EXPECT_EQ(blocks, 32u);
    EXPECT_EQ(status[1], 1001);
    EXPECT_EQ(samples[0], 1000 + 64);
    EXPECT_EQ(samples[1983], 1000 + 31 * 64 + 63);
    // A shorter answer replaces only its own blocks; the rest is what the frame held before.
    ASSERT_EQ(ReadOscillogram(link, 1, 2, status, samples, &blocks), StatusOk);
    EXPECT_EQ(blocks, 3u);
    EXPECT_EQ(samples[0], 5000 + 64);
    EXPECT_EQ(samples[127], 5000 + 2 * 64 + 63);
    EXPECT_EQ(samples[128], 1000 + 3 * 64);
    done.get();
}

TEST_F(LinkOnPty, HubBlocksTravelWhole) {
    std::array<uint8_t, HubBlockSize> out{}, in{};
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = uint8_t(255 - i);
    auto done = Serve([&] {
        auto request = peer.ReadRequest(2s);
        ASSERT_EQ(request.size(), 133u);
        EXPECT_EQ(request[3], 7);
        EXPECT_EQ(request[4], 255);
        peer.Write(Answer({0x3E, 1, cmd::WriteHubBlock, 0}));
        peer.ReadRequest(2s);
        std::vector<uint8_t> answer = {0x3E, 1, cmd::ReadHubBlock};
        answer.insert(answer.end(), request.begin() + 4, request.begin() + 132);
        peer.Write(Answer(answer));
    });
    EXPECT_EQ(WriteHubBlock(link, 1, 7, out), StatusOk);
    EXPECT_EQ(ReadHubBlock(link, 1, 7, in), StatusOk);
    EXPECT_EQ(in, out);
    done.get();
}

TEST_F(LinkOnPty, ReopeningAtAnotherSpeedClosesTheOldPortFirst) {
    EXPECT_EQ(link.UartOpen(peer.path(), 2400), 0);
    EXPECT_EQ(peer.Speed(), 2400u);
    EXPECT_EQ(link.BaudRate(), 2400u);
    auto done = Serve([&] {
        peer.ReadRequest(3s);
        auto frame = Answer({0x3E, 1, cmd::ReadPulseWidth, 25});
        peer.Write({frame.begin(), frame.begin() + 3});
        std::this_thread::sleep_for(22ms); // tolerated at 2400 bit/s (30 ms)
        peer.Write({frame.begin() + 3, frame.end()});
    });
    uint32_t width = 0;
    EXPECT_EQ(ReadValue(link, cmd::ReadPulseWidth, 1, width), StatusOk);
    EXPECT_EQ(width, 25u);
    done.get();
    EXPECT_EQ(link.UartClose(), 0);
    EXPECT_FALSE(link.IsOpen());
    EXPECT_EQ(link.UartOpen(peer.path(), 115200), 0);
    EXPECT_EQ(peer.Speed(), 115200u);
}

TEST_F(LinkOnPty, FirstRequestAfterAReopenWaitsOneIdleTimeOut) {
    // Let the line be found idle at the first speed, so only the reopen can hold the
    // request back.
    std::this_thread::sleep_for(60ms);
    ASSERT_EQ(link.StateSnapshot().receiverState, StatusNoAnswer);
    std::chrono::steady_clock::time_point requested;
    auto done = Serve([&] {
        peer.ReadRequest(3s);
        requested = std::chrono::steady_clock::now();
        peer.Write(Answer({0x3E, 1, cmd::ReadMode, 0}));
    });
    const auto opened = std::chrono::steady_clock::now();
    ASSERT_EQ(link.UartOpen(peer.path(), 2400), 0);
    uint32_t mode = 0;
    EXPECT_EQ(ReadValue(link, cmd::ReadMode, 1, mode), StatusOk);
    done.get();
    // A lower bound only: the line must have been silent for 30 ms since the open.
    EXPECT_GE(requested - opened, IdleTimeout(2400));
}

TEST_F(LinkOnPty, OddSpeedWithoutStandardConstantOpens) {
    EXPECT_EQ(link.UartOpen(peer.path(), 14400), 0) << link.OpenError();
    EXPECT_EQ(peer.Speed(), 14400u);
}

TEST_F(LinkOnPty, InterruptEndsAWaitAtOnceAndTheLinkWorksAfterwards) {
    std::promise<Status> result;
    std::thread caller([&] {
        uint32_t v = 0;
        result.set_value(ReadValue(link, cmd::ReadMode, 1, v));
    });
    peer.ReadRequest(2s); // never answered
    link.Interrupt(true);
    auto future = result.get_future();
    // Bounded wait: the interrupted exchange must end well inside its own 517 ms budget.
    ASSERT_EQ(future.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(future.get(), StatusNoAnswer);
    caller.join();
    link.Interrupt(false);
    auto done = Serve([&] {
        peer.ReadRequest(2s);
        peer.Write(Answer({0x3E, 1, cmd::ReadMode, 134}));
    });
    uint32_t mode = 0;
    EXPECT_EQ(ReadValue(link, cmd::ReadMode, 1, mode), StatusOk);
    EXPECT_EQ(mode, 134u);
    done.get();
}

TEST_F(LinkOnPty, VanishedPeerShowsAsNoAnswerWithoutSpinning) {
    auto* gone = new PtyPeer;
    ASSERT_EQ(link.UartOpen(gone->path(), 19200), 0);
    delete gone; // the far end closes: reads see a hang-up
    uint32_t v = 0;
    const Status s = ReadValue(link, cmd::ReadMode, 1, v);
    EXPECT_TRUE(s == StatusNoAnswer || s == StatusWriteError) << s;
    EXPECT_EQ(link.UartClose(), 0);
}

// The trace sees every frame on the line in order, each with the kind the link judged it as,
// including the silence and the good frame from the wrong device; the trace's sink runs on
// the port thread while the test reads the ring from its own.
TEST_F(LinkOnPty, TraceRecordsEveryFrameSilenceAndRefusedAnswerInOrder) {
    auto monitor = std::make_shared<LinkMonitor>();
    std::atomic<int> sunk{0};
    monitor->SetLineSink([&](const std::string&) { ++sunk; });
    link.SetMonitor(monitor);
    auto done = Serve([&] {
        peer.ReadRequest(2s);
        peer.Write(Answer({0x3E, 1, cmd::ReadGain, 0x19, 0x0A}));
        peer.ReadRequest(2s);
        peer.Write({0x3E, 1, cmd::ReadGain, 0x10, 0x20, 0x00}); // bad CRC
        peer.ReadRequest(2s);                                   // silent
        peer.ReadRequest(2s);
        peer.Write(Answer({0x3E, 2, cmd::ReadGain, 0x19, 0x0A})); // another device
        peer.ReadRequest(2s);
        peer.Write({0x3E, 1, cmd::ReadGain}); // cut short
    });
    uint32_t gain = 0;
    uint64_t seen = 0;
    const Status expected[] = {StatusOk, StatusCrcError, StatusNoAnswer, StatusBadAnswer,
                               StatusBadLength};
    for (Status s : expected) {
        EXPECT_EQ(ReadValue(link, cmd::ReadGain, 1, gain), s);
        seen += monitor->Since(seen).size(); // read while the port thread records
    }
    done.get();
    link.UartClose();

    const auto r = monitor->Since(0);
    const std::vector<TraceKind> kinds = {
        TraceKind::Request,  TraceKind::Answer,  TraceKind::Request, TraceKind::Broken,
        TraceKind::Request,  TraceKind::Silence, TraceKind::Request, TraceKind::Answer,
        TraceKind::Rejected, TraceKind::Request, TraceKind::Broken,
    };
    ASSERT_EQ(r.size(), kinds.size());
    for (size_t i = 0; i < r.size(); ++i)
        EXPECT_EQ(r[i].kind, kinds[i]) << i << ": " << FormatTraceLine(r[i]);
    EXPECT_EQ(seen, r.size());
    EXPECT_EQ(sunk, int(r.size()));
    EXPECT_EQ(FormatTraceLine(r[0]).substr(13), "-> 31 01 25 AD | ReadGain addr 1");
    EXPECT_EQ(r[3].status, StatusCrcError);
    EXPECT_EQ(r[5].code, cmd::ReadGain);
    EXPECT_GE(r[5].waitedMs, 500u);
    EXPECT_EQ(r[8].answerAddress, 2);
    EXPECT_EQ(r[10].status, StatusBadLength);
    EXPECT_EQ(r[10].length, 3u);

    const LinkHealth h = monitor->Health();
    EXPECT_EQ(h.requests, 5u);
    EXPECT_EQ(h.answers, 2u);
    EXPECT_EQ(h.broken, 2u);
    EXPECT_EQ(h.silences, 1u);
    EXPECT_EQ(h.rejected, 1u);
    EXPECT_EQ(h.exchanges(), 5u);
    EXPECT_EQ(h.lastError, StatusBadLength);
    for (size_t i = 1; i < r.size(); ++i)
        EXPECT_LE(r[i - 1].time, r[i].time);
}

TEST(LinkClosed, ExchangesWithoutAPortAreCountedAsPortErrors) {
    DeviceLink link;
    auto monitor = std::make_shared<LinkMonitor>();
    link.SetMonitor(monitor);
    uint32_t value = 0;
    EXPECT_EQ(ReadValue(link, cmd::ReadModelCode, 1, value), StatusPortError);
    EXPECT_EQ(monitor->size(), 0u); // nothing went over any line
    EXPECT_EQ(monitor->Health().statuses[StatusPortError], 1u);
    EXPECT_EQ(monitor->Health().lastError, StatusPortError);
}
