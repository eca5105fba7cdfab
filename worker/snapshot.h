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
#include "link.h"

#include <cstdint>
#include <filesystem>
#include <functional>
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

// Reads the settings (passport, output, post-filter, fuel, tank id and height) but not the
// hub image.
Status ReadSnapshotSettings(DeviceLink& link, uint8_t address, Snapshot& snapshot);
// Reads pages 0 .. pages - 1 of the hub image into bytes.
Status ReadHubPages(DeviceLink& link, uint8_t address, size_t pages, std::vector<uint8_t>& bytes);
// Reads the whole state from the device at address. Every exchange is tried once; the first
// failure ends the read with its status.
Status ReadSnapshot(DeviceLink& link, uint8_t address, Snapshot& snapshot);

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

// Puts a snapshot back: the tank id and height and every hub page, and with withSettings the
// post-filter, fuel settings, address, output period and link flags, in the order the
// settings write uses. A new address is followed at once (address changes and followAddress
// is told); a link speed other than currentSpeed is handed to followSpeed after the link
// flags were written, which reopens the port. The first failure ends the writes.
struct RestoreFollow {
    std::function<void(uint8_t address)> followAddress;
    std::function<void(uint32_t speed)> followSpeed;
};
Status RestoreSnapshot(DeviceLink& link, uint8_t& address, uint32_t currentSpeed,
                       const Snapshot& snapshot, bool withSettings, const RestoreFollow& follow);
// Reads back what a restore wrote and names what differs (empty when all matches).
Status CheckRestore(DeviceLink& link, uint8_t address, const Snapshot& snapshot, bool withSettings,
                    std::vector<std::string>& differences);
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
