// Reading the device's hub image and one tank of it, shared by the workbook commands and the
// tare table outputs (telematics pairs, calibration report).
#pragma once

#include "ctl.h"
#include "hub_image.h"
#include "link.h"

#include <memory>

namespace vq31::ctl {

// Prints the status text of a failed exchange; returns 1.
int StatusFail(Status status);
// Opens the link for a hub command; false with a message.
bool OpenHubLink(DeviceLink& link, const Options& o);
// Opens the link, reads the hub into image and closes it; false (exit code set, message
// printed) on failure.
bool ReadDeviceHub(const Options& o, HubBuffer& image, int& exitCode);
// The tank of the given id from a valid image as a record; false with a message (exit 1).
bool TankOfHub(const HubBuffer& image, uint16_t id, TankRecord& tank);

} // namespace vq31::ctl
