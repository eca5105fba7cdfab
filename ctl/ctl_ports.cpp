// vq31ctl ports: the serial adapters present, each with its stable by-id name (which stays
// the same when the adapter is replugged, unlike the ttyUSB number) and its description.
#include "ctl.h"
#include "doctor.h"

#include <cstdio>

namespace vq31::ctl {

namespace {

int Ports(const Options&) {
    const auto ports = ListSerialPorts();
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
}

const bool registered =
    Register("ports", "ports                  serial adapters with their stable names", &Ports);

} // namespace

} // namespace vq31::ctl
