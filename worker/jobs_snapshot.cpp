// Snapshot jobs of the window: compare a saved snapshot with the device, and put one back
// after a fresh snapshot of what it replaces, with a read-back check.
#include "command_worker.h"
#include "snapshot_words.h"

#include <cstdio>

namespace vq31 {

namespace {

std::string SerialText(uint32_t serial) {
    char text[16];
    std::snprintf(text, sizeof text, "%06u", serial);
    return text;
}

} // namespace

std::string CommandWorker::OtherSerialText(const Snapshot& saved, const Snapshot& device) const {
    return texts_.Text(msg::SnapshotOtherSerial) + " " + SerialText(saved.serialNumber) + ", " +
           SerialText(device.serialNumber) + ".";
}

void CommandWorker::RequestSnapshot(std::filesystem::path file, bool withSettings, int32_t follow) {
    std::lock_guard lock(snapshotRequestLock_);
    snapshotRequest_ = std::move(file);
    snapshotWithSettings_ = withSettings;
    snapshotFollow_ = follow;
}

bool CommandWorker::LoadRequestedSnapshot(Snapshot& snapshot, bool& withSettings) {
    std::filesystem::path file;
    {
        std::lock_guard lock(snapshotRequestLock_);
        file = snapshotRequest_;
        withSettings = snapshotWithSettings_;
    }
    std::string error;
    if (file.empty())
        error = texts_.Text(msg::SnapshotNone);
    else if (SnapshotStore::Load(file, snapshot, error) && snapshot.hub.empty())
        error = WithArguments(texts_.Text(msg::SnapshotNoHub), {file.string()});
    if (error.empty())
        return true;
    ErrorBox(error + "\n" + texts_.Text(msg::NothingWritten));
    return false;
}

void CommandWorker::CompareSnapshot() {
    if (Stopping())
        return;
    Snapshot saved;
    bool withSettings = false;
    if (!LoadRequestedSnapshot(saved, withSettings))
        return PostCommand(job::None);
    view_.LockControls();
    const CompareOutcome o = CompareWithSnapshot(link_, Address(), saved);
    ShowStatus(o.status);
    if (Stopping())
        return;
    view_.UnlockControls(Get(params_.TankId));
    if (o.status != StatusOk) {
        ErrorBox(texts_.DeviceStatus(o.status));
        return PostCommand(snapshotFollow_.load());
    }
    std::string text;
    if (o.otherSerial)
        text = OtherSerialText(saved, o.device) + "\n";
    // Each difference in the window's words, the device's value beside the snapshot's.
    text += CompareText(saved, o.device, texts_);
    InfoBox(text);
    PostCommand(snapshotFollow_.load());
}

void CommandWorker::RestoreSnapshotJob() {
    if (Stopping())
        return;
    Snapshot saved;
    bool withSettings = false;
    if (!LoadRequestedSnapshot(saved, withSettings))
        return PostCommand(job::None);
    view_.LockControls();
    if (!snapshots_) {
        ErrorBox(texts_.Text(msg::SnapshotFailed) + " " + texts_.Text(msg::SnapshotNoFolder));
        view_.UnlockControls(Get(params_.TankId));
        return PostCommand(job::None);
    }
    RestoreFollow follow;
    follow.followAddress = [&](uint8_t address) {
        Put(params_.DeviceAddress, address);
        if (!Stopping())
            view_.ApplyNewAddress(address, uint32_t(Get(params_.BaudRate)));
    };
    follow.followSpeed = [&](uint32_t speed) {
        Put(params_.BaudRate, int32_t(speed));
        if (!Stopping())
            view_.ApplyNewSpeed(speed, uint32_t(Get(params_.DeviceAddress)));
        link_.UartOpen(params_.PortName(), speed);
    };
    const auto confirm = [&](const Snapshot& device) {
        return device.serialNumber == saved.serialNumber ||
               (Ask(OtherSerialText(saved, device) + " " + texts_.Text(msg::SnapshotAskOther)) &&
                !Abandoned());
    };
    uint8_t address = Address();
    lastSnapshot_.clear();
    BeginWrite();
    WriteOutcome outcome =
        RestoreTransaction(link_, address, uint32_t(Get(params_.BaudRate)), saved, withSettings,
                           WriteContextNow(), follow, confirm);
    EndWriteStop(outcome);
    if (Stopping()) {
        writing_ = false;
        return KeepInterruptedWrite(outcome);
    }
    view_.UnlockControls(Get(params_.TankId));
    const bool restoring = outcome.end == WriteEnd::Written && outcome.stopEnd == StopEnd::None
                               ? (InfoBox(texts_.Text(msg::SnapshotRestored)), false)
                               : ShowWriteOutcome(outcome);
    writing_ = false;
    if (restoring)
        return;
    // The page shows the device as it is now, never values from before the restore.
    PostCommand(snapshotFollow_.load());
}

} // namespace vq31
