// The simulated sensor's state as plain records: what the device stores (identity, link
// settings, signal settings, hub settings), what it simulates (fuel level, temperature) and
// the counters of what it saw on the line. Tests read a snapshot of it through SimServer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vq31::sim {

// Link speeds the device knows, in the order of the speed code 1..7 of the link flags.
inline constexpr uint32_t DeviceSpeeds[7] = {2400, 4800, 9600, 19200, 38400, 57600, 115200};
// The speed the device moves to on the fast-mode request.
inline constexpr uint32_t FastModeSpeed = 115200;

// Size of the device's HUB_DATA store: 256 blocks of 128 bytes.
inline constexpr size_t HubStoreBlocks = 256;
inline constexpr size_t HubStoreSize = HubStoreBlocks * 128;

// Device modes reported by the mode read.
inline constexpr uint8_t ModeNormal = 0;
inline constexpr uint8_t ModeTuneLevel = 134;  // tuning step 1: signal level 0..5
inline constexpr uint8_t ModeTuneSearch = 135; // tuning step 2: parameter search

// Transmit and receive settings, as the device stores them.
struct SignalSettings {
    uint16_t frequency = 2000;  // pulse frequency, 500..4000
    uint16_t filter = 2000;     // receive filter, 450 (wide band) .. 4000
    uint16_t gainWord = 0x190A; // low byte Ku index 0..25 (25 = auto), high byte Ku maximum
    uint8_t attenuation = 0;    // 0 off, 30 on
    uint8_t pulseWidth = 50;    // tenths, 0..200
    uint32_t integratorWord = 1000u << 16 | 800u; // threshold << 16 | dead zone
};

// What the device saw and did on the line.
struct DeviceCounters {
    uint64_t requests = 0;       // complete requests with a good CRC
    uint64_t answered = 0;       // answers written (faulted ones included)
    uint64_t ignoredSpeed = 0;   // requests at a speed other than the device's
    uint64_t ignoredAddress = 0; // requests to another bus address
    uint64_t badCrc = 0;         // frames dropped for a CRC mismatch
    uint64_t unknownCode = 0;    // frames dropped for a code without a request layout
    uint64_t silenced = 0;       // requests left unanswered by a fault
    uint64_t faulted = 0;        // answers altered by a fault
    uint64_t records = 0;        // oscillogram records produced
};

struct DeviceState {
    // Link.
    uint8_t address = 1;
    uint32_t baud = 19200;  // the configured speed (link flags bits 2..4)
    uint32_t speed = 19200; // the speed the device answers at now
    bool fastMode = false;
    uint8_t linkFlags = 0;
    uint8_t autoPeriod = 0;
    // Identity and passport.
    uint32_t modelCode = 0; // the four characters of the model word, little-endian
    uint8_t firmwareVersion = 9;
    uint32_t date = 0; // byte 0 year, byte 1 month - 1, byte 2 day - 1
    uint32_t serialNumber = 0;
    uint8_t modelByte = 0;
    uint8_t revision = 0;
    uint8_t flags2 = 0;
    // Output and fuel.
    uint8_t postFilter = 0;
    uint8_t fuelType = 0;
    float fuelTempCoef = 0;
    float fuelSoundSpeed = 0;
    // Signal.
    SignalSettings signal;
    uint8_t effectiveGain = 0; // the Ku in use (the automatic choice when Ku is 25)
    // Modes.
    uint8_t mode = ModeNormal;
    uint32_t tuneProgress = 0;
    bool sweeping = false;
    uint16_t sweepStep = 0;
    uint32_t displayMask = 0;
    // Hub settings.
    uint8_t tareMode = 0;
    uint16_t tankId = 0;
    uint16_t tankHeight = 0; // tenths of a millimetre
    // Simulated tank and echo.
    double levelMm = 0;
    double litres = 0;
    double capacityLitres = 0;
    bool noLevel = false;
    double temperatureC = 20;
    uint16_t frameCounter = 0;
    DeviceCounters counters;
};

} // namespace vq31::sim
