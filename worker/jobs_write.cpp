// The window's writes through the one write path: the hub image with the tank id and height,
// and the outcome of any write shown in one box that says what the device now holds. A
// stop while pages go out is answered after the worker has ended (EndDeviceActivity).
#include "command_worker.h"
#include "device_ops.h"
#include "snapshot_words.h"

namespace vq31 {

WriteContext CommandWorker::WriteContextNow() {
    WriteContext context;
    context.store = snapshots_;
    context.stop = [this] { return Stopping() || writeStop_.load(); };
    context.skipWhenHeld = true;
    context.snapshotSaved = [this](const std::filesystem::path& file) { lastSnapshot_ = file; };
    return context;
}

void CommandWorker::KeepInterruptedWrite(const WriteOutcome& outcome) {
    if (outcome.stopEnd != StopEnd::Incomplete)
        return;
    std::lock_guard lock(interruptedLock_);
    interrupted_ = std::make_unique<WriteOutcome>(outcome);
    interruptedAddress_ = Address();
}

void CommandWorker::EndInterruptedWrites() {
    std::unique_ptr<WriteOutcome> outcome;
    {
        std::lock_guard lock(interruptedLock_);
        outcome = std::move(interrupted_);
    }
    if (!outcome)
        return;
    EndInterruptedWrite(link_, interruptedAddress_, *outcome);
    lastOutcome_ = *outcome;
    stopCutWrite_ = true;
}

std::string CommandWorker::StopOutcomeText() const {
    if (!stopCutWrite_)
        return {};
    const WriteOutcome& o = lastOutcome_;
    if (o.stopEnd == StopEnd::Finished && o.end == WriteEnd::Written)
        return WithArguments(texts_.Text(msg::WriteFinished), {std::to_string(o.pagesTotal)});
    if (o.end == WriteEnd::PutBack)
        return WithArguments(texts_.Text(msg::WritePutBack), {std::to_string(o.pagesPutBack)});
    std::string text =
        WithArguments(texts_.Text(msg::HubPagesWritten),
                      {std::to_string(o.pagesWritten), std::to_string(o.pagesTotal)});
    if (!o.snapshot.empty()) {
        text += '\n';
        text += WithArguments(texts_.Text(msg::RestoreFrom), {o.snapshot.string()});
    }
    return text;
}

void CommandWorker::BeginWrite() {
    writeStop_ = false;
    writing_ = true;
}

void CommandWorker::EndWriteStop(WriteOutcome& outcome) {
    // A stop asked of the write alone (the window closing) leaves the link usable: the
    // transfer is finished or put back at once. A stop of the worker waits for Stop().
    if (outcome.stopEnd == StopEnd::Incomplete && !Stopping())
        EndInterruptedWrite(link_, Address(), outcome);
}

bool CommandWorker::ShowWriteOutcome(const WriteOutcome& o) {
    lastOutcome_ = o;
    KeepInterruptedWrite(o);
    if (Stopping())
        return false;
    std::string restoreLine;
    if (!o.snapshot.empty()) {
        restoreLine = '\n';
        restoreLine += WithArguments(texts_.Text(msg::RestoreFrom), {o.snapshot.string()});
    }
    switch (o.end) {
    case WriteEnd::Written:
        if (o.stopEnd == StopEnd::Finished) {
            InfoBox(WithArguments(texts_.Text(msg::WriteFinished), {std::to_string(o.pagesTotal)}));
            return false;
        }
        ShowStatus(StatusOk);
        view_.ShowDeviceStatus(StatusOk, texts_.Text(msg::WriteDone));
        return false;
    case WriteEnd::Unchanged:
        InfoBox(texts_.Text(msg::WriteUnchanged));
        return false;
    case WriteEnd::Declined:
        return false;
    case WriteEnd::PutBack:
        InfoBox(WithArguments(texts_.Text(msg::WritePutBack), {std::to_string(o.pagesPutBack)}));
        return false;
    case WriteEnd::NothingWritten:
        ShowStatus(o.status);
        if (!o.snapshotError.empty())
            ErrorBox(texts_.Text(msg::SnapshotFailed) + " " + o.snapshotError);
        else
            ErrorBox(texts_.DeviceStatus(o.status) + "\n" + texts_.Text(msg::NothingWritten));
        return false;
    case WriteEnd::ReadBackFailed: {
        const std::string text =
            o.readBackStatus != StatusOk
                ? texts_.Text(msg::ReadBackFailed) + " " + texts_.DeviceStatus(o.readBackStatus)
                : texts_.Text(msg::ReadBackDiffers) + " " + FieldWords(o.readBackDiffers, texts_);
        // Every step was taken: the box names the snapshot to restore from if need be.
        ShowStatus(o.readBackStatus);
        ErrorBox(text + restoreLine);
        return false;
    }
    case WriteEnd::PartWritten:
        break;
    }
    ShowStatus(o.status);
    std::string text = texts_.DeviceStatus(o.status);
    text += '\n';
    if (o.pagesWritten > 0)
        text += WithArguments(texts_.Text(msg::HubPagesWritten),
                              {std::to_string(o.pagesWritten), std::to_string(o.pagesTotal)});
    else if (o.tankIdWritten || o.heightWritten)
        text += texts_.Text(msg::TankIdWritten);
    if (!o.settingsWritten.empty()) {
        if (text.back() != '\n')
            text += '\n';
        text += WithArguments(texts_.Text(msg::SettingsWritten),
                              {FieldWords(o.settingsWritten, texts_)});
    }
    if (text.back() == '\n')
        text.pop_back();
    return OfferRestore(text + restoreLine, o);
}

bool CommandWorker::OfferRestore(const std::string& text, const WriteOutcome& o) {
    if (o.snapshot.empty() || !o.Changed()) {
        ErrorBox(text);
        return false;
    }
    if (!Ask(text + "\n" + texts_.Text(msg::HubOfferRestore)) || Stopping())
        return false;
    view_.UnlockControls(Get(params_.TankId));
    RequestSnapshot(o.snapshot, !o.settingsWritten.empty(),
                    o.settingsWritten.empty() ? job::ReadHubData : job::ReadParameters);
    PostCommand(job::RestoreSnapshot);
    return true;
}

void CommandWorker::WriteHubData() {
    if (Stopping())
        return;
    view_.LockControls();
    PrepareHubImage();
    if (Abandoned())
        return; // closing: nothing of the prepared image is sent
    const int32_t tankId = Get(params_.TankId);
    HubWrite write;
    write.image = &hub_.hubBuffer;
    write.pages = HubTransferPages(hub_.hubBuffer);
    write.tankId = uint32_t(tankId);
    if (OwnsHeight(tankId))
        write.tankHeight = tankHeight_;
    lastSnapshot_.clear();
    BeginWrite();
    WriteOutcome outcome = WriteHubTransaction(link_, Address(), write, WriteContextNow());
    EndWriteStop(outcome);
    hubPagesWritten_ = outcome.pagesWritten;
    hubPagesToWrite_ = outcome.pagesTotal;
    const bool restoring = ShowWriteOutcome(outcome);
    writing_ = false;
    if (restoring)
        return; // the snapshot taken before the write goes back next
    if (!Stopping())
        view_.UnlockControls(tankId);
    PostCommand(job::PollLevel);
}

} // namespace vq31
