// Checks on ZIP packages before the importer reads them, and repairs of Open XML workbooks
// that other writers produce in forms the importer does not follow: absolute part names in the
// workbook's relationships ("/xl/worksheets/sheet1.xml"), and texts stored in the cells
// themselves (inline strings) instead of the shared string table. Either would make cells or
// whole sheets read as empty.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vq31::sheets {

// True when the ZIP archive's directory can be read, no entry declares more than
// maxEntryBytes uncompressed (in its directory record or its local header) and all entries
// together declare at most maxTotalBytes. The importer allocates what an entry declares, so a
// package is checked before it is read.
bool ZipEntriesWithin(std::string_view package, std::size_t maxEntryBytes,
                      std::size_t maxTotalBytes = SIZE_MAX);

// The repaired package (entries stored uncompressed): part names made relative to the
// workbook part, inline-string cells moved into the shared string table. Nothing when the
// package needs no repair or cannot be read as a ZIP archive.
std::optional<std::string> RepairedPackage(std::string_view package);

} // namespace vq31::sheets
