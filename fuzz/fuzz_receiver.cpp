// Feeds arbitrary bytes to the answer receiver, with silences where the input says so:
// every frame must end in a report or an idle return, and nothing may read or write out of
// bounds.
// fuzz-libs: vq31_link
#include "receiver.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vq31::Receiver receiver;
    size_t sinceReport = 0;
    for (size_t i = 0; i < size; ++i) {
        // A 0xFF 0xFF pair stands for a read time-out between bytes.
        if (data[i] == 0xFF && i + 1 < size && data[i + 1] == 0xFF) {
            ++i;
            const auto event = receiver.Silence();
            if (event == vq31::Receiver::Event::Idle && receiver.count() != 0)
                std::abort();
            sinceReport = 0;
            continue;
        }
        const auto event = receiver.Feed(data[i]);
        ++sinceReport;
        if (event == vq31::Receiver::Event::Report) {
            if (receiver.status() < vq31::StatusOk || receiver.status() > vq31::StatusBadAnswer)
                std::abort();
            sinceReport = 0;
        } else if (sinceReport >= vq31::ReceiveBufferSize) {
            std::abort(); // a frame may never outgrow the receive buffer
        }
    }
    receiver.Silence();
    return 0;
}
