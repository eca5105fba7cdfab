// Settings of the simulated sensor made from the control channel rather than over the
// line: the simulated fuel and tank, identity and link settings. Each checks its input
// first and changes nothing when it is refused.
#include "device_model.h"

#include "protocol.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace vq31::sim {

bool DeviceModel::SetLevel(double mm, std::string& why) {
    if (!(mm >= 0 && mm <= tank_.diameterMm())) {
        char text[96];
        std::snprintf(text, sizeof text, "the level must lie between 0 and %.0f mm",
                      tank_.diameterMm());
        why = text;
        return false;
    }
    state_.levelMm = mm;
    state_.litres = tank_.LitresAt(mm);
    state_.noLevel = false;
    return true;
}

bool DeviceModel::Pour(double litres, std::string& why) {
    char text[96];
    const double after = state_.litres + litres;
    const double capacity = tank_.CapacityLitres();
    if (!std::isfinite(litres)) {
        why = "not a volume";
        return false;
    }
    if (after > capacity + 1e-6) {
        std::snprintf(text, sizeof text, "the tank takes only %.2f l more",
                      capacity - state_.litres);
        why = text;
        return false;
    }
    if (after < -1e-6) {
        std::snprintf(text, sizeof text, "the tank holds only %.2f l", state_.litres);
        why = text;
        return false;
    }
    state_.litres = std::clamp(after, 0.0, capacity);
    state_.levelMm = tank_.LevelAt(state_.litres);
    return true;
}

bool DeviceModel::SetTank(double diameterMm, double lengthMm, std::string& why) {
    if (!(diameterMm >= 100 && diameterMm <= 6500 && lengthMm >= 100 && lengthMm <= 50000)) {
        why = "the diameter must lie between 100 and 6500 mm, the length between 100 and "
              "50000 mm";
        return false;
    }
    tank_ = CylinderTank(diameterMm, lengthMm);
    state_.levelMm = std::min(state_.levelMm, diameterMm);
    state_.litres = tank_.LitresAt(state_.levelMm);
    return true;
}

bool DeviceModel::SetTemperature(double celsius, std::string& why) {
    if (!(celsius >= -60 && celsius <= 100)) {
        why = "the temperature must lie between -60 and 100 C";
        return false;
    }
    state_.temperatureC = celsius;
    return true;
}

bool DeviceModel::SetModel(const std::string& text, std::string& why) {
    if (text.size() != 4) {
        why = "the model word has exactly 4 characters";
        return false;
    }
    state_.modelCode = GetU32(reinterpret_cast<const uint8_t*>(text.data()));
    return true;
}

void DeviceModel::SetDate(uint8_t year, uint8_t monthByte, uint8_t dayByte) {
    state_.date = uint32_t(year) | uint32_t(monthByte) << 8 | uint32_t(dayByte) << 16;
}

bool DeviceModel::SetSerialNumber(long serial, std::string& why) {
    if (serial < 0 || serial > 0xFFFFFF) {
        why = "the serial number must lie between 0 and 16777215 (24 bits)";
        return false;
    }
    state_.serialNumber = uint32_t(serial);
    return true;
}

bool DeviceModel::SetLinkFlags(long flags, std::string& why) {
    const uint32_t speed = flags >= 0 && flags <= 255 ? SpeedOfCode(uint32_t(flags) >> 2 & 7) : 0;
    if (speed == 0) {
        why = "the link flags are one byte whose bits 2..4 hold a speed code 1..7";
        return false;
    }
    state_.linkFlags = uint8_t(flags);
    state_.baud = speed;
    state_.fastMode = false;
    return true;
}

bool DeviceModel::SetAddress(long address, std::string& why) {
    if (address < 0 || address >= BroadcastAddress) {
        why = "the address must lie between 0 and 254";
        return false;
    }
    state_.address = uint8_t(address);
    return true;
}

bool DeviceModel::SetBaud(long baud, std::string& why) {
    if (baud <= 0 || baud > 115200 || SpeedCodeOf(uint32_t(baud)) == 0) {
        why = "the speed must be one of 2400 4800 9600 19200 38400 57600 115200";
        return false;
    }
    state_.baud = uint32_t(baud);
    state_.linkFlags = LinkFlagsFor(uint32_t(baud), state_.linkFlags);
    state_.fastMode = false;
    return true;
}

} // namespace vq31::sim
