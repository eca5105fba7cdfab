// Hub data: read and write the HUB_DATA image in 128-byte pages with the tank id and height,
// show it on the tare page, tell the device about the tare window, and poll the live level.
#include "command_worker.h"
#include "parameter_format.h"

#include <algorithm>

namespace vq31 {

namespace {
constexpr uint8_t LiveLevelMode = 11; // oscillogram mode that carries the live level
// The block index travels in one byte: pages past 255 cannot be addressed, and sending them
// would wrap onto the image's first blocks.
constexpr size_t MaxTransferPages = 256;

bool OwnsHeight(int32_t tankId) {
    return tankId == DefaultTankId0 || tankId == CalibratedTankId;
}
} // namespace

size_t CommandWorker::TransferPages() const {
    return std::min(HubPageCount(hub_.hubBuffer), MaxTransferPages);
}

void CommandWorker::ReadHubData() {
    if (Stopping())
        return;
    view_.LockControls();
    HubBuffer& image = hub_.hubBuffer;
    const uint8_t a = Address();
    std::array<uint8_t, HubBlockSize> block{};
    Status status = ReadHubBlock(link_, a, 0, block);
    if (status == StatusOk) {
        std::copy(block.begin(), block.end(), image.Page(0).begin());
        if (HubWantsMorePages(image)) {
            const size_t pages = TransferPages();
            for (size_t i = 1; i < pages && status == StatusOk; ++i) {
                status = ReadHubBlock(link_, a, uint8_t(i), block);
                if (status == StatusOk)
                    std::copy(block.begin(), block.end(), image.Page(i).begin());
            }
        }
    }
    uint32_t value = 0;
    if (status == StatusOk) {
        status = ReadValue(link_, cmd::ReadTankId, a, value);
        if (status == StatusOk)
            Put(params_.TankId, int32_t(value));
    }
    if (status == StatusOk) {
        status = ReadValue(link_, cmd::ReadTankHeight, a, value);
        if (status == StatusOk)
            tankHeight_ = value;
    }
    // The report made from the tare window names the sensor; a passport that cannot be read
    // leaves the page as it is (the report then asks for it).
    Passport passport;
    if (status == StatusOk && ReadPassport(link_, a, passport) == StatusOk && !Stopping())
        view_.ShowPassport(passport);
    ShowStatus(status);
    if (Stopping())
        return;
    view_.UnlockControls(Get(params_.TankId));
    if (status == StatusOk && !Stopping())
        ShowHubView();
    else
        ErrorBox(texts_.DeviceStatus(status));
    PostCommand(job::PollLevel);
}

void CommandWorker::ShowHubView() {
    HubBuffer& image = hub_.hubBuffer;
    HubView v;
    if (!HubIsValid(image)) {
        if (!Ask(texts_.Text(msg::HubWrong))) {
            if (!Stopping())
                view_.ShowHubData(v); // emptied and disabled
            return;
        }
        HubMakeDefault(image);
    }
    v.valid = true;
    v.version = HubVersionText(image.Version());
    const int32_t tankId = Get(params_.TankId);
    for (auto e = HubFirstEntry(image); e; e = HubNextEntry(image, *e)) {
        const uint16_t id = HubEntryHead(image, *e).Id;
        if (v.selectedIndex < 0 && uint32_t(tankId) == id)
            v.selectedIndex = int32_t(v.tankIds.size());
        v.tankIds.push_back(id);
    }
    const auto entry = HubFindEntry(image, uint16_t(tankId));
    if (OwnsHeight(tankId))
        v.heightMm = tankHeight_ / 10;
    else
        v.heightMm = entry ? HubEntryHead(image, *entry).Height / 10u : 0u;
    if (entry) {
        v.tableLength = HubEntryHead(image, *entry).RowCount;
        // The window step makes the copy: the tare window may be storing its grid into
        // CurrentTank on the window thread while this job runs.
        v.loadCurrentTank = [&hub = hub_, e = *entry] {
            EntryToRecord(hub.hubBuffer, e, hub.currentTank);
        };
    }
    v.mlPerBitIndex = MlPerBitIndex(image.MlPerBit());
    if (!Stopping())
        view_.ShowHubData(v);
}

void CommandWorker::RefreshHubView() {
    if (Stopping())
        return;
    view_.UnlockControls(Get(params_.TankId));
    ShowHubView();
    PostCommand(job::PollLevel);
}

void CommandWorker::PrepareHubImage() {
    HubBuffer& image = hub_.hubBuffer;
    if (!HubIsValid(image) && Ask(texts_.Text(msg::HubWrong)))
        HubMakeDefault(image);
    if (Stopping())
        return;
    const HubChoice choice = view_.PrepareHubData();
    if (Abandoned())
        return; // the fallback choice (height 0, no output unit) is never used
    const int32_t tankId = Get(params_.TankId);
    if (OwnsHeight(tankId))
        tankHeight_ = choice.heightMm * 10;
    if (tankId == CalibratedTankId) {
        const auto entry = HubFindEntry(image, CalibratedTankId);
        if (!entry)
            return; // written as it is
        TankRecord& tank = hub_.currentTank;
        const uint16_t needed = uint16_t(tank.RowCount * EntryRowSize + TankEntryHeadSize);
        if (tank.RowCount > TankRecordRows || HubEntryHead(image, *entry).EntrySize < needed) {
            Ask(texts_.Text(msg::TableTooBig)); // the answer changes nothing
            return;
        }
        if (tank.Scale == 0)
            tank.Scale = 1;
        RecordToEntry(tank, image, *entry);
    }
    image.SetMlPerBit(MlPerBitForIndex(choice.mlPerBitIndex));
    HubSeal(image);
}

void CommandWorker::WriteHubData() {
    if (Stopping())
        return;
    view_.LockControls();
    PrepareHubImage();
    if (Abandoned())
        return; // closing: nothing of the prepared image is sent
    const uint8_t a = Address();
    const int32_t tankId = Get(params_.TankId);
    hubPagesWritten_ = 0;
    hubPagesToWrite_ = 0;
    if (!SaveSnapshotBeforeWrite()) {
        if (!Stopping())
            view_.UnlockControls(tankId);
        return PostCommand(job::PollLevel);
    }
    Status status = WriteValue(link_, cmd::WriteTankId, a, uint32_t(tankId));
    if (status == StatusOk && OwnsHeight(tankId))
        status = WriteValue(link_, cmd::WriteTankHeight, a, tankHeight_);
    const bool idWritten = status == StatusOk;
    std::array<uint8_t, HubBlockSize> block{};
    const size_t pages = TransferPages();
    size_t written = 0;
    for (size_t i = 0; i < pages && status == StatusOk && !Stopping(); ++i) {
        const auto page = hub_.hubBuffer.Page(i);
        std::copy(page.begin(), page.end(), block.begin());
        status = WriteHubBlock(link_, a, uint8_t(i), block);
        if (status == StatusOk)
            ++written;
    }
    hubPagesWritten_ = written;
    hubPagesToWrite_ = pages;
    ShowStatus(status);
    if (Stopping())
        return;
    if (status != StatusOk) {
        if (ReportPartialHubWrite(status, idWritten, written, pages))
            return; // the snapshot taken before the write goes back next
    } else {
        // Read back the tank id, the height and every page written.
        Snapshot device;
        status = ReadSnapshotSettings(link_, a, device);
        if (status == StatusOk)
            status = ReadHubPages(link_, a, pages, device.hub);
        Snapshot expected = device;
        expected.tankId = uint32_t(tankId) & 0xFFFF;
        if (OwnsHeight(tankId))
            expected.tankHeight = tankHeight_;
        const auto& bytes = hub_.hubBuffer.bytes();
        expected.hub.assign(bytes.begin(), bytes.begin() + ptrdiff_t(pages * HubPageSize));
        if (!Stopping())
            ReportReadBack(status, SnapshotDifferences(expected, device));
    }
    if (!Stopping())
        view_.UnlockControls(tankId);
    PostCommand(job::PollLevel);
}

bool CommandWorker::ReportPartialHubWrite(Status status, bool idWritten, size_t written,
                                          size_t pages) {
    std::string text = texts_.DeviceStatus(status);
    if (!idWritten) {
        ErrorBox(text + "\n" + texts_.Text(msg::NothingWritten));
        return false;
    }
    if (written == 0) {
        ErrorBox(text); // the image on the device is the old one, whole
        return false;
    }
    // The device now holds the first pages of the new image and the rest of the old one.
    text += "\n" + WithArguments(texts_.Text(msg::HubPagesWritten),
                                 {std::to_string(written), std::to_string(pages)});
    if (lastSnapshot_.empty()) {
        ErrorBox(text);
        return false;
    }
    if (!Ask(text + "\n" + texts_.Text(msg::HubOfferRestore)) || Stopping())
        return false;
    view_.UnlockControls(Get(params_.TankId));
    RequestSnapshot(lastSnapshot_, false);
    PostCommand(job::RestoreSnapshot);
    return true;
}

bool CommandWorker::SaveSnapshotBeforeWrite() {
    lastSnapshot_.clear();
    if (!snapshots_)
        return true;
    Snapshot before;
    const Status status = ReadSnapshot(link_, Address(), before);
    ShowStatus(status);
    std::string error;
    if (status == StatusOk)
        lastSnapshot_ = snapshots_->Save(before, error);
    else
        error = texts_.DeviceStatus(status);
    if (!lastSnapshot_.empty())
        return true;
    if (!Stopping())
        ErrorBox(texts_.Text(msg::SnapshotFailed) + " " + error);
    return false;
}

bool CommandWorker::ReportReadBack(Status status, const std::vector<std::string>& differences) {
    if (status != StatusOk) {
        ShowStatus(status);
        ErrorBox(texts_.Text(msg::ReadBackFailed) + " " + texts_.DeviceStatus(status));
        return false;
    }
    if (differences.empty())
        return true;
    ErrorBox(texts_.Text(msg::ReadBackDiffers) + " " + JoinFields(differences));
    return false;
}

void CommandWorker::SetTareMode() {
    const Status status =
        WriteValue(link_, cmd::WriteTareMode, Address(), uint32_t(Get(params_.TareWindowOpen)));
    if (Stopping())
        return;
    lastStatus_ = status;
    if (status != StatusOk) {
        ShowStatus(status);
        ErrorBox(texts_.DeviceStatus(status));
        if (!Stopping())
            view_.UnlockControls(Get(params_.TankId));
    }
    PostCommand(job::PollLevel);
}

void CommandWorker::PollLevel() {
    const Status status = ReadOscillogram(link_, Address(), LiveLevelMode, *echoStatus_, *samples_);
    if (status != StatusOk)
        return NoteFailedPoll(status);
    ShowStatus(status);
    if (Stopping())
        return;
    view_.ShowLevel(MakeLevelView(*echoStatus_));
    ResumeAfterLoss(job::ReadHubData);
}

} // namespace vq31
