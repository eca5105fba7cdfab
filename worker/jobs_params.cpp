// Passport and output parameters: read everything for the settings page, and write the
// editable values back, then follow the device to its new address and speed.
#include "command_worker.h"
#include "parameter_format.h"

namespace vq31 {

void CommandWorker::ReadParameters() {
    if (Stopping())
        return;
    view_.LockControls();
    ParameterRecord& r = parameters_;
    const uint8_t a = Address();
    Passport passport;
    Status status = ReadPassport(link_, a, passport);
    if (status == StatusOk) {
        r.date = passport.date;
        r.serialNumber = passport.serialNumber;
        r.model = passport.model;
        r.firmwareVersion = passport.firmwareVersion;
        r.address = passport.address;
        r.autoPeriod = passport.autoPeriod;
        r.flagsA = passport.linkFlags;
        OutputSettings output;
        status = ReadOutputSettings(link_, a, output);
        if (status == StatusOk) {
            r.revision = output.revisionByte;
            r.flagsB = output.flags2;
            r.outputByte9 = output.byte9;
            r.outputByte10 = output.byte10;
            status = ReadValue(link_, cmd::ReadPostFilter, a, r.postFilter);
        }
    }
    FuelSettings fuel;
    if (status == StatusOk)
        status = ReadFuelSettings(link_, a, fuel);
    ShowStatus(status);
    if (Stopping())
        return;
    view_.UnlockControls(Get(params_.TankId));
    if (status != StatusOk) {
        ErrorBox(texts_.DeviceStatus(status));
        return PostCommand(job::None);
    }
    r.flagsARead = r.flagsA;
    r.flagsBRead = r.flagsB;
    Put(params_.FuelType, int32_t(fuel.fuelType));
    Put(params_.FuelTempCoef, FloatFromBits(fuel.tempCoefBits));
    Put(params_.FuelSoundSpeed, FloatFromBits(fuel.soundSpeedBits));
    if (Stopping())
        return;
    view_.ShowParameters(MakeParameterView(r, Get(params_.FuelType), Get(params_.FuelTempCoef),
                                           Get(params_.FuelSoundSpeed)));
    PostCommand(job::None);
}

void CommandWorker::WriteParameters() {
    if (Stopping())
        return;
    const ParameterChoice choice = view_.CollectParameters();
    // A view that is shutting down hands back empty values (address 0, fuel numbers 0):
    // they must never reach the device.
    if (Abandoned())
        return;
    ParameterRecord& r = parameters_;
    r.flagsA = LinkFlagsFor(choice, r.flagsARead);
    r.autoPeriod = choice.autoPeriod;
    // A post-filter list without a selection keeps the device's own value, as the other
    // lists do, instead of sending an index of -1 (0xFF).
    if (choice.postFilterIndex >= 0)
        r.postFilter = uint32_t(choice.postFilterIndex);
    // A fuel list without a selection (the device reported a type the list does not have)
    // sends the device's own type back rather than an index of -1.
    if (choice.fuelTypeIndex >= 0)
        Put(params_.FuelType, choice.fuelTypeIndex);
    Put(params_.FuelTempCoef, choice.fuelTempCoef);
    Put(params_.FuelSoundSpeed, choice.fuelSoundSpeed);
    SettingsWrite write;
    write.postFilter = r.postFilter;
    write.fuel = SettingsWrite::Fuel{uint8_t(Get(params_.FuelType)), choice.fuelTempCoef,
                                     choice.fuelSoundSpeed};
    write.address = uint8_t(choice.address);
    write.autoPeriod = r.autoPeriod;
    write.linkFlags = r.flagsA;
    RestoreFollow follow;
    follow.followAddress = [&](uint8_t address) {
        Put(params_.DeviceAddress, address);
        if (!Stopping())
            view_.ApplyNewAddress(address, uint32_t(Get(params_.BaudRate)));
    };
    const std::optional<uint32_t> newSpeed = SpeedForIndex(choice.speedIndex);
    // A raw TCP gateway keeps its own speed: a device moved to another would be out of reach.
    if (newSpeed && *newSpeed != link_.BaudRate() && !link_.Abilities().changeSpeed) {
        ErrorBox(WithArguments(texts_.Text(msg::GatewayNoSpeedChange),
                               {params_.PortName(), std::to_string(*newSpeed)}));
        return PostCommand(job::None);
    }
    uint8_t address = Address();
    lastSnapshot_.clear();
    BeginWrite();
    // The port follows a chosen speed after the link flags; without one the device keeps its
    // speed bits and the port stays as it is.
    const WriteOutcome outcome = WriteSettingsTransaction(
        link_, address, newSpeed ? 0 : uint32_t(Get(params_.BaudRate)), write, WriteContextNow(),
        {follow.followAddress, [&](uint32_t) {
             if (!newSpeed)
                 return;
             Put(params_.BaudRate, int32_t(*newSpeed));
             if (!Stopping())
                 view_.ApplyNewSpeed(*newSpeed, uint8_t(Get(params_.DeviceAddress)));
             // A port that does not reopen shows itself at the next exchange (port error).
             link_.UartOpen(params_.PortName(), *newSpeed);
         }});
    const bool restoring = ShowWriteOutcome(outcome);
    // Said last, so it stays in the status bar: the device kept its speed.
    if (!newSpeed && outcome.Ok() && !Stopping()) {
        lastStatus_ = StatusOk;
        view_.ShowDeviceStatus(StatusOk, texts_.Text(msg::SpeedNotChosen));
    }
    writing_ = false;
    if (!restoring)
        PostCommand(job::None);
}

} // namespace vq31
