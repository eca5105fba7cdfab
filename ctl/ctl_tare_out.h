// The tare table outputs of vq31ctl that need no workbook library: the telematics pairs
// ("tare export FILE.csv") and the calibration report ("tare report FILE.pdf"). Both the
// build with workbooks and the one without them route these words here.
#pragma once

#include "ctl.h"

#include <string>

namespace vq31::ctl {

// A file name that asks for telematics pairs rather than a workbook: ".csv" in any case.
bool IsTelematicsFile(const std::string& file);
// Empty when the options given fit the verb (import, export, report) and file, else what is
// wrong: --tank goes with a telematics export and report, --field with report, --separator
// with a telematics export, --write and --accept-dropped with import.
std::string CheckTareOptions(const std::string& verb, const std::string& file,
                             const std::vector<std::string>& args);

int TareTelematics(const Options& o, const std::string& file);
int TareReport(const Options& o, const std::string& file);

} // namespace vq31::ctl
