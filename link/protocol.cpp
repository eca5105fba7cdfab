// Protocol tables, frame building, checksums and link-speed arithmetic.
#include "protocol.h"

#include <array>
#include <cstring>

namespace vq31 {

RequestLayout RequestLayoutOf(uint8_t code) {
    switch (code) {
    case 0x06:
    case 0x21:
    case 0x25:
    case 0x27:
    case 0x29:
    case 0x2B:
    case 0x2D:
    case 0x2F:
    case 0x31:
    case 0x33:
    case 0x36:
    case 0x38:
    case 0x41:
    case 0x42:
    case 0x51:
    case 0x60:
    case 0x6F:
    case 0x71:
    case 0x73:
    case 0x74:
    case 0x80:
    case 0x84:
    case 0x94:
        return RequestLayout::Bare;
    case 0x22:
    case 0x28:
    case 0x2A:
    case 0x32:
    case 0x54:
    case 0x55:
    case 0x56:
    case 0x57:
    case 0x6D:
    case 0x72:
        return RequestLayout::Byte;
    case 0x24:
    case 0x26:
    case 0x2C:
    case 0x2E:
    case 0x39:
    case 0x70:
        return RequestLayout::Word;
    case 0x20:
    case 0x37:
    case 0x5F:
        return RequestLayout::Long;
    case 0x30:
        return RequestLayout::ByteWord;
    case 0x43:
        return RequestLayout::ThreePart;
    case 0x6E:
        return RequestLayout::ByteBlock;
    case 0x93:
        return RequestLayout::ByteTwoLongs;
    default:
        return RequestLayout::None;
    }
}

size_t RequestLength(RequestLayout layout) {
    switch (layout) {
    case RequestLayout::None:
        return 0;
    case RequestLayout::Bare:
        return 4;
    case RequestLayout::Byte:
        return 5;
    case RequestLayout::Word:
        return 6;
    case RequestLayout::Long:
        return 8;
    case RequestLayout::ByteWord:
        return 7;
    case RequestLayout::ThreePart:
        return 11;
    case RequestLayout::ByteBlock:
        return 133;
    case RequestLayout::ByteTwoLongs:
        return 13;
    }
    return 0;
}

AnswerKind AnswerKindOf(uint8_t code) {
    switch (code) {
    case 0x20:
    case 0x24:
    case 0x26:
    case 0x28:
    case 0x2A:
    case 0x2C:
    case 0x2E:
    case 0x30:
    case 0x32:
    case 0x36:
    case 0x37:
    case 0x39:
    case 0x43:
    case 0x54:
    case 0x55:
    case 0x56:
    case 0x57:
    case 0x5F:
    case 0x6E:
    case 0x70:
    case 0x72:
    case 0x93:
        return AnswerKind::Acknowledgement;
    case 0x29:
    case 0x2B:
    case 0x33:
    case 0x71:
        return AnswerKind::Byte;
    case 0x25:
    case 0x27:
    case 0x2D:
    case 0x2F:
    case 0x38:
    case 0x6F:
        return AnswerKind::Word;
    case 0x31:
        return AnswerKind::ByteWord;
    case 0x21:
    case 0x73:
    case 0x80:
        return AnswerKind::Long;
    case 0x06:
    case 0x74:
        return AnswerKind::ByteTwoWords;
    case 0x42:
        return AnswerKind::Identity;
    case 0x51:
        return AnswerKind::WordAt6;
    case 0x60:
        return AnswerKind::FourBytes;
    case 0x84:
        return AnswerKind::TwoLongs;
    case 0x94:
        return AnswerKind::ByteTwoLongs;
    case 0x41:
        return AnswerKind::Passport;
    case 0x6D:
        return AnswerKind::Block;
    case 0x22:
        return AnswerKind::Oscillogram;
    default:
        return AnswerKind::None;
    }
}

size_t AnswerLength(AnswerKind kind) {
    switch (kind) {
    case AnswerKind::None:
        return 0;
    case AnswerKind::Acknowledgement:
        return 5;
    case AnswerKind::Byte:
        return 5;
    case AnswerKind::Word:
        return 6;
    case AnswerKind::ByteWord:
        return 7;
    case AnswerKind::Long:
        return 8;
    case AnswerKind::ByteTwoWords:
        return 9;
    case AnswerKind::Identity:
        return 12;
    case AnswerKind::WordAt6:
        return 12;
    case AnswerKind::FourBytes:
        return 12;
    case AnswerKind::TwoLongs:
        return 12;
    case AnswerKind::ByteTwoLongs:
        return 13;
    case AnswerKind::Passport:
        return 22;
    case AnswerKind::Block:
        return 132;
    case AnswerKind::Oscillogram:
        return 0;
    }
    return 0;
}

size_t BuildRequest(const RequestFields& r, uint8_t* out) {
    const RequestLayout layout = RequestLayoutOf(r.code);
    const size_t length = RequestLength(layout);
    if (length == 0)
        return 0;
    out[0] = RequestStart;
    out[1] = r.address;
    out[2] = r.code;
    uint8_t* p = out + 3;
    switch (layout) {
    case RequestLayout::None:
    case RequestLayout::Bare:
        break;
    case RequestLayout::Byte:
        p[0] = uint8_t(r.value);
        break;
    case RequestLayout::Word:
        PutU16(p, r.value);
        break;
    case RequestLayout::Long:
        PutU32(p, r.value);
        break;
    case RequestLayout::ByteWord:
        p[0] = uint8_t(r.value);
        PutU16(p + 1, r.extra1);
        break;
    case RequestLayout::ThreePart:
        PutU24(p, r.value);
        PutU24(p + 3, r.extra1);
        p[6] = uint8_t(r.extra2);
        break;
    case RequestLayout::ByteBlock:
        p[0] = uint8_t(r.value);
        if (r.block)
            std::memcpy(p + 1, r.block, HubBlockSize);
        else
            std::memset(p + 1, 0, HubBlockSize);
        break;
    case RequestLayout::ByteTwoLongs:
        p[0] = uint8_t(r.value);
        PutU32(p + 1, r.extra1);
        PutU32(p + 5, r.extra2);
        break;
    }
    out[length - 1] = Crc8(uint8_t(length - 1), out);
    return length;
}

uint8_t Crc8(uint8_t length, const uint8_t* bytes) {
    // Table form of the bitwise rule: for each bit, shift right and fold in 0x8C when the
    // low bit of (crc ^ byte) is set.
    static constexpr auto table = [] {
        std::array<uint8_t, 256> t{};
        for (int i = 0; i < 256; ++i) {
            uint8_t crc = uint8_t(i);
            for (int b = 0; b < 8; ++b)
                crc = (crc & 1) ? uint8_t((crc >> 1) ^ 0x8C) : uint8_t(crc >> 1);
            t[size_t(i)] = crc;
        }
        return t;
    }();
    uint8_t crc = 0;
    for (unsigned i = 0; i < length; ++i)
        crc = table[crc ^ bytes[i]];
    return crc;
}

uint16_t Sum16(const uint16_t* words, size_t count) {
    uint16_t sum = 0;
    for (size_t i = 0; i < count; ++i)
        sum = uint16_t(sum + words[i]);
    return sum;
}

std::chrono::milliseconds IdleTimeout(uint32_t baudRate) {
    switch (baudRate) {
    case 2400:
        return std::chrono::milliseconds(30);
    case 4800:
        return std::chrono::milliseconds(23);
    case 9600:
        return std::chrono::milliseconds(19);
    case 14400:
        return std::chrono::milliseconds(18);
    default:
        return std::chrono::milliseconds(17);
    }
}

uint32_t WireMilliseconds(uint32_t bytes, uint32_t baudRate) {
    if (baudRate == 0)
        return 0;
    return uint32_t(bytes * 10000u) / baudRate;
}

uint32_t ExchangeBudgetMs(uint32_t bytes, uint32_t baudRate) {
    return WireMilliseconds(bytes, baudRate) + uint32_t(AnswerByteWindow.count());
}

} // namespace vq31
