// Gateway names and the choice of transport by name (portable).
#include "net_port.h"

#include <cstdlib>
#include <string_view>

namespace vq31 {

namespace {
constexpr std::string_view Rfc2217Scheme = "rfc2217://";
constexpr std::string_view RawTcpScheme = "tcp://";

bool StartsWith(const std::string& text, std::string_view prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}
} // namespace

bool IsGatewayName(const std::string& name) {
    return StartsWith(name, Rfc2217Scheme) || StartsWith(name, RawTcpScheme);
}

bool ParseGatewayName(const std::string& name, GatewayAddress& address, std::string& error) {
    GatewayAddress a;
    std::string rest;
    if (StartsWith(name, Rfc2217Scheme)) {
        a.kind = GatewayKind::Rfc2217;
        rest = name.substr(Rfc2217Scheme.size());
    } else if (StartsWith(name, RawTcpScheme)) {
        a.kind = GatewayKind::RawTcp;
        rest = name.substr(RawTcpScheme.size());
    } else {
        error = name + " is not a gateway (rfc2217://HOST:PORT or tcp://HOST:PORT)";
        return false;
    }
    std::string portText;
    if (!rest.empty() && rest[0] == '[') {
        const size_t close = rest.find(']');
        if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':') {
            error = name + ": an IPv6 address is written [ADDRESS]:PORT";
            return false;
        }
        a.host = rest.substr(1, close - 1);
        portText = rest.substr(close + 2);
    } else {
        const size_t colon = rest.rfind(':');
        if (colon == std::string::npos) {
            error = name + " needs a port number (HOST:PORT)";
            return false;
        }
        a.host = rest.substr(0, colon);
        portText = rest.substr(colon + 1);
        if (a.host.find(':') != std::string::npos) {
            error = name + ": an IPv6 address is written [ADDRESS]:PORT";
            return false;
        }
    }
    if (a.host.empty()) {
        error = name + " needs a host name or address";
        return false;
    }
    char* end = nullptr;
    const long port = portText.empty() ? 0 : std::strtol(portText.c_str(), &end, 10);
    if (portText.empty() || *end != '\0' || port < 1 || port > 65535) {
        error = name + ": the port must be a number from 1 to 65535";
        return false;
    }
    a.port = uint16_t(port);
    address = a;
    return true;
}

PortAbilities AbilitiesOfPort(const std::string& name) {
    PortAbilities abilities;
    if (!IsGatewayName(name))
        return abilities;
    abilities.network = true;
    abilities.silenceSlack = GatewaySilenceSlack;
    GatewayAddress address;
    std::string error;
    abilities.changeSpeed =
        !ParseGatewayName(name, address, error) || address.kind != GatewayKind::RawTcp;
    return abilities;
}

std::unique_ptr<SerialPort> MakePortFor(const std::string& name) {
    return IsGatewayName(name) ? MakeGatewayPort() : MakeSerialPort();
}

} // namespace vq31
