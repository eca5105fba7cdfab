// The parts of a ZIP package (an .xlsx or .ods workbook) read into memory through libzip, and
// a package written back from parts. Reading is bounded: a package whose parts declare or
// unpack to more than the caller allows is refused before the parser sees it.
#pragma once

#include "workbook.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vq31::sheets {

struct PackagePart {
    std::string name;
    std::string data;
};

// Texts of the refusals (callers and their users rely on them).
inline constexpr std::string_view DamagedPackageText = "damaged workbook package";
std::string UnpacksTooLargeText(std::size_t maxUnpackedBytes);

// Every part of the package, in archive order. Fails with DamagedPackageText when the archive
// cannot be read, and with UnpacksTooLargeText when its parts declare or unpack to more than
// maxUnpackedBytes together.
FileResult ReadPackageParts(std::string_view package, std::size_t maxUnpackedBytes,
                            std::vector<PackagePart>& parts);

// A ZIP archive of the parts in the given order, deflated; nothing when it cannot be written.
std::optional<std::string> WritePackage(const std::vector<PackagePart>& parts);

// The part with exactly this name, or nullptr.
PackagePart* FindPart(std::vector<PackagePart>& parts, std::string_view name);

} // namespace vq31::sheets
