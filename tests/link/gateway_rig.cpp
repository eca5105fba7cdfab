// ser2net and the delaying proxy for the gateway tests (see gateway_rig.h).
#include "gateway_rig.h"
#include "net_port.h"

#include <arpa/inet.h>
#include <csignal>
#include <cstdlib>
#include <deque>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace vq31::test {

namespace {
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr const char* Ser2netPath = "/usr/sbin/ser2net";

int ListenLocal(uint16_t& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 4) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        ::close(fd);
        return -1;
    }
    port = ntohs(a.sin_port);
    return fd;
}

int ConnectLocal(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        return fd;
    }
    if (fd >= 0)
        ::close(fd);
    return -1;
}

bool SendAll(int fd, const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}
} // namespace

uint16_t FreeLocalPort() {
    uint16_t port = 0;
    const int fd = ListenLocal(port);
    if (fd >= 0)
        ::close(fd);
    return port;
}

Ser2net::Ser2net(std::string device, uint32_t speed) {
    char pattern[] = "/tmp/vq31-gateway-XXXXXX";
    if (::mkdtemp(pattern) != nullptr)
        dir_ = pattern;
    rfc2217Port_ = FreeLocalPort();
    rawPort_ = FreeLocalPort();
    config_ = dir_ + "/ser2net.yaml";
    const std::string line = "serialdev," + device + "," + std::to_string(speed) + "n81,local";
    std::ofstream(config_) << "%YAML 1.1\n---\n"
                           << "connection: &rfc2217\n"
                           << "    accepter: telnet(rfc2217),tcp,127.0.0.1," << rfc2217Port_
                           << "\n    connector: " << line << "\n"
                           << "    options:\n      kickolduser: true\n"
                           << "connection: &raw\n"
                           << "    accepter: tcp,127.0.0.1," << rawPort_
                           << "\n    connector: " << line << "\n"
                           << "    options:\n      kickolduser: true\n";
}

Ser2net::~Ser2net() {
    Stop();
    if (!dir_.empty())
        std::system(("rm -rf " + dir_).c_str());
}

bool Ser2net::Start(std::string* error) {
    Stop();
    if (::access(Ser2netPath, X_OK) != 0) {
        if (error)
            *error = std::string(Ser2netPath) + " is not installed (Debian package ser2net)";
        return false;
    }
    const std::string log = dir_ + "/ser2net.log";
    pid_ = ::fork();
    if (pid_ == 0) {
        // -n: stay in the foreground; -u: no UUCP lock files; -d: log to standard output.
        const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (out >= 0) {
            ::dup2(out, 1);
            ::dup2(out, 2);
        }
        ::execl(Ser2netPath, "ser2net", "-n", "-d", "-u", "-c", config_.c_str(), nullptr);
        ::_exit(127);
    }
    if (pid_ < 0) {
        if (error)
            *error = "cannot start ser2net";
        return false;
    }
    for (int i = 0; i < 200; ++i) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            if (error)
                *error = "ser2net ended at start; its log is " + log;
            return false;
        }
        if (GatewayReachable(RawName(), 200ms) && GatewayReachable(Rfc2217Name(), 200ms))
            return true;
        std::this_thread::sleep_for(20ms);
    }
    if (error)
        *error = "ser2net did not accept connections; its log is " + log;
    Stop();
    return false;
}

void Ser2net::Stop() {
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGTERM);
    for (int i = 0; i < 200; ++i) {
        if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        std::this_thread::sleep_for(10ms);
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

std::string Ser2net::Log() const {
    std::ifstream in(dir_ + "/ser2net.log");
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

std::string Ser2net::Rfc2217Name() const {
    return "rfc2217://127.0.0.1:" + std::to_string(rfc2217Port_);
}

std::string Ser2net::RawName() const {
    return "tcp://127.0.0.1:" + std::to_string(rawPort_);
}

struct DelayProxy::Impl {
    struct Leg {
        int from = -1;
        int to = -1;
        std::deque<std::pair<Clock::time_point, std::vector<uint8_t>>> held; // empty: an end
        bool ended = false;
    };
    struct Session {
        Leg up, down;
        bool closed = false;
    };

    uint16_t target;
    std::chrono::milliseconds delay;
    uint16_t port = 0;
    int listener = -1;
    int stopPipe[2] = {-1, -1};
    std::thread thread;
    std::vector<std::unique_ptr<Session>> sessions;

    void Run() {
        for (;;) {
            auto next = Clock::now() + 1s;
            std::vector<pollfd> fds = {{stopPipe[0], POLLIN, 0}, {listener, POLLIN, 0}};
            std::vector<Leg*> legs;
            for (auto& s : sessions) {
                for (Leg* leg : {&s->up, &s->down}) {
                    if (!leg->held.empty() && leg->held.front().first < next)
                        next = leg->held.front().first;
                    if (!leg->ended) {
                        fds.push_back({leg->from, POLLIN, 0});
                        legs.push_back(leg);
                    }
                }
            }
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now());
            ::poll(fds.data(), fds.size(), int(std::max<int64_t>(0, wait.count())));
            if (fds[0].revents & POLLIN)
                return;
            if (fds[1].revents & POLLIN)
                Accept();
            const auto now = Clock::now();
            for (size_t i = 0; i < legs.size(); ++i) {
                if (!(fds[i + 2].revents & (POLLIN | POLLHUP | POLLERR)))
                    continue;
                uint8_t buffer[4096];
                const ssize_t n = ::recv(legs[i]->from, buffer, sizeof buffer, 0);
                if (n > 0) {
                    legs[i]->held.emplace_back(now + delay,
                                               std::vector<uint8_t>(buffer, buffer + n));
                } else {
                    legs[i]->ended = true;
                    legs[i]->held.emplace_back(now + delay, std::vector<uint8_t>());
                }
            }
            Deliver();
        }
    }

    void Accept() {
        const int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            return;
        const int server = ConnectLocal(target);
        if (server < 0) {
            ::close(client);
            return;
        }
        const int on = 1;
        ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        auto s = std::make_unique<Session>();
        s->up = {client, server, {}, false};
        s->down = {server, client, {}, false};
        sessions.push_back(std::move(s));
    }

    void Deliver() {
        const auto now = Clock::now();
        for (auto& s : sessions) {
            for (Leg* leg : {&s->up, &s->down}) {
                while (!s->closed && !leg->held.empty() && leg->held.front().first <= now) {
                    const std::vector<uint8_t> bytes = std::move(leg->held.front().second);
                    leg->held.pop_front();
                    if (bytes.empty() || !SendAll(leg->to, bytes))
                        Close(*s); // one side ended: the other is ended too, in order
                }
            }
        }
        std::erase_if(sessions, [](const auto& s) { return s->closed; });
    }

    static void Close(Session& s) {
        ::close(s.up.from);
        ::close(s.up.to);
        s.closed = true;
    }
};

DelayProxy::DelayProxy(uint16_t target, std::chrono::milliseconds delay)
    : impl_(std::make_unique<Impl>()) {
    impl_->target = target;
    impl_->delay = delay;
}

DelayProxy::~DelayProxy() {
    Stop();
}

bool DelayProxy::Start(std::string* error) {
    impl_->listener = ListenLocal(impl_->port);
    if (impl_->listener < 0 || ::pipe2(impl_->stopPipe, O_CLOEXEC) != 0) {
        if (error)
            *error = "the proxy cannot listen on 127.0.0.1";
        return false;
    }
    impl_->thread = std::thread([this] { impl_->Run(); });
    return true;
}

void DelayProxy::Stop() {
    if (impl_->thread.joinable()) {
        const uint8_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(impl_->stopPipe[1], &one, 1);
        impl_->thread.join();
    }
    for (auto& s : impl_->sessions)
        Impl::Close(*s);
    impl_->sessions.clear();
    for (int* fd : {&impl_->listener, &impl_->stopPipe[0], &impl_->stopPipe[1]}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

uint16_t DelayProxy::port() const {
    return impl_->port;
}

} // namespace vq31::test
