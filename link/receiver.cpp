// Frame judging of the receive step: start byte, answer kind, length, CRC-8 or block sums.
#include "receiver.h"

#include <cstring>

namespace vq31 {

Receiver::Receiver() : buffer_(ReceiveBufferSize, 0) {}

void Receiver::Reset() {
    count_ = 0;
    accepted_ = false;
}

Receiver::Event Receiver::Report(Status status, bool accepted) {
    status_ = status;
    accepted_ = accepted;
    lastLength_ = count_;
    count_ = 0; // the next byte starts a new frame
    return Event::Report;
}

Receiver::Event Receiver::Silence() {
    if (count_ == 0)
        return Event::Idle;
    return Report(StatusBadLength, false);
}

Receiver::Event Receiver::Feed(uint8_t byte) {
    buffer_[count_++] = byte;
    if (count_ >= ReceiveBufferSize)
        return Report(StatusBadLength, false);
    if (buffer_[0] != AnswerStart)
        return Report(StatusBadAnswer, false);
    if (count_ < 4)
        return Event::More;
    return Judge();
}

Receiver::Event Receiver::Judge() {
    const uint8_t* b = buffer_.data();
    const AnswerKind kind = AnswerKindOf(b[2]);
    if (kind == AnswerKind::None)
        return Event::More;

    if (kind == AnswerKind::Oscillogram) {
        const size_t blocks = b[3];
        if (count_ < OscBlockSize * blocks)
            return Event::More;
        for (size_t i = 0; i < blocks; ++i) {
            const uint8_t* block = b + OscBlockSize * i;
            uint16_t sum = 0;
            for (size_t w = 0; w < OscWordsPerBlock; ++w)
                sum = uint16_t(sum + GetU16(block + OscBlockHead + 2 * w));
            if (GetU32(block + OscCheckOffset) != sum)
                return Report(StatusBadAnswer, false);
        }
        fields_.address = b[1];
        fields_.code = b[2];
        fields_.values = {};
        fields_.values[0] = uint32_t(blocks);
        return Report(StatusOk, true);
    }

    const size_t length = AnswerLength(kind);
    if (count_ < length)
        return Event::More;
    if (Crc8(uint8_t(length - 1), b) != b[length - 1])
        return Report(StatusCrcError, false);

    fields_.address = b[1];
    fields_.code = b[2];
    auto& v = fields_.values;
    v = {};
    Status status = StatusOk;
    switch (kind) {
    case AnswerKind::Acknowledgement:
        status = b[3] > 2 ? StatusBadParameter : Status(b[3]);
        break;
    case AnswerKind::Byte:
        v[0] = b[3];
        break;
    case AnswerKind::Word:
        v[0] = GetU16(b + 3);
        break;
    case AnswerKind::ByteWord:
        v[0] = b[3];
        v[1] = GetU16(b + 4);
        break;
    case AnswerKind::Long:
        v[0] = GetU32(b + 3);
        break;
    case AnswerKind::ByteTwoWords:
        v[0] = b[3];
        v[1] = GetU16(b + 4);
        v[2] = GetU16(b + 6);
        break;
    case AnswerKind::Identity:
        v[0] = GetU24(b + 3);
        v[1] = GetU24(b + 6);
        v[2] = b[9];
        v[3] = b[10];
        break;
    case AnswerKind::WordAt6:
        v[0] = GetU16(b + 6);
        break;
    case AnswerKind::FourBytes:
        v[0] = b[3];
        v[1] = b[4];
        v[2] = b[9];
        v[3] = b[10];
        break;
    case AnswerKind::TwoLongs:
        v[0] = GetU32(b + 3);
        v[1] = GetU32(b + 7);
        break;
    case AnswerKind::ByteTwoLongs:
        v[0] = b[3];
        v[1] = GetU32(b + 4);
        v[2] = GetU32(b + 8);
        break;
    case AnswerKind::Passport:
        v[0] = GetU24(b + 3);
        v[1] = GetU24(b + 6);
        v[2] = b[9];
        v[3] = b[10];
        v[4] = b[17];
        v[5] = b[19];
        v[6] = b[20];
        break;
    case AnswerKind::Block:
        std::memcpy(fields_.block.data(), b + 3, HubBlockSize);
        break;
    case AnswerKind::None:
    case AnswerKind::Oscillogram:
        break;
    }
    return Report(status, true);
}

} // namespace vq31
