// Hub image reading for the commands that work on the device's tank tables.
#include "ctl_hub.h"

#include "commands.h"
#include "device_ops.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace vq31::ctl {

int StatusFail(Status status) {
    return ReportStatus(status);
}

bool OpenHubLink(DeviceLink& link, const Options& o) {
    return OpenLink(link, o);
}

bool ReadDeviceHub(const Options& o, HubBuffer& image, int& exitCode) {
    DeviceLink link;
    if (!OpenHubLink(link, o)) {
        exitCode = 1;
        return false;
    }
    const Status status = ReadHubImage(link, o.address, image);
    link.UartClose();
    if (status != StatusOk) {
        exitCode = StatusFail(status);
        return false;
    }
    return true;
}

bool TankOfHub(const HubBuffer& image, uint16_t id, TankRecord& tank) {
    if (!HubIsValid(image)) {
        std::fprintf(stderr, "vq31ctl: the hub image fails its checks (wrong hub structure)\n");
        return false;
    }
    const auto entry = HubFindEntry(image, id);
    if (!entry) {
        std::fprintf(stderr, "vq31ctl: the hub has no tank %u\n", id);
        return false;
    }
    EntryToRecord(image, *entry, tank);
    return true;
}

} // namespace vq31::ctl
