// Re-addressing: moving one sensor from its bus address to another. The new address must be
// free (nothing answers there); the sensor is identified at its old address, what it holds
// is saved as a snapshot before anything is written, the new address is written, and the
// sensor's serial number is read at the new address to confirm the move.
#pragma once

#include "link.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace vq31 {

enum class ReaddressResult {
    Moved,          // the serial number read at the new address is the sensor's
    BadAddress,     // the new address is the broadcast address, or the old one
    Taken,          // something answers at the new address: nothing was written
    NoSensor,       // nothing answers at the old address
    Collision,      // two or more sensors answer at the old address: nothing was written
    SnapshotFailed, // what the sensor holds could not be read or saved: nothing was written
    WriteFailed,    // the write was refused or not answered, and the sensor is not found at
                    // the new address
    NotConfirmed,   // the write was acknowledged but the new address does not give the
                    // sensor's serial number back
    PortFailed,     // the port is not open or went away
};

struct ReaddressOutcome {
    ReaddressResult result = ReaddressResult::PortFailed;
    uint8_t from = 0;
    uint8_t to = 0;
    Status status = StatusOk; // the exchange that decided the result
    bool written = false;     // the address write was acknowledged
    uint32_t serialBefore = 0;
    uint32_t serialAfter = 0; // read at the new address (0 when nothing was read)
    std::filesystem::path snapshot;
    std::string snapshotError;
};

// Saves what the sensor at address holds before a write; false with the reason.
using SnapshotSaver = std::function<bool(DeviceLink& link, uint8_t address,
                                         std::filesystem::path& file, std::string& error)>;

// Tries of the reads that decide a move (the write itself is sent once).
inline constexpr int ReaddressReadTries = 3;

ReaddressOutcome Readdress(DeviceLink& link, uint8_t from, uint8_t to,
                           const SnapshotSaver& saveSnapshot);

} // namespace vq31
