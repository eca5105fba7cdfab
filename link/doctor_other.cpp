// The connection doctor where no device or process tree can be read (Windows): the port
// layer's own message stands and there is nothing to tune. The ports present are listed by
// the Win32 port layer from the registry.
#include "doctor.h"

namespace vq31 {

Diagnosis DiagnoseOpenFailure(const std::string& port, int, const std::string& portError,
                              const DoctorRoots&) {
    Diagnosis d;
    d.problem = OpenProblem::Other;
    d.message = portError.empty() ? port + " cannot be opened" : portError;
    return d;
}

std::string StableNameOf(const std::string&, const DoctorRoots&) {
    return {};
}

std::string ResolvePort(const std::string& name, const DoctorRoots&) {
    return name;
}

std::string TuneLatency(const std::string&, const DoctorRoots&) {
    return {};
}

} // namespace vq31
