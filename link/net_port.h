// Network serial gateways behind the serial port seam: rfc2217://HOST:PORT (telnet with the
// COM-PORT option, so speed and line settings follow the tool) and tcp://HOST:PORT (raw
// bytes at the gateway's own speed). The tool only ever connects out; it never listens.
#pragma once

#include "serial_port.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace vq31 {

enum class GatewayKind { None, Rfc2217, RawTcp };

struct GatewayAddress {
    GatewayKind kind = GatewayKind::None;
    std::string host; // a name, an IPv4 address or an IPv6 address without brackets
    uint16_t port = 0;
};

// Bounds of a connection: the TCP connect (name look-up included) and the option's
// negotiation each get this long.
inline constexpr std::chrono::milliseconds GatewayConnectTimeout{5000};
// Slack on the idle time-out inside an answer from a gateway: ser2net holds serial bytes up
// to 20 ms before sending them on, and the network adds its jitter.
inline constexpr std::chrono::milliseconds GatewaySilenceSlack{150};

// True when the name has a gateway's form (rfc2217:// or tcp://), well formed or not.
bool IsGatewayName(const std::string& name);
// Splits a gateway's name; false with the cause in error when it is not one or is malformed.
// IPv6 addresses are written in brackets: rfc2217://[::1]:2217.
bool ParseGatewayName(const std::string& name, GatewayAddress& address, std::string& error);
// What the transport of a port name can do, known before it is opened.
PortAbilities AbilitiesOfPort(const std::string& name);

// The network transport (on a build without it, every open fails saying so).
std::unique_ptr<SerialPort> MakeGatewayPort();

// Whether a gateway accepts a connection now (it is closed again at once without a byte
// sent); used to tell when a stopped gateway is back.
bool GatewayReachable(const std::string& name,
                      std::chrono::milliseconds timeout = GatewayConnectTimeout);

} // namespace vq31
