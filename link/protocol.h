// Byte-level protocol of the VQ31 sensor: start bytes, command codes, status codes, the
// request layout and answer kind of every command code, CRC-8 and the oscillogram block
// sum, and the time arithmetic that follows from the link speed. Shared by the tool's link
// and the simulated sensor, so both sides read the same tables.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace vq31 {

// Start bytes of the two frame directions.
inline constexpr uint8_t RequestStart = 0x31; // "1"
inline constexpr uint8_t AnswerStart = 0x3E;  // ">"
inline constexpr uint8_t BroadcastAddress = 255;

// Longest request (byte + block) and the receive buffer size; a frame that reaches the
// buffer size without completing is rejected.
inline constexpr size_t MaxRequestLength = 133;
inline constexpr size_t ReceiveBufferSize = 37500;
inline constexpr size_t HubBlockSize = 128;

// Oscillogram answer geometry: N blocks of 140 bytes, 64 words of data in each.
inline constexpr size_t OscBlockSize = 140;
inline constexpr size_t OscBlockHead = 8;
inline constexpr size_t OscWordsPerBlock = 64;
inline constexpr size_t OscDataBytes = OscWordsPerBlock * 2;
inline constexpr size_t OscCheckOffset = OscBlockHead + OscDataBytes; // 136
inline constexpr size_t OscMaxBlocks = 255;
inline constexpr size_t EchoStatusWords = 64;
inline constexpr size_t SampleBlocks = 249;
inline constexpr size_t SampleCount = SampleBlocks * OscWordsPerBlock; // 15 936

// Outcome of every exchange.
using Status = int32_t;
inline constexpr Status StatusOk = 0;
inline constexpr Status StatusNotExecuted = 1;
inline constexpr Status StatusBadParameter = 2;
inline constexpr Status StatusCrcError = 3;
inline constexpr Status StatusBadLength = 4;
inline constexpr Status StatusBadAnswer = 5;
inline constexpr Status StatusNoAnswer = 6;
inline constexpr Status StatusWriteError = 7;
inline constexpr Status StatusPortError = 8;
inline constexpr Status StatusReceiving = 9; // internal: answer bytes are arriving

// Device command codes.
namespace cmd {
inline constexpr uint8_t WakeUp = 0x06;
inline constexpr uint8_t WriteIntegrator = 0x20;
inline constexpr uint8_t ReadIntegrator = 0x21;
inline constexpr uint8_t ReadOscillogram = 0x22;
inline constexpr uint8_t WriteGain = 0x24;
inline constexpr uint8_t ReadGain = 0x25;
inline constexpr uint8_t WriteFrequency = 0x26;
inline constexpr uint8_t ReadFrequency = 0x27;
inline constexpr uint8_t WritePulseWidth = 0x28;
inline constexpr uint8_t ReadPulseWidth = 0x29;
inline constexpr uint8_t WriteAttenuator = 0x2A;
inline constexpr uint8_t ReadAttenuator = 0x2B;
inline constexpr uint8_t WriteFilter = 0x2C;
inline constexpr uint8_t ReadFilter = 0x2D;
inline constexpr uint8_t SetSweep = 0x30;
inline constexpr uint8_t WritePostFilter = 0x32;
inline constexpr uint8_t ReadPostFilter = 0x33;
inline constexpr uint8_t EnterFastMode = 0x36;
inline constexpr uint8_t WriteDisplayTest = 0x37;
inline constexpr uint8_t ReadTankHeight = 0x38;
inline constexpr uint8_t WriteTankHeight = 0x39;
inline constexpr uint8_t ReadPassport = 0x41;
inline constexpr uint8_t ReadIdentity = 0x42;
inline constexpr uint8_t WriteAutoPeriod = 0x54;
inline constexpr uint8_t WriteLinkFlags = 0x55;
inline constexpr uint8_t WriteAddress = 0x56;
inline constexpr uint8_t WriteTareMode = 0x57;
inline constexpr uint8_t ReadOutputSettings = 0x60;
inline constexpr uint8_t ReadHubBlock = 0x6D;
inline constexpr uint8_t WriteHubBlock = 0x6E;
inline constexpr uint8_t ReadTankId = 0x6F;
inline constexpr uint8_t WriteTankId = 0x70;
inline constexpr uint8_t ReadMode = 0x71;
inline constexpr uint8_t WriteMode = 0x72;
inline constexpr uint8_t ReadTuneProgress = 0x73;
inline constexpr uint8_t ReadModelCode = 0x80;
inline constexpr uint8_t WriteFuelSettings = 0x93;
inline constexpr uint8_t ReadFuelSettings = 0x94;
// Known to the framing tables but issued by no job.
inline constexpr uint8_t WriteWord2E = 0x2E;
inline constexpr uint8_t ReadWord2F = 0x2F;
inline constexpr uint8_t ReadByteWord31 = 0x31;
inline constexpr uint8_t WriteThreePart43 = 0x43;
inline constexpr uint8_t ReadWordAt6_51 = 0x51;
inline constexpr uint8_t WriteLong5F = 0x5F;
inline constexpr uint8_t ReadLike06_74 = 0x74;
inline constexpr uint8_t ReadTwoLongs84 = 0x84;
} // namespace cmd

// The model word "VQ31" as the little-endian 32-bit value of answer bytes 3..6.
inline constexpr uint32_t SupportedModelCode =
    uint32_t('V') | uint32_t('Q') << 8 | uint32_t('3') << 16 | uint32_t('1') << 24;

enum class RequestLayout : uint8_t {
    None, // no layout: nothing is written for this code
    Bare,
    Byte,
    Word,
    Long,
    ByteWord,
    ThreePart,
    ByteBlock,
    ByteTwoLongs,
};

enum class AnswerKind : uint8_t {
    None, // no answer kind: the frame ends only by silence or overflow
    Acknowledgement,
    Byte,
    Word,
    ByteWord,
    Long,
    ByteTwoWords,
    Identity,
    WordAt6,
    FourBytes,
    TwoLongs,
    ByteTwoLongs,
    Passport,
    Block,
    Oscillogram,
};

RequestLayout RequestLayoutOf(uint8_t code);
// Whole request frame length for a layout, start byte and CRC included; 0 for None.
size_t RequestLength(RequestLayout layout);
AnswerKind AnswerKindOf(uint8_t code);
// Fixed answer frame length of a kind; 0 for None and for the oscillogram (140 x N).
size_t AnswerLength(AnswerKind kind);

// The fields a request carries besides code and address.
struct RequestFields {
    uint8_t code = 0;
    uint8_t address = 0;
    uint32_t value = 0;
    uint32_t extra1 = 0;
    uint32_t extra2 = 0;
    const uint8_t* block = nullptr; // 128 bytes for the hub block write
};

// Builds the request frame into out (at least MaxRequestLength bytes). Returns the frame
// length, or 0 when the code has no layout.
size_t BuildRequest(const RequestFields& request, uint8_t* out);

// CRC-8/MAXIM-DOW (reflected 0x31, initial 0, no final XOR). Length is one byte.
uint8_t Crc8(uint8_t length, const uint8_t* bytes);
// Sum of 16-bit words, modulo 2^16.
uint16_t Sum16(const uint16_t* words, size_t count);

// Little-endian field helpers.
inline uint32_t GetU16(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8;
}
inline uint32_t GetU24(const uint8_t* p) {
    return GetU16(p) | uint32_t(p[2]) << 16;
}
inline uint32_t GetU32(const uint8_t* p) {
    return GetU24(p) | uint32_t(p[3]) << 24;
}
inline void PutU16(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void PutU24(uint8_t* p, uint32_t v) {
    PutU16(p, v);
    p[2] = uint8_t(v >> 16);
}
inline void PutU32(uint8_t* p, uint32_t v) {
    PutU24(p, v);
    p[3] = uint8_t(v >> 24);
}

// The longest silence tolerated inside an answer, which is also the silence that marks the
// line idle before a request may leave: 30 ms at 2400, 23 at 4800, 19 at 9600, 18 at 14400,
// 17 ms at every other speed.
std::chrono::milliseconds IdleTimeout(uint32_t baudRate);

// Wire time of a byte count at a speed, 10 bit times a byte, in whole milliseconds
// (unsigned 32-bit arithmetic, as the budgets use it).
uint32_t WireMilliseconds(uint32_t bytes, uint32_t baudRate);
// Window in which an answer must show its first byte, and the slack added to every budget.
inline constexpr std::chrono::milliseconds AnswerByteWindow{500};
// Send and answer budgets: bytes x 10000 / speed + 500 ms.
uint32_t ExchangeBudgetMs(uint32_t bytes, uint32_t baudRate);

} // namespace vq31
