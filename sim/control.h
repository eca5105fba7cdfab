// The control language of the simulated sensor: one line in, one reply out. The same
// language runs on the program's standard input and through SimServer::Control, so an
// engineer's rehearsal and a test drive the device the same way.
#pragma once

#include "device_model.h"
#include "faults.h"

#include <string>

namespace vq31::sim {

struct ControlTarget {
    DeviceModel& device;
    FaultPlan& faults;
    bool& quit;
};

// Runs one line. A bad line answers a text starting with "error:" and changes nothing.
std::string RunControl(const std::string& line, ControlTarget target);
std::string ControlHelp();
// A whole number of a control line, decimal or 0x hexadecimal, within [low, high].
bool Integer(const std::string& text, long low, long high, long& value);
std::string DescribeState(const DeviceState& state, const FaultPlan& faults);

} // namespace vq31::sim
