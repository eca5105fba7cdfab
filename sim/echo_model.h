// The simulated ultrasonic echo. The echo's position follows the fuel level; its amplitude
// follows the transducer's resonance, the receive filter, the gain, the attenuator and the
// pulse width. From it come the figures of the status record and the sample blocks of the
// three oscillogram modes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vq31::sim {

// Echo error codes of status word 8.
inline constexpr uint16_t EchoOk = 0;
inline constexpr uint16_t EchoWeak = 2;     // echo below the integrator threshold
inline constexpr uint16_t EchoNone = 3;     // nothing reflected (no fuel surface seen)
inline constexpr uint16_t EchoDeadZone = 4; // echo inside the integrator's dead zone

// Geometry of the sample stream: raw sample position of an echo at a level, and the
// decimation of the envelope mode.
inline constexpr uint32_t EchoBasePosition = 1000; // raw samples before level 0
inline constexpr uint32_t SamplesPerMm = 2;        // also status word 11, the divider
inline constexpr uint32_t EnvelopeDecimation = 10;
// The transducer's resonance, where the sweep shows its peak.
inline constexpr uint16_t ResonanceFrequency = 1950;
// Gain list index meaning "automatic" (and, for the maximum, "no limit").
inline constexpr uint8_t GainAuto = 25;

struct EchoConditions {
    uint16_t frequency = 2000; // present pulse frequency
    uint16_t filter = 2000;
    uint8_t gainIndex = 10;
    uint8_t gainMax = 25;
    uint8_t attenuation = 0;
    uint8_t pulseWidth = 50;
    uint32_t integratorWord = 0;
    double levelMm = 0;
    bool noLevel = false;
};

struct EchoFigures {
    uint8_t gain = 0;      // Ku in use
    double amplitude = 0;  // peak of the echo envelope (0 without an echo)
    uint32_t position = 0; // raw sample position of the echo
    uint16_t error = EchoOk;
    uint8_t signalLevel = 0; // 0..5, what tuning step 1 reports
};

EchoFigures AnalyseEcho(const EchoConditions& conditions);

// Small deterministic noise source, so records differ from frame to frame.
class Noise {
public:
    explicit Noise(uint32_t seed = 0x1234567u) : state_(seed ? seed : 1) {}
    // Roughly normal, mean 0, deviation 1.
    double Next();

private:
    uint32_t Raw();
    uint32_t state_;
};

// Envelope samples (unsigned, 0..32000) at every tenth raw position from 0.
void FillEnvelope(const EchoConditions& c, const EchoFigures& f, Noise& noise, uint16_t* out,
                  size_t count);
// Raw or filtered samples (signed, as 16-bit patterns) in a window around the echo.
void FillWaveform(const EchoConditions& c, const EchoFigures& f, bool filtered, Noise& noise,
                  uint16_t* out, size_t count);

} // namespace vq31::sim
