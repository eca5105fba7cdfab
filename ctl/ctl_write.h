// The tool's side of the one write path: signals during a write, and the outcome printed in
// plain English with a restore command that works as printed.
#pragma once

#include "ctl.h"
#include "device_ops.h"

#include <filesystem>
#include <string>

namespace vq31::ctl {

// While alive, SIGINT and SIGTERM ask the running write to stop: it then finishes the image
// or puts the old one back, and says which. A second signal within 2 s ends the tool at once
// after printing the restore command of the snapshot saved before the write.
class WriteSignals {
public:
    WriteSignals();
    ~WriteSignals();
    WriteSignals(const WriteSignals&) = delete;
    WriteSignals& operator=(const WriteSignals&) = delete;

    // The transaction's stop check.
    static bool StopRequested();
    // The line printed if the tool has to end at once.
    static void SetRestoreLine(const std::string& line);
};

// "vq31ctl --port P --baud B --address A snapshot restore FILE [--params]", quoted where a
// word needs it.
std::string RestoreCommand(const Options& options, uint32_t baud, uint8_t address,
                           const std::filesystem::path& snapshot, bool withSettings);

// Follows a new address (said) and a new speed (said, the port reopened, baud updated).
RestoreFollow ToolFollow(DeviceLink& link, const Options& options, uint32_t& baud);

// A write context for the tool: the snapshot folder, the signal stop, the restore line.
WriteContext ToolWriteContext(const Options& options, const SnapshotStore& store, uint32_t baud,
                              const uint8_t& address, bool withSettings);

// Prints what the write left on the device; 0 when it holds what was asked, else 1.
// done is printed after a good write ("wrote 3 pages and read them back").
int ReportWrite(const Options& options, uint32_t baud, uint8_t address, const WriteOutcome& o,
                const std::string& done);

// The hub image (and, when given, the tank id and height) through the write path on an open
// link, a stop answered at once, the outcome printed. Returns the exit code.
int WriteHubOnLink(const Options& options, DeviceLink& link, const HubWrite& write,
                   const std::string& done);

} // namespace vq31::ctl
