// Request framing, tank geometry, the starting hub image and the echo model.
#include "echo_model.h"
#include "sim_hub_image.h"
#include "protocol.h"
#include "request_parser.h"
#include "tank.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vq31::sim {
namespace {

std::vector<uint8_t> Request(uint8_t address, uint8_t code, uint32_t value = 0) {
    RequestFields r;
    r.address = address;
    r.code = code;
    r.value = value;
    std::vector<uint8_t> frame(MaxRequestLength);
    frame.resize(BuildRequest(r, frame.data()));
    return frame;
}

TEST(RequestParser, CutsBackToBackRequestsAndWaitsForSplitOnes) {
    RequestParser parser;
    std::vector<ParsedFrame> out;
    std::vector<uint8_t> stream = Request(1, cmd::ReadModelCode);
    const std::vector<uint8_t> second = Request(1, cmd::WriteFrequency, 1234);
    stream.insert(stream.end(), second.begin(), second.end());
    parser.Feed(stream.data(), stream.size() - 2, out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].bytes, (std::vector<uint8_t>{0x31, 0x01, 0x80, 0x3D}));
    EXPECT_TRUE(parser.HasPartialFrame());
    parser.Feed(stream.data() + stream.size() - 2, 2, out);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[1].bytes, second);
    EXPECT_FALSE(parser.HasPartialFrame());
}

TEST(RequestParser, BadCrcAndUnknownCodeAreDroppedAndTheNextRequestStillFound) {
    RequestParser parser;
    std::vector<ParsedFrame> out;
    std::vector<uint8_t> stream = {0x55, 0x31, 0x01, 0x80, 0x3E}; // noise, then a bad CRC
    stream.insert(stream.end(), {0x31, 0x01, 0x99});              // code without layout
    const std::vector<uint8_t> good = Request(1, cmd::ReadIdentity);
    stream.insert(stream.end(), good.begin(), good.end());
    parser.Feed(stream.data(), stream.size(), out);
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].kind, ParsedFrame::Kind::BadCrc);
    EXPECT_EQ(out[1].kind, ParsedFrame::Kind::UnknownCode);
    EXPECT_EQ(out[2].kind, ParsedFrame::Kind::Request);
    EXPECT_EQ(out[2].bytes, good);
}

TEST(RequestParser, ResetForgetsAPartialRequest) {
    RequestParser parser;
    std::vector<ParsedFrame> out;
    const std::vector<uint8_t> good = Request(1, cmd::ReadIdentity);
    parser.Feed(good.data(), 2, out);
    parser.Reset();
    parser.Feed(good.data(), good.size(), out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].bytes, good);
}

TEST(CylinderTank, VolumeFollowsLevelBothWays) {
    const CylinderTank tank(1000, 2000);
    EXPECT_NEAR(tank.CapacityLitres(), std::numbers::pi * 0.25 * 2 * 1000, 1e-6);
    EXPECT_NEAR(tank.LitresAt(500), tank.CapacityLitres() / 2, 1e-6);
    EXPECT_DOUBLE_EQ(tank.LitresAt(-5), 0);
    EXPECT_NEAR(tank.LitresAt(1500), tank.CapacityLitres(), 1e-9);
    for (double mm : {0.0, 1.0, 123.4, 500.0, 987.6, 1000.0})
        EXPECT_NEAR(tank.LevelAt(tank.LitresAt(mm)), mm, 1e-6) << mm;
    EXPECT_DOUBLE_EQ(tank.LevelAt(-1), 0);
    EXPECT_DOUBLE_EQ(tank.LevelAt(1e9), 1000);
}

TEST(PresetHubImage, IsValidWithStandardEntriesAndPresets) {
    const std::vector<uint8_t> image = MakePresetHubImage(32768);
    ASSERT_EQ(image.size(), 32768u);
    ASSERT_TRUE(HubImageValid(image));
    const size_t total = GetU16(image.data());
    EXPECT_LE(total, HubMaxImageSize);
    EXPECT_EQ(GetU16(&image[6]), 5u); // entry count
    std::vector<uint32_t> ids;
    for (size_t at = HubHeaderSize; at < total;) {
        const uint32_t size = GetU16(&image[at]);
        ASSERT_GT(size, 0u);
        ids.push_back(GetU16(&image[at + 2]));
        const uint32_t rows = GetU16(&image[at + 6]);
        ASSERT_LE(HubEntryHeadSize + rows * HubRowSize, size);
        // Preset tables rise in level and volume.
        for (uint32_t r = 1; r < rows; ++r) {
            const uint8_t* row = &image[at + HubEntryHeadSize + r * HubRowSize];
            EXPECT_GT(GetU16(row), GetU16(row - HubRowSize));
            EXPECT_GT(GetU16(row + 2), GetU16(row - HubRowSize + 2));
        }
        at += size;
    }
    EXPECT_EQ(ids, (std::vector<uint32_t>{0, 1, 2, 3, 4}));
    // Entry 1 leaves room for a 50-row table.
    EXPECT_EQ(GetU16(&image[26]), 210u);
    EXPECT_EQ(GetU16(&image[28]), 1u);
}

TEST(PresetHubImage, AnyChangedWordBreaksValidity) {
    std::vector<uint8_t> image = MakePresetHubImage(32768);
    image[40] ^= 1;
    EXPECT_FALSE(HubImageValid(image));
    HubSealImage(image.data());
    EXPECT_TRUE(HubImageValid(image));
    PutU16(&image[4], 0x0302);
    HubSealImage(image.data());
    EXPECT_FALSE(HubImageValid(image));
}

TEST(EchoModel, AmplitudePeaksAtResonanceAndFollowsTheSettings) {
    EchoConditions c;
    c.levelMm = 600;
    c.gainMax = 25;
    c.gainIndex = 10;
    c.filter = 450; // wide band, so only the transducer shapes the response
    double best = 0;
    uint16_t bestFrequency = 0;
    for (uint16_t f = 500; f <= 4000; f += 10) {
        c.frequency = f;
        const double a = AnalyseEcho(c).amplitude;
        if (a > best) {
            best = a;
            bestFrequency = f;
        }
    }
    EXPECT_EQ(bestFrequency, ResonanceFrequency);

    c.frequency = ResonanceFrequency;
    const double base = AnalyseEcho(c).amplitude;
    c.attenuation = 30;
    EXPECT_NEAR(AnalyseEcho(c).amplitude, base * std::pow(10.0, -1.5), 1e-6 * base);
    c.attenuation = 0;
    c.gainIndex = 12;
    EXPECT_GT(AnalyseEcho(c).amplitude, base);
    c.pulseWidth = 0;
    EXPECT_EQ(AnalyseEcho(c).error, EchoWeak);
}

TEST(EchoModel, AutomaticGainStaysWithinItsMaximumAndKeepsTheEchoUnclipped) {
    EchoConditions c;
    c.levelMm = 300;
    c.gainIndex = GainAuto;
    c.gainMax = GainAuto;
    const EchoFigures open = AnalyseEcho(c);
    EXPECT_LE(open.amplitude, 20000);
    EXPECT_GT(open.gain, 0);
    c.gainMax = 3;
    EXPECT_LE(AnalyseEcho(c).gain, 3);
}

TEST(EchoModel, EnvelopePeakSitsAtTheLevelsPosition) {
    EchoConditions c;
    c.levelMm = 600;
    const EchoFigures f = AnalyseEcho(c);
    ASSERT_EQ(f.error, EchoOk);
    EXPECT_EQ(f.position, EchoBasePosition + 600 * SamplesPerMm);
    std::vector<uint16_t> samples(1472);
    Noise noise;
    FillEnvelope(c, f, noise, samples.data(), samples.size());
    // Look past the transmit ring-down.
    const auto peak = std::max_element(samples.begin() + 80, samples.end());
    EXPECT_NEAR(double(peak - samples.begin()), f.position / EnvelopeDecimation, 2);
}

TEST(EchoModel, NoLevelMeansNoEchoAndSignalLevelZero) {
    EchoConditions c;
    c.noLevel = true;
    const EchoFigures f = AnalyseEcho(c);
    EXPECT_EQ(f.error, EchoNone);
    EXPECT_EQ(f.amplitude, 0);
    EXPECT_EQ(f.signalLevel, 0);
}

} // namespace
} // namespace vq31::sim
