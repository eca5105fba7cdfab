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
//     hub = <hex of the image, 64 bytes per line, continued on "hub+ = " lines>
//     check = <CRC-32 of every line above, hex>
// The check line makes a damaged or hand-edited file fail to load with a clear message.
#pragma once

#include "commands.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vq31 {

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
