// The workbook command words of vq31ctl, shared by the build with workbook support
// (ctl_sheets.cpp) and the build without it (ctl_no_sheets.cpp), so both accept and refuse
// the same arguments. The tare words that need no workbook (telematics pairs, the report)
// work in both builds.
#pragma once

#include "ctl.h"
#include "ctl_tare_shape.h"

#include <iterator>

namespace vq31::ctl {

constexpr const char* TanksUsage =
    "tanks export FILE | tanks import FILE [--write] [--allow-empty] [--accept-dropped]";
constexpr const char* TareUsage =
    "tare export FILE | tare import FILE [--write] [--accept-dropped]\n"
    "  tare export FILE.csv [--tank N] [--separator ';'|',']  telematics pairs (mm, litres)\n"
    "  tare report FILE.pdf [--tank N] [--field NAME=VALUE ...]  calibration report; NAME is\n"
    "                         organisation, client, vehicle, plate, tank, technician or notes\n"
    "  " VQ31_TARE_SHAPE_USAGE;

inline ArgRules TanksRules() {
    return ArgRules().Flags({"--write", "--allow-empty", "--accept-dropped"}).Words(2, 2);
}
inline ArgRules TareRules() {
    std::vector<std::string> values = {"--tank", "--field", "--separator"};
    values.insert(values.end(), std::begin(TareShapeValues), std::end(TareShapeValues));
    return ArgRules().Flags({"--write", "--accept-dropped"}).Values(std::move(values)).Words(2, 2);
}

} // namespace vq31::ctl
