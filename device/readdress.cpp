// Re-addressing one sensor, with the checks before and after the write.
#include "readdress.h"

#include "commands.h"
#include "protocol.h"

namespace vq31 {

namespace {

bool Garbled(Status status) {
    return status == StatusCrcError || status == StatusBadLength || status == StatusBadAnswer;
}

// Reads the identity up to ReaddressReadTries times while the answer is garbled; a silence
// is taken at once (the whole answer window has passed).
Status ReadSerial(DeviceLink& link, uint8_t address, Identity& identity) {
    Status status = StatusNoAnswer;
    for (int i = 0; i < ReaddressReadTries; ++i) {
        status = ReadIdentity(link, address, identity);
        if (!Garbled(status))
            break;
    }
    return status;
}

ReaddressOutcome Move(DeviceLink& link, uint8_t from, uint8_t to,
                      const SnapshotSaver& saveSnapshot) {
    ReaddressOutcome out;
    out.from = from;
    out.to = to;
    auto finish = [&](ReaddressResult result, Status status) {
        out.result =
            link.PortVanished() || status == StatusPortError ? ReaddressResult::PortFailed : result;
        out.status = status;
        return out;
    };
    if (to == BroadcastAddress || from == BroadcastAddress || to == from)
        return finish(ReaddressResult::BadAddress, StatusOk);
    // The whole answer window for every read: a sensor missed here would end up sharing
    // the address.
    link.SetFirstByteWait(AnswerByteWindow);

    Identity there;
    Status status = ReadSerial(link, to, there);
    if (status != StatusNoAnswer)
        return finish(ReaddressResult::Taken, status);

    Identity sensor;
    status = ReadSerial(link, from, sensor);
    if (Garbled(status))
        return finish(ReaddressResult::Collision, status);
    if (status != StatusOk)
        return finish(status == StatusNoAnswer ? ReaddressResult::NoSensor
                                               : ReaddressResult::PortFailed,
                      status);
    out.serialBefore = sensor.serialNumber;

    if (!saveSnapshot || !saveSnapshot(link, from, out.snapshot, out.snapshotError)) {
        if (!saveSnapshot)
            out.snapshotError = "no snapshot folder";
        return finish(ReaddressResult::SnapshotFailed, StatusOk);
    }

    // Sent to the old address; the sensor answers from there and moves once it has.
    const Status write = WriteValue(link, cmd::WriteAddress, from, to);
    out.written = write == StatusOk;
    if (write == StatusPortError)
        return finish(ReaddressResult::PortFailed, write);

    Identity moved;
    status = ReadSerial(link, to, moved);
    if (status == StatusOk)
        out.serialAfter = moved.serialNumber;
    if (status == StatusOk && moved.serialNumber == out.serialBefore)
        return finish(ReaddressResult::Moved, status);
    if (!out.written)
        return finish(ReaddressResult::WriteFailed, write);
    return finish(ReaddressResult::NotConfirmed, status == StatusOk ? StatusBadAnswer : status);
}

} // namespace

ReaddressOutcome Readdress(DeviceLink& link, uint8_t from, uint8_t to,
                           const SnapshotSaver& saveSnapshot) {
    const auto saved = link.FirstByteWait();
    ReaddressOutcome out = Move(link, from, to, saveSnapshot);
    link.SetFirstByteWait(saved);
    return out;
}

} // namespace vq31
