// Hub transfer in pages, the tare page's view of it, the tare mode and the live level,
// against the simulated sensor's HUB_DATA store.
#include "sim_rig.h"

#include <condition_variable>
#include <deque>
#include <random>
#include <thread>

namespace vq31 {
namespace {

using namespace std::chrono_literals;
using test::SimRig;

constexpr uint8_t Marker = 0xA5;

std::vector<uint8_t> Bytes(const HubBuffer& image, size_t count) {
    return {image.bytes().begin(), image.bytes().begin() + count};
}

// A store whose bytes past the image carry a marker, so a page read or written beyond the
// image's pages shows.
std::vector<uint8_t> MarkedStore(const HubBuffer& image, size_t imageBytes) {
    std::vector<uint8_t> store(sim::HubStoreSize, Marker);
    std::copy(image.bytes().begin(), image.bytes().begin() + imageBytes, store.begin());
    return store;
}

TankRecord RandomTank(std::mt19937& rng, uint16_t id, size_t rows) {
    TankRecord t;
    t.Id = id;
    t.Height = uint16_t(std::uniform_int_distribution<int>(1000, 65000)(rng));
    t.RowCount = uint16_t(rows);
    t.Scale = uint16_t(std::array<int, 3>{1, 10, 100}[rng() % 3]);
    uint16_t code = 0;
    float litres = 0;
    for (size_t i = 0; i < rows; ++i) {
        code = uint16_t(code + 1 + rng() % 200);
        litres += float(rng() % 500) * 0.01f * t.Scale;
        t.rows[i] = {code, litres};
    }
    return t;
}

struct HubRig : SimRig {
    HubRig() : SimRig({}, Quick()) {
        OpenLink(19200);
        worker->Start();
    }
    static WorkerTiming Quick() {
        WorkerTiming t;
        t.slowRepeat = 30ms;
        return t;
    }
    // Runs a hub job and waits for its level poll.
    void Run(int32_t code) {
        const size_t polls = log.Count(job::PollLevel);
        ASSERT_TRUE(RunUntil(code, job::PollLevel, polls + 1));
    }
};

TEST(HubRead, DefaultImageTakesBlocksZeroAndOneAndIsShown) {
    HubRig rig;
    HubBuffer image;
    HubMakeDefault(image);
    ASSERT_TRUE(rig.server.SetHubStore(MarkedStore(image, 236)));
    rig.Run(job::ReadHubData);
    rig.Stop();
    EXPECT_EQ(Bytes(rig.hub.hubBuffer, 236), Bytes(image, 236));
    EXPECT_EQ(rig.hub.hubBuffer.bytes()[255], Marker) << "page 1 read whole";
    EXPECT_EQ(rig.hub.hubBuffer.bytes()[256], 0) << "page 2 not read";
    ASSERT_EQ(rig.view.hubViews.size(), 1u);
    const auto& v = rig.view.hubViews[0];
    EXPECT_TRUE(v.valid);
    EXPECT_EQ(v.version, "3.01");
    EXPECT_EQ(v.tankIds, (std::vector<uint16_t>{0, 1}));
    const auto device = rig.server.State();
    EXPECT_EQ(Get(rig.params.TankId), device.tankId);
    EXPECT_EQ(v.selectedIndex, device.tankId == 1 ? 1 : 0);
    EXPECT_EQ(v.heightMm, device.tankHeight / 10u);
    EXPECT_EQ(v.mlPerBitIndex, 0);
    EXPECT_EQ(rig.view.Count("LockControls"), 1u);
    EXPECT_TRUE(rig.view.questions.empty());
}

class WrongVersion : public ::testing::TestWithParam<bool> {};

TEST_P(WrongVersion, ReadsOnlyBlockZeroThenAsksAboutTheStructure) {
    const bool yes = GetParam();
    HubRig rig;
    HubBuffer image;
    HubMakeDefault(image);
    image.SetVersion(0x0200);
    HubSeal(image);
    ASSERT_TRUE(rig.server.SetHubStore(MarkedStore(image, 236)));
    rig.hub.hubBuffer.Page(1)[0] = 0x3C; // must survive: page 1 is not read
    rig.view.AnswerQuestions({yes});
    rig.Run(job::ReadHubData);
    rig.Stop();
    EXPECT_EQ(rig.view.questions, std::vector<std::string>{rig.texts.Text(msg::HubWrong)});
    ASSERT_EQ(rig.view.hubViews.size(), 1u);
    EXPECT_EQ(rig.view.hubViews[0].valid, yes);
    if (yes) {
        EXPECT_TRUE(HubIsValid(rig.hub.hubBuffer));
        EXPECT_EQ(rig.hub.hubBuffer.TotalSize(), 236);
    } else {
        EXPECT_EQ(rig.hub.hubBuffer.Page(1)[0], 0x3C);
        EXPECT_TRUE(rig.view.hubViews[0].tankIds.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Answers, WrongVersion, ::testing::Bool());

TEST(HubWrite, EmptyImageWritesNoBlockButTheTankId) {
    HubRig rig;
    const auto before = rig.server.HubStore();
    Put(rig.params.TankId, 7);
    rig.view.AnswerQuestions({false}); // keep the invalid image
    rig.Run(job::WriteHubData);
    rig.Stop();
    EXPECT_EQ(rig.server.HubStore(), before);
    EXPECT_EQ(rig.server.State().tankId, 7);
    EXPECT_TRUE(rig.view.errors.empty());
}

struct HeightCase {
    int32_t tankId;
    bool written;
};
class TankHeight : public ::testing::TestWithParam<HeightCase> {};

TEST_P(TankHeight, IsWrittenOnlyForTheTwoStandardTanks) {
    HubRig rig;
    HubBuffer& image = rig.hub.hubBuffer;
    HubMakeDefault(image);
    std::mt19937 rng(5);
    ASSERT_TRUE(HubAppendTank(image, RandomTank(rng, 5, 4)));
    const uint16_t heightBefore = rig.server.State().tankHeight;
    Put(rig.params.TankId, GetParam().tankId);
    rig.view.hubChoice = {1234, 2};
    rig.Run(job::WriteHubData);
    rig.Stop();
    const auto device = rig.server.State();
    EXPECT_EQ(device.tankId, GetParam().tankId);
    EXPECT_EQ(device.tankHeight, GetParam().written ? 12340 : heightBefore);
    EXPECT_EQ(rig.hub.hubBuffer.MlPerBit(), 100);
    EXPECT_TRUE(HubIsValid(rig.hub.hubBuffer));
}

INSTANTIATE_TEST_SUITE_P(Ids, TankHeight,
                         ::testing::Values(HeightCase{0, true}, HeightCase{1, true},
                                           HeightCase{5, false}));

TEST(HubWrite, TableTooBigForItsEntryStillWritesTheImageUnchanged) {
    HubRig rig;
    // Header, entry 0 without rows, entry 1 with room for 27 rows (120 bytes).
    HubBuffer& image = rig.hub.hubBuffer;
    HubMakeDefault(image);
    image.SetWord(26 + EntrySizeOffset, 120);
    image.SetTotalSize(16 + 10 + 120);
    HubSeal(image);
    ASSERT_TRUE(HubIsValid(image));
    const auto original = Bytes(image, 146);
    rig.hub.currentTank.RowCount = 30; // needs 130 bytes
    Put(rig.params.TankId, 1);
    rig.view.hubChoice = {1111, 3};
    rig.view.AnswerQuestions({true}); // the answer changes nothing
    rig.Run(job::WriteHubData);
    rig.Stop();
    EXPECT_EQ(rig.view.questions, std::vector<std::string>{rig.texts.Text(msg::TableTooBig)});
    const auto store = rig.server.HubStore();
    EXPECT_EQ(std::vector<uint8_t>(store.begin(), store.begin() + 146), original);
    EXPECT_EQ(rig.server.State().tankHeight, 11110) << "the height is still written";
}

TEST(HubWrite, PagesPastTheOneByteBlockIndexAreNotSentOverTheFirstOnes) {
    HubRig rig;
    HubBuffer& image = rig.hub.hubBuffer;
    image.SetTotalSize(65535); // 512 pages by its size; the block index reaches 256
    image.Page(0)[5] = 0x11;
    image.Page(255)[0] = 0x22;
    image.Page(256)[5] = 0x33; // would land on block 0 if the index wrapped
    Put(rig.params.TankId, 4);
    rig.view.AnswerQuestions({false});
    rig.Run(job::WriteHubData);
    rig.Stop();
    const auto store = rig.server.HubStore();
    EXPECT_EQ(store[5], 0x11);
    EXPECT_EQ(store[255 * 128], 0x22);
    EXPECT_TRUE(rig.view.errors.empty());
}

TEST(HubWrite, CalibratedTankTableGoesIntoEntryOne) {
    HubRig rig;
    HubMakeDefault(rig.hub.hubBuffer);
    TankRecord& tank = rig.hub.currentTank;
    tank.RowCount = 3;
    tank.Scale = 0; // taken as 1
    tank.rows[0] = {100, 1.5f};
    tank.rows[1] = {200, 12.5f};
    tank.rows[2] = {300, 30.25f};
    Put(rig.params.TankId, 1);
    rig.view.hubChoice = {1500, 0};
    rig.Run(job::WriteHubData);
    rig.Run(job::ReadHubData);
    rig.Stop();
    const HubBuffer& back = rig.hub.hubBuffer;
    ASSERT_TRUE(HubIsValid(back));
    const auto entry = HubFindEntry(back, 1);
    ASSERT_TRUE(entry);
    EXPECT_EQ(HubEntryHead(back, *entry).RowCount, 3);
    EXPECT_EQ(HubEntryRow(back, *entry, 1).Value, 12500);
    EXPECT_EQ(HubEntryRow(back, *entry, 2).Code, 300);
    EXPECT_EQ(rig.view.hubViews.back().tableLength, std::optional<uint16_t>(3));
    EXPECT_FLOAT_EQ(rig.hub.currentTank.rows[1].Litres, 12.5f);
}

TEST(HubTransfer, WriteThenReadBackGivesTheSameImage) {
    HubRig rig;
    std::mt19937 rng(20260908);
    for (int round = 0; round < 5; ++round) {
        HubBuffer sent;
        HubMakeDefault(sent);
        // Tanks until the image is near its largest size, varied per round.
        const size_t target = 300 + rng() % 3700;
        for (uint16_t id = 2; sent.TotalSize() < target; ++id) {
            const size_t rows = 1 + rng() % 60;
            if (!HubAppendTank(sent, RandomTank(rng, id, rows)))
                break;
        }
        sent.SetMlPerBit(MlPerBitForIndex(int(rng() % 5)));
        HubSeal(sent);
        ASSERT_TRUE(HubIsValid(sent));
        const size_t size = sent.TotalSize();
        rig.hub.hubBuffer = sent;
        Put(rig.params.TankId, 3);
        rig.view.hubChoice = {0, MlPerBitIndex(sent.MlPerBit())};
        rig.Run(job::WriteHubData);
        rig.hub.hubBuffer = HubBuffer{}; // safe: the worker only polls the level now
        rig.Run(job::ReadHubData);
        ASSERT_TRUE(rig.view.WaitForStep("ShowHubData", size_t(round + 1)));
        EXPECT_EQ(Bytes(rig.hub.hubBuffer, size), Bytes(sent, size)) << "round " << round;
    }
    rig.Stop();
    EXPECT_TRUE(rig.view.errors.empty());
}

TEST(HubTransfer, FailedBlockShowsOneBoxAndKeepsPolling) {
    HubRig rig;
    HubMakeDefault(rig.hub.hubBuffer);
    rig.Control("fault code 0x6E silent 1");
    Put(rig.params.TankId, 4);
    rig.Run(job::WriteHubData);
    rig.Stop();
    // The tank id went to the device before the first page failed: the box says so, never
    // "nothing written".
    ASSERT_EQ(rig.view.errors.size(), 1u);
    EXPECT_EQ(rig.view.errors[0],
              "Статус устройства: Устройство не отвечает\n" + rig.texts.Text(msg::TankIdWritten));
    EXPECT_EQ(rig.view.Count("UnlockControls"), 1u);
}

TEST(LiveLevel, ShowsMillimetresAndBarThenNoData) {
    HubRig rig;
    rig.Control("tank 6500 10000");
    rig.Control("level 6500");
    rig.worker->PostCommand(job::PollLevel);
    ASSERT_TRUE(rig.view.WaitForStep("ShowLevel"));
    rig.Control("nolevel");
    ASSERT_TRUE(rig.view.WaitUntil(
        [&] { return !rig.view.levels.empty() && !rig.view.levels.back().hasLevel; }));
    rig.Stop();
    const auto& first = rig.view.levels.front();
    EXPECT_EQ(first.text, "6500");
    EXPECT_EQ(first.barHeight, 325u);
    EXPECT_EQ(rig.view.levels.back().text, "No Data");
    EXPECT_EQ(rig.view.levels.back().barHeight, 0u);
}

TEST(LiveLevel, LostDeviceReReadsTheHubOnce) {
    HubRig rig;
    rig.Control("fault silent 1");
    rig.worker->PostCommand(job::PollLevel);
    ASSERT_TRUE(rig.log.WaitFor(job::ReadHubData));
    ASSERT_TRUE(rig.log.WaitFor(job::PollLevel, rig.log.Count(job::PollLevel) + 3));
    rig.Stop();
    EXPECT_EQ(rig.log.Count(job::ReadHubData), 1u);
    EXPECT_EQ(rig.view.Count("ShowHubData"), 1u);
}

// A window thread for the recording view: it runs the worker's steps one at a time and,
// between them, does the window's own work, as the tare window storing its grid on OK.
class WindowThread {
public:
    explicit WindowThread(std::function<void()> ownWork)
        : thread_([this, work = std::move(ownWork)] { Loop(work); }) {}
    ~WindowThread() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }
    // Runs step on the window thread and returns once it has run.
    void Run(const std::function<void()>& step) {
        std::unique_lock lock(mutex_);
        const uint64_t ticket = ++queued_;
        steps_.push_back(&step);
        cv_.notify_all();
        cv_.wait(lock, [&] { return finished_ >= ticket; });
    }

private:
    void Loop(const std::function<void()>& ownWork) {
        for (;;) {
            const std::function<void()>* step = nullptr;
            {
                std::unique_lock lock(mutex_);
                if (steps_.empty() && done_)
                    return;
                if (!steps_.empty()) {
                    step = steps_.front();
                    steps_.pop_front();
                }
            }
            if (step == nullptr) {
                ownWork();
                std::this_thread::sleep_for(200us);
                continue;
            }
            (*step)();
            {
                std::lock_guard lock(mutex_);
                ++finished_;
            }
            cv_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<const std::function<void()>*> steps_;
    uint64_t queued_ = 0;
    uint64_t finished_ = 0;
    bool done_ = false;
    std::thread thread_;
};

TEST(LiveLevel, HubReReadAfterALostPollLoadsTheTankOnTheWindowThread) {
    HubRig rig;
    // The window keeps storing a grid into CurrentTank, as the tare window's OK does; the
    // worker must not touch the record meanwhile (ThreadSanitizer watches this).
    std::atomic<int> stores{0};
    WindowThread window([&] {
        TankRecord& tank = rig.hub.currentTank;
        tank.RowCount = 2;
        tank.rows[0] = {100, 1.5f};
        tank.rows[1] = {200, float(stores.fetch_add(1) % 100)};
    });
    rig.view.runOnWindow = [&](const std::function<void()>& step) { window.Run(step); };
    rig.Control("fault silent 1");
    rig.worker->PostCommand(job::PollLevel);
    ASSERT_TRUE(rig.log.WaitFor(job::ReadHubData));
    ASSERT_TRUE(rig.view.WaitForStep("ShowHubData"));
    ASSERT_TRUE(rig.log.WaitFor(job::PollLevel, rig.log.Count(job::PollLevel) + 2));
    rig.Stop();
    EXPECT_GT(stores.load(), 0);
    ASSERT_EQ(rig.view.hubViews.size(), 1u);
    EXPECT_TRUE(rig.view.hubViews[0].valid);
}

TEST(TareMode, TellsTheDeviceAndPollsTheLevel) {
    HubRig rig;
    Put(rig.params.TareWindowOpen, 1);
    rig.Run(job::SetTareMode);
    EXPECT_EQ(rig.server.State().tareMode, 1);
    Put(rig.params.TareWindowOpen, 0);
    rig.Run(job::SetTareMode);
    rig.Stop();
    EXPECT_EQ(rig.server.State().tareMode, 0);
}

TEST(RefreshHubView, ShowsThePresetChosenWithoutDeviceTraffic) {
    HubRig rig;
    HubBuffer& image = rig.hub.hubBuffer;
    HubMakeDefault(image);
    std::mt19937 rng(9);
    const TankRecord preset = RandomTank(rng, 6, 12);
    ASSERT_TRUE(HubAppendTank(image, preset));
    Put(rig.params.TankId, 6);
    rig.Run(job::RefreshHubView);
    rig.Stop();
    const auto& v = rig.view.hubViews.at(0);
    EXPECT_EQ(v.tankIds, (std::vector<uint16_t>{0, 1, 6}));
    EXPECT_EQ(v.selectedIndex, 2);
    EXPECT_EQ(v.heightMm, preset.Height / 10u);
    EXPECT_EQ(v.tableLength, std::optional<uint16_t>(12));
    EXPECT_EQ(rig.hub.currentTank.RowCount, 12);
    EXPECT_EQ(rig.view.unlockTankIds.at(0), 6);
}

} // namespace
} // namespace vq31
