// Forms of the settings page and of the live level.
#include "parameter_format.h"
#include "echo_format.h"
#include "hub_image.h"

#include <charconv>
#include <cstdio>

namespace vq31 {

namespace {
constexpr int32_t FuelTypeItems = 4;
constexpr int32_t PostFilterItems = 9;
constexpr int32_t UserFuelType = 0;
constexpr uint32_t TenthsPerPixel = 200; // 20 mm per pixel of the fuel bar

uint32_t Bit(uint32_t value, int bit) {
    return (value >> bit) & 1u;
}
} // namespace

ParameterView MakeParameterView(const ParameterRecord& r, int32_t fuelType, float tempCoef,
                                float soundSpeed) {
    ParameterView v;
    v.record = r;
    char text[32];
    v.date = PassportDateText(r.date);
    std::snprintf(text, sizeof text, "%06u", r.serialNumber);
    v.serial = text;
    v.model = std::to_string(r.model);
    v.version = FirmwareText(r.firmwareVersion);
    v.revision = std::to_string(r.revision & 0xF);
    const uint32_t speedCode = (r.flagsA & flags::SpeedMask) >> flags::SpeedShift;
    v.speedIndex = int32_t(speedCode) - 1; // code 0 leaves no item selected
    v.answer255Index = int32_t(Bit(r.flagsA, flags::Answer255Bit));
    const int32_t bits =
        int32_t(Bit(r.flagsA, flags::DataWidthBit) + 2 * Bit(r.flagsB, flags::FlagsBWidthBit));
    v.bitsIndex = bits < 2 ? bits : -1;
    v.address = r.address;
    v.autoOn = Bit(r.flagsA, 0) != 0;
    v.autoPeriod = r.autoPeriod;
    v.postFilterIndex = r.postFilter < uint32_t(PostFilterItems) ? int32_t(r.postFilter) : -1;
    v.fuelTypeIndex = fuelType >= 0 && fuelType < FuelTypeItems ? fuelType : -1;
    v.fuelEditsEnabled = fuelType == UserFuelType;
    v.fuelTempCoef = tempCoef;
    v.fuelSoundSpeed = soundSpeed;
    return v;
}

std::optional<uint32_t> SpeedForIndex(int32_t speedIndex) {
    if (speedIndex < 0 || speedIndex >= int32_t(LinkSpeeds.size()))
        return std::nullopt;
    return LinkSpeeds[size_t(speedIndex)];
}

uint32_t LinkFlagsFor(const ParameterChoice& c, uint32_t flagsARead) {
    uint32_t f = flagsARead & flags::KeptBits;
    if (c.autoOn)
        f |= flags::AutoOutput;
    if (SpeedForIndex(c.speedIndex))
        f |= (uint32_t(c.speedIndex + 1) & 7u) << flags::SpeedShift;
    else
        f |= flagsARead & flags::SpeedMask; // no speed chosen: keep the device's speed
    // A list without a selection keeps the device's bit: -1 & 1 would set it.
    const auto choice = [&](int32_t index, int bit) {
        return index >= 0 ? (uint32_t(index) & 1u) << bit : flagsARead & (1u << bit);
    };
    f |= choice(c.answer255Index, flags::Answer255Bit);
    f |= choice(c.bitsIndex, flags::DataWidthBit);
    return f;
}

LevelView MakeLevelView(const EchoStatusRecord& s) {
    LevelView v;
    if (s[echo::NoLevel] != 0) {
        v.text = "No Data";
        return v;
    }
    v.hasLevel = true;
    v.text = std::to_string(LevelMillimetres(s[echo::Level]));
    v.barHeight = s[echo::Level] / TenthsPerPixel;
    v.code = s[echo::Level];
    return v;
}

std::string FuelNumberText(float value) {
    char text[64];
    const auto [end, error] =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed);
    return error == std::errc() ? std::string(text, end) : std::string();
}

} // namespace vq31
