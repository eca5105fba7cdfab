// Snapshot and read-back steps shared by the tool's write commands.
#pragma once

#include "ctl.h"
#include "hub_image.h"
#include "link.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace vq31::ctl {

// params set NAME VALUE [NAME VALUE ...] (the words after "params").
int ParamsSet(const Options& options);
// Reads the device's whole state and saves it as a new snapshot, printing its path; false
// (with the reason on stderr) when that fails, and then nothing may be written. saved, when
// given, gets the snapshot's path.
bool SnapshotBeforeWrite(DeviceLink& link, uint8_t address, std::filesystem::path* saved = nullptr);
// Reads pages 0 .. pages - 1 back and compares them with the image; false (naming the
// differing pages on stderr) on any difference or failed read.
bool VerifyHubWrite(DeviceLink& link, uint8_t address, const HubBuffer& image, size_t pages);

} // namespace vq31::ctl
