// Cuts request frames out of the byte stream the simulated sensor receives: a frame starts
// with 0x31, its length follows from the command code's request layout, and its last byte
// is the CRC-8 of the bytes before it. A frame with a bad CRC or a code without a layout is
// dropped and the search for a start byte resumes one byte after the dropped start, so a
// stray 0x31 inside noise cannot swallow the next good request.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vq31::sim {

struct ParsedFrame {
    enum class Kind { Request, BadCrc, UnknownCode };
    Kind kind = Kind::Request;
    std::vector<uint8_t> bytes; // the whole request for Kind::Request
};

class RequestParser {
public:
    // Adds received bytes; every frame judged on the way is appended to out.
    void Feed(const uint8_t* data, size_t count, std::vector<ParsedFrame>& out);
    // The line fell silent in the middle of a frame: forget the part gathered.
    void Reset() { pending_.clear(); }
    bool HasPartialFrame() const { return !pending_.empty(); }

private:
    std::vector<uint8_t> pending_;
};

} // namespace vq31::sim
