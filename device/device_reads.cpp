// The device reads that more than one operation needs: the hub image (page 0, then the rest
// of a version 3 image), pages by count, and the state a snapshot keeps.
#include "device_ops.h"

#include <algorithm>
#include <array>

namespace vq31 {

size_t HubTransferPages(const HubBuffer& image) {
    return std::min(HubPageCount(image), MaxTransferPages);
}

namespace {

// One page, asked again once when its answer came broken (a bad check sum or length, a
// garbled frame): a read changes nothing on the device, and one frame cut by a pause on the
// line should not fail a whole image. No answer at all is not asked again, so a silent
// device costs one wait per page, as before.
Status ReadPage(DeviceLink& link, uint8_t a, uint8_t index,
                std::array<uint8_t, HubBlockSize>& block) {
    Status status = ReadHubBlock(link, a, index, block);
    if (status == StatusCrcError || status == StatusBadLength || status == StatusBadAnswer)
        status = ReadHubBlock(link, a, index, block);
    return status;
}

} // namespace

Status ReadHubImage(DeviceLink& link, uint8_t a, HubBuffer& image, size_t* pagesRead) {
    std::array<uint8_t, HubBlockSize> block{};
    size_t read = 0;
    Status status = ReadPage(link, a, 0, block);
    if (status == StatusOk) {
        std::copy(block.begin(), block.end(), image.Page(0).begin());
        read = 1;
        const size_t pages = HubWantsMorePages(image) ? HubTransferPages(image) : 1;
        for (size_t i = 1; i < pages && status == StatusOk; ++i) {
            status = ReadPage(link, a, uint8_t(i), block);
            if (status == StatusOk) {
                std::copy(block.begin(), block.end(), image.Page(i).begin());
                read = i + 1;
            }
        }
    }
    if (pagesRead)
        *pagesRead = read;
    return status;
}

Status ReadHubPages(DeviceLink& link, uint8_t a, size_t pages, std::vector<uint8_t>& bytes) {
    bytes.clear();
    std::array<uint8_t, HubBlockSize> block{};
    for (size_t i = 0; i < std::min(pages, MaxTransferPages); ++i) {
        if (const Status status = ReadPage(link, a, uint8_t(i), block); status != StatusOk)
            return status;
        bytes.insert(bytes.end(), block.begin(), block.end());
    }
    return StatusOk;
}

Status ReadSnapshotSettings(DeviceLink& link, uint8_t a, Snapshot& s) {
    s.time = SnapshotTimeNow();
    Passport passport;
    Status status = ReadPassport(link, a, passport);
    if (status != StatusOk)
        return status;
    s.date = passport.date;
    s.serialNumber = passport.serialNumber;
    s.model = passport.model;
    s.firmwareVersion = passport.firmwareVersion;
    s.address = passport.address;
    s.autoPeriod = passport.autoPeriod;
    s.linkFlags = passport.linkFlags;
    OutputSettings output;
    if ((status = ReadOutputSettings(link, a, output)) != StatusOk)
        return status;
    s.revision = output.revisionByte;
    s.flagsB = output.flags2;
    if ((status = ReadValue(link, cmd::ReadPostFilter, a, s.postFilter)) != StatusOk)
        return status;
    FuelSettings fuel;
    if ((status = ReadFuelSettings(link, a, fuel)) != StatusOk)
        return status;
    s.fuelType = fuel.fuelType;
    s.tempCoefBits = fuel.tempCoefBits;
    s.soundSpeedBits = fuel.soundSpeedBits;
    if ((status = ReadValue(link, cmd::ReadTankId, a, s.tankId)) != StatusOk)
        return status;
    return ReadValue(link, cmd::ReadTankHeight, a, s.tankHeight);
}

Status ReadSnapshot(DeviceLink& link, uint8_t a, Snapshot& s) {
    Status status = ReadSnapshotSettings(link, a, s);
    if (status != StatusOk)
        return status;
    auto image = std::make_unique<HubBuffer>();
    size_t pages = 0;
    if ((status = ReadHubImage(link, a, *image, &pages)) != StatusOk)
        return status;
    s.hub.assign(image->bytes().begin(), image->bytes().begin() + ptrdiff_t(pages * HubPageSize));
    return StatusOk;
}

CompareOutcome CompareWithSnapshot(DeviceLink& link, uint8_t a, const Snapshot& saved) {
    CompareOutcome out;
    out.status = ReadSnapshot(link, a, out.device);
    if (out.status != StatusOk)
        return out;
    out.otherSerial = out.device.serialNumber != saved.serialNumber;
    out.differences = SnapshotDifferences(saved, out.device);
    return out;
}

SettingsWrite SettingsOfSnapshot(const Snapshot& s) {
    SettingsWrite w;
    w.postFilter = s.postFilter;
    w.fuel = SettingsWrite::Fuel{uint8_t(s.fuelType), FloatFromBits(s.tempCoefBits),
                                 FloatFromBits(s.soundSpeedBits)};
    w.address = uint8_t(s.address);
    w.autoPeriod = s.autoPeriod;
    w.linkFlags = s.linkFlags;
    return w;
}

} // namespace vq31
