// The worker's slot, repeat and stop contract, on a link with no port open (every exchange
// ends at once with the port-error status), so no device is needed.
#include "fake_view.h"
#include "job_log.h"

#include <gtest/gtest.h>

#include <thread>

namespace vq31 {
namespace {

using namespace std::chrono_literals;
using test::FakeView;
using test::JobLog;

struct WorkerRig {
    explicit WorkerRig(WorkerTiming timing = {}) : worker(link, params, view, texts, hub, timing) {
        view.worker = &worker;
        log.Attach(worker);
    }
    ~WorkerRig() { worker.Stop(); } // before the log and view it calls go away
    DeviceLink link;
    CommandParameters params;
    LanguageTexts texts;
    HubRecords hub;
    FakeView view;
    CommandWorker worker;
    JobLog log;
};

// A repeat long enough that a test can look at it while it is armed.
WorkerTiming SlowRepeat() {
    WorkerTiming t;
    t.echoRepeat = 300ms;
    t.slowRepeat = 300ms;
    return t;
}

TEST(WorkerSlot, TwoPostsBeforeWakeUpRunOnlyTheSecond) {
    WorkerRig rig;
    rig.worker.PostCommand(7);
    rig.worker.PostCommand(13);
    rig.worker.Start();
    ASSERT_TRUE(rig.log.WaitFor(13));
    rig.worker.PostCommand(job::None);
    ASSERT_TRUE(rig.log.WaitFor(job::None));
    EXPECT_EQ(rig.log.Codes(), (std::vector<int32_t>{13, job::None}));
}

TEST(WorkerSlot, PollingRepeatsUntilAnotherCodeIsPosted) {
    WorkerRig rig;
    rig.worker.Start();
    rig.worker.PostCommand(job::PollEcho);
    ASSERT_TRUE(rig.log.WaitFor(job::PollEcho, 3)); // re-armed by itself
    rig.worker.PostCommand(job::None);
    ASSERT_TRUE(rig.log.WaitFor(job::None));
    const size_t polls = rig.log.Count(job::PollEcho);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(rig.log.Count(job::PollEcho), polls) << "code 0 must stop the polling";
    EXPECT_FALSE(rig.worker.RepeatArmed());
    // Each failed poll showed the port error and nothing else.
    EXPECT_EQ(rig.view.Count("ShowError"), 0u);
    EXPECT_EQ(rig.view.Read(rig.view.deviceStatus).front().first, StatusPortError);
}

// Codes with no job, and a code with a job, both cancel an armed repeat.
class PostCancelsRepeat : public ::testing::TestWithParam<int32_t> {};

TEST_P(PostCancelsRepeat, ArmedRepeatNeverFiresAfterAPost) {
    WorkerRig rig(SlowRepeat());
    rig.worker.Start();
    rig.worker.PostCommand(job::PollEcho);
    ASSERT_TRUE(rig.log.WaitFor(job::PollEcho));
    ASSERT_TRUE(rig.view.WaitUntil([&] { return rig.worker.RepeatArmed(); }, 2s));
    rig.worker.PostCommand(GetParam());
    EXPECT_FALSE(rig.worker.RepeatArmed());
    ASSERT_TRUE(rig.log.WaitFor(GetParam()));
    std::this_thread::sleep_for(450ms); // past the repeat's delay
    EXPECT_EQ(rig.log.Count(job::PollEcho), 1u);
}

INSTANTIATE_TEST_SUITE_P(IgnoredAndRealCodes, PostCancelsRepeat,
                         ::testing::Values(job::None, 7, 8, 13, 14, 26, -1));

TEST(WorkerSlot, JobThatPostsIsNotReArmed) {
    // The display test fails twice on the closed port, shows one box and posts 5 itself:
    // its own repeat (18) must not come back.
    WorkerRig rig;
    rig.worker.Start();
    rig.worker.PostCommand(job::TestDisplay);
    ASSERT_TRUE(rig.log.WaitFor(job::PollEcho, 2));
    rig.worker.PostCommand(job::None);
    ASSERT_TRUE(rig.log.WaitFor(job::None));
    EXPECT_EQ(rig.log.Count(job::TestDisplay), 1u);
    EXPECT_EQ(rig.view.Count("ShowError"), 1u);
    EXPECT_EQ(rig.view.Read(rig.view.errors).front(), rig.texts.DeviceStatus(StatusPortError));
    EXPECT_EQ(rig.log.Codes().at(1), job::PollEcho);
}

TEST(WorkerSlot, SettingJobFailureShowsOneBoxAndResumesPolling) {
    WorkerRig rig;
    rig.worker.Start();
    rig.worker.PostCommand(job::SetAttenuator);
    ASSERT_TRUE(rig.log.WaitFor(job::PollEcho));
    rig.worker.PostCommand(job::None);
    ASSERT_TRUE(rig.log.WaitFor(job::None));
    EXPECT_EQ(rig.view.Count("ShowError"), 1u);
    // Ten tries, each shown in the status panel, before the first poll.
    const auto statuses = rig.view.Read(rig.view.deviceStatus);
    ASSERT_GE(statuses.size(), 10u);
}

TEST(WorkerStop, StopInsideALongPauseReturnsAndJoins) {
    WorkerTiming t;
    t.jobPause = std::chrono::hours(1); // the pause before a setting job
    WorkerRig rig(t);
    rig.worker.Start();
    rig.worker.PostCommand(job::SetFrequency);
    std::this_thread::sleep_for(50ms);
    rig.worker.Stop(); // must not wait the hour
    EXPECT_TRUE(rig.worker.StopRequested());
    EXPECT_EQ(rig.view.Count("ShowDeviceStatus"), 0u);
    EXPECT_EQ(rig.view.stepsAfterStop, 0u);
}

TEST(WorkerStop, StopFromInsideAViewStepEndsTheWorker) {
    WorkerRig rig;
    rig.view.onStep = [&](const std::string& step) {
        if (step == "ShowDeviceStatus")
            rig.worker.Stop(); // on the worker thread: only requests the stop
    };
    rig.worker.Start();
    rig.worker.PostCommand(job::PollEcho);
    ASSERT_TRUE(rig.view.WaitUntil([&] { return rig.worker.StopRequested(); }));
    rig.worker.Stop(); // from the test thread: joins
    EXPECT_EQ(rig.view.stepsAfterStop, 0u);
    EXPECT_EQ(rig.view.Count("ShowDeviceStatus"), 1u);
    EXPECT_EQ(rig.log.Count(job::PollEcho), 0u) << "no observer call after the stop";
}

// A view that hands its status step to a "window thread" and blocks until that thread has
// run it, as the Qt window does; Shutdown makes every call return at once.
class QueuedView : public FakeView {
public:
    void ShowDeviceStatus(Status status, const std::string& text) override {
        std::unique_lock lock(queueLock_);
        if (shut_)
            return;
        pending_ = [=, this] { FakeView::ShowDeviceStatus(status, text); };
        queueCv_.notify_all();
        queueCv_.wait(lock, [&] { return !pending_ || shut_; });
    }
    // The window thread's loop: waits for one marshalled call and runs it.
    bool RunOne() {
        std::unique_lock lock(queueLock_);
        if (!queueCv_.wait_for(lock, 10s, [&] { return bool(pending_); }))
            return false;
        pending_();
        pending_ = nullptr;
        queueCv_.notify_all();
        return true;
    }
    // Waits until a call is queued and left waiting for the window thread.
    bool WaitPending() {
        std::unique_lock lock(queueLock_);
        return queueCv_.wait_for(lock, 10s, [&] { return bool(pending_); });
    }
    void Shutdown() {
        std::lock_guard lock(queueLock_);
        shut_ = true;
        pending_ = nullptr;
        queueCv_.notify_all();
    }

private:
    std::mutex queueLock_;
    std::condition_variable queueCv_;
    std::function<void()> pending_;
    bool shut_ = false;
};

TEST(WorkerStop, WindowThreadStopsTheWorkerWhileItWaitsForTheWindow) {
    DeviceLink link;
    CommandParameters params;
    LanguageTexts texts;
    HubRecords hub;
    QueuedView view;
    CommandWorker worker(link, params, view, texts, hub);
    worker.Start();
    worker.PostCommand(job::PollEcho);
    ASSERT_TRUE(view.RunOne());
    ASSERT_TRUE(view.RunOne());      // polling goes on through the window thread
    ASSERT_TRUE(view.WaitPending()); // the worker now waits for this thread
    view.Shutdown();                 // the order a window must keep: view, worker, link
    worker.Stop();
    link.UartClose();
    EXPECT_EQ(view.Count("ShowDeviceStatus"), 2u);
}

TEST(WorkerStop, StopBeforeStartAndTwiceIsHarmless) {
    WorkerRig rig;
    rig.worker.Stop();
    rig.worker.Start(); // a stopped worker is not restarted
    rig.worker.PostCommand(job::PollEcho);
    rig.worker.Stop();
    EXPECT_EQ(rig.log.Codes().size(), 0u);
}

} // namespace
} // namespace vq31
