// Checks on ZIP packages before the importer reads them. Open XML workbooks from some writers name
// their parts with absolute paths in the workbook's relationships ("/xl/worksheets/sheet1.xml"),
// which the importer does not follow, so their sheets would read as empty. This rewrites such a
// package with the paths made relative to the workbook part.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vq31::sheets {

// True when the ZIP archive's directory can be read and no entry declares more than
// maxEntryBytes uncompressed (in its directory record or its local header). The importer
// allocates what an entry declares, so a package is checked before it is read.
bool ZipEntriesWithin(std::string_view package, std::size_t maxEntryBytes);

// The repaired package (entries stored uncompressed), or nothing when the package needs no
// repair or cannot be read as a ZIP archive.
std::optional<std::string> RelativeWorkbookTargets(std::string_view package);

} // namespace vq31::sheets
