// The tare table as level/litres pairs for telematics platforms: one line per row, the
// level in whole millimetres (as the sensor stores it) and the volume in litres, separated by
// the character the user picked. The decimal point is always ".", so neither separator can be
// taken for part of a number.
#pragma once

#include "tare_check.h"

#include <string>
#include <vector>

namespace vq31 {

// The separators a user may pick.
bool IsTelematicsSeparator(char separator);

// One line "<mm><separator><litres>" per point, in the points' order, "\n" line ends, no
// header line. Levels are rounded half up to whole millimetres, litres carry one decimal.
std::string TelematicsCsvText(const std::vector<TarePoint>& points, char separator);

// Writes text to path through a temporary file beside it, so a failed write leaves an
// existing file as it was. False with the reason in error.
bool WriteFileReplacing(const std::string& path, const std::string& text, std::string& error);

} // namespace vq31
