// The snapshot file format and the snapshot folder.
#include "snapshot.h"

#include "file_io.h"
#include "hub_image.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <memory>
#include <sstream>
#include <system_error>
#include <tuple>

namespace vq31 {

namespace {

constexpr const char* Section = "[vq31-snapshot]";
constexpr int FormatVersion = 1;
constexpr size_t HexBytesPerLine = 64;

// The check line's CRC-32 (zlib's, the common polynomial 0xEDB88320).
uint32_t Crc32(const std::string& text) {
    return uint32_t(crc32(0L, reinterpret_cast<const Bytef*>(text.data()), uInt(text.size())));
}

// The numeric fields in file order, with their names and widths (bits).
struct FieldDef {
    const char* key;
    const char* name; // as reported in differences
    uint32_t Snapshot::*field;
    int bits;
    int group; // 0 identity (never written), 1 parameters, 2 tank id and height
};

constexpr FieldDef Fields[] = {
    {"serial", "serial number", &Snapshot::serialNumber, 24, 0},
    {"date", "date", &Snapshot::date, 24, 0},
    {"model", "model", &Snapshot::model, 8, 0},
    {"firmware", "firmware version", &Snapshot::firmwareVersion, 8, 0},
    {"address", "address", &Snapshot::address, 8, 1},
    {"period", "output period", &Snapshot::autoPeriod, 8, 1},
    {"linkflags", "link flags", &Snapshot::linkFlags, 8, 1},
    {"revision", "revision", &Snapshot::revision, 8, 0},
    {"flagsb", "flags B", &Snapshot::flagsB, 8, 0},
    {"postfilter", "post-filter", &Snapshot::postFilter, 8, 1},
    {"fueltype", "fuel type", &Snapshot::fuelType, 8, 1},
    {"tempcoef", "temperature coefficient", &Snapshot::tempCoefBits, 32, 1},
    {"soundspeed", "sound speed", &Snapshot::soundSpeedBits, 32, 1},
    {"tankid", "tank id", &Snapshot::tankId, 16, 2},
    {"tankheight", "tank height", &Snapshot::tankHeight, 32, 2},
};

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::string Trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos)
        return {};
    const auto e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

bool ParseUnsigned(const std::string& text, int bits, uint32_t& value) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    if (digits.empty() || digits.size() > 10)
        return false;
    unsigned long long v = 0;
    for (const char c : digits) {
        const int d = hex ? HexDigit(c) : (c >= '0' && c <= '9' ? c - '0' : -1);
        if (d < 0)
            return false;
        v = v * (hex ? 16 : 10) + unsigned(d);
    }
    if (v > 0xFFFFFFFFull || (bits < 32 && v >= (1ull << bits)))
        return false;
    value = uint32_t(v);
    return true;
}

std::string FloatText(uint32_t bits) {
    char text[48];
    std::snprintf(text, sizeof text, "%.6g", double(FloatFromBits(bits)));
    return text;
}

} // namespace

std::optional<uint32_t> SpeedOfLinkFlags(uint32_t linkFlags) {
    const uint32_t code = (linkFlags >> 2) & 7;
    if (code == 0)
        return std::nullopt;
    return LinkSpeeds[code - 1];
}

std::vector<std::string> SnapshotDifferences(const Snapshot& a, const Snapshot& b,
                                             CompareScope scope) {
    std::vector<std::string> names;
    for (const FieldDef& f : Fields) {
        const bool compared = (f.group == 1 && scope.settings) || (f.group == 2 && scope.tank);
        if (compared && a.*f.field != b.*f.field)
            names.push_back(f.name);
    }
    if (scope.hub && a.hub != b.hub) {
        if (a.hub.size() != b.hub.size()) {
            names.push_back("hub image size (" + std::to_string(a.hub.size()) + " and " +
                            std::to_string(b.hub.size()) + " bytes)");
        } else {
            std::string pages;
            for (size_t p = 0; p * HubPageSize < a.hub.size(); ++p) {
                const auto first = a.hub.begin() + ptrdiff_t(p * HubPageSize);
                if (!std::equal(first, first + HubPageSize,
                                b.hub.begin() + (first - a.hub.begin())))
                    pages += (pages.empty() ? "" : " ") + std::to_string(p);
            }
            names.push_back("hub image (page " + pages + ")");
        }
    }
    return names;
}

std::vector<FieldDifference> FieldDifferences(const Snapshot& a, const Snapshot& b,
                                              CompareScope scope) {
    std::vector<FieldDifference> out;
    for (const FieldDef& f : Fields) {
        const bool compared = (f.group == 1 && scope.settings) || (f.group == 2 && scope.tank);
        if (compared && a.*f.field != b.*f.field)
            out.push_back({f.key, a.*f.field, b.*f.field});
    }
    return out;
}

namespace {

// The entries of a valid image by tank id, each as its bytes.
bool EntriesById(const std::vector<uint8_t>& bytes, std::map<uint32_t, std::vector<uint8_t>>& out,
                 std::vector<uint8_t>& header) {
    if (bytes.size() < HubHeaderSize || bytes.size() > HubBufferSize)
        return false;
    auto image = std::make_unique<HubBuffer>();
    std::copy(bytes.begin(), bytes.end(), image->bytes().begin());
    if (!HubIsValid(*image))
        return false;
    header.assign(bytes.begin(), bytes.begin() + ptrdiff_t(HubHeaderSize));
    // The total size and the checksum follow every change of a table; they say nothing of
    // what changed.
    for (const size_t offset : {HubTotalSizeOffset, HubChecksumOffset})
        header[offset] = header[offset + 1] = 0;
    for (auto e = HubFirstEntry(*image); e; e = HubNextEntry(*image, *e)) {
        const TankEntryHead head = HubEntryHead(*image, *e);
        const size_t end = std::min(e->offset + head.EntrySize, bytes.size());
        out[head.Id].assign(bytes.begin() + ptrdiff_t(e->offset), bytes.begin() + ptrdiff_t(end));
    }
    return true;
}

} // namespace

std::vector<uint32_t> TanksThatDiffer(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b,
                                      bool& hubHeaderDiffers) {
    std::map<uint32_t, std::vector<uint8_t>> ea, eb;
    std::vector<uint8_t> ha, hb;
    std::vector<uint32_t> ids;
    if (!EntriesById(a, ea, ha) || !EntriesById(b, eb, hb)) {
        hubHeaderDiffers = a != b;
        return ids;
    }
    hubHeaderDiffers = ha != hb;
    for (const auto& [id, bytes] : ea) {
        const auto other = eb.find(id);
        if (other == eb.end() || other->second != bytes)
            ids.push_back(id);
    }
    for (const auto& [id, bytes] : eb) {
        if (!ea.count(id))
            ids.push_back(id);
    }
    std::sort(ids.begin(), ids.end());
    return ids;
}

SnapshotReason ReasonOfChange(const Snapshot& before, const Snapshot& after) {
    using Kind = SnapshotReason::Kind;
    SnapshotReason reason;
    // Images of other lengths with equal contents (more pages read than written) hold the
    // same tanks: that is no change of the hub image.
    bool hubChanged = before.hub != after.hub;
    if (hubChanged) {
        bool header = false;
        hubChanged = !TanksThatDiffer(before.hub, after.hub, header).empty() || header;
    }
    if (hubChanged) {
        std::map<uint32_t, std::vector<uint8_t>> ea, eb;
        std::vector<uint8_t> ha, hb;
        const bool valid = EntriesById(before.hub, ea, ha) && EntriesById(after.hub, eb, hb);
        bool header = false;
        const auto tanks = TanksThatDiffer(before.hub, after.hub, header);
        const bool sameIds =
            valid && ea.size() == eb.size() &&
            std::equal(ea.begin(), ea.end(), eb.begin(),
                       [](const auto& x, const auto& y) { return x.first == y.first; });
        if (tanks.size() == 1 && sameIds && !header) {
            reason.kind = Kind::TareTable;
            reason.tank = tanks.front();
        } else {
            reason.kind = Kind::TankList;
        }
        return reason;
    }
    if (before.tankId != after.tankId) {
        reason.kind = Kind::ActiveTank;
        reason.tank = after.tankId;
        return reason;
    }
    if (before.tankHeight != after.tankHeight) {
        reason.kind = Kind::TankHeight;
        return reason;
    }
    for (const FieldDifference& d : FieldDifferences(before, after, {true, false, false}))
        reason.fields.push_back(d.key);
    if (!reason.fields.empty())
        reason.kind = Kind::Settings;
    return reason;
}

std::string ReasonLine(const SnapshotReason& r) {
    using Kind = SnapshotReason::Kind;
    switch (r.kind) {
    case Kind::TareTable:
        return "table " + std::to_string(r.tank);
    case Kind::TankList:
        return "tanks";
    case Kind::ActiveTank:
        return "active " + std::to_string(r.tank);
    case Kind::TankHeight:
        return "height";
    case Kind::Settings: {
        std::string line = "settings";
        for (const std::string& f : r.fields)
            line += " " + f;
        return line;
    }
    case Kind::Restore:
        return "restore " + r.from;
    case Kind::Unknown:
        break;
    }
    return {};
}

SnapshotReason ParseReasonLine(const std::string& line) {
    using Kind = SnapshotReason::Kind;
    std::istringstream words(line);
    std::string word;
    words >> word;
    SnapshotReason r;
    const auto tank = [&]() -> bool {
        std::string id;
        words >> id;
        return ParseUnsigned(id, 16, r.tank);
    };
    if (word == "table" && tank()) {
        r.kind = Kind::TareTable;
    } else if (word == "active" && tank()) {
        r.kind = Kind::ActiveTank;
    } else if (word == "tanks") {
        r.kind = Kind::TankList;
    } else if (word == "height") {
        r.kind = Kind::TankHeight;
    } else if (word == "settings") {
        // Only the settings this version names; others are left out.
        for (std::string key; words >> key;) {
            const bool known =
                std::any_of(std::begin(Fields), std::end(Fields),
                            [&](const FieldDef& f) { return f.group == 1 && key == f.key; });
            if (known)
                r.fields.push_back(key);
        }
        r.kind = r.fields.empty() ? Kind::Unknown : Kind::Settings;
    } else if (word == "restore" && (words >> r.from)) {
        r.kind = Kind::Restore;
    }
    if (r.kind == Kind::Unknown)
        return {};
    return r;
}

std::string JoinFields(const std::vector<std::string>& fields) {
    std::string text;
    for (const std::string& f : fields)
        text += (text.empty() ? "" : ", ") + f;
    return text;
}

std::string SnapshotTimeNow() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &now);
#else
    gmtime_r(&now, &utc);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string SnapshotText(const Snapshot& s) {
    std::string body = std::string(Section) + "\n";
    body += "format = " + std::to_string(FormatVersion) + "\n";
    body += "time = " + s.time + "\n";
    for (const FieldDef& f : Fields) {
        body += std::string(f.key) + " = " + std::to_string(s.*f.field) + "\n";
        if (f.field == &Snapshot::tempCoefBits || f.field == &Snapshot::soundSpeedBits)
            body += "# " + std::string(f.key) + " as a number: " + FloatText(s.*f.field) + "\n";
    }
    if (s.reason.kind != SnapshotReason::Kind::Unknown)
        body += "reason = " + ReasonLine(s.reason) + "\n";
    body += "hubsize = " + std::to_string(s.hub.size()) + "\n";
    for (size_t i = 0; i < s.hub.size(); i += HexBytesPerLine) {
        body += i == 0 ? "hub = " : "hub+ = ";
        body += HexText(s.hub.data() + i, std::min(HexBytesPerLine, s.hub.size() - i)) + "\n";
    }
    if (s.hub.empty())
        body += "hub = \n";
    char check[16];
    std::snprintf(check, sizeof check, "%08X", Crc32(body));
    return body + "check = " + check + "\n";
}

bool ParseSnapshot(const std::string& original, Snapshot& out, std::string& error) {
    // Line ends are not part of the checked contents: a copy with CR LF lines still loads.
    std::string text = original;
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    const size_t checkAt = text.rfind("check = ");
    if (checkAt == std::string::npos || (checkAt > 0 && text[checkAt - 1] != '\n')) {
        error = "not a snapshot file, or cut short (no check line)";
        return false;
    }
    const std::string body = text.substr(0, checkAt);
    const std::string checkText = Trim(text.substr(checkAt + 8));
    char expected[16];
    std::snprintf(expected, sizeof expected, "%08X", Crc32(body));
    if (checkText != expected) {
        error = "the file was changed or damaged after it was saved (check value " + checkText +
                ", contents give " + expected + ")";
        return false;
    }
    std::istringstream lines(body);
    std::string line;
    std::map<std::string, std::string> values;
    std::string hubHex;
    bool sawHub = false;
    bool inSection = false;
    int lineNumber = 0;
    while (std::getline(lines, line)) {
        ++lineNumber;
        line = Trim(line);
        if (line.empty() || line[0] == '#')
            continue;
        if (line == Section) {
            inSection = true;
            continue;
        }
        const auto eq = line.find('=');
        if (!inSection || eq == std::string::npos) {
            error = "line " + std::to_string(lineNumber) + " is not a key of the snapshot";
            return false;
        }
        const std::string key = Trim(line.substr(0, eq));
        const std::string value = Trim(line.substr(eq + 1));
        if (key == "hub" || key == "hub+") {
            if ((key == "hub") == sawHub) {
                error = "line " + std::to_string(lineNumber) +
                        (sawHub ? ": a second hub image" : ": hub image continued before it began");
                return false;
            }
            sawHub = true;
            hubHex += value;
            continue;
        }
        if (!values.emplace(key, value).second) {
            error = "key " + key + " appears twice";
            return false;
        }
    }
    Snapshot s;
    if (values["format"] != std::to_string(FormatVersion)) {
        error = "snapshot format '" + values["format"] + "' is not known to this version";
        return false;
    }
    s.time = values["time"];
    if (const auto reason = values.find("reason"); reason != values.end())
        s.reason = ParseReasonLine(reason->second);
    for (const FieldDef& f : Fields) {
        const auto it = values.find(f.key);
        if (it == values.end()) {
            error = std::string("key ") + f.key + " is missing";
            return false;
        }
        if (!ParseUnsigned(it->second, f.bits, s.*f.field)) {
            error = std::string("key ") + f.key + ": '" + it->second + "' is not a " +
                    std::to_string(f.bits) + "-bit number";
            return false;
        }
    }
    uint32_t hubSize = 0;
    if (!ParseUnsigned(values["hubsize"], 32, hubSize) || hubSize % HubPageSize != 0 ||
        hubSize > MaxTransferPages * HubPageSize) {
        error = "hubsize '" + values["hubsize"] + "' is not a whole number of 128-byte pages";
        return false;
    }
    if (hubHex.size() != size_t(hubSize) * 2) {
        error = "the hub image holds " + std::to_string(hubHex.size() / 2) +
                " bytes, hubsize says " + std::to_string(hubSize);
        return false;
    }
    s.hub.resize(hubSize);
    for (size_t i = 0; i < hubSize; ++i) {
        const int hi = HexDigit(hubHex[2 * i]), lo = HexDigit(hubHex[2 * i + 1]);
        if (hi < 0 || lo < 0) {
            error = "the hub image has a character that is not hexadecimal";
            return false;
        }
        s.hub[i] = uint8_t(hi * 16 + lo);
    }
    out = std::move(s);
    return true;
}

std::filesystem::path UserDataFolder() {
#ifdef _WIN32
    // Read as wide text: the profile folder may be named in any script.
    if (const std::string local = fileio::EnvironmentUtf8("LOCALAPPDATA"); !local.empty())
        return fileio::PathFromUtf8(local);
    return {};
#else
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg == '/')
        return std::filesystem::path(xdg);
    if (const char* home = std::getenv("HOME"); home && *home)
        return std::filesystem::path(home) / ".local" / "share";
    return {};
#endif
}

SnapshotStore::SnapshotStore() {
    const auto base = UserDataFolder();
    if (!base.empty())
        folder_ = base / "vq31-install-service" / "snapshots";
}

std::filesystem::path SnapshotStore::Save(const Snapshot& s, std::string& error) const {
    if (folder_.empty()) {
        error = "no data folder for snapshots (neither XDG_DATA_HOME nor HOME is set)";
        return {};
    }
    std::error_code ec;
    std::filesystem::create_directories(folder_, ec);
    if (ec) {
        error = "cannot create " + folder_.string() + ": " + ec.message();
        return {};
    }
    // Name: serial number and time stamp; a counter keeps two snapshots of one second apart.
    std::string stamp = s.time;
    stamp.erase(std::remove(stamp.begin(), stamp.end(), ':'), stamp.end());
    char serial[16];
    std::snprintf(serial, sizeof serial, "%06u", s.serialNumber);
    const std::string text = SnapshotText(s);
    for (int n = 0; n < 1000; ++n) {
        const std::string name = "sn" + std::string(serial) + "-" + stamp +
                                 (n ? "-" + std::to_string(n) : std::string()) + ".snapshot";
        const auto path = folder_ / name;
        // Exclusive creation: an existing file is never replaced.
        const fileio::FileResult created = fileio::CreateNewFile(fileio::Utf8Path(path), text);
        if (!created.ok) {
            if (std::filesystem::exists(path, ec))
                continue;
            error = created.error;
            return {};
        }
        return path;
    }
    error = "too many snapshots with one time stamp in " + folder_.string();
    return {};
}

std::vector<std::filesystem::path> SnapshotStore::List() const {
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    if (folder_.empty() || !std::filesystem::is_directory(folder_, ec))
        return files;
    for (const auto& entry : std::filesystem::directory_iterator(folder_, ec)) {
        if (entry.is_regular_file(ec) && entry.path().extension() == ".snapshot")
            files.push_back(entry.path());
    }
    // Names carry the time stamp after the serial number, then a counter for a second
    // snapshot within the same second: order by the stamp, then by the counter's value.
    const auto key = [](const std::filesystem::path& p) {
        const std::string stem = p.stem().string();
        // "sn004711-2026-12-09T010000Z-2": the stamp ends with its zone letter Z.
        const auto first = std::min(stem.size(), stem.find('-'));
        const auto zone = stem.find('Z', first);
        const std::string stamp =
            stem.substr(first, zone == std::string::npos ? std::string::npos : zone - first + 1);
        const int counter =
            zone != std::string::npos && zone + 2 < stem.size() && stem[zone + 1] == '-'
                ? std::atoi(stem.c_str() + zone + 2)
                : 0;
        return std::make_tuple(stamp, counter, stem);
    };
    std::sort(files.begin(), files.end(),
              [&key](const auto& a, const auto& b) { return key(a) < key(b); });
    return files;
}

bool SnapshotStore::Load(const std::filesystem::path& file, Snapshot& s, std::string& error) {
    // Bounded: a file that never ends (a device) is refused after the limit.
    const fileio::ReadResult text = fileio::ReadFileLimited(fileio::Utf8Path(file), 1u << 20);
    if (!text.ok) {
        error = text.error;
        return false;
    }
    if (!ParseSnapshot(text.bytes, s, error)) {
        error = file.string() + ": " + error;
        return false;
    }
    return true;
}

} // namespace vq31
