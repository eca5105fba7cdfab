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

#include <array>
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

// Request frames built from the input, so that every command reaches the device model
// without the fuzzer first having to find a matching CRC: code, address, then up to 12 bytes
// of value and extras per frame.
std::vector<uint8_t> BuiltFrames(const uint8_t* data, size_t size) {
    using namespace vq31;
    std::vector<uint8_t> stream;
    uint8_t frame[MaxRequestLength];
    std::array<uint8_t, HubBlockSize> block{};
    for (size_t at = 0; at + 2 <= size;) {
        RequestFields r;
        r.code = data[at++];
        r.address = data[at++];
        uint8_t fields[12] = {};
        for (size_t i = 0; i < sizeof fields && at < size; ++i)
            fields[i] = data[at++];
        r.value = GetU32(fields);
        r.extra1 = GetU32(fields + 4);
        r.extra2 = GetU32(fields + 8);
        block.fill(fields[0]);
        r.block = block.data();
        const size_t length = BuildRequest(r, frame);
        stream.insert(stream.end(), frame, frame + length);
    }
    return stream;
}

void CheckRequest(const std::vector<uint8_t>& r) {
    using namespace vq31;
    Check(r.size() >= 4 && r[0] == RequestStart);
    Check(r.size() == RequestLength(RequestLayoutOf(r[2])));
    Check(Crc8(uint8_t(r.size() - 1), r.data()) == r.back());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vq31;
    if (size == 0)
        return 0;
    sim::DeviceModel device(1, 19200);
    sim::RequestParser parser;
    std::vector<sim::ParsedFrame> frames;
    // First byte odd: the rest describes whole requests, which must all be found again.
    if (data[0] & 1) {
        const std::vector<uint8_t> stream = BuiltFrames(data + 1, size - 1);
        parser.Feed(stream.data(), stream.size(), frames);
        size_t length = 0;
        for (const sim::ParsedFrame& f : frames) {
            Check(f.kind == sim::ParsedFrame::Kind::Request);
            CheckRequest(f.bytes);
            length += f.bytes.size();
            Serve(device, f.bytes);
        }
        Check(length == stream.size() && !parser.HasPartialFrame());
        return 0;
    }
    // First byte even: a raw byte stream. The first byte of each piece gives its length (0
    // stands for a silence that ends any partly received frame), so frames split across
    // reads are explored too.
    size_t at = 1;
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
            CheckRequest(f.bytes);
            Serve(device, f.bytes);
        }
    }
    return 0;
}
