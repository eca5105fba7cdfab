// The telnet COM-PORT codec driven byte by byte, and the gateway names: what a gateway sends
// is split into serial data, negotiation replies and line-setting answers.
#include "net_port.h"
#include "rfc2217.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vq31::telnet {
namespace {

using Bytes = std::vector<uint8_t>;

struct Decoded {
    Bytes data;
    Bytes reply;
};

// Feeds the input in pieces of the given size (0: all at once).
Decoded Feed(ComPortCodec& codec, const Bytes& in, size_t piece = 0) {
    Decoded out;
    const size_t step = piece == 0 ? in.size() : piece;
    for (size_t i = 0; i < in.size(); i += step)
        codec.Take(in.data() + i, std::min(step, in.size() - i), out.data, out.reply);
    return out;
}

TEST(ComPortCodec, DataSurvivesEscapingInBothDirectionsWhateverThePieces) {
    const std::vector<Bytes> frames = {
        {0x31, 0x01, 0x42, 0x9C},
        {0xFF},
        {0xFF, 0xFF, 0x3E, 0xFF},
        {0x0D, 0x00, 0x0D, 0x0A, 0xF0, 0xFA}, // CR NUL and telnet command values as data
    };
    for (const Bytes& frame : frames) {
        Bytes escaped;
        ComPortCodec::Escape(frame.data(), frame.size(), escaped);
        size_t iacs = 0;
        for (uint8_t b : frame)
            iacs += b == Iac;
        EXPECT_EQ(escaped.size(), frame.size() + iacs);
        for (size_t piece : {size_t(0), size_t(1), size_t(2)}) {
            ComPortCodec codec;
            const Decoded d = Feed(codec, escaped, piece);
            EXPECT_EQ(d.data, frame) << "piece " << piece;
            EXPECT_TRUE(d.reply.empty());
        }
    }
}

TEST(ComPortCodec, NegotiationIsAnsweredOnlyWhereTheStateChanges) {
    struct Case {
        const char* what;
        Bytes in;
        Bytes reply;
        ComPortCodec::ComPort comPort;
    };
    const std::vector<Case> cases = {
        {"agreement to our offer", {Iac, Do, OptionComPort}, {}, ComPortCodec::ComPort::Accepted},
        {"refusal of the option", {Iac, Dont, OptionComPort}, {}, ComPortCodec::ComPort::Refused},
        {"gateway's echo is declined",
         {Iac, Will, 1},
         {Iac, Dont, 1},
         ComPortCodec::ComPort::Unknown},
        {"terminal type is refused",
         {Iac, Do, 24},
         {Iac, Wont, 24},
         ComPortCodec::ComPort::Unknown},
        {"binary agreed as offered",
         {Iac, Will, OptionBinary, Iac, Do, OptionBinary},
         {},
         ComPortCodec::ComPort::Unknown},
        {"go-ahead suppression is taken up",
         {Iac, Do, OptionSuppressGoAhead},
         {Iac, Will, OptionSuppressGoAhead},
         ComPortCodec::ComPort::Unknown},
        {"the option from the gateway's side is declined",
         {Iac, Will, OptionComPort},
         {Iac, Dont, OptionComPort},
         ComPortCodec::ComPort::Unknown},
        {"a repeated agreement draws nothing",
         {Iac, Do, 3, Iac, Do, 3},
         {Iac, Will, 3},
         ComPortCodec::ComPort::Unknown},
        {"withdrawn binary is acknowledged",
         {Iac, Will, 0, Iac, Wont, 0},
         {Iac, Dont, 0},
         ComPortCodec::ComPort::Unknown},
        {"a bare command carries nothing", {Iac, 241, 0x41}, {}, ComPortCodec::ComPort::Unknown},
    };
    for (const Case& c : cases) {
        ComPortCodec codec;
        codec.Offer();
        const Decoded d = Feed(codec, c.in, 1);
        EXPECT_EQ(d.reply, c.reply) << c.what;
        EXPECT_EQ(codec.comPort(), c.comPort) << c.what;
        EXPECT_EQ(d.data,
                  c.what == std::string("a bare command carries nothing") ? Bytes{0x41} : Bytes{})
            << c.what;
    }
}

// The opening ser2net 4 sends on a telnet(rfc2217) accepter, as recorded from it.
TEST(ComPortCodec, Ser2netsGreetingLeavesTheOptionAcceptedAndDeclinesEcho) {
    const Bytes greeting = {0xff, 0xfb, 0x03, 0xff, 0xfd, 0x03, 0xff, 0xfb, 0x01, 0xff, 0xfe,
                            0x01, 0xff, 0xfd, 0x00, 0xff, 0xfb, 0x00, 0xff, 0xfd, 0x2c};
    ComPortCodec codec;
    codec.Offer();
    const Decoded d = Feed(codec, greeting);
    EXPECT_EQ(codec.comPort(), ComPortCodec::ComPort::Accepted);
    EXPECT_TRUE(d.data.empty());
    EXPECT_EQ(d.reply, (Bytes{Iac, Do, 3, Iac, Will, 3, Iac, Dont, 1}));
}

TEST(ComPortCodec, LineSettingsAreTheOptionsSetCommandsInOrder) {
    ComPortCodec codec;
    const Bytes expected = {
        Iac, Sb, 44, 1, 0x00, 0x01, 0xC2, 0x00, Iac, Se, // 115200
        Iac, Sb, 44, 2, 8,    Iac,  Se,                  // 8 data bits
        Iac, Sb, 44, 3, 1,    Iac,  Se,                  // no parity
        Iac, Sb, 44, 4, 1,    Iac,  Se,                  // one stop bit
        Iac, Sb, 44, 5, 1,    Iac,  Se,                  // no flow control
        Iac, Sb, 44, 5, 9,    Iac,  Se,                  // DTR off
        Iac, Sb, 44, 5, 12,   Iac,  Se,                  // RTS off
    };
    EXPECT_EQ(codec.LineSettings(115200), expected);
    // A speed with 0xFF in it is escaped inside the subnegotiation.
    const Bytes odd = codec.LineSettings(0x0000FFFF);
    EXPECT_EQ(Bytes(odd.begin(), odd.begin() + 12),
              (Bytes{Iac, Sb, 44, 1, 0, 0, Iac, Iac, Iac, Iac, Iac, Se}));
}

TEST(ComPortCodec, AnswersAreRecordedByCommandAndNoticesIgnored) {
    struct Case {
        const char* what;
        Bytes in;
        uint8_t command;
        std::optional<uint32_t> value;
    };
    const std::vector<Case> cases = {
        {"speed", {Iac, Sb, 44, 101, 0, 0, 0x4B, 0, Iac, Se}, comport::SetBaudRate, 19200},
        {"escaped speed",
         {Iac, Sb, 44, 101, 0, 0, Iac, Iac, Iac, Iac, Iac, Se},
         comport::SetBaudRate,
         0xFFFF},
        {"data size", {Iac, Sb, 44, 102, 8, Iac, Se}, comport::SetDataSize, 8},
        {"parity", {Iac, Sb, 44, 103, 1, Iac, Se}, comport::SetParity, 1},
        {"stop bits", {Iac, Sb, 44, 104, 2, Iac, Se}, comport::SetStopSize, 2},
        {"modem state notice",
         {Iac, Sb, 44, 107, 0x30, Iac, Se},
         comport::SetControl,
         std::nullopt},
        {"short speed answer",
         {Iac, Sb, 44, 101, 0, 0x4B, Iac, Se},
         comport::SetBaudRate,
         std::nullopt},
        {"another option's subnegotiation",
         {Iac, Sb, 24, 101, 1, 2, 3, 4, Iac, Se},
         comport::SetBaudRate,
         std::nullopt},
    };
    for (const Case& c : cases) {
        for (size_t piece : {size_t(0), size_t(1)}) {
            ComPortCodec codec;
            Bytes in = c.in;
            in.push_back(0x3E); // data after the answer is still data
            const Decoded d = Feed(codec, in, piece);
            EXPECT_EQ(codec.Answer(c.command), c.value) << c.what;
            EXPECT_EQ(d.data, Bytes{0x3E}) << c.what;
        }
    }
}

TEST(GatewayNames, WellFormedNamesSplitAndOthersAreRefusedWithTheirCause) {
    struct Case {
        std::string name;
        bool ok;
        GatewayKind kind;
        std::string host;
        uint16_t port;
        std::string cause; // a part of the message
    };
    const std::vector<Case> cases = {
        {"rfc2217://127.0.0.1:2217", true, GatewayKind::Rfc2217, "127.0.0.1", 2217, ""},
        {"tcp://depot-gw.example:4001", true, GatewayKind::RawTcp, "depot-gw.example", 4001, ""},
        {"rfc2217://[::1]:7000", true, GatewayKind::Rfc2217, "::1", 7000, ""},
        {"tcp://[fe80::1%eth0]:1", true, GatewayKind::RawTcp, "fe80::1%eth0", 1, ""},
        {"tcp://host", false, GatewayKind::None, "", 0, "port number"},
        {"tcp://host:0", false, GatewayKind::None, "", 0, "1 to 65535"},
        {"tcp://host:65536", false, GatewayKind::None, "", 0, "1 to 65535"},
        {"tcp://host:40x", false, GatewayKind::None, "", 0, "1 to 65535"},
        {"rfc2217://:2217", false, GatewayKind::None, "", 0, "host"},
        {"rfc2217://::1:7000", false, GatewayKind::None, "", 0, "[ADDRESS]:PORT"},
        {"rfc2217://[::1]7000", false, GatewayKind::None, "", 0, "[ADDRESS]:PORT"},
        {"/dev/ttyUSB0", false, GatewayKind::None, "", 0, "not a gateway"},
    };
    for (const Case& c : cases) {
        GatewayAddress a;
        std::string error;
        EXPECT_EQ(ParseGatewayName(c.name, a, error), c.ok) << c.name;
        EXPECT_EQ(IsGatewayName(c.name), c.name[0] != '/') << c.name;
        if (c.ok) {
            EXPECT_EQ(a.kind, c.kind) << c.name;
            EXPECT_EQ(a.host, c.host) << c.name;
            EXPECT_EQ(a.port, c.port) << c.name;
        } else {
            EXPECT_NE(error.find(c.cause), std::string::npos) << c.name << ": " << error;
        }
    }
}

TEST(GatewayNames, OnlyARawGatewayKeepsItsOwnSpeed) {
    EXPECT_FALSE(AbilitiesOfPort("tcp://10.0.0.5:4001").changeSpeed);
    EXPECT_TRUE(AbilitiesOfPort("rfc2217://10.0.0.5:2217").changeSpeed);
    EXPECT_TRUE(AbilitiesOfPort("/dev/ttyUSB0").changeSpeed);
    EXPECT_TRUE(AbilitiesOfPort("tcp://10.0.0.5:4001").network);
    EXPECT_FALSE(AbilitiesOfPort("/dev/ttyUSB0").network);
}

} // namespace
} // namespace vq31::telnet
