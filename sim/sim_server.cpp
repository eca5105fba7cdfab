// The pseudo-terminal side of the simulated sensor. The master end is served by one thread
// that cuts requests out of the byte stream, asks the device model for the answer, applies
// the injected faults and writes the answer back (at once, or paced at the link speed).
// The simulator keeps its own descriptor of the slave end open, so the master never sees a
// hang-up while the tool closes and reopens the port, and it sets the line to raw mode only
// once, at creation: afterwards the line settings belong to the tool.
#include "sim_server.h"

#include "bus.h"
#include "control.h"
#include "device_model.h"
#include "faults.h"
#include "protocol.h"
#include "request_parser.h"
#include "tty_speed.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace vq31::sim {

namespace {

// A request that stops in the middle for this long is dropped, as a device's receiver
// drops a frame after an inter-character gap.
constexpr std::chrono::milliseconds RequestGap{50};
// A write that cannot move a single byte for this long is given up (nobody reads).
constexpr std::chrono::milliseconds WriteStall{2000};
// Pacing granularity of the real-time mode.
constexpr std::chrono::milliseconds PaceSlice{2};

std::string Errno(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

void CloseFd(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

} // namespace

struct SimServer::Impl {
    explicit Impl(const SimOptions& o) : options(o), bus(Addresses(o), o.baud) {}

    static std::vector<uint8_t> Addresses(const SimOptions& o) {
        std::vector<uint8_t> all{o.address};
        all.insert(all.end(), o.moreAddresses.begin(), o.moreAddresses.end());
        return all;
    }

    SimOptions options;
    mutable std::mutex lock; // guards bus (every sensor's device and faults), quit
    SensorBus bus;
    Noise faultNoise{0xC0FFEEu};
    uint32_t skewState = 0x9E3779B9u; // picks the skew of overlapping answers
    bool quit = false;

    int master = -1;
    int slave = -1;
    int wake[2] = {-1, -1};
    std::string path;
    bool linkMade = false;
    std::thread thread;
    std::atomic<bool> stop{false};
    RequestParser parser;      // serving thread only
    bool droppedBatch = false; // serving thread only: the rest of the frames read are stale

    bool Open(std::string& error);
    void Close();
    void Serve();
    void Handle(const ParsedFrame& frame);
    // Waits up to a time, or less when stopping; false when stopping.
    bool Pause(std::chrono::steady_clock::duration time);
    // Waits out an answer's delay; false when the server stops or the faults were cleared
    // meanwhile (the answer is then dropped).
    bool DelayAnswer(std::chrono::milliseconds delay, uint64_t clears);
    bool WriteAll(const uint8_t* data, size_t count);
    void WriteAnswer(const std::vector<uint8_t>& bytes, uint32_t speed);
};

bool SimServer::Impl::Open(std::string& error) {
    master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) {
        error = Errno("posix_openpt");
        return false;
    }
    char name[PATH_MAX] = {};
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
        ::ptsname_r(master, name, sizeof name) != 0) {
        error = Errno("pseudo-terminal set-up");
        return false;
    }
    path = name;
    slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        error = Errno("open " + path);
        return false;
    }
    termios tio{};
    if (::tcgetattr(slave, &tio) != 0) {
        error = Errno("tcgetattr " + path);
        return false;
    }
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    if (::tcsetattr(slave, TCSANOW, &tio) != 0 || !TtySetSpeed(slave, options.baud)) {
        error = Errno("raw mode on " + path);
        return false;
    }
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    if (::pipe2(wake, O_NONBLOCK | O_CLOEXEC) != 0) {
        error = Errno("pipe");
        return false;
    }
    if (!options.linkPath.empty()) {
        struct stat st {};
        if (::lstat(options.linkPath.c_str(), &st) == 0) {
            if (!S_ISLNK(st.st_mode)) {
                error = options.linkPath + " exists and is not a symbolic link; not replaced";
                return false;
            }
            ::unlink(options.linkPath.c_str());
        }
        if (::symlink(path.c_str(), options.linkPath.c_str()) != 0) {
            error = Errno("symlink " + options.linkPath);
            return false;
        }
        linkMade = true;
    }
    return true;
}

void SimServer::Impl::Close() {
    if (linkMade) {
        // Remove the link only while it still points at this simulator's terminal.
        char target[PATH_MAX] = {};
        const ssize_t n = ::readlink(options.linkPath.c_str(), target, sizeof target - 1);
        if (n > 0 && path == std::string(target, size_t(n)))
            ::unlink(options.linkPath.c_str());
        linkMade = false;
    }
    CloseFd(master);
    CloseFd(slave);
    CloseFd(wake[0]);
    CloseFd(wake[1]);
}

bool SimServer::Impl::DelayAnswer(std::chrono::milliseconds delay, uint64_t clears) {
    constexpr auto Look = std::chrono::milliseconds(10);
    const auto until = std::chrono::steady_clock::now() + delay;
    while (std::chrono::steady_clock::now() < until) {
        {
            std::lock_guard guard(lock);
            if (bus.clears() != clears)
                return false;
        }
        if (!Pause(std::min<std::chrono::steady_clock::duration>(
                Look, until - std::chrono::steady_clock::now())))
            return false;
    }
    return true;
}

bool SimServer::Impl::Pause(std::chrono::steady_clock::duration time) {
    const auto until = std::chrono::steady_clock::now() + time;
    while (!stop) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return true;
        pollfd p{wake[0], POLLIN, 0};
        ::poll(&p, 1, int(std::min<int64_t>(left.count(), 100)));
    }
    return false;
}

bool SimServer::Impl::WriteAll(const uint8_t* data, size_t count) {
    auto lastProgress = std::chrono::steady_clock::now();
    while (count > 0 && !stop) {
        const ssize_t n = ::write(master, data, count);
        if (n > 0) {
            data += n;
            count -= size_t(n);
            lastProgress = std::chrono::steady_clock::now();
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        if (std::chrono::steady_clock::now() - lastProgress > WriteStall)
            return false;
        pollfd p[2] = {{master, POLLOUT, 0}, {wake[0], POLLIN, 0}};
        ::poll(p, 2, 50);
    }
    return count == 0;
}

void SimServer::Impl::WriteAnswer(const std::vector<uint8_t>& bytes, uint32_t speed) {
    if (!options.realtime || speed == 0) {
        WriteAll(bytes.data(), bytes.size());
        return;
    }
    // Each byte leaves the device 10 bit times after the one before it.
    using Micro = std::chrono::microseconds;
    const size_t slice = std::max<size_t>(1, size_t(speed / 10 * PaceSlice.count() / 1000));
    const auto start = std::chrono::steady_clock::now();
    for (size_t done = 0; done < bytes.size() && !stop;) {
        const size_t count = std::min(slice, bytes.size() - done);
        const auto due = start + Micro(uint64_t(done + count) * 10'000'000u / speed);
        if (!Pause(due - std::chrono::steady_clock::now()))
            return;
        if (!WriteAll(bytes.data() + done, count))
            return;
        done += count;
    }
}

void SimServer::Impl::Handle(const ParsedFrame& frame) {
    const uint32_t lineSpeed = TtyGetSpeed(slave);
    const auto now = Clock::now();
    std::unique_lock guard(lock);
    DeviceCounters& lineCounters = bus.first().device.counters();
    if (frame.kind == ParsedFrame::Kind::BadCrc) {
        ++lineCounters.badCrc;
        return;
    }
    if (frame.kind == ParsedFrame::Kind::UnknownCode) {
        ++lineCounters.unknownCode;
        return;
    }
    const std::vector<uint8_t>& request = frame.bytes;
    const uint8_t code = request[2];
    // Every sensor hears the request and decides for itself; the sensors are held here so a
    // "bus remove" while the answer is written does not take one away under it.
    struct Reply {
        std::shared_ptr<SimSensor> sensor;
        Answer answer;
    };
    std::vector<Reply> replies;
    std::chrono::milliseconds delay{0};
    for (const std::shared_ptr<SimSensor>& sensor : bus.sensors()) {
        DeviceModel& device = sensor->device;
        FaultPlan& faults = sensor->faults;
        ++device.counters().requests;
        if (device.Admit(request, lineSpeed, now) != Admission::Accept)
            continue;
        if (faults.TakeSilent(code)) {
            ++device.counters().silenced;
            continue;
        }
        std::optional<uint8_t> forced;
        bool dropWrite = false;
        if (AnswerKindOf(code) == AnswerKind::Acknowledgement) {
            forced = faults.TakeAck(code);
            dropWrite = !forced && faults.TakeNoStore(code);
        }
        Answer answer = device.Execute(request, forced, now, dropWrite);
        if (answer.bytes.empty())
            continue;
        const AnswerFault fault = faults.TakeAnswerFault();
        if (fault != AnswerFault::None) {
            ApplyAnswerFault(fault, answer.bytes, faultNoise);
            ++device.counters().faulted;
        }
        ++device.counters().answered;
        delay = std::max(delay, faults.delay());
        replies.push_back({sensor, std::move(answer)});
    }
    if (replies.empty())
        return;
    std::vector<uint8_t> bytes;
    if (replies.size() == 1) {
        bytes = std::move(replies.front().answer.bytes);
    } else {
        // Answers that start together: each later one a few bit times behind the first.
        std::vector<std::vector<uint8_t>> answers;
        std::vector<unsigned> skews;
        for (const Reply& r : replies) {
            skewState = skewState * 1664525u + 1013904223u;
            skews.push_back(answers.empty() ? 0 : 1 + (skewState >> 24) % MaxOverlapSkewBits);
            answers.push_back(r.answer.bytes);
        }
        bytes = OverlapOnWire(answers, skews);
    }
    const uint64_t clears = bus.clears();
    guard.unlock();

    if (delay.count() > 0 && !DelayAnswer(delay, clears)) {
        // Cleared while it waited: the answer and the requests read with it are of before
        // the clear and are dropped (those still queued were flushed by the clear itself).
        droppedBatch = true;
        return;
    }
    WriteAnswer(bytes, lineSpeed);
    // Address and speed changes start once the acknowledgement is on its way.
    guard.lock();
    for (const Reply& r : replies)
        r.sensor->device.Apply(r.answer.followUp);
}

void SimServer::Impl::Serve() {
    std::vector<uint8_t> buffer(4096);
    std::vector<ParsedFrame> frames;
    while (!stop) {
        pollfd fds[2] = {{master, POLLIN, 0}, {wake[0], POLLIN, 0}};
        const int timeout = parser.HasPartialFrame() ? int(RequestGap.count()) : 200;
        const int r = ::poll(fds, 2, timeout);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (r == 0) {
            parser.Reset();
            continue;
        }
        if (fds[1].revents & POLLIN) {
            uint8_t drain[16];
            while (::read(wake[0], drain, sizeof drain) > 0) {
            }
            continue;
        }
        if (!(fds[0].revents & POLLIN)) {
            // Hang-up without data (should not happen while the slave is held): do not spin.
            Pause(std::chrono::milliseconds(20));
            continue;
        }
        const ssize_t n = ::read(master, buffer.data(), buffer.size());
        if (n <= 0)
            continue;
        frames.clear();
        parser.Feed(buffer.data(), size_t(n), frames);
        droppedBatch = false;
        for (const ParsedFrame& f : frames) {
            if (stop || droppedBatch)
                break;
            Handle(f);
        }
        if (droppedBatch)
            parser.Reset();
    }
}

SimServer::SimServer(SimOptions options) : impl_(std::make_unique<Impl>(options)) {}

SimServer::~SimServer() {
    Stop();
}

bool SimServer::Start(std::string* error) {
    std::string why;
    Impl& s = *impl_;
    if (s.thread.joinable()) {
        why = "already running";
    } else if (s.options.address == BroadcastAddress ||
               std::count(s.options.moreAddresses.begin(), s.options.moreAddresses.end(),
                          BroadcastAddress) > 0) {
        why = "the address must lie between 0 and 254";
    } else if (SpeedCodeOf(s.options.baud) == 0) {
        why = "the speed must be one of 2400 4800 9600 19200 38400 57600 115200";
    } else if (s.Open(why)) {
        s.stop = false;
        s.thread = std::thread([&s] { s.Serve(); });
        return true;
    } else {
        s.Close();
    }
    if (error)
        *error = why;
    return false;
}

void SimServer::Stop() {
    Impl& s = *impl_;
    if (s.thread.joinable()) {
        s.stop = true;
        const uint8_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(s.wake[1], &one, 1);
        s.thread.join();
    }
    s.Close();
}

bool SimServer::IsRunning() const {
    return impl_->thread.joinable();
}

const std::string& SimServer::path() const {
    return impl_->path;
}

std::string SimServer::Control(const std::string& line) {
    // The terminal itself is the server's business, not the device model's. The simulator
    // holds the slave end open, so a tool that ended without closing its port leaves the
    // exclusive-use flag set and nobody could open the port again.
    std::istringstream words(line);
    std::string verb, extra;
    if (words >> verb && verb == "unlock") {
        if (words >> extra)
            return "error: usage: unlock";
        if (impl_->slave < 0)
            return "error: not running";
        if (::ioctl(impl_->slave, TIOCNXCL) != 0)
            return "error: " + std::string(std::strerror(errno));
        return "ok: the port may be opened again";
    }
    std::lock_guard guard(impl_->lock);
    const uint64_t clears = impl_->bus.clears();
    std::string reply = impl_->bus.Control(line, impl_->quit);
    // A clear also drops the requests still queued on the line: they were sent while the
    // faults held, and answering them now would put late answers on the line.
    if (impl_->bus.clears() != clears && impl_->master >= 0)
        ::tcflush(impl_->master, TCIFLUSH);
    return reply;
}

bool SimServer::QuitRequested() const {
    std::lock_guard guard(impl_->lock);
    return impl_->quit;
}

DeviceState SimServer::State() const {
    std::lock_guard guard(impl_->lock);
    return impl_->bus.first().device.Snapshot();
}

std::vector<uint8_t> SimServer::HubStore() const {
    std::lock_guard guard(impl_->lock);
    return impl_->bus.first().device.hubStore();
}

bool SimServer::SetHubStore(const std::vector<uint8_t>& bytes) {
    if (bytes.size() > HubStoreSize)
        return false;
    std::lock_guard guard(impl_->lock);
    std::vector<uint8_t>& store = impl_->bus.first().device.hubStore();
    std::fill(store.begin(), store.end(), 0);
    std::copy(bytes.begin(), bytes.end(), store.begin());
    return true;
}

} // namespace vq31::sim
