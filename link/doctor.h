// The connection doctor: why a port would not open and what fixes it, the serial ports
// present with their stable names and descriptions, and the adapter's latency setting. On
// POSIX it reads the device, process and driver trees; on other platforms it knows nothing
// more than the port layer's own message. The tree roots are parameters so tests can build
// a fake tree.
#pragma once

#include <string>
#include <vector>

namespace vq31 {

struct DoctorRoots {
    std::string dev = "/dev";
    std::string proc = "/proc";
    std::string sys = "/sys";
};

enum class OpenProblem {
    None,
    Permission, // the user may not open the node
    Busy,       // another process holds the port
    Prober,     // a modem manager or braille daemon holds or probes the adapter
    Missing,    // no such device (unplugged, or never there)
    Other,
};

struct Diagnosis {
    OpenProblem problem = OpenProblem::None;
    std::string message;              // what is wrong and the fix, ready to show
    std::string group;                // Permission: the node's group
    std::vector<std::string> holders; // Busy, Prober: "name (pid N)"
};

// Explains a failed open of port from the error number the open gave (0 when unknown);
// portError is the port layer's own text, used when nothing better is known.
Diagnosis DiagnoseOpenFailure(const std::string& port, int errorNumber,
                              const std::string& portError, const DoctorRoots& roots = {});

struct PortInfo {
    std::string device;      // /dev/ttyUSB0
    std::string stableName;  // /dev/serial/by-id/..., empty when the device has none
    std::string description; // maker and product of the adapter, when known
};

// Serial adapters present (USB and ACM devices, and any with a stable name), sorted by
// device name.
std::vector<PortInfo> ListSerialPorts(const DoctorRoots& roots = {});
// The stable name of a device, or empty (also for names that are already stable).
std::string StableNameOf(const std::string& device, const DoctorRoots& roots = {});
// The device a stable (or any) name stands for now; empty when it is gone.
std::string ResolvePort(const std::string& name, const DoctorRoots& roots = {});

// Checks the adapter's latency timer after a good open and lowers it to 1 ms where the
// driver lets this user write it. Empty when all is well, else a warning naming the fix.
std::string TuneLatency(const std::string& device, const DoctorRoots& roots = {});

} // namespace vq31
