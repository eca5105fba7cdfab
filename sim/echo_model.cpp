// Echo synthesis: a Gaussian echo burst at the level's position, a weaker second echo
// (the surface reflection bouncing once more), the transmit ring-down at the start of the
// record and receiver noise that grows with the gain.
#include "echo_model.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vq31::sim {

namespace {

constexpr double BaseAmplitude = 3000; // echo peak at Ku 0 on resonance
constexpr double DbPerGainStep = 1.5;
constexpr uint8_t HighestGain = 24;
constexpr double ResonanceQ = 4;
constexpr double FilterQ = 3;
constexpr uint16_t WideBandFilter = 450;
constexpr double AutoGainTarget = 20000;
constexpr double EnvelopeCeiling = 32000;
constexpr double NoiseAmplitude = 40;
constexpr double RingDownAmplitude = 30000;
constexpr double RingDownLength = 150; // raw samples
constexpr double SecondEchoShare = 0.25;
constexpr double PathLoss = 0.3; // share lost over the tallest tank
constexpr double TallestTankMm = 6500;
constexpr double FrequencyUnitsPerCycle = 10000; // raw sample rate in frequency units
constexpr double SignalLevelStep = 4000;         // envelope units per tuning level step

double GainFactor(uint8_t ku) {
    return std::pow(10.0, ku * DbPerGainStep / 20);
}

double AttenuatorFactor(uint8_t attenuation) {
    return std::pow(10.0, -attenuation / 20.0);
}

double BandResponse(double f, double centre, double q) {
    if (f <= 0 || centre <= 0)
        return 0;
    const double d = f / centre - centre / f;
    return 1 / std::sqrt(1 + q * q * d * d);
}

double PulseFactor(uint8_t pulseWidth) {
    // A longer pulse carries more energy; 5.0 (50 tenths) is the reference.
    const double w = pulseWidth;
    return (w / (w + 30)) / (50.0 / 80.0);
}

// Echo peak for a Ku, before clipping.
double PeakFor(const EchoConditions& c, uint8_t ku) {
    const double filter =
        c.filter == WideBandFilter ? 1.0 : BandResponse(c.frequency, c.filter, FilterQ);
    const double path = 1 - PathLoss * std::clamp(c.levelMm / TallestTankMm, 0.0, 1.0);
    return BaseAmplitude * GainFactor(ku) * AttenuatorFactor(c.attenuation) *
           BandResponse(c.frequency, ResonanceFrequency, ResonanceQ) * filter *
           PulseFactor(c.pulseWidth) * path;
}

double Sigma(const EchoConditions& c) {
    return 20.0 + c.pulseWidth;
}

// Envelope value (noise-free) at a raw position.
double EnvelopeAt(const EchoConditions& c, const EchoFigures& f, double x) {
    const double g = GainFactor(f.gain) * AttenuatorFactor(c.attenuation);
    double v = std::min(RingDownAmplitude, RingDownAmplitude * g / GainFactor(10)) *
               std::exp(-x / RingDownLength);
    if (f.amplitude > 0) {
        const double s = Sigma(c);
        const double d1 = x - f.position;
        const double d2 = x - (2.0 * f.position - EchoBasePosition);
        v += f.amplitude * std::exp(-d1 * d1 / (2 * s * s));
        v += f.amplitude * SecondEchoShare * std::exp(-d2 * d2 / (2 * s * s));
    }
    return v;
}

double NoiseLevel(const EchoConditions& c, const EchoFigures& f) {
    return NoiseAmplitude * GainFactor(f.gain) * (c.filter == WideBandFilter ? 3 : 1);
}

} // namespace

EchoFigures AnalyseEcho(const EchoConditions& c) {
    EchoFigures f;
    if (c.gainIndex >= GainAuto) {
        const uint8_t top = c.gainMax >= GainAuto ? HighestGain : std::min(c.gainMax, HighestGain);
        f.gain = 0;
        for (uint8_t ku = top;; --ku) {
            if (PeakFor(c, ku) <= AutoGainTarget || ku == 0) {
                f.gain = ku;
                break;
            }
        }
    } else {
        f.gain = std::min(c.gainIndex, HighestGain);
    }
    const double level = std::max(0.0, c.levelMm);
    f.position = EchoBasePosition + uint32_t(std::lround(level * SamplesPerMm));
    if (c.noLevel) {
        f.error = EchoNone;
        return f;
    }
    f.amplitude = PeakFor(c, f.gain);
    const uint32_t threshold = c.integratorWord >> 16;
    const uint32_t deadZone = c.integratorWord & 0xFFFF;
    if (f.position < deadZone)
        f.error = EchoDeadZone;
    else if (f.amplitude < 1 || std::min(f.amplitude, EnvelopeCeiling) < threshold)
        f.error = EchoWeak;
    if (f.error == EchoOk)
        f.signalLevel = uint8_t(std::min(5.0, std::floor(f.amplitude / SignalLevelStep)));
    return f;
}

uint32_t Noise::Raw() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_;
}

double Noise::Next() {
    // Sum of four uniforms, centred and scaled to about unit deviation.
    double s = 0;
    for (int i = 0; i < 4; ++i)
        s += double(Raw()) / 4294967296.0;
    return (s - 2) * std::sqrt(3.0);
}

void FillEnvelope(const EchoConditions& c, const EchoFigures& f, Noise& noise, uint16_t* out,
                  size_t count) {
    const double n = NoiseLevel(c, f);
    for (size_t i = 0; i < count; ++i) {
        const double x = double(i * EnvelopeDecimation);
        const double v = EnvelopeAt(c, f, x) + std::fabs(noise.Next()) * n;
        out[i] = uint16_t(std::lround(std::clamp(v, 0.0, EnvelopeCeiling)));
    }
}

void FillWaveform(const EchoConditions& c, const EchoFigures& f, bool filtered, Noise& noise,
                  uint16_t* out, size_t count) {
    const double n = NoiseLevel(c, f) * (filtered ? 0.25 : 1.0);
    const uint32_t half = uint32_t(count / 2);
    const uint32_t start = (f.amplitude > 0 && f.position > half) ? f.position - half : 0;
    const double step = 2 * std::numbers::pi * c.frequency / FrequencyUnitsPerCycle;
    for (size_t i = 0; i < count; ++i) {
        const double x = double(start + i);
        const double v = EnvelopeAt(c, f, x) * std::sin(step * x) + noise.Next() * n;
        const long s = std::lround(std::clamp(v, -EnvelopeCeiling, EnvelopeCeiling));
        out[i] = uint16_t(int16_t(s));
    }
}

} // namespace vq31::sim
