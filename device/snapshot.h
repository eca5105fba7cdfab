// Snapshots of a sensor's state: what a write is about to replace, kept as one readable
// file per snapshot so a later restore can put it back. A snapshot holds the identity and
// serial number, the passport and output parameters, the fuel settings, the tank id and
// height, and the HUB_DATA image as read, in hex.
//
// File format (INI-like, one key per line, '#' lines are comments):
//     [vq31-snapshot]
//     format = 1
//     time = 2026-12-09T00:30:00Z
//     serial = 1234
//     ...
//     reason = table 2
//     hub = <hex of the image, 64 bytes per line, continued on "hub+ = " lines>
//     check = <CRC-32 of every line above, hex>
// The check line makes a damaged or hand-edited file fail to load with a clear message. The
// reason line says what the write after the snapshot was about to change; it is optional
// (files saved before it existed have none) and a reason this version does not know loads as
// an unknown one, so no file is refused for it.
#pragma once

#include "commands.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vq31 {

struct Snapshot;

// What the write that followed a snapshot was about to change.
struct SnapshotReason {
    enum class Kind {
        Unknown,    // not recorded (an older file) or not known to this version
        TareTable,  // the tare table of one tank
        TankList,   // the tank list: tanks added or removed, several tables, the header
        ActiveTank, // which tank the device uses
        TankHeight, // the height of the tank in use
        Settings,   // passport and output settings
        Restore,    // a saved snapshot put back
    };
    Kind kind = Kind::Unknown;
    uint32_t tank = 0;               // TareTable, ActiveTank: the tank's id
    std::vector<std::string> fields; // Settings: file keys of the settings ("address", ...)
    std::string from;                // Restore: the time stamp of the snapshot put back
    bool operator==(const SnapshotReason&) const = default;
};

// The reason as stored on the file's reason line, and back; text this version does not
// know gives an Unknown reason.
std::string ReasonLine(const SnapshotReason& reason);
SnapshotReason ParseReasonLine(const std::string& line);
// What a write that turns before into after changes, named the way a reason names it: the
// hub image first (one tank's table, or the tank list), then the tank in use and its height,
// then the settings. Unknown when nothing differs.
SnapshotReason ReasonOfChange(const Snapshot& before, const Snapshot& after);

struct Snapshot {
    std::string time; // UTC, ISO 8601
    uint32_t serialNumber = 0;
    uint32_t date = 0;
    uint32_t model = 0;
    uint32_t firmwareVersion = 0;
    uint32_t address = 0;
    uint32_t autoPeriod = 0;
    uint32_t linkFlags = 0;
    uint32_t revision = 0;
    uint32_t flagsB = 0;
    uint32_t postFilter = 0;
    uint32_t fuelType = 0;
    uint32_t tempCoefBits = 0;
    uint32_t soundSpeedBits = 0;
    uint32_t tankId = 0;
    uint32_t tankHeight = 0;  // tenths of a millimetre
    std::vector<uint8_t> hub; // the pages read, 128 bytes each
    SnapshotReason reason;    // what the write after it was about to change
};

// Names of the fields that differ between two snapshots. Identity fields and the time
// stamp are never compared; the parameters, the tank id and height, and the hub image can
// be compared separately.
struct CompareScope {
    bool settings = true;
    bool tank = true;
    bool hub = true;
};
std::vector<std::string> SnapshotDifferences(const Snapshot& a, const Snapshot& b,
                                             CompareScope scope = {});

// One compared field of the parameters, tank id and height: its file key, the value in each
// snapshot. Fields that are equal are left out; the hub image is not among them.
struct FieldDifference {
    const char* key;
    uint32_t a;
    uint32_t b;
};
std::vector<FieldDifference> FieldDifferences(const Snapshot& a, const Snapshot& b,
                                              CompareScope scope = {});
// Ids of the tanks whose entries differ between two hub images (present in one only, or
// with other contents), ascending; hubHeaderDiffers says whether the header words differ.
// Images that are not valid are compared as whole bytes: then every id is left out and
// hubHeaderDiffers is set when they differ.
std::vector<uint32_t> TanksThatDiffer(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b,
                                      bool& hubHeaderDiffers);
// "address, post-filter" style list.
std::string JoinFields(const std::vector<std::string>& fields);

// The link speed named by link flags bits 2-4 (codes 1..7), none for code 0.
std::optional<uint32_t> SpeedOfLinkFlags(uint32_t linkFlags);

std::string SnapshotText(const Snapshot& snapshot);
// Parses and validates a snapshot file's text; false with a message saying what is wrong.
bool ParseSnapshot(const std::string& text, Snapshot& snapshot, std::string& error);
// Current time as the file's stamp.
std::string SnapshotTimeNow();

// The user's data folder: $XDG_DATA_HOME or ~/.local/share on POSIX, %LOCALAPPDATA% on
// Windows. Empty when none can be found.
std::filesystem::path UserDataFolder();

// The folder of snapshot files and its operations.
class SnapshotStore {
public:
    // Default folder: <user data folder>/vq31-install-service/snapshots.
    SnapshotStore();
    explicit SnapshotStore(std::filesystem::path folder) : folder_(std::move(folder)) {}

    const std::filesystem::path& folder() const { return folder_; }
    // Writes a new file (never replaces one); returns its path, or empty with the error.
    std::filesystem::path Save(const Snapshot& snapshot, std::string& error) const;
    // Snapshot files, oldest first.
    std::vector<std::filesystem::path> List() const;
    static bool Load(const std::filesystem::path& file, Snapshot& snapshot, std::string& error);

private:
    std::filesystem::path folder_;
};

} // namespace vq31
