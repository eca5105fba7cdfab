// Several sensors on one line: the overlap of answers on the wire and the bus commands.
#include "bus.h"

#include "control.h"
#include "protocol.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace vq31::sim {

namespace {

constexpr unsigned BitsPerCharacter = 10; // start, 8 data, stop

} // namespace

std::vector<uint8_t> OverlapOnWire(const std::vector<std::vector<uint8_t>>& answers,
                                   const std::vector<unsigned>& skewBits) {
    size_t bits = 0;
    for (size_t k = 0; k < answers.size(); ++k) {
        const size_t skew = k < skewBits.size() ? skewBits[k] : 0;
        bits = std::max(bits, skew + answers[k].size() * BitsPerCharacter);
    }
    std::vector<uint8_t> line(bits, 1);
    for (size_t k = 0; k < answers.size(); ++k) {
        size_t at = k < skewBits.size() ? skewBits[k] : 0;
        for (const uint8_t byte : answers[k]) {
            line[at] = 0; // start bit
            for (unsigned b = 0; b < 8; ++b)
                line[at + 1 + b] &= uint8_t(byte >> b & 1);
            at += BitsPerCharacter; // the stop bit is 1 and leaves the line as it is
        }
    }
    std::vector<uint8_t> read;
    for (size_t at = 0; at < bits;) {
        if (line[at] != 0) {
            ++at;
            continue;
        }
        uint8_t byte = 0;
        for (unsigned b = 0; b < 8; ++b)
            if (at + 1 + b >= bits || line[at + 1 + b])
                byte |= uint8_t(1u << b);
        read.push_back(byte);
        at += BitsPerCharacter;
    }
    return read;
}

SensorBus::SensorBus(const std::vector<uint8_t>& addresses, uint32_t baud) {
    for (const uint8_t address : addresses.empty() ? std::vector<uint8_t>{1} : addresses) {
        if (sensors_.empty()) {
            sensors_.push_back(std::make_shared<SimSensor>(address, baud));
            firstSerial_ = sensors_.front()->device.Snapshot().serialNumber;
            made_ = 1;
        } else {
            Add(address, baud);
        }
    }
}

uint64_t SensorBus::clears() const {
    uint64_t sum = removedClears_;
    for (const auto& s : sensors_)
        sum += s->faults.clears();
    return sum;
}

SimSensor* SensorBus::At(uint8_t address) const {
    for (const auto& s : sensors_)
        if (s->device.Snapshot().address == address)
            return s.get();
    return nullptr;
}

std::string SensorBus::Add(uint8_t address, uint32_t baud) {
    auto sensor = std::make_shared<SimSensor>(address, baud);
    std::string why;
    sensor->device.SetSerialNumber(long((firstSerial_ + made_) & 0xFFFFFF), why);
    ++made_;
    sensors_.push_back(std::move(sensor));
    const DeviceState s = sensors_.back()->device.Snapshot();
    return "ok: sensor at address " + std::to_string(s.address) + ", " + std::to_string(s.baud) +
           " bit/s, serial " + std::to_string(s.serialNumber);
}

std::string SensorBus::Remove(uint8_t address) {
    for (auto it = sensors_.rbegin(); it != sensors_.rend(); ++it) {
        if ((*it)->device.Snapshot().address != address)
            continue;
        if (sensors_.size() == 1)
            return "error: the line keeps at least one sensor";
        removedClears_ += (*it)->faults.clears();
        sensors_.erase(std::next(it).base());
        return "ok: " + std::to_string(sensors_.size()) + " sensors on the line";
    }
    return "error: no sensor at address " + std::to_string(address);
}

std::string SensorBus::List() const {
    std::string text;
    for (const auto& sensor : sensors_) {
        const DeviceState s = sensor->device.Snapshot();
        if (!text.empty())
            text += '\n';
        text += "address " + std::to_string(s.address) + " baud " + std::to_string(s.baud) +
                " serial " + std::to_string(s.serialNumber);
    }
    return text;
}

std::string SensorBus::Control(const std::string& line, bool& quit) {
    std::istringstream in(line);
    std::vector<std::string> w;
    for (std::string word; in >> word;)
        w.push_back(word);
    long address = 0, baud = 0;
    if (!w.empty() && w[0] == "bus") {
        const std::string what = w.size() > 1 ? w[1] : "";
        if (what == "list" && w.size() == 2)
            return List();
        if (what == "add" && (w.size() == 3 || w.size() == 4) &&
            Integer(w[2], 0, BroadcastAddress - 1, address)) {
            baud = long(first().device.Snapshot().baud);
            if (w.size() == 4 &&
                (!Integer(w[3], 1, 115200, baud) || SpeedCodeOf(uint32_t(baud)) == 0))
                return "error: the speed must be one of 2400 4800 9600 19200 38400 57600 115200";
            return Add(uint8_t(address), uint32_t(baud));
        }
        if (what == "remove" && w.size() == 3 && Integer(w[2], 0, BroadcastAddress - 1, address))
            return Remove(uint8_t(address));
        return "error: usage: bus add ADDRESS [BAUD] | bus remove ADDRESS | bus list";
    }
    if (!w.empty() && w[0] == "collide") {
        if (w.size() != 2 || !Integer(w[1], 0, BroadcastAddress - 1, address))
            return "error: usage: collide ADDRESS";
        const SimSensor* there = At(uint8_t(address));
        if (there == nullptr)
            return "error: no sensor at address " + std::to_string(address) + " to collide with";
        return Add(uint8_t(address), there->device.Snapshot().baud);
    }
    if (!w.empty() && w[0] == "help" && w.size() == 1)
        return ControlHelp() + "\n" + BusHelp();
    SimSensor* target = &first();
    std::string rest = line;
    if (!w.empty() && w[0][0] == '@') {
        if (!Integer(w[0].substr(1), 0, BroadcastAddress - 1, address))
            return "error: usage: @ADDRESS COMMAND";
        target = At(uint8_t(address));
        if (target == nullptr)
            return "error: no sensor at address " + std::to_string(address);
        rest = line.substr(line.find(w[0]) + w[0].size());
    }
    return RunControl(rest, {target->device, target->faults, quit});
}

std::string BusHelp() {
    return "  bus add ADDRESS [BAUD] another sensor on the line (its serial counts up)\n"
           "  bus remove ADDRESS    take the last added sensor at ADDRESS off the line\n"
           "  bus list              the sensors on the line\n"
           "  collide ADDRESS       a second sensor at ADDRESS: their answers overlap\n"
           "  @ADDRESS COMMAND      COMMAND for the sensor at ADDRESS (else the first one)";
}

} // namespace vq31::sim
