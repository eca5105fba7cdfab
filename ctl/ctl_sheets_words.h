// The workbook command words of vq31ctl, shared by the build with workbook support
// (ctl_sheets.cpp) and the build without it (ctl_no_sheets.cpp), so both accept and refuse
// the same arguments.
#pragma once

#include "ctl.h"

namespace vq31::ctl {

constexpr const char* TanksUsage =
    "tanks export FILE | tanks import FILE [--write] [--allow-empty] [--accept-dropped]";
constexpr const char* TareUsage =
    "tare export FILE | tare import FILE [--write] [--accept-dropped]";

inline ArgRules TanksRules() {
    return ArgRules().Flags({"--write", "--allow-empty", "--accept-dropped"}).Words(2, 2);
}
inline ArgRules TareRules() {
    return ArgRules().Flags({"--write", "--accept-dropped"}).Words(2, 2);
}

} // namespace vq31::ctl
