// Hub data: read the HUB_DATA image with the tank id and height, prepare it for a write,
// show it on the tare page, tell the device about the tare window, and poll the live level.
#include "command_worker.h"
#include "device_ops.h"
#include "parameter_format.h"

#include <algorithm>

namespace vq31 {

namespace {
constexpr uint8_t LiveLevelMode = 11; // oscillogram mode that carries the live level
} // namespace

void CommandWorker::ReadHubData() {
    if (Stopping())
        return;
    view_.LockControls();
    const uint8_t a = Address();
    Status status = ReadHubImage(link_, a, hub_.hubBuffer);
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
