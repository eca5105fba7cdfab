// Byte-fed receiver of answer frames. It is the frame logic of the port thread's receive
// step, kept free of any port so it can be driven byte by byte in tests: feed each byte as
// it arrives and report a read time-out with Silence(); every frame ends in exactly one
// report (0..5) or, when nothing arrived at all, in an idle return.
#pragma once

#include "protocol.h"

#include <array>
#include <cstdint>
#include <vector>

namespace vq31 {

// Fields taken out of an accepted answer.
struct AnswerFields {
    uint8_t address = 0;
    uint8_t code = 0;
    std::array<uint32_t, 7> values{};
    std::array<uint8_t, HubBlockSize> block{};
};

class Receiver {
public:
    enum class Event {
        More,   // the frame is not complete yet: read the next byte
        Idle,   // silence with no byte in this frame: the line is idle
        Report, // the frame is judged: status() holds the outcome
    };

    Receiver();

    // Starts a new frame (drops whatever was gathered).
    void Reset();
    Event Feed(uint8_t byte);
    // A read returned no byte (time-out or failed read).
    Event Silence();

    // Outcome of the last report: 0 for a good answer, the acknowledgement status (0..2) for
    // an acknowledgement, or 3, 4, 5.
    Status status() const { return status_; }
    // Valid after a report of a good frame (status 0, or an acknowledgement).
    const AnswerFields& fields() const { return fields_; }
    bool accepted() const { return accepted_; }
    // The receive buffer (ReceiveBufferSize bytes; the bytes of the last frame from 0).
    const uint8_t* buffer() const { return buffer_.data(); }
    // Bytes gathered in the frame being read, and the length of the last reported frame.
    size_t count() const { return count_; }
    size_t lastLength() const { return lastLength_; }

private:
    Event Report(Status status, bool accepted);
    Event Judge();

    std::vector<uint8_t> buffer_;
    size_t count_ = 0;
    size_t lastLength_ = 0;
    Status status_ = StatusOk;
    bool accepted_ = false;
    AnswerFields fields_;
};

} // namespace vq31
