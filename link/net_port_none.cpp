// The network transport on a build without it (Windows): a gateway's name is recognised and
// refused with a clear message, so it is never taken for a port that does not exist.
#include "net_port.h"

namespace vq31 {

namespace {
class NoGatewayPort final : public SerialPort {
public:
    bool Open(const std::string& name, uint32_t) override {
        error_ = name + ": network gateways (rfc2217://, tcp://) are not supported on this "
                        "build; connect through a serial port";
        return false;
    }
    void Close() override {}
    bool IsOpen() const override { return false; }
    Read ReadByte(uint8_t&, std::chrono::milliseconds, bool) override { return Read::Error; }
    void Wake() override {}
    bool Write(const uint8_t*, size_t, std::chrono::milliseconds) override { return false; }
    void Purge() override {}
    const std::string& error() const override { return error_; }
    PortAbilities Abilities() const override {
        PortAbilities a;
        a.network = true;
        return a;
    }

private:
    std::string error_;
};
} // namespace

std::unique_ptr<SerialPort> MakeGatewayPort() {
    return std::make_unique<NoGatewayPort>();
}

bool GatewayReachable(const std::string&, std::chrono::milliseconds) {
    return false;
}

} // namespace vq31
