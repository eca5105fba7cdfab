// The sensor's command set as exchange operations. Each takes the bus address first
// (255 = broadcast) and returns the status code of the exchange; values travel as 32-bit
// integers and the request layout cuts them to the field width.
#pragma once

#include "link.h"

#include <array>
#include <cstdint>
#include <string>

namespace vq31 {

// The link speeds the device knows, in the order of its speed code (code 1 = 2400 bit/s).
inline constexpr std::array<uint32_t, 7> LinkSpeeds = {2400,  4800,  9600,  19200,
                                                       38400, 57600, 115200};

struct Identity {
    uint32_t date = 0;
    uint32_t serialNumber = 0;
    uint32_t model = 0;
    uint32_t firmwareVersion = 0;
};

// Answer fields of the passport read: date, serial number, model, firmware version, bus
// address, automatic-output period, link flags.
struct Passport {
    uint32_t date = 0;
    uint32_t serialNumber = 0;
    uint32_t model = 0;
    uint32_t firmwareVersion = 0;
    uint32_t address = 0;
    uint32_t autoPeriod = 0;
    uint32_t linkFlags = 0;
};

// Answer bytes 3, 4, 9 and 10 of the output settings read (byte 3 low nibble: revision;
// byte 4: second flags byte, bit 5 the high bit of the resolution choice).
struct OutputSettings {
    uint32_t revisionByte = 0;
    uint32_t flags2 = 0;
    uint32_t byte9 = 0;
    uint32_t byte10 = 0;
};

// Fuel settings: list index and the two floats as their 32-bit patterns.
struct FuelSettings {
    uint32_t fuelType = 0;
    uint32_t tempCoefBits = 0;
    uint32_t soundSpeedBits = 0;
};

// The 64 status words and the 15 936 samples of an oscillogram answer.
using EchoStatusRecord = std::array<uint16_t, EchoStatusWords>;
using SampleBuffer = std::array<uint16_t, SampleCount>;

Status ReadValue(DeviceLink& link, uint8_t code, uint8_t address, uint32_t& value);
Status WriteValue(DeviceLink& link, uint8_t code, uint8_t address, uint32_t value);
Status WakeUp(DeviceLink& link, uint8_t address, std::array<uint32_t, 3>* values = nullptr);
Status ReadIdentity(DeviceLink& link, uint8_t address, Identity& identity);
// Broadcast identity query; on success foundAddress is the answering device's address.
Status FindDevice(DeviceLink& link, uint8_t& foundAddress, Identity* identity = nullptr);
Status ReadPassport(DeviceLink& link, uint8_t address, Passport& passport);
Status ReadOutputSettings(DeviceLink& link, uint8_t address, OutputSettings& settings);
// Fills status and all 15 936 samples from the frame copy after every wait that returned 0;
// blocks beyond the announced count carry what the frame copy held before. blocks (if
// given) receives the announced block count N.
Status ReadOscillogram(DeviceLink& link, uint8_t address, uint8_t mode, EchoStatusRecord& status,
                       SampleBuffer& samples, uint32_t* blocks = nullptr);
Status SetSweep(DeviceLink& link, uint8_t address, uint8_t on, uint16_t step);
Status ReadHubBlock(DeviceLink& link, uint8_t address, uint8_t index,
                    std::array<uint8_t, HubBlockSize>& block);
Status WriteHubBlock(DeviceLink& link, uint8_t address, uint8_t index,
                     const std::array<uint8_t, HubBlockSize>& block);
Status ReadFuelSettings(DeviceLink& link, uint8_t address, FuelSettings& settings);
Status WriteFuelSettings(DeviceLink& link, uint8_t address, uint8_t fuelType, float tempCoef,
                         float soundSpeed);

// Bit pattern conversions of the fuel floats.
// The passport as the windows show it: the date "DDMMYY" (its bytes are year, month - 1,
// day - 1), the firmware version "M.mm" (high nibble major, low nibble minor).
std::string PassportDateText(uint32_t date);
std::string FirmwareText(uint32_t version);
// Two upper-case hex digits a byte, with a separator between bytes when one is given.
std::string HexText(const uint8_t* bytes, size_t count, char separator = '\0');

uint32_t FloatBits(float value);
float FloatFromBits(uint32_t bits);

} // namespace vq31
