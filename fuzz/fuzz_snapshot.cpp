// fuzz-libs: vq31_worker
// Snapshot files from any bytes: a parse either fails with a message or gives a snapshot
// whose own text parses back to the same fields.
#include "snapshot.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    vq31::Snapshot s;
    std::string error;
    if (!vq31::ParseSnapshot(text, s, error)) {
        if (error.empty())
            std::abort();
        return 0;
    }
    vq31::Snapshot again;
    if (!vq31::ParseSnapshot(vq31::SnapshotText(s), again, error) ||
        !vq31::SnapshotDifferences(s, again).empty() || again.serialNumber != s.serialNumber ||
        again.time != s.time)
        std::abort();
    return 0;
}
