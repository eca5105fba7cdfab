// The settings page's forms of the passport and output parameters, the link flags written
// back, and the live level of the tare window.
#pragma once

#include "commands.h"
#include "worker_view.h"

#include <array>
#include <optional>

namespace vq31 {

// Bits of link flags A.
namespace flags {
inline constexpr uint32_t AutoOutput = 1u << 0;
inline constexpr uint32_t KeptBits = (1u << 1) | (1u << 6); // written back as read
inline constexpr int SpeedShift = 2;
inline constexpr uint32_t SpeedMask = 7u << SpeedShift;
inline constexpr int Answer255Bit = 5;
inline constexpr int DataWidthBit = 7;
inline constexpr int FlagsBWidthBit = 5;
} // namespace flags

ParameterView MakeParameterView(const ParameterRecord& record, int32_t fuelType, float tempCoef,
                                float soundSpeed);
// The speed of a speed list item, none when no valid item is selected.
std::optional<uint32_t> SpeedForIndex(int32_t speedIndex);
// Link flags A from the page; a list with no selection (speed, answer to 255, data width)
// keeps the bits as read.
uint32_t LinkFlagsFor(const ParameterChoice& choice, uint32_t flagsARead);
// The tare window's level: millimetres and a bar of 20 mm per pixel, or "No Data".
LevelView MakeLevelView(const EchoStatusRecord& status);
// A fuel number (sound speed, temperature coefficient) as the shortest plain decimal that
// reads back as the same single-precision value: 0.00083 stays 0.00083, not 0.001.
std::string FuelNumberText(float value);

} // namespace vq31
