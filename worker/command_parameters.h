// The block of values the window hands to the worker's jobs, and through which jobs store
// the device's current values. The window writes a field and then posts the command code
// that uses it; the job reads the field after taking the code. Every field is an atomic so
// that a window write during a running job is free of data races (relaxed order is enough:
// the post itself orders the hand-over).
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace vq31 {

struct CommandParameters {
    // Serial link. Ports are opened by name (a device path, or COM<n> on Windows); the
    // number is kept for the settings file and the messages that show it.
    std::atomic<int32_t> PortNumber{1};
    std::atomic<int32_t> BaudRate{19200};
    std::atomic<int32_t> DeviceAddress{1};
    // Oscilloscope page.
    std::atomic<int32_t> OscillMode{1}; // 1 envelope, 2 raw, 3 filtered, 0 no selection
    std::atomic<int32_t> PulseFrequency{0};
    std::atomic<int32_t> FilterFrequency{0}; // 450 = wide band
    std::atomic<int32_t> GainWord{0};        // Ku index bits 0-7, maximum-Ku index bits 8-15
    std::atomic<int32_t> Attenuation{0};     // 0 or 30
    std::atomic<int32_t> PulseWidth{0};      // tenths, 0 to 200
    std::atomic<int32_t> IntegratorWord{0};  // threshold bits 16-31, dead zone bits 0-15
    std::atomic<int32_t> DisplayTestPattern{0};
    std::atomic<int32_t> AfcStep{20};
    std::atomic<int32_t> AfcStart{2000};
    std::atomic<int32_t> AfcWidth{1000};
    std::atomic<int32_t> TuneMode{0}; // 0, 134 (step 1) or 135 (step 2)
    // Tare and settings pages.
    std::atomic<int32_t> TankId{0};
    std::atomic<int32_t> FuelType{0};
    std::atomic<int32_t> TareWindowOpen{0};
    std::atomic<float> FuelTempCoef{0.0f};
    std::atomic<float> FuelSoundSpeed{0.0f};

    // The port name; empty means "COM" followed by PortNumber.
    std::string PortName() const {
        std::lock_guard lock(nameLock_);
        if (portName_.empty())
            return "COM" + std::to_string(PortNumber.load(std::memory_order_relaxed));
        return portName_;
    }
    void SetPortName(std::string name) {
        std::lock_guard lock(nameLock_);
        portName_ = std::move(name);
    }

private:
    mutable std::mutex nameLock_;
    std::string portName_;
};

// Relaxed access helpers, so call sites read as plain field uses.
inline int32_t Get(const std::atomic<int32_t>& field) {
    return field.load(std::memory_order_relaxed);
}
inline float Get(const std::atomic<float>& field) {
    return field.load(std::memory_order_relaxed);
}
inline void Put(std::atomic<int32_t>& field, int32_t value) {
    field.store(value, std::memory_order_relaxed);
}
inline void Put(std::atomic<float>& field, float value) {
    field.store(value, std::memory_order_relaxed);
}

} // namespace vq31
