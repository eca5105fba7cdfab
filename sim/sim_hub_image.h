// The HUB_DATA image the simulated sensor starts with: a valid image holding the two
// standard entries (ids 0 and 1, room for a 50-row table in entry 1) and a few tank presets
// with tare tables computed from their shapes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vq31::sim {

// Header fields of the image.
inline constexpr uint16_t HubVersion = 0x0301;
inline constexpr size_t HubHeaderSize = 16;
inline constexpr size_t HubEntryHeadSize = 10;
inline constexpr size_t HubRowSize = 4;
inline constexpr size_t HubMaxImageSize = 4096;

// Word sum of the first totalSize / 2 words (the image is valid when it is 0).
uint16_t HubWordSum(const uint8_t* image, size_t totalSize);
// Sets the checksum word so that the word sum is 0.
void HubSealImage(uint8_t* image);
// Version 0x0301 and a zero word sum within TotalSize (at most the buffer's size).
bool HubImageValid(const std::vector<uint8_t>& image);

// The starting image, placed at the front of a store of storeSize bytes (rest zero).
std::vector<uint8_t> MakePresetHubImage(size_t storeSize);

} // namespace vq31::sim
