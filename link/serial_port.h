// The serial port seam: open a port by name at a speed with fixed line settings, read one
// byte with a time-out, write a frame within a bounded time, purge, close. The POSIX layer
// serves device paths and pseudo-terminals; the Win32 layer serves COM<n> names; the network
// layer (net_port.h) serves rfc2217://HOST:PORT and tcp://HOST:PORT gateways. A transport
// says what it can do, so the jobs ask it rather than failing later.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace vq31 {

// What a transport can do.
struct PortAbilities {
    // The link speed follows Open's speed (false: a raw network gateway keeps its own).
    bool changeSpeed = true;
    // A vanished device (an adapter pulled out, a dropped connection) shows in Vanished().
    bool detectUnplug = true;
    // The wire is at a gateway's end of a network connection.
    bool network = false;
    // How much longer than the idle time-out a silence inside an answer may last: a gateway
    // gathers serial bytes before sending them on, and the network adds jitter.
    std::chrono::milliseconds silenceSlack{0};
};

class SerialPort {
public:
    enum class Read { Byte, Timeout, Error };

    virtual ~SerialPort() = default;
    // Opens the port; on failure returns false and error() names the cause.
    virtual bool Open(const std::string& name, uint32_t baudRate) = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    // Waits at most timeout for one byte. A wakeable read also returns Timeout early when
    // Wake() is called (used to send a request as soon as the line is known to be idle).
    virtual Read ReadByte(uint8_t& byte, std::chrono::milliseconds timeout,
                          bool wakeable = false) = 0;
    // Ends a wakeable read now, or the next one if none is waiting. Safe from any thread.
    virtual void Wake() = 0;
    // Writes the whole frame; false when it was not written whole within the time limit.
    virtual bool Write(const uint8_t* data, size_t length, std::chrono::milliseconds limit) = 0;
    // Drops whatever waits in the driver's input and output queues.
    virtual void Purge() = 0;
    virtual const std::string& error() const = 0;
    // True once the device behind the open port has gone (an adapter pulled out): reads and
    // writes fail and its name no longer exists. Safe from any thread.
    virtual bool Vanished() const { return false; }
    // The system's error number of the last failed open, 0 when there was none.
    virtual int errorNumber() const { return 0; }
    virtual PortAbilities Abilities() const { return {}; }
    // The network round trip a transport measured while it opened (the TCP handshake with
    // a gateway); negative when it measured none.
    virtual std::chrono::milliseconds OpenRoundTrip() const {
        return std::chrono::milliseconds(-1);
    }
};

// The port layer of the platform this program was built for.
std::unique_ptr<SerialPort> MakeSerialPort();
// The transport that serves a port name: the network layer for a gateway's name, else the
// platform's own.
std::unique_ptr<SerialPort> MakePortFor(const std::string& name);

// Whether the platform can open this speed (a standard constant, or an arbitrary-speed
// interface where the platform has one).
bool SpeedSupported(uint32_t baudRate);

} // namespace vq31
