// Fault injection of the simulated sensor: what the next answers or requests suffer, set
// from the control channel. Counted faults are used up one answer (or request) at a time.
#pragma once

#include "echo_model.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vq31::sim {

enum class AnswerFault { None, Drop, Crc, Address, Short, Garbage };

class FaultPlan {
public:
    void SetAnswerFault(AnswerFault fault, uint32_t count);
    void SetSilent(uint32_t count) { silent_ = count; }
    void SetDelay(std::chrono::milliseconds delay) { delay_ = delay; }
    void SetAck(uint8_t code, uint8_t status, uint32_t count);
    // The next count requests with code get no answer, once skip requests with it have been
    // answered as usual.
    void SetCodeSilent(uint8_t code, uint32_t count, uint32_t skip = 0);
    // The next count writes with code (any write without a code) are acknowledged as done
    // but not stored: the device keeps its old value.
    void SetNoStore(std::optional<uint8_t> code, uint32_t count);
    void Clear();

    // Whether this request goes unanswered; uses up one count.
    bool TakeSilent(uint8_t code);
    // The status forced onto this acknowledgement, if any; uses up one count.
    std::optional<uint8_t> TakeAck(uint8_t code);
    // The fault this answer suffers (at most one); uses up one count.
    AnswerFault TakeAnswerFault();
    // Whether this acknowledged write is dropped after its acknowledgement; uses up one count.
    bool TakeNoStore(uint8_t code);
    std::chrono::milliseconds delay() const { return delay_; }
    // Counts the clears: an answer held back by a delay is dropped when a clear came while it
    // waited, so no delayed answer of before the clear reaches the line after it.
    uint64_t clears() const { return clears_; }

    // One line per active fault, empty when none.
    std::string Describe() const;

private:
    struct ForcedAck {
        uint8_t status = 0;
        uint32_t count = 0;
    };
    std::map<AnswerFault, uint32_t> answerFaults_;
    uint32_t silent_ = 0;
    std::chrono::milliseconds delay_{0};
    uint64_t clears_ = 0;
    std::map<uint8_t, ForcedAck> acks_;
    struct CodeSilence {
        uint32_t skip = 0;
        uint32_t count = 0;
    };
    std::map<uint8_t, CodeSilence> codeSilent_;
    std::map<int, uint32_t> noStore_; // key -1: any write
};

const char* AnswerFaultName(AnswerFault fault);

// Alters a whole answer frame as the fault says. The answer from another address keeps a
// valid check value, so the tool sees a good frame from the wrong device.
void ApplyAnswerFault(AnswerFault fault, std::vector<uint8_t>& answer, Noise& noise);

} // namespace vq31::sim
