// Workbook packages made ready for the parser: the parts are read through libzip, converted
// to UTF-8, and repaired in memory where writers leave them in forms the parser does not
// follow; the parser then reads a package written back from them. What the parser cannot
// tell from the repaired package (which cell formats show dates, the date system) comes
// along beside it.
#pragma once

#include "package_parts.h"
#include "workbook.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vq31::sheets {

enum class PackageKind { OpenXml, OpenDocument };

struct PreparedPackage {
    PackageKind kind = PackageKind::OpenXml;
    // The package the parser reads.
    std::string bytes;
    // Open XML: by cell format index, whether the format shows a date or a time.
    std::vector<bool> dateFormats;
    // Open XML: serial day 0 is 1904-01-01 instead of 1899-12-30.
    bool date1904 = false;
};

// Reads and repairs a ZIP package; the failures of ReadPackageParts, and a package that
// holds neither workbook kind, or parts in an encoding that does not convert.
FileResult PreparePackage(std::string_view package, std::size_t maxUnpackedBytes,
                          PreparedPackage& out);

// The repairs of each kind (used by PreparePackage; parts are UTF-8 already).
void RepairOpenXml(std::vector<PackagePart>& parts, PreparedPackage& out);
void RepairOpenDocument(std::vector<PackagePart>& parts);

// True when an Open XML number format (its built-in id, or its format code) shows a date or
// a time of day.
bool IsDateFormat(int id, std::string_view code);

} // namespace vq31::sheets
