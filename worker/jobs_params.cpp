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
    const uint8_t newAddress = uint8_t(choice.address);
    const std::optional<uint32_t> newSpeed = SpeedForIndex(choice.speedIndex);

    auto fail = [&](Status status) {
        ShowStatus(status);
        ErrorBox(texts_.DeviceStatus(status));
        PostCommand(job::None);
    };
    // A raw TCP gateway keeps its own speed: a device moved to another would be out of reach.
    if (newSpeed && *newSpeed != link_.BaudRate() && !link_.Abilities().changeSpeed) {
        ErrorBox(WithArguments(texts_.Text(msg::GatewayNoSpeedChange),
                               {params_.PortName(), std::to_string(*newSpeed)}));
        return PostCommand(job::None);
    }
    if (!SaveSnapshotBeforeWrite())
        return PostCommand(job::None);
    Status status = WriteValue(link_, cmd::WritePostFilter, Address(), r.postFilter);
    if (status != StatusOk)
        return fail(status);
    status = WriteFuelSettings(link_, Address(), uint8_t(Get(params_.FuelType)),
                               choice.fuelTempCoef, choice.fuelSoundSpeed);
    if (status != StatusOk)
        return fail(status);
    status = WriteValue(link_, cmd::WriteAddress, Address(), newAddress); // to the old address
    if (status != StatusOk)
        return fail(status);
    Put(params_.DeviceAddress, newAddress);
    if (Stopping())
        return;
    view_.ApplyNewAddress(newAddress, uint32_t(Get(params_.BaudRate)));
    status = WriteValue(link_, cmd::WriteAutoPeriod, Address(), r.autoPeriod);
    if (status != StatusOk)
        return fail(status);
    status = WriteValue(link_, cmd::WriteLinkFlags, Address(), r.flagsA);
    if (status != StatusOk)
        return fail(status);
    if (Stopping())
        return;
    if (newSpeed) {
        Put(params_.BaudRate, int32_t(*newSpeed));
        view_.ApplyNewSpeed(*newSpeed, newAddress);
        // A port that does not reopen shows itself at the next exchange (port error).
        link_.UartOpen(params_.PortName(), *newSpeed);
        ShowStatus(status);
    } else {
        // No speed chosen: the device kept its speed bits, so the port stays as it is.
        lastStatus_ = status;
        view_.ShowDeviceStatus(status, texts_.Text(msg::SpeedNotChosen));
    }
    // Read back what was written, at the new address and speed.
    Snapshot device;
    status = ReadSnapshotSettings(link_, Address(), device);
    Snapshot expected = device;
    expected.address = newAddress;
    expected.autoPeriod = r.autoPeriod & 0xFF;
    expected.linkFlags = r.flagsA & 0xFF;
    expected.postFilter = r.postFilter & 0xFF;
    expected.fuelType = uint32_t(Get(params_.FuelType)) & 0xFF;
    expected.tempCoefBits = FloatBits(choice.fuelTempCoef);
    expected.soundSpeedBits = FloatBits(choice.fuelSoundSpeed);
    if (!Stopping())
        ReportReadBack(status, SnapshotDifferences(expected, device, {true, false, false}));
    PostCommand(job::None);
}

} // namespace vq31
