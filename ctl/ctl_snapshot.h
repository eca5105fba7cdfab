// Parameter writes by name (the snapshot commands register themselves).
#pragma once

#include "ctl.h"

namespace vq31::ctl {

// params set NAME VALUE [NAME VALUE ...] (the words after "params").
int ParamsSet(const Options& options);

} // namespace vq31::ctl
