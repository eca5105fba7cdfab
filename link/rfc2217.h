// The telnet COM-PORT option (RFC 2217) as a pure state machine: it takes the bytes a
// gateway sends, hands back the serial data in them and the replies the option negotiation
// needs, and records the gateway's answers to the line settings. Nothing here touches a
// socket, so every step can be driven byte by byte in tests.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace vq31::telnet {

// Telnet commands (RFC 854).
inline constexpr uint8_t Iac = 255;
inline constexpr uint8_t Dont = 254;
inline constexpr uint8_t Do = 253;
inline constexpr uint8_t Wont = 252;
inline constexpr uint8_t Will = 251;
inline constexpr uint8_t Sb = 250;
inline constexpr uint8_t Se = 240;

// Options this client takes part in; every other option is refused.
inline constexpr uint8_t OptionBinary = 0;
inline constexpr uint8_t OptionSuppressGoAhead = 3;
inline constexpr uint8_t OptionComPort = 44;

// COM-PORT-OPTION commands from the client; the gateway answers with the code plus 100.
namespace comport {
inline constexpr uint8_t SetBaudRate = 1;
inline constexpr uint8_t SetDataSize = 2;
inline constexpr uint8_t SetParity = 3;
inline constexpr uint8_t SetStopSize = 4;
inline constexpr uint8_t SetControl = 5;
inline constexpr uint8_t ServerOffset = 100;
inline constexpr uint8_t DataSize8 = 8;
inline constexpr uint8_t ParityNone = 1;
inline constexpr uint8_t StopOne = 1;
inline constexpr uint8_t ControlNoFlow = 1;
inline constexpr uint8_t ControlDtrOff = 9;
inline constexpr uint8_t ControlRtsOff = 12;
} // namespace comport

class ComPortCodec {
public:
    enum class ComPort { Unknown, Accepted, Refused };

    // Decodes bytes from the gateway: serial data is appended to data, replies the
    // negotiation needs (to be sent back at once) to reply.
    void Take(const uint8_t* in, size_t length, std::vector<uint8_t>& data,
              std::vector<uint8_t>& reply);

    // Serial data for the gateway, with every 0xFF doubled.
    static void Escape(const uint8_t* in, size_t length, std::vector<uint8_t>& out);
    // The client's opening: it will use the COM-PORT option and binary transmission both
    // ways. Marks those options as asked, so the gateway's agreement draws no reply.
    std::vector<uint8_t> Offer();
    // Speed, 8 data bits, no parity, one stop bit, no flow control, DTR and RTS off. Clears
    // the answers recorded so far.
    std::vector<uint8_t> LineSettings(uint32_t baudRate);

    ComPort comPort() const { return comPort_; }
    // The gateway's answer to a set command (SetBaudRate .. SetControl), if one came. A
    // gateway in front of a terminal without modem lines may never answer the DTR and RTS
    // requests; they are sent after the settings that matter and never waited for.
    std::optional<uint32_t> Answer(uint8_t command) const;

private:
    enum class State { Data, Command, Verb, Sub, SubCommand };
    void Negotiate(uint8_t verb, uint8_t option, std::vector<uint8_t>& reply);
    void SubOption();

    static bool Supported(uint8_t option) {
        return option == OptionBinary || option == OptionSuppressGoAhead || option == OptionComPort;
    }

    State state_ = State::Data;
    uint8_t verb_ = 0;
    std::vector<uint8_t> sub_;           // the option and its bytes, without IAC SB / IAC SE
    std::array<bool, 256> localOn_{};    // we said WILL and the gateway agreed (or asked)
    std::array<bool, 256> localAsked_{}; // we said WILL and wait for DO or DONT
    std::array<bool, 256> remoteOn_{};   // the gateway said WILL and we agreed (or asked)
    std::array<bool, 256> remoteAsked_{};
    ComPort comPort_ = ComPort::Unknown;
    std::array<std::optional<uint32_t>, 6> answers_{};
};

} // namespace vq31::telnet
