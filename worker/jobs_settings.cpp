// Signal settings jobs: each writes one or two values and resumes echo polling.
#include "command_worker.h"

namespace vq31 {

void CommandWorker::WriteSettings(std::initializer_list<std::pair<uint8_t, uint32_t>> commands,
                                  int tries) {
    for (const auto& [code, value] : commands) {
        // Failed tries are repeated at once: the device refuses a write while it is busy.
        const Status status =
            Try(tries, std::chrono::milliseconds(0), [&, code = code, value = value] {
                return WriteValue(link_, code, Address(), value);
            });
        if (Stopping())
            return;
        if (status != StatusOk) {
            ErrorBox(texts_.DeviceStatus(status));
            return PostCommand(job::PollEcho);
        }
    }
    PostCommand(job::PollEcho);
}

} // namespace vq31
