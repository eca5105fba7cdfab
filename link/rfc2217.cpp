// Telnet decoding and the COM-PORT option's negotiation (see rfc2217.h).
#include "rfc2217.h"

namespace vq31::telnet {

namespace {
// A longer subnegotiation is kept only up to this size; the option's answers are short.
constexpr size_t MaxSubLength = 64;

void PutCommand(std::vector<uint8_t>& out, uint8_t verb, uint8_t option) {
    out.push_back(Iac);
    out.push_back(verb);
    out.push_back(option);
}

void PutSet(std::vector<uint8_t>& out, uint8_t command, const std::vector<uint8_t>& value) {
    out.insert(out.end(), {Iac, Sb, OptionComPort, command});
    ComPortCodec::Escape(value.data(), value.size(), out);
    out.insert(out.end(), {Iac, Se});
}
} // namespace

void ComPortCodec::Take(const uint8_t* in, size_t length, std::vector<uint8_t>& data,
                        std::vector<uint8_t>& reply) {
    for (size_t i = 0; i < length; ++i) {
        const uint8_t b = in[i];
        switch (state_) {
        case State::Data:
            if (b == Iac)
                state_ = State::Command;
            else
                data.push_back(b);
            break;
        case State::Command:
            if (b == Iac) {
                data.push_back(Iac); // an escaped 0xFF
                state_ = State::Data;
            } else if (b >= Will && b <= Dont) {
                verb_ = b;
                state_ = State::Verb;
            } else if (b == Sb) {
                sub_.clear();
                state_ = State::Sub;
            } else {
                state_ = State::Data; // a bare command (NOP, go-ahead, ...) carries nothing
            }
            break;
        case State::Verb:
            Negotiate(verb_, b, reply);
            state_ = State::Data;
            break;
        case State::Sub:
            if (b == Iac)
                state_ = State::SubCommand;
            else if (sub_.size() < MaxSubLength)
                sub_.push_back(b);
            break;
        case State::SubCommand:
            if (b == Se) {
                SubOption();
                state_ = State::Data;
            } else {
                // IAC IAC is a 0xFF inside the subnegotiation; anything else is malformed
                // and kept as it stands, so the next IAC SE still ends it.
                if (sub_.size() < MaxSubLength)
                    sub_.push_back(b);
                state_ = State::Sub;
            }
            break;
        }
    }
}

void ComPortCodec::Negotiate(uint8_t verb, uint8_t option, std::vector<uint8_t>& reply) {
    // Replies go out only when an option's state changes, so two peers never loop.
    switch (verb) {
    case Do:
        if (!Supported(option)) {
            PutCommand(reply, Wont, option);
            break;
        }
        if (!localOn_[option] && !localAsked_[option])
            PutCommand(reply, Will, option);
        localOn_[option] = true;
        localAsked_[option] = false;
        if (option == OptionComPort)
            comPort_ = ComPort::Accepted;
        break;
    case Dont:
        if (localOn_[option])
            PutCommand(reply, Wont, option);
        localOn_[option] = false;
        localAsked_[option] = false;
        if (option == OptionComPort)
            comPort_ = ComPort::Refused;
        break;
    case Will:
        if (option == OptionComPort || !Supported(option)) {
            // The gateway offers a service of its own: the COM-PORT option runs from the
            // client only, and nothing else is wanted.
            PutCommand(reply, Dont, option);
            break;
        }
        if (!remoteOn_[option] && !remoteAsked_[option])
            PutCommand(reply, Do, option);
        remoteOn_[option] = true;
        remoteAsked_[option] = false;
        break;
    case Wont:
        if (remoteOn_[option])
            PutCommand(reply, Dont, option);
        remoteOn_[option] = false;
        remoteAsked_[option] = false;
        break;
    default:
        break;
    }
}

void ComPortCodec::SubOption() {
    if (sub_.size() < 2 || sub_[0] != OptionComPort || sub_[1] <= comport::ServerOffset)
        return;
    const uint8_t command = uint8_t(sub_[1] - comport::ServerOffset);
    if (command < comport::SetBaudRate || command > comport::SetControl)
        return; // line and modem state notices, flow suspension: nothing to act on
    const size_t need = command == comport::SetBaudRate ? 4 : 1;
    if (sub_.size() < 2 + need)
        return;
    uint32_t value = 0;
    for (size_t i = 0; i < need; ++i)
        value = value << 8 | sub_[2 + i];
    answers_[command] = value;
}

void ComPortCodec::Escape(const uint8_t* in, size_t length, std::vector<uint8_t>& out) {
    for (size_t i = 0; i < length; ++i) {
        out.push_back(in[i]);
        if (in[i] == Iac)
            out.push_back(Iac);
    }
}

std::vector<uint8_t> ComPortCodec::Offer() {
    std::vector<uint8_t> out;
    PutCommand(out, Will, OptionComPort);
    PutCommand(out, Will, OptionBinary);
    PutCommand(out, Do, OptionBinary);
    localAsked_[OptionComPort] = !localOn_[OptionComPort];
    localAsked_[OptionBinary] = !localOn_[OptionBinary];
    remoteAsked_[OptionBinary] = !remoteOn_[OptionBinary];
    return out;
}

std::vector<uint8_t> ComPortCodec::LineSettings(uint32_t baudRate) {
    answers_ = {};
    std::vector<uint8_t> out;
    PutSet(out, comport::SetBaudRate,
           {uint8_t(baudRate >> 24), uint8_t(baudRate >> 16), uint8_t(baudRate >> 8),
            uint8_t(baudRate)});
    PutSet(out, comport::SetDataSize, {comport::DataSize8});
    PutSet(out, comport::SetParity, {comport::ParityNone});
    PutSet(out, comport::SetStopSize, {comport::StopOne});
    PutSet(out, comport::SetControl, {comport::ControlNoFlow});
    PutSet(out, comport::SetControl, {comport::ControlDtrOff});
    PutSet(out, comport::SetControl, {comport::ControlRtsOff});
    return out;
}

std::optional<uint32_t> ComPortCodec::Answer(uint8_t command) const {
    if (command >= answers_.size())
        return std::nullopt;
    return answers_[command];
}

} // namespace vq31::telnet
