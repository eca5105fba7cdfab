// Scripted pseudo-terminal peer.
#include "pty_peer.h"

#include "protocol.h"
#include "tty_speed.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

namespace vq31::test {

PtyPeer::PtyPeer() {
    char name[256] = {};
    termios raw{};
    cfmakeraw(&raw);
    if (openpty(&master_, &slave_, name, &raw, nullptr) != 0)
        throw std::runtime_error("openpty failed");
    path_ = name;
}

PtyPeer::~PtyPeer() {
    if (master_ >= 0)
        close(master_);
    if (slave_ >= 0)
        close(slave_);
}

std::vector<uint8_t> PtyPeer::ReadRequest(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::vector<uint8_t> frame;
    size_t want = 4;
    while (frame.size() < want) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return {};
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, int(left.count())) <= 0)
            continue;
        uint8_t b;
        if (read(master_, &b, 1) != 1)
            continue;
        if (frame.empty() && b != RequestStart)
            continue;
        frame.push_back(b);
        if (frame.size() == 3) {
            const size_t length = RequestLength(RequestLayoutOf(b));
            want = length ? length : 4;
        }
    }
    return frame;
}

void PtyPeer::Write(const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0)
            done += size_t(n);
        else
            usleep(1000);
    }
    lastWrite_ = std::chrono::steady_clock::now();
}

uint32_t PtyPeer::Speed() const {
    return TtyGetSpeed(master_);
}

std::vector<uint8_t> Answer(std::vector<uint8_t> bytes) {
    bytes.push_back(Crc8(uint8_t(bytes.size()), bytes.data()));
    return bytes;
}

} // namespace vq31::test
