// Every way a frame can end in the byte-fed receiver.
#include "protocol.h"
#include "receiver.h"

#include <gtest/gtest.h>

#include <vector>

using namespace vq31;

namespace {

std::vector<uint8_t> WithCrc(std::vector<uint8_t> bytes) {
    bytes.push_back(Crc8(uint8_t(bytes.size()), bytes.data()));
    return bytes;
}

// Feeds bytes until a report; returns the number of bytes consumed (0 if none reported).
size_t FeedUntilReport(Receiver& r, const std::vector<uint8_t>& bytes) {
    for (size_t i = 0; i < bytes.size(); ++i)
        if (r.Feed(bytes[i]) == Receiver::Event::Report)
            return i + 1;
    return 0;
}

std::vector<uint8_t> Oscillogram(uint8_t blocks, uint32_t checkAdjust = 0) {
    std::vector<uint8_t> frame(OscBlockSize * blocks, 0);
    for (size_t b = 0; b < blocks; ++b) {
        uint8_t* block = frame.data() + OscBlockSize * b;
        uint16_t sum = 0;
        for (size_t w = 0; w < OscWordsPerBlock; ++w) {
            const uint16_t v = uint16_t(b * 1000 + w * 7);
            PutU16(block + OscBlockHead + 2 * w, v);
            sum = uint16_t(sum + v);
        }
        PutU32(block + OscCheckOffset, sum + (b + 1 == size_t(blocks) ? checkAdjust : 0));
    }
    if (blocks > 0) {
        frame[0] = AnswerStart;
        frame[1] = 1;
        frame[2] = cmd::ReadOscillogram;
        frame[3] = blocks;
    }
    return frame;
}

} // namespace

TEST(Receiver, AcknowledgementIsAcceptedWithItsStatus) {
    Receiver r;
    const std::vector<uint8_t> ack = {0x3E, 0x01, 0x36, 0x00, 0x71};
    ASSERT_EQ(FeedUntilReport(r, ack), 5u);
    EXPECT_EQ(r.status(), StatusOk);
    EXPECT_TRUE(r.accepted());
    EXPECT_EQ(r.fields().address, 1);
    EXPECT_EQ(r.fields().code, 0x36);
}

TEST(Receiver, AcknowledgementAboveTwoIsBadParameter) {
    for (uint8_t status : {uint8_t(1), uint8_t(2), uint8_t(7), uint8_t(224)}) {
        Receiver r;
        ASSERT_EQ(FeedUntilReport(r, WithCrc({0x3E, 0x05, cmd::WriteAttenuator, status})), 5u);
        EXPECT_EQ(r.status(), status > 2 ? StatusBadParameter : Status(status));
    }
}

TEST(Receiver, FieldsAreTakenByAnswerKind) {
    Receiver r;
    // Passport: u24 date, u24 serial, model, firmware, address at 17, period 19, flags 20.
    std::vector<uint8_t> passport = {
        0x3E, 0x01, cmd::ReadPassport, 0x16, 0x5F, 0x01, 0xD2, 0x04, 0x00, 0x07, 0x78};
    passport.resize(17, 0xEE);
    passport.insert(passport.end(), {0x05, 0xEE, 0x0A, 0x5C});
    ASSERT_EQ(FeedUntilReport(r, WithCrc(passport)), 22u);
    ASSERT_EQ(r.status(), StatusOk);
    const auto& v = r.fields().values;
    EXPECT_EQ(v[0], 0x015F16u);
    EXPECT_EQ(v[1], 1234u);
    EXPECT_EQ(v[2], 7u);
    EXPECT_EQ(v[3], 0x78u);
    EXPECT_EQ(v[4], 5u);
    EXPECT_EQ(v[5], 10u);
    EXPECT_EQ(v[6], 0x5Cu);

    ASSERT_EQ(
        FeedUntilReport(r, WithCrc({0x3E, 2, cmd::ReadFuelSettings, 3, 1, 2, 3, 4, 5, 6, 7, 8})),
        13u);
    EXPECT_EQ(r.fields().values[0], 3u);
    EXPECT_EQ(r.fields().values[1], 0x04030201u);
    EXPECT_EQ(r.fields().values[2], 0x08070605u);

    ASSERT_EQ(FeedUntilReport(r, WithCrc({0x3E, 2, 0x51, 9, 9, 9, 0x34, 0x12, 9, 9, 9})), 12u);
    EXPECT_EQ(r.fields().values[0], 0x1234u);

    std::vector<uint8_t> block = {0x3E, 1, cmd::ReadHubBlock};
    for (int i = 0; i < 128; ++i)
        block.push_back(uint8_t(i * 3));
    ASSERT_EQ(FeedUntilReport(r, WithCrc(block)), 132u);
    EXPECT_EQ(r.fields().block[127], uint8_t(127 * 3));
}

TEST(Receiver, WrongStartByteIsRejectedOnThatByte) {
    Receiver r;
    EXPECT_EQ(r.Feed(0x31), Receiver::Event::Report);
    EXPECT_EQ(r.status(), StatusBadAnswer);
    EXPECT_FALSE(r.accepted());
}

TEST(Receiver, BadCrcIsReportedAsCrcError) {
    Receiver r;
    ASSERT_EQ(FeedUntilReport(r, {0x3E, 0x01, 0x36, 0x00, 0x72}), 5u);
    EXPECT_EQ(r.status(), StatusCrcError);
    EXPECT_FALSE(r.accepted());
}

TEST(Receiver, SilenceEndsFramesByWhatArrived) {
    Receiver r;
    EXPECT_EQ(r.Silence(), Receiver::Event::Idle); // nothing arrived: the line is idle

    // Cut short.
    for (uint8_t b : {0x3E, 0x01, 0x29})
        EXPECT_EQ(r.Feed(b), Receiver::Event::More);
    EXPECT_EQ(r.Silence(), Receiver::Event::Report);
    EXPECT_EQ(r.status(), StatusBadLength);

    // A code without an answer kind is read until the line falls silent.
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(r.Feed(i < 3 ? std::vector<uint8_t>{0x3E, 1, 0x99}[size_t(i)] : 0x00),
                  Receiver::Event::More);
    EXPECT_EQ(r.Silence(), Receiver::Event::Report);
    EXPECT_EQ(r.status(), StatusBadLength);
}

TEST(Receiver, OverflowAtBufferSizeIsBadLength) {
    Receiver r;
    r.Feed(0x3E);
    r.Feed(0x01);
    r.Feed(0x99);
    size_t fed = 3;
    Receiver::Event e = Receiver::Event::More;
    while (e == Receiver::Event::More) {
        e = r.Feed(0x55);
        ++fed;
    }
    EXPECT_EQ(fed, ReceiveBufferSize);
    EXPECT_EQ(r.status(), StatusBadLength);
}

TEST(Receiver, OscillogramWithNoBlocksCompletesAfterFourthByte) {
    Receiver r;
    EXPECT_EQ(FeedUntilReport(r, {0x3E, 0x01, cmd::ReadOscillogram, 0x00, 0xAA}), 4u);
    EXPECT_EQ(r.status(), StatusOk);
    EXPECT_EQ(r.fields().values[0], 0u);
}

TEST(Receiver, OscillogramBlocksAreCheckedBySum) {
    Receiver r;
    const auto good = Oscillogram(24);
    ASSERT_EQ(FeedUntilReport(r, good), good.size());
    EXPECT_EQ(r.status(), StatusOk);
    EXPECT_EQ(r.fields().values[0], 24u);
    EXPECT_EQ(r.buffer()[OscBlockSize * 23 + OscBlockHead + 2], good[OscBlockSize * 23 + 10]);

    // Upper half of the check value must be zero even when the low half matches.
    const auto high = Oscillogram(3, 0x10000);
    ASSERT_EQ(FeedUntilReport(r, high), high.size());
    EXPECT_EQ(r.status(), StatusBadAnswer);

    const auto low = Oscillogram(3, 1);
    ASSERT_EQ(FeedUntilReport(r, low), low.size());
    EXPECT_EQ(r.status(), StatusBadAnswer);
}

TEST(Receiver, BytesAfterAFrameStartTheNextFrame) {
    Receiver r;
    std::vector<uint8_t> two = {0x3E, 0x01, 0x36, 0x00, 0x71, 0x3E, 0x01, 0x36, 0x00, 0x71};
    ASSERT_EQ(FeedUntilReport(r, two), 5u);
    ASSERT_EQ(FeedUntilReport(r, std::vector<uint8_t>(two.begin() + 5, two.end())), 5u);
    EXPECT_EQ(r.status(), StatusOk);
}
