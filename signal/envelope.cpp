// Envelope normalisation: running 23-sample sum, ring of the 46 latest smoothed values, and
// a plain minimum over the ring for every output.
#include "envelope.h"

#include <algorithm>
#include <array>

namespace vq31 {

namespace {
constexpr uint16_t EmptyWindow = 65535; // never lowers a minimum

// The running window over the samples: sum and count of the valid positions in it.
struct Window {
    const uint16_t* x;
    int n;
    uint32_t sum = 0;
    uint32_t count = 0;

    void Add(int index) {
        if (index >= 0 && index < n) {
            sum += x[index];
            ++count;
        }
    }
    void Drop(int index) {
        if (index >= 0 && index < n) {
            sum -= x[index];
            --count;
        }
    }
    uint16_t Mean() const {
        if (count == 0)
            return EmptyWindow;
        return uint16_t(sum / count + EnvelopeOffset);
    }
};
} // namespace

void NormaliseEnvelope(const uint16_t* x, uint16_t n, uint32_t* y) {
    if (n == 0)
        return;
    Window w{x, int(n)};
    std::array<uint16_t, EnvelopeFloorSpan> ring{};

    // M(-46): the window centred at -46 covers -57 .. -35.
    int centre = -EnvelopeFloorSpan;
    for (int k = centre - EnvelopeHalfWindow; k <= centre + EnvelopeHalfWindow; ++k)
        w.Add(k);
    ring[0] = w.Mean();
    for (int slot = 1; slot < EnvelopeFloorSpan; ++slot) {
        ++centre;
        w.Drop(centre - EnvelopeHalfWindow - 1);
        w.Add(centre + EnvelopeHalfWindow);
        ring[size_t(slot)] = w.Mean();
    }
    size_t oldest = 0; // slot of M(-46), overwritten first
    uint16_t a = ring[EnvelopeFloorSpan - 1];

    for (int i = 0; i < int(n); ++i) {
        if (i > 0) {
            w.Drop(i - EnvelopeHalfWindow - 2);
            w.Add(i + EnvelopeHalfWindow - 1);
            a = w.Mean();
            ring[oldest] = a;
            oldest = (oldest + 1) % EnvelopeFloorSpan;
        }
        // A plain minimum over the whole ring: a fixed-length loop the compiler vectorises.
        uint16_t d = ring[0];
        for (size_t k = 1; k < ring.size(); ++k)
            d = ring[k] < d ? ring[k] : d;
        if (d > EnvelopeFloorCap)
            d = EnvelopeFloorCap;
        if (d == 0) {
            y[i] = uint32_t(a) + EnvelopeUnit;
        } else {
            const uint32_t ratio = uint32_t(a) * EnvelopeUnit / d;
            const uint32_t difference = uint32_t(a) - d + EnvelopeUnit;
            y[i] = std::max(ratio, difference);
        }
    }
}

std::vector<uint32_t> NormaliseEnvelope(std::span<const uint16_t> x) {
    const uint16_t n = uint16_t(std::min<size_t>(x.size(), 65535));
    std::vector<uint32_t> y(n);
    NormaliseEnvelope(x.data(), n, y.data());
    return y;
}

} // namespace vq31
