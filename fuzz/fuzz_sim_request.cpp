// Feeds arbitrary bytes, in arbitrary pieces, to the simulated sensor's request parser and
// carries out every request it accepts: each accepted request must be a whole frame with a
// good CRC-8, and each answer the device builds must be judged good by the tool's own
// receiver (right length, CRC-8 or block sums), so nothing a line delivers can make the
// simulator answer a malformed frame or touch memory out of bounds.
// fuzz-libs: vq31_sim vq31_link
#include "device_model.h"
#include "protocol.h"
#include "receiver.h"
#include "request_parser.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

void Check(bool condition) {
    if (!condition)
        std::abort();
}

void Serve(vq31::sim::DeviceModel& device, const std::vector<uint8_t>& request) {
    using namespace vq31;
    const uint32_t speed = device.Snapshot().speed;
    const auto now = sim::Clock::now();
    if (device.Admit(request, speed, now) != sim::Admission::Accept)
        return;
    const sim::Answer answer = device.Execute(request, std::nullopt, now);
    if (answer.bytes.empty()) {
        Check(AnswerKindOf(request[2]) == AnswerKind::None);
        return;
    }
    Receiver receiver;
    Receiver::Event event = Receiver::Event::More;
    for (size_t i = 0; i < answer.bytes.size(); ++i) {
        event = receiver.Feed(answer.bytes[i]);
        Check(event != Receiver::Event::Report || i + 1 == answer.bytes.size());
    }
    Check(event == Receiver::Event::Report && receiver.accepted());
    Check(receiver.fields().code == request[2]);
    device.Apply(answer.followUp);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vq31;
    sim::DeviceModel device(1, 19200);
    sim::RequestParser parser;
    std::vector<sim::ParsedFrame> frames;
    // The first byte of each piece gives its length (0 stands for a silence that ends any
    // partly received frame), so the fuzzer also explores frames split across reads.
    size_t at = 0;
    while (at < size) {
        const size_t piece = data[at++];
        if (piece == 0) {
            parser.Reset();
            continue;
        }
        const size_t count = piece < size - at ? piece : size - at;
        frames.clear();
        parser.Feed(data + at, count, frames);
        at += count;
        for (const sim::ParsedFrame& f : frames) {
            if (f.kind != sim::ParsedFrame::Kind::Request)
                continue;
            const std::vector<uint8_t>& r = f.bytes;
            Check(r.size() >= 4 && r[0] == RequestStart);
            Check(r.size() == RequestLength(RequestLayoutOf(r[2])));
            Check(Crc8(uint8_t(r.size() - 1), r.data()) == r.back());
            Serve(device, r);
        }
    }
    return 0;
}
