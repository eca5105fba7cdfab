// Several simulated sensors on one line. Each sensor has its own device model and faults;
// a request reaches all of them, each decides for itself whether it answers (its own speed
// and address, or the broadcast address), and answers that leave together overlap on the
// wire as they would on a real two-wire line.
//
// Control lines added to the device's own language:
//   bus add ADDRESS [BAUD]   another sensor (default speed: the first sensor's)
//   bus remove ADDRESS       the last added sensor at that address (one sensor stays)
//   bus list                 one line per sensor: address, speed, serial number
//   collide ADDRESS          a second sensor at an address already taken
//   @ADDRESS COMMAND         the command for the sensor at that address
// Any other command acts on the first sensor.
#pragma once

#include "device_model.h"
#include "faults.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vq31::sim {

struct SimSensor {
    SimSensor(uint8_t address, uint32_t baud) : device(address, baud) {}
    DeviceModel device;
    FaultPlan faults;
};

// Bits of delay, within one character, between two answers that start together: each
// sensor starts its answer after its own turnaround, never to the bit the same.
inline constexpr unsigned MaxOverlapSkewBits = 8;

// The bytes a receiver reads when several answers are driven onto the line at once, the
// k-th starting skewBits[k] bit times after the start of the line's activity. The line
// rests at 1 and any driver sending 0 pulls it to 0; every character is a start bit, 8 data
// bits (least significant first) and a stop bit. The receiver starts a character at each
// falling edge and keeps it whatever its stop bit.
std::vector<uint8_t> OverlapOnWire(const std::vector<std::vector<uint8_t>>& answers,
                                   const std::vector<unsigned>& skewBits);

class SensorBus {
public:
    // One sensor per address, all at baud; the first keeps the model's serial number and
    // each later one counts up from it.
    SensorBus(const std::vector<uint8_t>& addresses, uint32_t baud);

    const std::vector<std::shared_ptr<SimSensor>>& sensors() const { return sensors_; }
    SimSensor& first() { return *sensors_.front(); }
    const SimSensor& first() const { return *sensors_.front(); }
    // Sum of every sensor's fault clears (a clear on any sensor drops delayed answers).
    uint64_t clears() const;

    // One control line: the bus commands above, or a device command for one sensor.
    std::string Control(const std::string& line, bool& quit);

private:
    std::string Add(uint8_t address, uint32_t baud);
    std::string Remove(uint8_t address);
    std::string List() const;
    SimSensor* At(uint8_t address) const;

    std::vector<std::shared_ptr<SimSensor>> sensors_;
    uint32_t firstSerial_ = 0;
    uint32_t made_ = 0; // sensors made so far: the next serial number counts from here
    uint64_t removedClears_ = 0;
};

// The help lines of the bus commands.
std::string BusHelp();

} // namespace vq31::sim
