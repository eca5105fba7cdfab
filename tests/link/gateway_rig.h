// Real network gateways for the tests: Debian's ser2net started with a configuration file of
// the test's own (an RFC 2217 accepter and a raw accepter on 127.0.0.1 in front of one serial
// device), and a small proxy on 127.0.0.1 that delays every byte by a fixed time each way.
// Each is started and stopped by the test that uses it.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <sys/types.h>

namespace vq31::test {

// A TCP port on 127.0.0.1 that was free a moment ago.
uint16_t FreeLocalPort();

class Ser2net {
public:
    // device: the serial device behind both accepters; speed: the raw accepter's (and the
    // device's opening) speed.
    Ser2net(std::string device, uint32_t speed);
    ~Ser2net();
    Ser2net(const Ser2net&) = delete;
    Ser2net& operator=(const Ser2net&) = delete;

    // Starts ser2net and waits (bounded) until both accepters take connections.
    bool Start(std::string* error = nullptr);
    // Stops it (SIGTERM, then SIGKILL) and waits for it to end.
    void Stop();

    std::string Rfc2217Name() const;
    std::string RawName() const;
    uint16_t rfc2217Port() const { return rfc2217Port_; }
    const std::string& config() const { return config_; }
    // What ser2net logged so far (for failure messages).
    std::string Log() const;

private:
    std::string dir_;
    std::string config_;
    uint16_t rfc2217Port_ = 0;
    uint16_t rawPort_ = 0;
    pid_t pid_ = -1;
};

// Forwards connections made to its own port on 127.0.0.1 to a target port there, holding
// every chunk for the delay in each direction.
class DelayProxy {
public:
    DelayProxy(uint16_t target, std::chrono::milliseconds delay);
    ~DelayProxy();
    DelayProxy(const DelayProxy&) = delete;
    DelayProxy& operator=(const DelayProxy&) = delete;

    bool Start(std::string* error = nullptr);
    void Stop();
    uint16_t port() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace vq31::test
