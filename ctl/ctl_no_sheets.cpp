// The workbook commands of a build without the workbook libraries (the Windows build: they
// do not exist for its compiler). The words are known and their arguments checked as in the
// full build, but running one says plainly that this build cannot do it, with the usage
// error's exit code, so a script can tell it from a device or file failure.
#include "ctl_sheets_words.h"
#include "ctl_tare_out.h"
#include "ctl_tare_shape.h"

#include <cstdio>

namespace vq31::ctl {

namespace {

int NoWorkbooks(const Options&) {
    std::fprintf(stderr, "vq31ctl: this build has no workbook support\n");
    return 2;
}

// The tare words that need no workbook library still work here.
int Tare(const Options& o) {
    const auto words = Positional(o.args);
    if (!words.empty() && words[0] == "shape") {
        return TareShape(o, nullptr); // computes and prints; no hub write in this build
    }
    if (words.size() != 2 ||
        (words[0] != "export" && words[0] != "import" && words[0] != "report")) {
        std::fprintf(stderr, "usage: vq31ctl %s\n", TareUsage);
        return 2;
    }
    if (const std::string wrong = CheckTareOptions(words[0], words[1], o.args); !wrong.empty()) {
        std::fprintf(stderr, "vq31ctl tare: %s\nusage: vq31ctl %s\n", wrong.c_str(), TareUsage);
        return 2;
    }
    if (words[0] == "report") {
        return TareReport(o, words[1]);
    }
    if (words[0] == "export" && IsTelematicsFile(words[1])) {
        return TareTelematics(o, words[1]);
    }
    return NoWorkbooks(o);
}

const bool registeredTanks = Register("tanks", TanksUsage, &NoWorkbooks, TanksRules());
const bool registeredTare = Register("tare", TareUsage, &Tare, TareRules());

} // namespace

} // namespace vq31::ctl
