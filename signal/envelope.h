// Normalisation of the echo envelope against its local noise floor: a 23-sample moving
// average, the minimum of the last 46 averages as the floor, and each average expressed on a
// scale where 1000 means "at the floor". The integer widths are part of the result.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace vq31 {

// Averaging window (11 samples each side of the centre) and floor span.
inline constexpr int EnvelopeHalfWindow = 11;
inline constexpr int EnvelopeFloorSpan = 46;
inline constexpr uint16_t EnvelopeOffset = 100;
inline constexpr uint16_t EnvelopeFloorCap = 4200;
inline constexpr uint32_t EnvelopeUnit = 1000;

// Fills y[0..n-1] from x[0..n-1]; n = 0 does nothing.
void NormaliseEnvelope(const uint16_t* x, uint16_t n, uint32_t* y);
// The same on whole buffers (at most 65535 samples are taken).
std::vector<uint32_t> NormaliseEnvelope(std::span<const uint16_t> x);

} // namespace vq31
