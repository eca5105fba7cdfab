// Request framing on the device side.
#include "request_parser.h"

#include "protocol.h"

#include <algorithm>

namespace vq31::sim {

void RequestParser::Feed(const uint8_t* data, size_t count, std::vector<ParsedFrame>& out) {
    pending_.insert(pending_.end(), data, data + count);
    size_t at = 0;
    for (;;) {
        while (at < pending_.size() && pending_[at] != RequestStart)
            ++at;
        if (pending_.size() - at < 3)
            break;
        const size_t length = RequestLength(RequestLayoutOf(pending_[at + 2]));
        if (length == 0) {
            out.push_back({ParsedFrame::Kind::UnknownCode, {}});
            ++at;
            continue;
        }
        if (pending_.size() - at < length)
            break;
        const uint8_t* frame = pending_.data() + at;
        if (Crc8(uint8_t(length - 1), frame) != frame[length - 1]) {
            out.push_back({ParsedFrame::Kind::BadCrc, {}});
            ++at;
            continue;
        }
        out.push_back({ParsedFrame::Kind::Request, {frame, frame + length}});
        at += length;
    }
    pending_.erase(pending_.begin(), pending_.begin() + std::ptrdiff_t(at));
}

} // namespace vq31::sim
