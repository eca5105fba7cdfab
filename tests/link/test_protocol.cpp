// Frame building, checksums, tables and budget arithmetic.
#include "protocol.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace vq31;

namespace {
std::vector<uint8_t> Frame(const RequestFields& r) {
    std::vector<uint8_t> out(MaxRequestLength);
    out.resize(BuildRequest(r, out.data()));
    return out;
}
} // namespace

TEST(Crc8, MatchesPublishedCheckValue) {
    const std::string check = "123456789";
    EXPECT_EQ(Crc8(uint8_t(check.size()), reinterpret_cast<const uint8_t*>(check.data())), 0xA1);
    EXPECT_EQ(Crc8(0, nullptr), 0x00);
}

TEST(Crc8, AgreesWithBitwiseRuleOnEveryByte) {
    for (int v = 0; v < 256; ++v) {
        uint8_t crc = 0, byte = uint8_t(v);
        for (int i = 0; i < 8; ++i) {
            crc = ((crc ^ byte) & 1) ? uint8_t((crc >> 1) ^ 0x8C) : uint8_t(crc >> 1);
            byte >>= 1;
        }
        const uint8_t in = uint8_t(v);
        EXPECT_EQ(Crc8(1, &in), crc) << v;
    }
}

TEST(Sum16, WrapsModulo65536) {
    const uint16_t words[] = {0xFFFF, 0x0002, 0x1000};
    EXPECT_EQ(Sum16(words, 3), 0x1001);
    EXPECT_EQ(Sum16(words, 0), 0);
}

TEST(RequestFrames, MatchKnownBytes) {
    struct Case {
        RequestFields request;
        std::vector<uint8_t> bytes;
    };
    const uint8_t block[128] = {};
    const Case cases[] = {
        {{cmd::ReadModelCode, 1}, {0x31, 0x01, 0x80, 0x3D}},
        {{cmd::ReadIdentity, 255}, {0x31, 0xFF, 0x42, 0x0E}},
        {{cmd::WriteAttenuator, 5, 30}, {0x31, 0x05, 0x2A, 0x1E, 0x56}},
        // EnterFastMode goes out bare although a value is stored with it.
        {{cmd::EnterFastMode, 1, 0x12345678}, {0x31, 0x01, 0x36}},
    };
    for (const auto& c : cases) {
        auto frame = Frame(c.request);
        if (c.bytes.size() == 3) {
            ASSERT_EQ(frame.size(), 4u);
            frame.pop_back();
        }
        EXPECT_EQ(frame, c.bytes) << int(c.request.code);
    }
    RequestFields hub{cmd::WriteHubBlock, 1, 7};
    hub.block = block;
    EXPECT_EQ(Frame(hub).size(), 133u);
}

TEST(RequestFrames, LayoutsCutValuesToTheirWidth) {
    auto integrator = Frame({cmd::WriteIntegrator, 1, 200u << 16 | 100u});
    ASSERT_EQ(integrator.size(), 8u);
    EXPECT_EQ(std::vector<uint8_t>(integrator.begin() + 3, integrator.begin() + 7),
              (std::vector<uint8_t>{0x64, 0x00, 0xC8, 0x00}));

    auto sweepOff = Frame({cmd::SetSweep, 9, 0, 0});
    ASSERT_EQ(sweepOff.size(), 7u);
    EXPECT_EQ(std::vector<uint8_t>(sweepOff.begin(), sweepOff.begin() + 6),
              (std::vector<uint8_t>{0x31, 0x09, 0x30, 0x00, 0x00, 0x00}));

    auto word = Frame({cmd::WriteFrequency, 1, 0xABCDE});
    ASSERT_EQ(word.size(), 6u);
    EXPECT_EQ(word[3], 0xDE);
    EXPECT_EQ(word[4], 0xBC);

    auto three = Frame({cmd::WriteThreePart43, 1, 0x11223344, 0x55667788, 0x1FF});
    ASSERT_EQ(three.size(), 11u);
    EXPECT_EQ(std::vector<uint8_t>(three.begin() + 3, three.begin() + 10),
              (std::vector<uint8_t>{0x44, 0x33, 0x22, 0x88, 0x77, 0x66, 0xFF}));

    auto fuel = Frame({cmd::WriteFuelSettings, 1, 0x102, 0xA1B2C3D4, 0x01020304});
    ASSERT_EQ(fuel.size(), 13u);
    EXPECT_EQ(fuel[3], 0x02);
    EXPECT_EQ(fuel[4], 0xD4);
    EXPECT_EQ(fuel[11], 0x01);
    for (const auto& f : {integrator, sweepOff, word, three, fuel})
        EXPECT_EQ(f.back(), Crc8(uint8_t(f.size() - 1), f.data()));
}

TEST(RequestFrames, CodeWithoutLayoutBuildsNothing) {
    uint8_t out[MaxRequestLength];
    EXPECT_EQ(BuildRequest({0x99, 1}, out), 0u);
    EXPECT_EQ(BuildRequest({0x00, 1}, out), 0u);
}

TEST(Tables, EveryCommandOfTheSetHasLayoutAndAnswerKind) {
    const uint8_t issued[] = {cmd::WakeUp,
                              cmd::WriteIntegrator,
                              cmd::ReadIntegrator,
                              cmd::ReadOscillogram,
                              cmd::WriteGain,
                              cmd::ReadGain,
                              cmd::WriteFrequency,
                              cmd::ReadFrequency,
                              cmd::WritePulseWidth,
                              cmd::ReadPulseWidth,
                              cmd::WriteAttenuator,
                              cmd::ReadAttenuator,
                              cmd::WriteFilter,
                              cmd::ReadFilter,
                              cmd::SetSweep,
                              cmd::WritePostFilter,
                              cmd::ReadPostFilter,
                              cmd::EnterFastMode,
                              cmd::WriteDisplayTest,
                              cmd::ReadTankHeight,
                              cmd::WriteTankHeight,
                              cmd::ReadPassport,
                              cmd::ReadIdentity,
                              cmd::WriteAutoPeriod,
                              cmd::WriteLinkFlags,
                              cmd::WriteAddress,
                              cmd::WriteTareMode,
                              cmd::ReadOutputSettings,
                              cmd::ReadHubBlock,
                              cmd::WriteHubBlock,
                              cmd::ReadTankId,
                              cmd::WriteTankId,
                              cmd::ReadMode,
                              cmd::WriteMode,
                              cmd::ReadTuneProgress,
                              cmd::ReadModelCode,
                              cmd::WriteFuelSettings,
                              cmd::ReadFuelSettings};
    for (uint8_t code : issued) {
        EXPECT_NE(RequestLayoutOf(code), RequestLayout::None) << int(code);
        EXPECT_NE(AnswerKindOf(code), AnswerKind::None) << int(code);
    }
    // Known to the framing only.
    EXPECT_EQ(AnswerKindOf(0x51), AnswerKind::WordAt6);
    EXPECT_EQ(AnswerKindOf(0x84), AnswerKind::TwoLongs);
    EXPECT_EQ(RequestLayoutOf(0x84), RequestLayout::Bare);
    EXPECT_EQ(AnswerLength(AnswerKind::Passport), 22u);
    EXPECT_EQ(AnswerLength(AnswerKind::Block), 132u);
}

TEST(Budgets, FollowTheLinkSpeed) {
    // Oscillogram read at 9600 bit/s: budget sizes 5 and 32 000.
    EXPECT_EQ(ExchangeBudgetMs(5, 9600), 505u);
    EXPECT_EQ(ExchangeBudgetMs(32000, 9600), 33833u);
    EXPECT_EQ(ExchangeBudgetMs(4, 115200), 500u);
    EXPECT_EQ(IdleTimeout(2400).count(), 30);
    EXPECT_EQ(IdleTimeout(4800).count(), 23);
    EXPECT_EQ(IdleTimeout(9600).count(), 19);
    EXPECT_EQ(IdleTimeout(14400).count(), 18);
    EXPECT_EQ(IdleTimeout(19200).count(), 17);
    EXPECT_EQ(IdleTimeout(115200).count(), 17);
}

TEST(ModelCode, ReadsVq31FromAnswerBytes) {
    const uint8_t bytes[] = {'V', 'Q', '3', '1'};
    EXPECT_EQ(GetU32(bytes), SupportedModelCode);
    const uint8_t swapped[] = {'1', '3', 'Q', 'V'};
    EXPECT_NE(GetU32(swapped), SupportedModelCode);
}
