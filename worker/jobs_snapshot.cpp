// Snapshot jobs of the window: compare a saved snapshot with the device, and put one back
// after a fresh snapshot of what it replaces, with a read-back check.
#include "command_worker.h"

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

void CommandWorker::RequestSnapshot(std::filesystem::path file, bool withSettings) {
    std::lock_guard lock(snapshotRequestLock_);
    snapshotRequest_ = std::move(file);
    snapshotWithSettings_ = withSettings;
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
        error = file.string() + ": the snapshot holds no hub image";
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
    Snapshot device;
    const Status status = ReadSnapshot(link_, Address(), device);
    ShowStatus(status);
    if (Stopping())
        return;
    view_.UnlockControls(Get(params_.TankId));
    if (status != StatusOk) {
        ErrorBox(texts_.DeviceStatus(status));
        return PostCommand(job::None);
    }
    std::string text;
    if (device.serialNumber != saved.serialNumber)
        text = OtherSerialText(saved, device) + "\n";
    const auto differences = SnapshotDifferences(saved, device);
    text += differences.empty() ? texts_.Text(msg::SnapshotSame)
                                : texts_.Text(msg::SnapshotDiffers) + " " + JoinFields(differences);
    InfoBox(text);
    PostCommand(job::None);
}

void CommandWorker::RestoreSnapshotJob() {
    if (Stopping())
        return;
    Snapshot saved;
    bool withSettings = false;
    if (!LoadRequestedSnapshot(saved, withSettings))
        return PostCommand(job::None);
    view_.LockControls();
    auto finish = [&](Status status, const std::string& error) {
        if (Stopping())
            return;
        ShowStatus(status);
        view_.UnlockControls(Get(params_.TankId));
        if (!error.empty())
            ErrorBox(error);
        PostCommand(job::None);
    };
    Snapshot device;
    Status status = ReadSnapshot(link_, Address(), device);
    if (status != StatusOk)
        return finish(status,
                      texts_.DeviceStatus(status) + "\n" + texts_.Text(msg::NothingWritten));
    if (device.serialNumber != saved.serialNumber &&
        !Ask(OtherSerialText(saved, device) + " " + texts_.Text(msg::SnapshotAskOther)))
        return finish(status, {});
    if (Abandoned())
        return;
    std::string error;
    lastSnapshot_ = snapshots_ ? snapshots_->Save(device, error) : std::filesystem::path();
    if (lastSnapshot_.empty())
        return finish(status, texts_.Text(msg::SnapshotFailed) + " " +
                                  (snapshots_ ? error : std::string("no snapshot folder")));
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
    uint8_t address = Address();
    status = ::vq31::RestoreSnapshot(link_, address, uint32_t(Get(params_.BaudRate)), saved,
                                     withSettings, follow);
    if (status != StatusOk)
        return finish(status, texts_.DeviceStatus(status));
    std::vector<std::string> differences;
    status = CheckRestore(link_, address, saved, withSettings, differences);
    if (status != StatusOk)
        return finish(status, texts_.Text(msg::ReadBackFailed) + " " + texts_.DeviceStatus(status));
    if (!differences.empty())
        return finish(status, texts_.Text(msg::ReadBackDiffers) + " " + JoinFields(differences));
    InfoBox(texts_.Text(msg::SnapshotRestored));
    finish(status, {});
}

} // namespace vq31
