// Fault bookkeeping and the alterations of answer frames.
#include "faults.h"

#include "protocol.h"

#include <cstdio>

namespace vq31::sim {

namespace {

// Order in which pending answer faults are served, one per answer.
constexpr AnswerFault AnswerFaultOrder[] = {AnswerFault::Garbage, AnswerFault::Address,
                                            AnswerFault::Crc, AnswerFault::Short,
                                            AnswerFault::Drop};
constexpr size_t GarbageMaxLength = 64;

bool IsOscillogram(const std::vector<uint8_t>& answer) {
    return answer.size() > 2 && AnswerKindOf(answer[2]) == AnswerKind::Oscillogram;
}

void Reseal(std::vector<uint8_t>& answer) {
    if (!IsOscillogram(answer) && answer.size() >= 2)
        answer.back() = Crc8(uint8_t(answer.size() - 1), answer.data());
}

} // namespace

const char* AnswerFaultName(AnswerFault fault) {
    switch (fault) {
    case AnswerFault::Drop:
        return "drop";
    case AnswerFault::Crc:
        return "crc";
    case AnswerFault::Address:
        return "address";
    case AnswerFault::Short:
        return "short";
    case AnswerFault::Garbage:
        return "garbage";
    case AnswerFault::None:
        break;
    }
    return "none";
}

void FaultPlan::SetAnswerFault(AnswerFault fault, uint32_t count) {
    if (count == 0)
        answerFaults_.erase(fault);
    else
        answerFaults_[fault] = count;
}

void FaultPlan::SetAck(uint8_t code, uint8_t status, uint32_t count) {
    if (count == 0)
        acks_.erase(code);
    else
        acks_[code] = {status, count};
}

void FaultPlan::SetCodeSilent(uint8_t code, uint32_t count, uint32_t skip) {
    if (count == 0)
        codeSilent_.erase(code);
    else
        codeSilent_[code] = {skip, count};
}

void FaultPlan::Clear() {
    const uint64_t clears = clears_ + 1;
    *this = FaultPlan{};
    clears_ = clears;
}

bool FaultPlan::TakeSilent(uint8_t code) {
    if (auto it = codeSilent_.find(code); it != codeSilent_.end()) {
        if (it->second.skip > 0) {
            --it->second.skip;
            return false;
        }
        if (--it->second.count == 0)
            codeSilent_.erase(it);
        return true;
    }
    if (silent_ > 0) {
        --silent_;
        return true;
    }
    return false;
}

std::optional<uint8_t> FaultPlan::TakeAck(uint8_t code) {
    auto it = acks_.find(code);
    if (it == acks_.end())
        return std::nullopt;
    const uint8_t status = it->second.status;
    if (--it->second.count == 0)
        acks_.erase(it);
    return status;
}

void FaultPlan::SetNoStore(std::optional<uint8_t> code, uint32_t count) {
    const int key = code ? int(*code) : -1;
    if (count == 0)
        noStore_.erase(key);
    else
        noStore_[key] = count;
}

bool FaultPlan::TakeNoStore(uint8_t code) {
    for (const int key : {int(code), -1}) {
        auto it = noStore_.find(key);
        if (it == noStore_.end())
            continue;
        if (--it->second == 0)
            noStore_.erase(it);
        return true;
    }
    return false;
}

AnswerFault FaultPlan::TakeAnswerFault() {
    for (AnswerFault f : AnswerFaultOrder) {
        auto it = answerFaults_.find(f);
        if (it == answerFaults_.end())
            continue;
        if (--it->second == 0)
            answerFaults_.erase(it);
        return f;
    }
    return AnswerFault::None;
}

std::string FaultPlan::Describe() const {
    std::string text;
    char line[96];
    for (const auto& [fault, count] : answerFaults_) {
        std::snprintf(line, sizeof line, "fault %s %u\n", AnswerFaultName(fault), count);
        text += line;
    }
    if (silent_ > 0) {
        std::snprintf(line, sizeof line, "fault silent %u\n", silent_);
        text += line;
    }
    if (delay_.count() > 0) {
        std::snprintf(line, sizeof line, "fault delay %lld\n", (long long)delay_.count());
        text += line;
    }
    for (const auto& [code, ack] : acks_) {
        std::snprintf(line, sizeof line, "fault ack 0x%02X %u %u\n", code, ack.status, ack.count);
        text += line;
    }
    for (const auto& [code, silence] : codeSilent_) {
        if (silence.skip > 0)
            std::snprintf(line, sizeof line, "fault code 0x%02X silent %u after %u\n", code,
                          silence.count, silence.skip);
        else
            std::snprintf(line, sizeof line, "fault code 0x%02X silent %u\n", code, silence.count);
        text += line;
    }
    for (const auto& [key, count] : noStore_) {
        if (key < 0)
            std::snprintf(line, sizeof line, "fault nostore any %u\n", count);
        else
            std::snprintf(line, sizeof line, "fault nostore 0x%02X %u\n", key, count);
        text += line;
    }
    return text;
}

void ApplyAnswerFault(AnswerFault fault, std::vector<uint8_t>& answer, Noise& noise) {
    if (answer.empty())
        return;
    switch (fault) {
    case AnswerFault::None:
        return;
    case AnswerFault::Drop:
        // The byte before the last goes missing, so the frame falls silent one byte short.
        answer.erase(answer.end() - std::min<std::ptrdiff_t>(2, std::ptrdiff_t(answer.size())));
        return;
    case AnswerFault::Crc:
        if (IsOscillogram(answer) && answer.size() >= OscBlockSize)
            answer[OscCheckOffset] ^= 0x5A; // the first block's check value
        else
            answer.back() ^= 0x5A;
        return;
    case AnswerFault::Address:
        if (answer.size() > 1) {
            answer[1] = uint8_t((answer[1] + 1) % BroadcastAddress);
            Reseal(answer);
        }
        return;
    case AnswerFault::Short:
        answer.resize(answer.size() / 2);
        return;
    case AnswerFault::Garbage: {
        const size_t length = std::min(answer.size(), GarbageMaxLength);
        answer.resize(length);
        for (uint8_t& b : answer) {
            do
                b = uint8_t(int(noise.Next() * 64 + 128) & 0xFF);
            while (b == AnswerStart);
        }
        return;
    }
    }
}

} // namespace vq31::sim
