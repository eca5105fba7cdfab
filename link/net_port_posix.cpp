// The network transport on POSIX: a TCP connection to a serial gateway, made with a bounded
// time-out, with the COM-PORT option negotiated on rfc2217:// names. Reads go through poll
// with the idle time-out as on a local port; a connection the gateway drops is reported
// like an unplugged adapter.
#include "net_port.h"
#include "rfc2217.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace vq31 {

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds ReconnectPause{300};

int MillisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return int(std::max<int64_t>(0, left.count()));
}

// Looks the host up within the time limit. getaddrinfo itself cannot be bounded, so it runs
// on a thread of its own that is left to finish alone when the time is up.
struct Lookup {
    std::mutex lock;
    std::condition_variable done;
    bool finished = false;
    int result = 0;
    addrinfo* list = nullptr;
    ~Lookup() {
        if (list)
            freeaddrinfo(list);
    }
};

std::shared_ptr<Lookup> LookUp(const GatewayAddress& a, std::chrono::milliseconds limit) {
    auto lookup = std::make_shared<Lookup>();
    try {
        std::thread([lookup, host = a.host, port = std::to_string(a.port)] {
            addrinfo hints{};
            hints.ai_family = AF_UNSPEC;
            hints.ai_socktype = SOCK_STREAM;
            hints.ai_flags = AI_NUMERICSERV | AI_ADDRCONFIG;
            addrinfo* list = nullptr;
            const int r = getaddrinfo(host.c_str(), port.c_str(), &hints, &list);
            std::lock_guard guard(lookup->lock);
            lookup->result = r;
            lookup->list = list;
            lookup->finished = true;
            lookup->done.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        lookup->finished = true;
        lookup->result = EAI_AGAIN;
        return lookup;
    }
    std::unique_lock guard(lookup->lock);
    if (!lookup->done.wait_for(guard, limit, [&] { return lookup->finished; }))
        return nullptr;
    return lookup;
}

std::string Endpoint(const GatewayAddress& a) {
    const bool v6 = a.host.find(':') != std::string::npos;
    return (v6 ? "[" + a.host + "]" : a.host) + ":" + std::to_string(a.port);
}

// Connects to the first address that accepts; -1 with the cause in error. took receives the
// time the accepted handshake lasted: one network round trip.
int Connect(const GatewayAddress& a, Clock::time_point deadline, std::string& error, int& code,
            std::chrono::milliseconds* took = nullptr) {
    const std::string where = Endpoint(a);
    const auto lookup = LookUp(a, std::chrono::milliseconds(MillisecondsLeft(deadline)));
    if (!lookup) {
        error = "the name " + a.host + " was not resolved within " +
                std::to_string(GatewayConnectTimeout.count() / 1000) + " s";
        code = ETIMEDOUT;
        return -1;
    }
    if (lookup->result != 0) {
        error = "cannot find the gateway " + a.host + ": " + gai_strerror(lookup->result);
        code = ENOENT;
        return -1;
    }
    int lastError = ETIMEDOUT;
    for (const addrinfo* ai = lookup->list; ai != nullptr; ai = ai->ai_next) {
        const int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                                ai->ai_protocol);
        if (fd < 0) {
            lastError = errno;
            continue;
        }
        const auto start = Clock::now();
        int r = ::connect(fd, ai->ai_addr, ai->ai_addrlen);
        if (r != 0 && errno == EINPROGRESS) {
            pollfd p{fd, POLLOUT, 0};
            do
                r = ::poll(&p, 1, MillisecondsLeft(deadline));
            while (r < 0 && errno == EINTR);
            int so = ETIMEDOUT;
            socklen_t len = sizeof so;
            if (r > 0 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &so, &len) != 0)
                so = errno;
            r = so == 0 ? 0 : -1;
            errno = so;
        }
        if (r == 0) {
            if (took)
                *took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
            return fd;
        }
        lastError = errno;
        ::close(fd);
        if (Clock::now() >= deadline)
            break;
    }
    code = lastError;
    if (lastError == ECONNREFUSED)
        error = where + " refused the connection: no gateway accepts on that port (is the "
                        "gateway running with an accepter on it?)";
    else if (lastError == ETIMEDOUT)
        error = "no answer from " + where + " within " +
                std::to_string(GatewayConnectTimeout.count() / 1000) + " s";
    else if (lastError == ENETUNREACH || lastError == EHOSTUNREACH)
        error = where + " is unreachable: " + std::strerror(lastError);
    else
        error = where + ": " + std::strerror(lastError);
    return -1;
}

void KeepAlive(int fd) {
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on); // a frame leaves at once
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
#ifdef TCP_KEEPIDLE
    // A gateway cut off without a word shows as gone within about 11 s.
    const int idle = 5, interval = 2, count = 3;
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
#endif
}

class GatewayPort final : public SerialPort {
public:
    GatewayPort() {
        if (::pipe2(wake_, O_NONBLOCK | O_CLOEXEC) != 0)
            wake_[0] = wake_[1] = -1;
    }
    ~GatewayPort() override {
        Close();
        for (int fd : wake_)
            if (fd >= 0)
                ::close(fd);
    }

    bool Open(const std::string& name, uint32_t baudRate) override {
        Close();
        error_.clear();
        errorNumber_ = 0;
        GatewayAddress a;
        if (!ParseGatewayName(name, a, error_)) {
            errorNumber_ = EINVAL;
            return false;
        }
        const auto deadline = Clock::now() + GatewayConnectTimeout;
        // ser2net closes a connection that comes while it is still closing the serial device
        // of the one before (a reconnect at another speed): one more try follows a pause.
        for (int attempt = 0;; ++attempt) {
            std::chrono::milliseconds handshake{0};
            const int fd = Connect(a, deadline, error_, errorNumber_, &handshake);
            if (fd < 0)
                return false;
            KeepAlive(fd);
            fd_ = fd;
            kind_ = a.kind;
            codec_ = telnet::ComPortCodec();
            data_.clear();
            head_ = 0;
            vanished_ = false;
            roundTrip_ = handshake;
            if (kind_ != GatewayKind::Rfc2217 || Negotiate(name, baudRate))
                return true;
            const bool closedByGateway = vanished_;
            Close();
            if (!closedByGateway || attempt > 0 || Clock::now() + ReconnectPause >= deadline)
                return false;
            std::this_thread::sleep_for(ReconnectPause);
        }
    }

    void Close() override {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
        vanished_ = false;
        data_.clear();
        head_ = 0;
    }

    bool IsOpen() const override { return fd_ >= 0; }

    void Wake() override {
        if (wake_[1] >= 0) {
            const uint8_t one = 1;
            [[maybe_unused]] ssize_t n = ::write(wake_[1], &one, 1);
        }
    }

    Read ReadByte(uint8_t& byte, std::chrono::milliseconds timeout, bool wakeable) override {
        const auto deadline = Clock::now() + timeout;
        for (;;) {
            if (head_ < data_.size()) {
                byte = data_[head_++];
                return Read::Byte;
            }
            if (fd_ < 0 || vanished_) {
                std::this_thread::sleep_until(deadline);
                return Read::Error;
            }
            pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
            const nfds_t count = (wakeable && wake_[0] >= 0) ? 2 : 1;
            const int r = ::poll(fds, count, MillisecondsLeft(deadline));
            if (r == 0)
                return Read::Timeout;
            if (r < 0) {
                if (errno == EINTR)
                    continue;
                std::this_thread::sleep_until(deadline);
                return Read::Error;
            }
            if (count == 2 && (fds[1].revents & POLLIN) && !(fds[0].revents & POLLIN)) {
                uint8_t drain[64];
                while (::read(wake_[0], drain, sizeof drain) > 0) {
                }
                return Read::Timeout;
            }
            if (!Receive())
                continue; // negotiation only, or nothing yet: wait on for serial data
        }
    }

    bool Write(const uint8_t* data, size_t length, std::chrono::milliseconds limit) override {
        if (fd_ < 0 || vanished_)
            return false;
        out_.clear();
        if (kind_ == GatewayKind::Rfc2217)
            telnet::ComPortCodec::Escape(data, length, out_);
        else
            out_.assign(data, data + length);
        return Send(out_, Clock::now() + limit);
    }

    void Purge() override {
        // What the gateway already sent is read and dropped; negotiation in it is answered.
        if (fd_ >= 0 && !vanished_) {
            pollfd p{fd_, POLLIN, 0};
            while (::poll(&p, 1, 0) > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR)))
                if (!Receive() && (vanished_ || !(p.revents & POLLIN)))
                    break;
        }
        data_.clear();
        head_ = 0;
    }

    const std::string& error() const override { return error_; }
    int errorNumber() const override { return errorNumber_; }
    bool Vanished() const override { return vanished_; }
    std::chrono::milliseconds OpenRoundTrip() const override { return roundTrip_; }
    PortAbilities Abilities() const override {
        PortAbilities a;
        a.network = true;
        a.changeSpeed = kind_ != GatewayKind::RawTcp;
        a.silenceSlack = GatewaySilenceSlack;
        return a;
    }

private:
    // Reads what the socket holds into data_ (decoded on an RFC 2217 link). False when no
    // serial byte came; a closed or failed connection marks the port vanished.
    bool Receive() {
        uint8_t raw[4096];
        const ssize_t n = ::recv(fd_, raw, sizeof raw, 0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
            vanished_ = true;
            return false;
        }
        if (n < 0)
            return false;
        if (head_ >= data_.size()) {
            data_.clear();
            head_ = 0;
        }
        const size_t before = data_.size();
        if (kind_ == GatewayKind::Rfc2217) {
            reply_.clear();
            codec_.Take(raw, size_t(n), data_, reply_);
            if (!reply_.empty())
                Send(reply_, Clock::now() + GatewayConnectTimeout);
        } else {
            data_.insert(data_.end(), raw, raw + n);
        }
        return data_.size() > before;
    }

    bool Send(const std::vector<uint8_t>& bytes, Clock::time_point deadline) {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n > 0) {
                done += size_t(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR) {
                vanished_ = true; // reset or closed by the gateway
                return false;
            }
            const int left = MillisecondsLeft(deadline);
            if (left <= 0)
                return false;
            pollfd p{fd_, POLLOUT, 0};
            if (::poll(&p, 1, left) < 0 && errno != EINTR)
                return false;
        }
        return true;
    }

    // Offers the COM-PORT option, then sets the line and checks the gateway's answers. The
    // DTR and RTS requests are never waited for (see rfc2217.h).
    bool Negotiate(const std::string& name, uint32_t baudRate) {
        const auto deadline = Clock::now() + GatewayConnectTimeout;
        const std::vector<uint8_t> offer = codec_.Offer();
        if (!Send(offer, deadline) || !WaitFor(deadline, [&] {
                return codec_.comPort() != telnet::ComPortCodec::ComPort::Unknown;
            }))
            return Fail(name +
                        ": the gateway did not take up the COM-PORT option (RFC 2217) "
                        "within " +
                        std::to_string(GatewayConnectTimeout.count() / 1000) +
                        " s: is its accepter telnet(rfc2217)? A raw accepter is tcp://");
        if (codec_.comPort() == telnet::ComPortCodec::ComPort::Refused)
            return Fail(name + ": the gateway refuses the COM-PORT option (RFC 2217): give its "
                               "accepter telnet(rfc2217), or use tcp:// for a raw accepter");
        using namespace telnet::comport;
        const std::vector<uint8_t> settings = codec_.LineSettings(baudRate);
        const bool answered =
            Send(settings, deadline) && WaitFor(deadline, [&] {
                for (uint8_t c : {SetBaudRate, SetDataSize, SetParity, SetStopSize})
                    if (!codec_.Answer(c))
                        return false;
                return true;
            });
        const auto baud = codec_.Answer(SetBaudRate);
        if (!baud)
            return Fail(name + ": the gateway did not confirm the speed of " +
                        std::to_string(baudRate) + " bit/s");
        if (*baud != baudRate)
            return Fail(name + ": the gateway set " + std::to_string(*baud) +
                        " bit/s when asked for " + std::to_string(baudRate) +
                        " bit/s (its serial port cannot take that speed)");
        // A gateway that stays silent about the rest keeps them at what was asked; one that
        // answers with other values has a line the sensor cannot talk on.
        const std::pair<uint8_t, uint8_t> expected[] = {
            {SetDataSize, DataSize8}, {SetParity, ParityNone}, {SetStopSize, StopOne}};
        for (const auto& [command, value] : expected)
            if (answered && codec_.Answer(command) != uint32_t(value))
                return Fail(name + ": the gateway did not set 8 data bits, no parity and one "
                                   "stop bit");
        return true;
    }

    template <class Done> bool WaitFor(Clock::time_point deadline, Done done) {
        while (!done()) {
            if (vanished_ || Clock::now() >= deadline)
                return false;
            pollfd p{fd_, POLLIN, 0};
            const int r = ::poll(&p, 1, MillisecondsLeft(deadline));
            if (r > 0)
                Receive();
            else if (r < 0 && errno != EINTR)
                return false;
        }
        return true;
    }

    bool Fail(const std::string& text) {
        error_ = vanished_ ? text + " (the gateway closed the connection)" : text;
        errorNumber_ = EPROTO;
        return false;
    }

    int fd_ = -1;
    int wake_[2] = {-1, -1};
    GatewayKind kind_ = GatewayKind::None;
    telnet::ComPortCodec codec_;
    std::vector<uint8_t> data_; // decoded serial bytes not yet handed out, from head_
    size_t head_ = 0;
    std::vector<uint8_t> out_;
    std::vector<uint8_t> reply_;
    std::string error_;
    int errorNumber_ = 0;
    std::chrono::milliseconds roundTrip_{-1};
    std::atomic<bool> vanished_{false}; // written by the port thread, read by any
};

} // namespace

std::unique_ptr<SerialPort> MakeGatewayPort() {
    return std::make_unique<GatewayPort>();
}

bool GatewayReachable(const std::string& name, std::chrono::milliseconds timeout) {
    GatewayAddress a;
    std::string error;
    int code = 0;
    if (!ParseGatewayName(name, a, error))
        return false;
    const int fd = Connect(a, Clock::now() + timeout, error, code);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

} // namespace vq31
