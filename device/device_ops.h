// Device operations of more than one exchange, shared by the window's jobs and vq31ctl: the
// hub image read, and every change on a sensor as one write transaction. A transaction reads
// what it will replace, saves the snapshot (nothing is written when it cannot be saved),
// writes, reads back, and returns one outcome that says what the device now holds. The front
// ends differ only in how they present the outcome.
#pragma once

#include "commands.h"
#include "hub_image.h"
#include "link.h"
#include "snapshot.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vq31 {

// Pages of the image that go to or come from the device.
size_t HubTransferPages(const HubBuffer& image);
// Reads the hub image as the device holds it: page 0, then the other pages only for a major
// version of 3. pagesRead, when given, gets the pages read.
Status ReadHubImage(DeviceLink& link, uint8_t address, HubBuffer& image,
                    size_t* pagesRead = nullptr);
// Reads pages 0 .. pages - 1 into bytes.
Status ReadHubPages(DeviceLink& link, uint8_t address, size_t pages, std::vector<uint8_t>& bytes);
// Reads the settings (passport, output, post-filter, fuel, tank id and height), no hub image.
Status ReadSnapshotSettings(DeviceLink& link, uint8_t address, Snapshot& snapshot);
// Reads the whole state; the first failed exchange ends the read with its status.
Status ReadSnapshot(DeviceLink& link, uint8_t address, Snapshot& snapshot);

// What a transaction asks of its caller.
struct WriteContext {
    // Folder of the snapshot saved before the write; null takes none (tests only).
    const SnapshotStore* store = nullptr;
    // Asked before each page: true ends the transfer, which then has to be finished or put
    // back with EndInterruptedWrite.
    std::function<bool()> stop;
    // Told once the snapshot is saved, before the first write (so a front end can prepare
    // the restore command it prints when it must end at once).
    std::function<void(const std::filesystem::path& snapshot)> snapshotSaved;
    // When the device already holds what is asked, send nothing and say so (the window's
    // writes); off, the write goes out all the same (vq31ctl writes what it was given).
    bool skipWhenHeld = false;
    // Told after every page written: pages done of pages in all.
    std::function<void(size_t done, size_t total)> progress;
};

// A new address or speed taken by the device is followed by the caller (the speed by
// reopening the port).
struct RestoreFollow {
    std::function<void(uint8_t address)> followAddress;
    std::function<void(uint32_t speed)> followSpeed;
};

// How a transaction ended, as far as the device is concerned.
enum class WriteEnd {
    Written,        // all of it stored and read back equal
    Unchanged,      // the device already held it: nothing was sent
    NothingWritten, // ended before the first write; the device is as it was
    PutBack,        // stopped part-way, and the state from before the write went back whole
    PartWritten,    // failed part-way: the device holds part of the new state
    ReadBackFailed, // written, but the read-back failed or found differences
    Declined,       // the caller declined after seeing the device (another serial number)
};

// How a stop during the page transfer was answered.
enum class StopEnd {
    None,       // no stop came
    Finished,   // the rest of the image was written
    PutBack,    // the pages written went back to what they were
    Incomplete, // not yet answered (EndInterruptedWrite has to run) or it failed
};

struct HubWrite;

struct WriteOutcome {
    WriteEnd end = WriteEnd::NothingWritten;
    Status status = StatusOk;       // the exchange that failed; Ok when none did
    std::filesystem::path snapshot; // saved before the write
    std::string snapshotError;      // why none could be saved (then nothing was written)
    bool tankIdWritten = false;
    bool heightWritten = false;
    size_t pagesWritten = 0;                  // pages of the new image the device took
    size_t pagesTotal = 0;                    // pages of the new image
    std::vector<std::string> settingsWritten; // names of the settings the device took
    Status readBackStatus = StatusOk;
    std::vector<std::string> readBackDiffers; // fields the read-back found different
    StopEnd stopEnd = StopEnd::None;
    size_t pagesPutBack = 0; // pages of the old image written again after a stop
    // What the device held before (read at the start; needed to put it back).
    std::shared_ptr<const Snapshot> before;
    // The image a stopped transfer was writing, kept for EndInterruptedWrite.
    std::shared_ptr<const HubBuffer> stoppedImage;
    std::optional<uint32_t> stoppedTankId;
    std::optional<uint32_t> stoppedTankHeight;

    bool Ok() const { return end == WriteEnd::Written || end == WriteEnd::Unchanged; }
    // Whether anything of the device was changed by the write (before any put-back).
    bool Changed() const {
        return tankIdWritten || heightWritten || pagesWritten > 0 || !settingsWritten.empty();
    }
};

// The hub image and, when given, the tank id and height (tenths of a millimetre) to write.
struct HubWrite {
    const HubBuffer* image = nullptr;
    size_t pages = 0; // pages 0 .. pages - 1 of the image go to the device
    std::optional<uint32_t> tankId;
    std::optional<uint32_t> tankHeight;
};

// Writes the tank id, the height and the pages, then reads them back. A failed exchange
// ends the writes (PartWritten once anything was taken, with the snapshot to restore from).
// A stop between pages ends with stopEnd Incomplete: call EndInterruptedWrite as soon as the
// link may be used again.
WriteOutcome WriteHubTransaction(DeviceLink& link, uint8_t address, const HubWrite& write,
                                 const WriteContext& context);
// Answers a stop that came during the page transfer (stopEnd Incomplete; nothing happens
// otherwise): writes the rest of the image when fewer pages are left than were written, else
// puts the written pages (and the tank id and height) back from the state read before; then
// reads back. Updates outcome.
void EndInterruptedWrite(DeviceLink& link, uint8_t address, WriteOutcome& outcome);

// The passport and output settings to write; those not given are left alone.
struct SettingsWrite {
    struct Fuel {
        uint8_t type = 0;
        float tempCoef = 0;
        float soundSpeed = 0;
    };
    std::optional<uint32_t> postFilter;
    std::optional<Fuel> fuel;
    std::optional<uint8_t> address;
    std::optional<uint32_t> autoPeriod;
    std::optional<uint32_t> linkFlags;
};

// Writes the settings in the device's order (post-filter, fuel, address, period, link flags),
// follows a new address at once and a new speed after the link flags, then reads back what
// was written. The first failed exchange ends the writes; settingsWritten names those stored.
// address is the device's address, updated when it changes.
WriteOutcome WriteSettingsTransaction(DeviceLink& link, uint8_t& address, uint32_t currentSpeed,
                                      const SettingsWrite& write, const WriteContext& context,
                                      const RestoreFollow& follow);

// Puts a snapshot back: the tank id, height and hub pages, and with withSettings the
// settings after them, stopping at the first failed step. confirm, when given, sees the
// device's state first and may decline (Declined, nothing written).
WriteOutcome RestoreTransaction(DeviceLink& link, uint8_t& address, uint32_t currentSpeed,
                                const Snapshot& wanted, bool withSettings,
                                const WriteContext& context, const RestoreFollow& follow,
                                const std::function<bool(const Snapshot& device)>& confirm = {});

// A saved snapshot against the device.
struct CompareOutcome {
    Status status = StatusOk;
    Snapshot device;
    bool otherSerial = false;
    std::vector<std::string> differences;
};
CompareOutcome CompareWithSnapshot(DeviceLink& link, uint8_t address, const Snapshot& saved);

// The settings of a snapshot as a settings write.
SettingsWrite SettingsOfSnapshot(const Snapshot& snapshot);

} // namespace vq31
