// The workbook commands of a build without the workbook libraries (the Windows build: they
// do not exist for its compiler). The words are known and their arguments checked as in the
// full build, but running one says plainly that this build cannot do it, with the usage
// error's exit code, so a script can tell it from a device or file failure.
#include "ctl_sheets_words.h"

#include <cstdio>

namespace vq31::ctl {

namespace {

int NoWorkbooks(const Options&) {
    std::fprintf(stderr, "vq31ctl: this build has no workbook support\n");
    return 2;
}

const bool registeredTanks = Register("tanks", TanksUsage, &NoWorkbooks, TanksRules());
const bool registeredTare = Register("tare", TareUsage, &NoWorkbooks, TareRules());

} // namespace

} // namespace vq31::ctl
