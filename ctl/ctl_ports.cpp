// vq31ctl ports: the serial adapters present, each with its stable by-id name (which stays
// the same when the adapter is replugged, unlike the ttyUSB number) and its description; on
// Windows the COM ports of the registry's serial device map with their driver's device name.
#include "ctl.h"
#include "doctor.h"

#include <cstdio>

namespace vq31::ctl {

namespace {

int Ports(const Options&) {
    const auto ports = ListSerialPorts();
#ifdef _WIN32
    // The COM ports the drivers have registered; a COM name stays with its adapter already.
    if (ports.empty())
        std::printf("no COM port found\n");
    for (const PortInfo& p : ports)
        std::printf("%-8s %s\n", p.device.c_str(), p.description.c_str());
    return 0;
#else
    if (ports.empty()) {
        std::printf("no serial adapter found (a simulator or a built-in port can still be "
                    "opened by its path)\n");
        return 0;
    }
    for (const PortInfo& p : ports)
        std::printf("%-14s %s%s%s\n", p.device.c_str(),
                    p.stableName.empty() ? "-" : p.stableName.c_str(),
                    p.description.empty() ? "" : "  ", p.description.c_str());
    return 0;
#endif
}

const bool registered =
    Register("ports", "ports                  serial adapters with their stable names", &Ports);

} // namespace

} // namespace vq31::ctl
