// Rewriting an Open XML package whose workbook relationships use absolute part names.
#include "xlsx_repair.h"

#include <orcus/zip_archive.hpp>
#include <orcus/zip_archive_stream.hpp>
#include <zlib.h>

#include <cstdint>
#include <exception>
#include <vector>

namespace vq31::sheets {

namespace {

constexpr std::string_view WorkbookRels = "xl/_rels/workbook.xml.rels";
constexpr std::string_view AbsoluteTarget = "Target=\"/xl/";
constexpr std::string_view RelativeTarget = "Target=\"";
// Largest number of entries a package may have to be rewritten.
constexpr std::size_t MaxEntries = 10000;

constexpr uint32_t LocalHeaderSignature = 0x04034b50;
constexpr uint32_t CentralHeaderSignature = 0x02014b50;
constexpr uint32_t EndSignature = 0x06054b50;
constexpr uint16_t VersionStored = 20;

void Put16(std::string& out, uint16_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>(v >> 8);
}

void Put32(std::string& out, uint32_t v) {
    Put16(out, static_cast<uint16_t>(v & 0xFFFF));
    Put16(out, static_cast<uint16_t>(v >> 16));
}

struct Entry {
    std::string name;
    std::string data;
};

// A ZIP archive of stored (uncompressed) entries.
std::optional<std::string> StoredZip(const std::vector<Entry>& entries) {
    std::string out;
    std::string central;
    for (const Entry& e : entries) {
        if (out.size() > 0xFFFF0000u || e.data.size() > 0xFFFF0000u || e.name.size() > 0xFFFF) {
            return std::nullopt;
        }
        const auto crc = static_cast<uint32_t>(crc32(
            0, reinterpret_cast<const Bytef*>(e.data.data()), static_cast<uInt>(e.data.size())));
        const auto offset = static_cast<uint32_t>(out.size());
        const auto size = static_cast<uint32_t>(e.data.size());
        const auto nameLength = static_cast<uint16_t>(e.name.size());
        Put32(out, LocalHeaderSignature);
        Put16(out, VersionStored);
        Put16(out, 0); // flags
        Put16(out, 0); // stored
        Put32(out, 0); // time and date
        Put32(out, crc);
        Put32(out, size);
        Put32(out, size);
        Put16(out, nameLength);
        Put16(out, 0);
        out += e.name;
        out += e.data;

        Put32(central, CentralHeaderSignature);
        Put16(central, VersionStored);
        Put16(central, VersionStored);
        Put16(central, 0);
        Put16(central, 0);
        Put32(central, 0);
        Put32(central, crc);
        Put32(central, size);
        Put32(central, size);
        Put16(central, nameLength);
        Put16(central, 0); // extra
        Put16(central, 0); // comment
        Put16(central, 0); // disk
        Put16(central, 0); // internal attributes
        Put32(central, 0); // external attributes
        Put32(central, offset);
        central += e.name;
    }
    const auto centralOffset = static_cast<uint32_t>(out.size());
    out += central;
    Put32(out, EndSignature);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, static_cast<uint16_t>(entries.size()));
    Put16(out, static_cast<uint16_t>(entries.size()));
    Put32(out, static_cast<uint32_t>(central.size()));
    Put32(out, centralOffset);
    Put16(out, 0);
    return out;
}

uint16_t Get16(std::string_view b, std::size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) |
                                 (static_cast<uint8_t>(b[at + 1]) << 8));
}

uint32_t Get32(std::string_view b, std::size_t at) {
    return Get16(b, at) | (static_cast<uint32_t>(Get16(b, at + 2)) << 16);
}

constexpr std::size_t EndRecordSize = 22;
constexpr std::size_t MaxCommentSize = 0xFFFF;
constexpr std::size_t CentralHeaderSize = 46;
constexpr std::size_t LocalHeaderSize = 30;

} // namespace

bool ZipEntriesWithin(std::string_view package, std::size_t maxEntryBytes) {
    if (package.size() < EndRecordSize) {
        return false;
    }
    // The end record sits in the last 22 bytes plus at most a 64 KiB comment.
    std::size_t end = package.size() - EndRecordSize;
    const std::size_t lowest =
        package.size() > EndRecordSize + MaxCommentSize ? end - MaxCommentSize : 0;
    while (Get32(package, end) != EndSignature) {
        if (end == lowest) {
            return false;
        }
        --end;
    }
    // Records on this disk and in total: a single-disk package has the same number twice.
    const std::size_t count = Get16(package, end + 10);
    if (Get16(package, end + 8) != count) {
        return false;
    }
    std::size_t at = Get32(package, end + 16);
    for (std::size_t i = 0; i < count; ++i) {
        if (at + CentralHeaderSize > package.size() ||
            Get32(package, at) != CentralHeaderSignature) {
            return false;
        }
        const std::size_t packed = Get32(package, at + 20);
        const std::size_t size = Get32(package, at + 24);
        const std::size_t local = Get32(package, at + 42);
        if (packed > package.size() || size > maxEntryBytes) {
            return false;
        }
        if (local + LocalHeaderSize > package.size() ||
            Get32(package, local) != LocalHeaderSignature ||
            Get32(package, local + 18) > package.size() ||
            Get32(package, local + 22) > maxEntryBytes) {
            return false;
        }
        at += CentralHeaderSize + Get16(package, at + 28) + Get16(package, at + 30) +
              Get16(package, at + 32);
    }
    return true;
}

std::optional<std::string> RelativeWorkbookTargets(std::string_view package) {
    try {
        orcus::zip_archive_stream_blob stream(reinterpret_cast<const uint8_t*>(package.data()),
                                              package.size());
        orcus::zip_archive archive(&stream);
        archive.load();
        std::vector<unsigned char> buffer;
        if (!archive.read_file_entry(WorkbookRels, buffer)) {
            return std::nullopt;
        }
        std::string rels(buffer.begin(), buffer.end());
        if (rels.find(AbsoluteTarget) == std::string::npos) {
            return std::nullopt;
        }
        for (std::size_t at = rels.find(AbsoluteTarget); at != std::string::npos;
             at = rels.find(AbsoluteTarget, at)) {
            rels.replace(at, AbsoluteTarget.size(), RelativeTarget);
        }
        const std::size_t count = archive.get_file_entry_count();
        if (count > MaxEntries || count > 0xFFFF) {
            return std::nullopt;
        }
        std::vector<Entry> entries;
        for (std::size_t i = 0; i < count; ++i) {
            Entry e;
            e.name = std::string(archive.get_file_entry_name(i));
            if (e.name == WorkbookRels) {
                e.data = rels;
            } else {
                buffer.clear();
                if (!archive.read_file_entry(e.name, buffer)) {
                    return std::nullopt;
                }
                e.data.assign(buffer.begin(), buffer.end());
            }
            entries.push_back(std::move(e));
        }
        return StoredZip(entries);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

} // namespace vq31::sheets
