// Envelope normalisation against its documented cases and against a direct computation of
// every smoothed value and floor from their definitions.
#include "envelope.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace vq31 {
namespace {

// Smoothed value centred at p, straight from its definition.
uint16_t Smoothed(const std::vector<uint16_t>& x, int p) {
    uint32_t sum = 0, count = 0;
    for (int k = p - 11; k <= p + 11; ++k)
        if (k >= 0 && k < int(x.size())) {
            sum += x[size_t(k)];
            ++count;
        }
    return count == 0 ? 65535 : uint16_t(sum / count + 100);
}

std::vector<uint32_t> Reference(const std::vector<uint16_t>& x) {
    std::vector<uint32_t> y;
    for (int i = 0; i < int(x.size()); ++i) {
        const uint16_t a = Smoothed(x, i - 1);
        uint16_t d = 65535;
        for (int p = i - 46; p <= i - 1; ++p)
            d = std::min(d, Smoothed(x, p));
        d = std::min<uint16_t>(d, 4200);
        y.push_back(d == 0 ? a + 1000u : std::max(a * 1000u / d, uint32_t(a) - d + 1000u));
    }
    return y;
}

TEST(NormaliseEnvelope, EmptyInputWritesNothing) {
    uint32_t sentinel = 77;
    NormaliseEnvelope(nullptr, 0, &sentinel);
    EXPECT_EQ(sentinel, 77u);
    EXPECT_TRUE(NormaliseEnvelope(std::vector<uint16_t>{}).empty());
}

struct ConstantCase {
    uint16_t value;
    uint32_t expected;
};
class ConstantInput : public ::testing::TestWithParam<ConstantCase> {};

TEST_P(ConstantInput, GivesOneLevelEverywhere) {
    const std::vector<uint16_t> x(1472, GetParam().value);
    const auto y = NormaliseEnvelope(x);
    ASSERT_EQ(y.size(), x.size());
    for (size_t i = 0; i < y.size(); ++i)
        ASSERT_EQ(y[i], GetParam().expected) << "at " << i;
}

INSTANTIATE_TEST_SUITE_P(Levels, ConstantInput,
                         ::testing::Values(ConstantCase{0, 1000}, ConstantCase{700, 1000},
                                           ConstantCase{4099, 1000}, ConstantCase{5000, 1900}));

TEST(NormaliseEnvelope, SingleSpikeRaisesTheTwentyThreeOutputsAroundIt) {
    std::vector<uint16_t> x(1472, 0);
    x[500] = 23000;
    const auto y = NormaliseEnvelope(x);
    for (size_t i = 0; i < y.size(); ++i) {
        const uint32_t expected = (i >= 490 && i <= 512) ? 11000 : 1000;
        ASSERT_EQ(y[i], expected) << "at " << i;
    }
}

TEST(NormaliseEnvelope, SmoothedValueWrapsAndAZeroFloorAddsTheUnit) {
    // A mean of 65436 plus 100 wraps to 0, which becomes the floor.
    const std::vector<uint16_t> x(60, 65436);
    const auto y = NormaliseEnvelope(x);
    EXPECT_EQ(y, Reference(x));
    EXPECT_EQ(y[0], 1000u); // a = 0, d = 0
}

TEST(NormaliseEnvelope, ShortInputsAndTheTailAreStillDefined) {
    for (size_t n : {1, 2, 11, 12, 23, 46, 47, 100}) {
        std::vector<uint16_t> x(n);
        for (size_t i = 0; i < n; ++i)
            x[i] = uint16_t(300 + 97 * i);
        EXPECT_EQ(NormaliseEnvelope(x), Reference(x)) << "n = " << n;
    }
}

TEST(NormaliseEnvelope, MatchesTheDirectComputationOnRandomEnvelopes) {
    std::mt19937 rng(20260316);
    for (int round = 0; round < 40; ++round) {
        const size_t n = round < 30 ? 1472 : std::uniform_int_distribution<size_t>(1, 3000)(rng);
        // Mix quiet stretches, echoes and full-scale values so every branch is reached.
        const uint16_t top = std::array<uint16_t, 4>{900, 5000, 30000, 65535}[round % 4];
        std::uniform_int_distribution<int> sample(0, top);
        std::vector<uint16_t> x(n);
        for (auto& v : x)
            v = uint16_t(sample(rng));
        ASSERT_EQ(NormaliseEnvelope(x), Reference(x)) << "round " << round;
    }
}

} // namespace
} // namespace vq31
