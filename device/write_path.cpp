// The one write path: every change on a sensor reads what it replaces, saves the snapshot,
// writes, reads back and ends with one outcome. A stop between hub pages is answered by
// finishing the image or putting the old one back, whichever needs fewer pages, so the
// device never keeps the start of one image and the end of another.
#include "device_ops.h"

#include <algorithm>
#include <array>

namespace vq31 {

namespace {

// Saves the state read before the write, with what the write is about to change; false
// (outcome NothingWritten) when it cannot be saved.
bool SaveBefore(const WriteContext& context, const Snapshot& before, const SnapshotReason& reason,
                WriteOutcome& out) {
    if (!context.store)
        return true;
    std::string error;
    Snapshot saved = before;
    saved.reason = reason;
    out.snapshot = context.store->Save(saved, error);
    if (out.snapshot.empty()) {
        out.snapshotError = error.empty() ? "the snapshot could not be saved" : error;
        out.end = WriteEnd::NothingWritten;
        return false;
    }
    if (context.snapshotSaved)
        context.snapshotSaved(out.snapshot);
    return true;
}

Status WritePage(DeviceLink& link, uint8_t a, const uint8_t* bytes, size_t index) {
    std::array<uint8_t, HubBlockSize> block{};
    std::copy_n(bytes + index * HubPageSize, HubPageSize, block.begin());
    return WriteHubBlock(link, a, uint8_t(index), block);
}

// The tank id, the height and the pages; a stop before a page leaves stopEnd Incomplete.
void WriteHubSteps(DeviceLink& link, uint8_t a, const HubWrite& w, const WriteContext& context,
                   WriteOutcome& out) {
    if (w.tankId) {
        if ((out.status = WriteValue(link, cmd::WriteTankId, a, *w.tankId)) != StatusOk)
            return;
        out.tankIdWritten = true;
    }
    if (w.tankHeight) {
        if ((out.status = WriteValue(link, cmd::WriteTankHeight, a, *w.tankHeight)) != StatusOk)
            return;
        out.heightWritten = true;
    }
    const uint8_t* bytes = w.image->bytes().data();
    for (size_t i = 0; i < w.pages; ++i) {
        if (context.stop && context.stop()) {
            if (!out.Changed())
                return;
            out.stopEnd = StopEnd::Incomplete;
            out.stoppedImage = std::make_shared<const HubBuffer>(*w.image);
            out.stoppedTankId = w.tankId;
            out.stoppedTankHeight = w.tankHeight;
            return;
        }
        if ((out.status = WritePage(link, a, bytes, i)) != StatusOk)
            return;
        out.pagesWritten = i + 1;
        if (context.progress)
            context.progress(out.pagesWritten, w.pages);
    }
}

// Reads the tank id, height and pages back and compares them with expected.
void ReadBack(DeviceLink& link, uint8_t a, Snapshot expected, size_t pages, CompareScope scope,
              WriteEnd good, WriteOutcome& out) {
    Snapshot device;
    out.readBackStatus = ReadSnapshotSettings(link, a, device);
    if (out.readBackStatus == StatusOk && scope.hub)
        out.readBackStatus = ReadHubPages(link, a, pages, device.hub);
    if (out.readBackStatus != StatusOk) {
        out.end = WriteEnd::ReadBackFailed;
        return;
    }
    expected.hub.resize(std::min(expected.hub.size(), pages * HubPageSize));
    out.readBackDiffers = SnapshotDifferences(expected, device, scope);
    out.end = out.readBackDiffers.empty() ? good : WriteEnd::ReadBackFailed;
}

// What a hub write should leave on the device, on top of the settings read back.
Snapshot ExpectedAfter(const Snapshot& base, const HubWrite& w) {
    Snapshot expected = base;
    if (w.tankId)
        expected.tankId = *w.tankId & 0xFFFF;
    if (w.tankHeight)
        expected.tankHeight = *w.tankHeight;
    const auto& bytes = w.image->bytes();
    expected.hub.assign(bytes.begin(), bytes.begin() + ptrdiff_t(w.pages * HubPageSize));
    return expected;
}

void ReadBackHub(DeviceLink& link, uint8_t a, const HubWrite& w, WriteOutcome& out) {
    Snapshot device;
    out.readBackStatus = ReadSnapshotSettings(link, a, device);
    if (out.readBackStatus == StatusOk)
        out.readBackStatus = ReadHubPages(link, a, w.pages, device.hub);
    if (out.readBackStatus != StatusOk) {
        out.end = WriteEnd::ReadBackFailed;
        return;
    }
    out.readBackDiffers =
        SnapshotDifferences(ExpectedAfter(device, w), device, {false, true, true});
    out.end = out.readBackDiffers.empty() ? WriteEnd::Written : WriteEnd::ReadBackFailed;
}

bool HubAlreadyHeld(const Snapshot& before, const HubWrite& w) {
    if (w.tankId && before.tankId != (*w.tankId & 0xFFFF))
        return false;
    if (w.tankHeight && before.tankHeight != *w.tankHeight)
        return false;
    const size_t size = w.pages * HubPageSize;
    return before.hub.size() >= size &&
           std::equal(before.hub.begin(), before.hub.begin() + ptrdiff_t(size),
                      w.image->bytes().begin());
}

// The end of a transfer that failed or was stopped, before any read-back.
void EndWithoutReadBack(WriteOutcome& out) {
    out.end = out.Changed() ? WriteEnd::PartWritten : WriteEnd::NothingWritten;
}

// One settings step: the exchange, then its name among those written.
bool Step(Status status, const char* name, WriteOutcome& out) {
    out.status = status;
    if (status != StatusOk)
        return false;
    out.settingsWritten.push_back(name);
    return true;
}

bool WriteSettingsSteps(DeviceLink& link, uint8_t& a, uint32_t currentSpeed, const SettingsWrite& w,
                        const RestoreFollow& follow, WriteOutcome& out) {
    if (w.postFilter &&
        !Step(WriteValue(link, cmd::WritePostFilter, a, *w.postFilter), "post-filter", out))
        return false;
    if (w.fuel &&
        !Step(WriteFuelSettings(link, a, w.fuel->type, w.fuel->tempCoef, w.fuel->soundSpeed),
              "fuel settings", out))
        return false;
    if (w.address) {
        // Sent to the old address; the device answers at the new one from then on.
        if (!Step(WriteValue(link, cmd::WriteAddress, a, *w.address), "address", out))
            return false;
        a = *w.address;
        if (follow.followAddress)
            follow.followAddress(a);
    }
    if (w.autoPeriod &&
        !Step(WriteValue(link, cmd::WriteAutoPeriod, a, *w.autoPeriod), "output period", out))
        return false;
    if (w.linkFlags) {
        if (!Step(WriteValue(link, cmd::WriteLinkFlags, a, *w.linkFlags), "link flags", out))
            return false;
        const auto speed = SpeedOfLinkFlags(*w.linkFlags);
        if (speed && *speed != currentSpeed && follow.followSpeed)
            follow.followSpeed(*speed);
    }
    return true;
}

Snapshot ExpectedSettings(Snapshot expected, const SettingsWrite& w) {
    if (w.postFilter)
        expected.postFilter = *w.postFilter & 0xFF;
    if (w.fuel) {
        expected.fuelType = w.fuel->type;
        expected.tempCoefBits = FloatBits(w.fuel->tempCoef);
        expected.soundSpeedBits = FloatBits(w.fuel->soundSpeed);
    }
    if (w.address)
        expected.address = *w.address;
    if (w.autoPeriod)
        expected.autoPeriod = *w.autoPeriod & 0xFF;
    if (w.linkFlags)
        expected.linkFlags = *w.linkFlags & 0xFF;
    return expected;
}

} // namespace

WriteOutcome WriteHubTransaction(DeviceLink& link, uint8_t a, const HubWrite& w,
                                 const WriteContext& context) {
    WriteOutcome out;
    out.pagesTotal = w.pages;
    auto before = std::make_shared<Snapshot>();
    if ((out.status = ReadSnapshot(link, a, *before)) != StatusOk)
        return out;
    out.before = before;
    if (context.skipWhenHeld && HubAlreadyHeld(*before, w)) {
        out.end = WriteEnd::Unchanged;
        return out;
    }
    if (!SaveBefore(context, *before, ReasonOfChange(*before, ExpectedAfter(*before, w)), out))
        return out;
    WriteHubSteps(link, a, w, context, out);
    if (out.stopEnd == StopEnd::Incomplete || out.status != StatusOk || out.pagesWritten < w.pages)
        return EndWithoutReadBack(out), out;
    ReadBackHub(link, a, w, out);
    return out;
}

void EndInterruptedWrite(DeviceLink& link, uint8_t a, WriteOutcome& out) {
    if (out.stopEnd != StopEnd::Incomplete || !out.before || !out.stoppedImage)
        return;
    const Snapshot& before = *out.before;
    const HubWrite w{out.stoppedImage.get(), out.pagesTotal, out.stoppedTankId,
                     out.stoppedTankHeight};
    const uint8_t* bytes = w.image->bytes().data();
    const size_t left = w.pages - out.pagesWritten;
    if (left <= out.pagesWritten) {
        for (size_t i = out.pagesWritten; i < w.pages; ++i) {
            if ((out.status = WritePage(link, a, bytes, i)) != StatusOk)
                return EndWithoutReadBack(out);
            out.pagesWritten = i + 1;
        }
        out.stopEnd = StopEnd::Finished;
        return ReadBackHub(link, a, w, out);
    }
    // Put back: the old pages over those written, then the old tank id and height. Pages
    // past the old image's end may keep new bytes; the old first page says where it ends.
    const size_t oldPages = before.hub.size() / HubPageSize;
    const size_t pages = std::min(out.pagesWritten, oldPages);
    for (size_t i = 0; i < pages; ++i) {
        if ((out.status = WritePage(link, a, before.hub.data(), i)) != StatusOk)
            return EndWithoutReadBack(out);
        out.pagesPutBack = i + 1;
    }
    if (out.heightWritten &&
        (out.status = WriteValue(link, cmd::WriteTankHeight, a, before.tankHeight)) != StatusOk)
        return EndWithoutReadBack(out);
    if (out.tankIdWritten &&
        (out.status = WriteValue(link, cmd::WriteTankId, a, before.tankId)) != StatusOk)
        return EndWithoutReadBack(out);
    out.stopEnd = StopEnd::PutBack;
    ReadBack(link, a, before, oldPages, {false, true, true}, WriteEnd::PutBack, out);
}

WriteOutcome WriteSettingsTransaction(DeviceLink& link, uint8_t& a, uint32_t currentSpeed,
                                      const SettingsWrite& w, const WriteContext& context,
                                      const RestoreFollow& follow) {
    WriteOutcome out;
    auto before = std::make_shared<Snapshot>();
    if ((out.status = ReadSnapshot(link, a, *before)) != StatusOk)
        return out;
    out.before = before;
    if (!SaveBefore(context, *before, ReasonOfChange(*before, ExpectedSettings(*before, w)), out))
        return out;
    if (!WriteSettingsSteps(link, a, currentSpeed, w, follow, out))
        return EndWithoutReadBack(out), out;
    Snapshot device;
    out.readBackStatus = ReadSnapshotSettings(link, a, device);
    if (out.readBackStatus != StatusOk) {
        out.end = WriteEnd::ReadBackFailed;
        return out;
    }
    out.readBackDiffers =
        SnapshotDifferences(ExpectedSettings(device, w), device, {true, false, false});
    out.end = out.readBackDiffers.empty() ? WriteEnd::Written : WriteEnd::ReadBackFailed;
    return out;
}

WriteOutcome RestoreTransaction(DeviceLink& link, uint8_t& a, uint32_t currentSpeed,
                                const Snapshot& wanted, bool withSettings,
                                const WriteContext& context, const RestoreFollow& follow,
                                const std::function<bool(const Snapshot& device)>& confirm) {
    WriteOutcome out;
    auto image = std::make_unique<HubBuffer>();
    const size_t pages = std::min(wanted.hub.size() / HubPageSize, MaxTransferPages);
    std::copy_n(wanted.hub.begin(), pages * HubPageSize, image->bytes().begin());
    out.pagesTotal = pages;
    auto before = std::make_shared<Snapshot>();
    if ((out.status = ReadSnapshot(link, a, *before)) != StatusOk)
        return out;
    out.before = before;
    if (confirm && !confirm(*before)) {
        out.end = WriteEnd::Declined;
        return out;
    }
    SnapshotReason restoring;
    restoring.kind = SnapshotReason::Kind::Restore;
    restoring.from = wanted.time;
    if (!SaveBefore(context, *before, restoring, out))
        return out;
    const HubWrite w{image.get(), pages, wanted.tankId, wanted.tankHeight};
    WriteHubSteps(link, a, w, context, out);
    if (out.stopEnd == StopEnd::Incomplete)
        return EndWithoutReadBack(out), out; // the settings are left as they are
    if (out.status != StatusOk || out.pagesWritten < pages)
        return EndWithoutReadBack(out), out;
    if (withSettings &&
        !WriteSettingsSteps(link, a, currentSpeed, SettingsOfSnapshot(wanted), follow, out))
        return EndWithoutReadBack(out), out;
    ReadBack(link, a, wanted, pages, {withSettings, true, true}, WriteEnd::Written, out);
    return out;
}

} // namespace vq31
