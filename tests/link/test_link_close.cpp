// Closing the link when the port thread is stuck inside a port call (a driver that does not
// keep its time-outs): the close returns after its bounded wait, the link stays usable, and
// the left-behind thread later ends without touching the link, which is gone by then (the
// sanitizer build reports any such touch). The stuck port is a port layer of this test
// whose read or write blocks until the test lets it go.
#include "commands.h"
#include "link.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

using namespace vq31;
using namespace std::chrono_literals;

namespace {

// What the test sees of its port, kept apart from the port object so it outlives it.
struct Probe {
    std::mutex mutex;
    std::condition_variable cv;
    bool released = false;
    bool stuck = false; // a blocking call has been entered
    int closes = 0;     // closes of the open port
    bool destroyed = false;
    std::vector<uint8_t> written;

    template <class Pred> bool WaitFor(Pred pred) {
        std::unique_lock lock(mutex);
        return cv.wait_for(lock, 20s, pred);
    }
    void Release() {
        std::lock_guard lock(mutex);
        released = true;
        cv.notify_all();
    }
};

class StuckPort final : public SerialPort {
public:
    enum class Blocks { Read, Write };
    StuckPort(std::shared_ptr<Probe> probe, Blocks blocks) : probe_(probe), blocks_(blocks) {}
    ~StuckPort() override {
        std::lock_guard lock(probe_->mutex);
        probe_->destroyed = true;
        probe_->cv.notify_all();
    }
    bool Open(const std::string&, uint32_t) override {
        open_ = true;
        return true;
    }
    void Close() override {
        if (!open_.exchange(false))
            return;
        std::lock_guard lock(probe_->mutex);
        ++probe_->closes;
        probe_->cv.notify_all();
    }
    bool IsOpen() const override { return open_; }
    Read ReadByte(uint8_t&, std::chrono::milliseconds, bool) override {
        if (blocks_ == Blocks::Read)
            Block();
        else
            std::this_thread::sleep_for(1ms);
        return Read::Timeout;
    }
    void Wake() override {}
    bool Write(const uint8_t* data, size_t length, std::chrono::milliseconds) override {
        if (blocks_ == Blocks::Write)
            Block();
        // Read after the block: the frame must still be intact when the call goes on.
        std::lock_guard lock(probe_->mutex);
        probe_->written.assign(data, data + length);
        return true;
    }
    void Purge() override {}
    const std::string& error() const override { return error_; }

private:
    void Block() {
        std::unique_lock lock(probe_->mutex);
        probe_->stuck = true;
        probe_->cv.notify_all();
        probe_->cv.wait(lock, [&] { return probe_->released; });
    }
    std::shared_ptr<Probe> probe_;
    const Blocks blocks_;
    std::atomic<bool> open_{false};
    std::string error_;
};

// Runs UartClose on its own thread so a close that never returns fails the test instead of
// hanging it.
bool CloseReturns(DeviceLink& link) {
    auto closing = std::async(std::launch::async, [&] { return link.UartClose(); });
    if (closing.wait_for(30s) != std::future_status::ready) {
        ADD_FAILURE() << "UartClose did not return";
        std::abort(); // the async's destructor would wait for it forever
    }
    return closing.get() == 0;
}

} // namespace

TEST(LinkClose, StuckReadIsLeftBehindAndEndsWithoutTouchingTheLink) {
    auto probe = std::make_shared<Probe>();
    auto link =
        std::make_unique<DeviceLink>(std::make_unique<StuckPort>(probe, StuckPort::Blocks::Read));
    ASSERT_EQ(link->UartOpen("stuck", 19200), 0);
    ASSERT_TRUE(probe->WaitFor([&] { return probe->stuck; }));

    EXPECT_TRUE(CloseReturns(*link));
    EXPECT_EQ(link->PortThreadsLeftBehind(), 1u);
    EXPECT_FALSE(link->IsOpen());
    {
        std::lock_guard lock(probe->mutex);
        EXPECT_EQ(probe->closes, 0) << "the port in use by the stuck call must stay open";
        EXPECT_FALSE(probe->destroyed);
    }
    // The link goes on without the stuck port: an exchange fails as on a closed link, and
    // opening a port that does not exist fails with its cause.
    uint32_t value = 0;
    EXPECT_EQ(ReadValue(*link, cmd::ReadModelCode, 1, value), StatusPortError);
    EXPECT_EQ(link->UartOpen("vq31-no-such-port", 19200), 1);
    EXPECT_FALSE(link->OpenError().empty());
    EXPECT_TRUE(CloseReturns(*link));
    EXPECT_EQ(link->PortThreadsLeftBehind(), 1u);

    link.reset();
    probe->Release();
    EXPECT_TRUE(probe->WaitFor([&] { return probe->closes == 1 && probe->destroyed; }))
        << "the left-behind thread closes and frees its port when the call returns";
}

TEST(LinkClose, StuckWriteKeepsItsFrameAfterTheLinkIsGone) {
    auto probe = std::make_shared<Probe>();
    auto link =
        std::make_unique<DeviceLink>(std::make_unique<StuckPort>(probe, StuckPort::Blocks::Write));
    ASSERT_EQ(link->UartOpen("stuck", 19200), 0);
    uint32_t value = 0;
    // The write never finishes within the send budget: the caller is told, not left waiting.
    EXPECT_EQ(ReadValue(*link, cmd::ReadModelCode, 7, value), StatusWriteError);
    ASSERT_TRUE(probe->WaitFor([&] { return probe->stuck; }));
    EXPECT_TRUE(CloseReturns(*link));
    EXPECT_EQ(link->PortThreadsLeftBehind(), 1u);

    link.reset();
    probe->Release();
    ASSERT_TRUE(probe->WaitFor([&] { return probe->destroyed; }));
    RequestFields request;
    request.code = cmd::ReadModelCode;
    request.address = 7;
    uint8_t expected[MaxRequestLength];
    const size_t length = BuildRequest(request, expected);
    EXPECT_EQ(probe->written, std::vector<uint8_t>(expected, expected + length));
    EXPECT_EQ(probe->closes, 1);
}

TEST(LinkClose, PortThreadThatKeepsItsTimeOutsIsJoined) {
    auto probe = std::make_shared<Probe>();
    probe->released = true; // every call returns at once
    DeviceLink link(std::make_unique<StuckPort>(probe, StuckPort::Blocks::Read));
    ASSERT_EQ(link.UartOpen("quick", 19200), 0);
    EXPECT_TRUE(CloseReturns(link));
    EXPECT_EQ(link.PortThreadsLeftBehind(), 0u);
    std::lock_guard lock(probe->mutex);
    EXPECT_EQ(probe->closes, 1);
    EXPECT_FALSE(probe->destroyed) << "a joined thread leaves the port with the link";
}
