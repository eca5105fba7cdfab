// Hub image reading for the commands that work on the device's tank tables.
#include "ctl_hub.h"

#include "commands.h"
#include "status_texts.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace vq31::ctl {

int StatusFail(Status status) {
    static const StatusTexts texts = StatusTexts::Defaults();
    std::fprintf(stderr, "%s (status %d)\n", texts.device[size_t(status) & 0xFF].c_str(),
                 int(status));
    return 1;
}

bool OpenHubLink(DeviceLink& link, const Options& o) {
    link.SetMonitor(o.monitor);
    if (link.UartOpen(o.port, o.baud) != 0) {
        std::fprintf(stderr, "Ошибка открытия порта %s: %s\n", o.port.c_str(),
                     link.OpenError().c_str());
        return false;
    }
    return true;
}

Status ReadHub(DeviceLink& link, uint8_t address, HubBuffer& image) {
    std::array<uint8_t, HubBlockSize> block{};
    Status status = ReadHubBlock(link, address, 0, block);
    if (status != StatusOk) {
        return status;
    }
    std::copy(block.begin(), block.end(), image.Page(0).begin());
    if (!HubWantsMorePages(image)) {
        return StatusOk;
    }
    const std::size_t pages = std::min(HubPageCount(image), MaxAddressablePages);
    for (std::size_t i = 1; i < pages; ++i) {
        status = ReadHubBlock(link, address, uint8_t(i), block);
        if (status != StatusOk) {
            return status;
        }
        std::copy(block.begin(), block.end(), image.Page(i).begin());
    }
    return StatusOk;
}

bool ReadDeviceHub(const Options& o, HubBuffer& image, int& exitCode) {
    DeviceLink link;
    if (!OpenHubLink(link, o)) {
        exitCode = 1;
        return false;
    }
    const Status status = ReadHub(link, o.address, image);
    link.UartClose();
    if (status != StatusOk) {
        exitCode = StatusFail(status);
        return false;
    }
    return true;
}

bool TankOfHub(const HubBuffer& image, uint16_t id, TankRecord& tank) {
    if (!HubIsValid(image)) {
        std::fprintf(stderr, "Wrong hub structure\n");
        return false;
    }
    const auto entry = HubFindEntry(image, id);
    if (!entry) {
        std::fprintf(stderr, "the hub has no tank %u\n", id);
        return false;
    }
    EntryToRecord(image, *entry, tank);
    return true;
}

} // namespace vq31::ctl
