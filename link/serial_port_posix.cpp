// POSIX serial port: exclusive, raw 8N1 with no flow control, DTR and RTS cleared, reads
// through poll with a time-out, writes bounded in time. Bytes are fetched from the driver in
// chunks and handed out one at a time, so a long answer costs few system calls.
#include "serial_port.h"
#include "tty_speed.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>
#ifdef __linux__
#include <linux/serial.h>
#endif

namespace vq31 {

namespace {

std::string GroupOf(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        return "dialout";
    if (const group* g = getgrgid(st.st_gid))
        return g->gr_name;
    return "dialout";
}

class PosixSerialPort final : public SerialPort {
public:
    PosixSerialPort() {
        if (::pipe2(wake_, O_NONBLOCK | O_CLOEXEC) != 0)
            wake_[0] = wake_[1] = -1;
    }
    ~PosixSerialPort() override {
        Close();
        for (int fd : wake_)
            if (fd >= 0)
                ::close(fd);
    }

    void Wake() override {
        if (wake_[1] >= 0) {
            const uint8_t one = 1;
            [[maybe_unused]] ssize_t n = ::write(wake_[1], &one, 1);
        }
    }

    bool Open(const std::string& name, uint32_t baudRate) override {
        Close();
        error_.clear();
        errorNumber_ = 0;
        if (!TtySpeedSupported(baudRate)) {
            error_ = "speed " + std::to_string(baudRate) + " bit/s is not supported here";
            return false;
        }
        const int fd = ::open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            const int e = errno;
            errorNumber_ = e;
            if (e == EACCES || e == EPERM)
                error_ = "permission denied on " + name + ": the user must be in the '" +
                         GroupOf(name) + "' group (log in again after joining it)";
            else if (e == EBUSY)
                error_ = name + " is in use by another program";
            else if (e == ENOENT)
                error_ = name + " does not exist";
            else
                error_ = name + ": " + std::strerror(e);
            return false;
        }
        if (!isatty(fd)) {
            errorNumber_ = ENOTTY;
            ::close(fd);
            error_ = name + " is not a serial port";
            return false;
        }
        ioctl(fd, TIOCEXCL); // others may not open the port while we hold it
        // TIOCEXCL does not stop root: an advisory lock keeps two programs (the window and
        // vq31ctl, say) from polling one port at the same time for every user. A port held
        // so is reported as busy, and the open-failure diagnosis names the holder.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
            ::close(fd);
            errorNumber_ = EBUSY;
            error_ = name + " is in use by another program";
            return false;
        }
        termios tio{};
        if (tcgetattr(fd, &tio) != 0) {
            error_ = name + ": " + std::strerror(errno);
            ::close(fd);
            return false;
        }
        cfmakeraw(&tio);
        tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS | HUPCL);
        tio.c_cflag |= CS8 | CLOCAL | CREAD;
        tio.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        if (tcsetattr(fd, TCSANOW, &tio) != 0 || !TtySetSpeed(fd, baudRate)) {
            error_ = name + ": cannot set " + std::to_string(baudRate) + " bit/s";
            ::close(fd);
            return false;
        }
        // DTR and RTS cleared; pseudo-terminals and some adapters refuse, which is harmless.
        int lines = TIOCM_DTR | TIOCM_RTS;
        ioctl(fd, TIOCMBIC, &lines);
#ifdef __linux__
        // Ask USB adapters to hand over bytes at once instead of after their latency timer.
        serial_struct ss{};
        if (ioctl(fd, TIOCGSERIAL, &ss) == 0) {
            ss.flags |= ASYNC_LOW_LATENCY;
            ioctl(fd, TIOCSSERIAL, &ss);
        }
#endif
        tcflush(fd, TCIOFLUSH);
        name_ = name;
        vanished_ = false;
        fd_ = fd;
        head_ = tail_ = 0;
        return true;
    }

    void Close() override {
        if (fd_ >= 0) {
            ioctl(fd_, TIOCNXCL);
            ::close(fd_);
        }
        fd_ = -1;
        vanished_ = false;
        head_ = tail_ = 0;
    }

    bool IsOpen() const override {
        return fd_ >= 0;
    }

    Read ReadByte(uint8_t& byte, std::chrono::milliseconds timeout, bool wakeable) override {
        if (head_ < tail_) {
            byte = buffer_[head_++];
            return Read::Byte;
        }
        if (fd_ < 0) {
            std::this_thread::sleep_for(timeout);
            return Read::Error;
        }
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            // Rounded up: poll counts whole milliseconds and must never cut the wait short.
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
            const nfds_t count = (wakeable && wake_[0] >= 0) ? 2 : 1;
            const int r = ::poll(fds, count, int(std::max<int64_t>(0, left.count())));
            if (r == 0)
                return Read::Timeout;
            pollfd& p = fds[0];
            if (r > 0 && count == 2 && (fds[1].revents & POLLIN) && !(p.revents & POLLIN)) {
                uint8_t drain[64];
                while (::read(wake_[0], drain, sizeof drain) > 0) {
                }
                return Read::Timeout;
            }
            if (r < 0) {
                if (errno == EINTR)
                    continue;
                return SleepOnError(deadline);
            }
            if (p.revents & POLLIN) {
                const ssize_t n = ::read(fd_, buffer_, sizeof buffer_);
                if (n > 0) {
                    head_ = 1;
                    tail_ = size_t(n);
                    byte = buffer_[0];
                    return Read::Byte;
                }
                if (n < 0 && (errno == EAGAIN || errno == EINTR))
                    continue;
            }
            // Hang-up or error (a vanished adapter, a closed simulator): report no byte, but
            // only after the time-out, so the caller's loop does not spin.
            return SleepOnError(deadline);
        }
    }

    bool Write(const uint8_t* data, size_t length, std::chrono::milliseconds limit) override {
        if (fd_ < 0)
            return false;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        size_t done = 0;
        while (done < length) {
            const ssize_t n = ::write(fd_, data + done, length - done);
            if (n > 0) {
                done += size_t(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                return false;
            // Rounded up, as for reads: a part of a millisecond left is still time to wait.
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return false;
            pollfd p{fd_, POLLOUT, 0};
            if (::poll(&p, 1, int(left.count())) < 0 && errno != EINTR)
                return false;
        }
        return true;
    }

    void Purge() override {
        if (fd_ >= 0)
            tcflush(fd_, TCIOFLUSH);
        head_ = tail_ = 0;
    }

    const std::string& error() const override {
        return error_;
    }
    int errorNumber() const override {
        return errorNumber_;
    }
    bool Vanished() const override {
        return vanished_;
    }

private:
    Read SleepOnError(std::chrono::steady_clock::time_point deadline) {
        // A hang-up whose device name is gone is an unplugged adapter (a closed simulator
        // takes its pseudo-terminal with it the same way).
        if (!vanished_ && ::access(name_.c_str(), F_OK) != 0 && errno == ENOENT)
            vanished_ = true;
        std::this_thread::sleep_until(deadline);
        return Read::Error;
    }

    int fd_ = -1;
    int wake_[2] = {-1, -1};
    std::string error_;
    int errorNumber_ = 0;
    std::string name_;                  // set at open, read by the port thread only after
    std::atomic<bool> vanished_{false}; // written by the port thread, read by any
    uint8_t buffer_[4096];
    size_t head_ = 0;
    size_t tail_ = 0;
};

} // namespace

std::unique_ptr<SerialPort> MakeSerialPort() {
    return std::make_unique<PosixSerialPort>();
}

bool SpeedSupported(uint32_t baudRate) {
    return TtySpeedSupported(baudRate);
}

} // namespace vq31
