// Line census and re-addressing: every sensor on the line for the program page's list, and
// one sensor moved to a free address. Both run the device operations and show their outcome.
#include "command_worker.h"
#include "net_port.h"

#include <algorithm>
#include <cstdio>

namespace vq31 {

namespace {

std::string Number(uint32_t value, const char* format = "%u") {
    char text[24];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

} // namespace

void CommandWorker::RequestCensus(CensusOptions options) {
    std::lock_guard lock(snapshotRequestLock_);
    censusRequest_ = std::move(options);
}

void CommandWorker::RequestReaddress(uint8_t from, uint8_t to, uint32_t speed) {
    std::lock_guard lock(snapshotRequestLock_);
    readdressFrom_ = from;
    readdressTo_ = to;
    readdressSpeed_ = speed;
}

CensusView CommandWorker::MakeCensusView(const CensusResult& r) const {
    CensusView view;
    for (const CensusSensor& s : r.sensors)
        view.rows.push_back({s.address, s.speed, Number(s.identity.serialNumber, "%06u"),
                             Number(s.identity.model), FirmwareText(s.identity.firmwareVersion),
                             texts_.Text(msg::CensusFound), false});
    for (const CensusCollision& c : r.collisions)
        view.rows.push_back(
            {c.address, c.speed, "", "", "", texts_.Text(msg::CensusCollision), true});
    std::sort(view.rows.begin(), view.rows.end(),
              [](const CensusRowView& a, const CensusRowView& b) {
                  return std::pair(a.speed, a.address) < std::pair(b.speed, b.address);
              });
    const std::string sensors = Number(uint32_t(r.sensors.size()));
    const std::string collisions = Number(uint32_t(r.collisions.size()));
    if (r.cancelled) {
        view.summary = WithArguments(texts_.Text(msg::CensusCancelled), {sensors, collisions});
    } else {
        char seconds[24];
        std::snprintf(seconds, sizeof seconds, "%.1f", double(r.elapsed.count()) / 1000.0);
        view.summary = WithArguments(texts_.Text(msg::CensusDone), {sensors, collisions, seconds});
    }
    for (const CensusSpeedTiming& t : r.timing)
        if (t.noisy) {
            view.summary += '\n';
            view.summary += WithArguments(texts_.Text(msg::CensusNoise), {Number(t.speed)});
        }
    return view;
}

void CommandWorker::CensusBus() {
    if (Stopping())
        return;
    CensusOptions options;
    {
        std::lock_guard lock(snapshotRequestLock_);
        options = censusRequest_;
    }
    // A port that was open goes back to the working speed afterwards; one that was closed is
    // closed again.
    // A raw TCP gateway talks at its own speed only: the census asks that speed and says so.
    if (!AbilitiesOfPort(params_.PortName()).changeSpeed) {
        const int32_t speed = Get(params_.BaudRate);
        options.speeds = {uint32_t(speed)};
        view_.ShowPortStatus(portState_.load(),
                             WithArguments(texts_.Text(msg::GatewayOwnSpeed),
                                           {params_.PortName(), std::to_string(speed)}));
    }
    const bool wasOpen = link_.IsOpen();
    options.restoreSpeed = wasOpen ? uint32_t(Get(params_.BaudRate)) : 0;
    view_.LockControls();
    const CensusResult result = RunCensus(
        link_, params_.PortName(), options,
        [this](const CensusProgress& p) {
            if (Stopping())
                return;
            const int percent = p.total ? int(p.done * 100 / p.total) : 100;
            const auto seconds = uint32_t((p.left.count() + 999) / 1000);
            view_.ShowCensusProgress(percent,
                                     WithArguments(texts_.Text(msg::CensusProgress),
                                                   {Number(p.speed), Number(p.address),
                                                    Number(uint32_t(percent)), Number(seconds)}));
        },
        [this] { return Stopping() || CommandPending(); });
    if (Stopping())
        return;
    if (result.portFailed) {
        ErrorBox(OpenPortError());
        link_.UartClose();
        ShowPort(PortOpenError);
    } else if (!wasOpen) {
        link_.UartClose();
        ShowPort(PortClosed);
    } else {
        ShowPort(PortOpened);
    }
    lastCensus_ = result;
    view_.ShowCensusProgress(100, {});
    view_.ShowCensus(MakeCensusView(lastCensus_));
    view_.UnlockControls(Get(params_.TankId));
}

void CommandWorker::ReaddressDevice() {
    if (Stopping())
        return;
    uint8_t from, to;
    uint32_t speed;
    {
        std::lock_guard lock(snapshotRequestLock_);
        from = readdressFrom_;
        to = readdressTo_;
        speed = readdressSpeed_;
    }
    view_.LockControls();
    if (!link_.IsOpen() || link_.BaudRate() != speed) {
        const bool opened = link_.UartOpen(params_.PortName(), speed) == 0;
        ShowPort(opened ? PortOpened : PortOpenError);
        if (!opened) {
            ErrorBox(OpenPortError());
            return view_.UnlockControls(Get(params_.TankId));
        }
    }
    // The settings that the move replaces are saved first, as before every write; without a
    // snapshot folder (tests, tools) they are still read, so an unreadable sensor is not moved.
    const SnapshotSaver save = [this](DeviceLink& link, uint8_t address,
                                      std::filesystem::path& file, std::string& error) {
        Snapshot before;
        const Status status = ReadSnapshotSettings(link, address, before);
        if (status != StatusOk) {
            error = texts_.DeviceStatus(status);
            return false;
        }
        if (!snapshots_)
            return true;
        before.time = SnapshotTimeNow();
        file = snapshots_->Save(before, error);
        return !file.empty();
    };
    lastReaddress_ = Readdress(link_, from, to, save);
    const ReaddressOutcome& out = lastReaddress_;
    lastSnapshot_ = out.snapshot;
    ShowStatus(out.status);
    if (Stopping())
        return;
    view_.UnlockControls(Get(params_.TankId));
    const std::string serial = Number(out.serialBefore, "%06u");
    switch (out.result) {
    case ReaddressResult::Moved:
        Put(params_.DeviceAddress, to);
        Put(params_.BaudRate, int32_t(speed));
        view_.ApplyNewAddress(to, speed);
        for (CensusSensor& s : lastCensus_.sensors)
            if (s.address == from && s.speed == speed && s.identity.serialNumber == out.serialAfter)
                s.address = to;
        view_.ShowCensus(MakeCensusView(lastCensus_));
        return InfoBox(
            WithArguments(texts_.Text(msg::ReaddressDone), {serial, Number(from), Number(to)}));
    case ReaddressResult::BadAddress:
        return ErrorBox(texts_.Text(msg::ReaddressBad));
    case ReaddressResult::Taken:
        return ErrorBox(WithArguments(texts_.Text(msg::ReaddressTaken), {Number(to)}));
    case ReaddressResult::NoSensor:
        return ErrorBox(WithArguments(texts_.Text(msg::ReaddressNoSensor), {Number(from)}));
    case ReaddressResult::Collision:
        return ErrorBox(WithArguments(texts_.Text(msg::ReaddressCollision), {Number(from)}));
    case ReaddressResult::SnapshotFailed:
        return ErrorBox(texts_.Text(msg::SnapshotFailed) + " " + out.snapshotError);
    case ReaddressResult::WriteFailed:
        return ErrorBox(WithArguments(texts_.Text(msg::ReaddressWriteFailed), {Number(to)}) + " " +
                        texts_.DeviceStatus(out.status));
    case ReaddressResult::NotConfirmed:
        return ErrorBox(
            WithArguments(texts_.Text(msg::ReaddressNotConfirmed), {serial, Number(to)}) + " " +
            texts_.DeviceStatus(out.status));
    case ReaddressResult::PortFailed:
        return ErrorBox(texts_.DeviceStatus(out.status == StatusOk ? StatusPortError : out.status));
    }
}

} // namespace vq31
