// The window's two write jobs against the simulated sensor: each saves one snapshot of the
// state it replaces before the first write, reads back what it wrote, and reports a write the
// device did not keep as a failure naming the fields. Without a snapshot nothing is written.
#include "../hub_test_images.h"
#include "sim_rig.h"
#include "snapshot.h"

#include <fstream>

namespace vq31 {
namespace {

using namespace std::chrono_literals;
using test::SimRig;

class SnapshotJobs : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/vq31-worker-snapshots-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        store_ = std::make_unique<SnapshotStore>(root_ / "snapshots");
    }
    void TearDown() override { std::filesystem::remove_all(root_); }

    // A rig whose worker saves into store, started on an open link.
    std::unique_ptr<SimRig> Rig(const SnapshotStore& store) {
        WorkerTiming timing;
        timing.slowRepeat = 30ms;
        auto rig = std::make_unique<SimRig>(sim::SimOptions{}, timing);
        rig->worker->SetSnapshotStore(&store);
        rig->OpenLink(19200);
        rig->worker->Start();
        return rig;
    }
    static ParameterChoice Choice() {
        ParameterChoice c;
        c.speedIndex = 3; // 19200, as now
        c.address = 1;
        c.answer255Index = 1;
        c.bitsIndex = 1;
        c.autoPeriod = 7;
        c.postFilterIndex = 6;
        c.fuelTypeIndex = 0;
        c.fuelTempCoef = 0.25f;
        c.fuelSoundSpeed = 1420.5f;
        return c;
    }
    void RunHubWrite(SimRig& rig) {
        const size_t polls = rig.log.Count(job::PollLevel);
        ASSERT_TRUE(rig.RunUntil(job::WriteHubData, job::PollLevel, polls + 1));
    }
    Snapshot OnlySnapshot() {
        const auto files = store_->List();
        EXPECT_EQ(files.size(), 1u);
        Snapshot s;
        std::string error;
        if (!files.empty()) {
            EXPECT_TRUE(SnapshotStore::Load(files[0], s, error)) << error;
        }
        return s;
    }

    std::filesystem::path root_;
    std::unique_ptr<SnapshotStore> store_;
};

TEST_F(SnapshotJobs, ParameterWriteSavesTheOldStateAndReadsBack) {
    auto rig = Rig(*store_);
    const auto before = rig->server.State();
    rig->view.parameterChoice = Choice();
    ASSERT_TRUE(rig->RunUntil(job::WriteParameters, job::None));
    rig->Stop();
    EXPECT_TRUE(rig->view.errors.empty()) << rig->view.errors.front();
    EXPECT_EQ(rig->server.State().postFilter, 6);
    const Snapshot old = OnlySnapshot();
    EXPECT_EQ(old.postFilter, before.postFilter);
    EXPECT_EQ(old.autoPeriod, before.autoPeriod);
    EXPECT_EQ(old.soundSpeedBits, FloatBits(before.fuelSoundSpeed));
    EXPECT_EQ(old.serialNumber, before.serialNumber);
    EXPECT_EQ(rig->worker->LastSnapshot(), store_->List().front());
}

TEST_F(SnapshotJobs, ParameterWriteTheDeviceDidNotKeepFailsNamingTheFields) {
    auto rig = Rig(*store_);
    rig->Control("fault nostore 0x93"); // the fuel settings
    rig->view.parameterChoice = Choice();
    ASSERT_TRUE(rig->RunUntil(job::WriteParameters, job::None));
    rig->Stop();
    ASSERT_EQ(rig->view.errors.size(), 1u);
    const std::string& text = rig->view.errors[0];
    EXPECT_NE(text.find("Тип топлива"), std::string::npos) << text;
    EXPECT_NE(text.find("Скорость звука в топливе"), std::string::npos) << text;
    EXPECT_EQ(text.find("Пост-фильтрация"), std::string::npos) << text;
}

TEST_F(SnapshotJobs, HubWriteSavesTheOldImageAndAStoredPageMismatchIsAFailure) {
    auto rig = Rig(*store_);
    const std::vector<uint8_t> original = rig->server.HubStore();
    HubMakeDefault(rig->hub.hubBuffer);
    Put(rig->params.TankId, 5);
    rig->view.hubChoice = {0, 0};
    RunHubWrite(*rig);
    EXPECT_TRUE(rig->view.errors.empty()) << rig->view.errors.front();
    const Snapshot old = OnlySnapshot();
    ASSERT_EQ(old.hub.size(), 512u);
    EXPECT_TRUE(std::equal(old.hub.begin(), old.hub.end(), original.begin()));
    EXPECT_EQ(old.tankId, 1u);

    // A changed page 0, acknowledged but not stored.
    rig->hub.hubBuffer.bytes()[40] ^= 0x01;
    rig->Control("fault nostore 0x6E 1");
    RunHubWrite(*rig);
    rig->Stop();
    ASSERT_EQ(rig->view.errors.size(), 1u);
    EXPECT_NE(rig->view.errors[0].find("Образ HUB_DATA (страницы 0)"), std::string::npos)
        << rig->view.errors[0];
    EXPECT_EQ(store_->List().size(), 2u);
}

TEST_F(SnapshotJobs, AHubWriteFailingPartWayNamesThePagesAndPutsTheSnapshotBackWhenAsked) {
    auto rig = Rig(*store_);
    const std::vector<uint8_t> original = rig->server.HubStore();
    ASSERT_TRUE(test::FivePageImage(rig->hub.hubBuffer));
    Put(rig->params.TankId, 5);
    rig->view.hubChoice = {0, 0};
    const auto image = rig->hub.hubBuffer.bytes();
    // Pages 0 and 1 land, page 2 and every later try go unanswered. Declined: the device keeps
    // the torn image and the question said which pages it holds.
    rig->Control("fault code 0x6E silent 20 after 2");
    rig->view.AnswerQuestions({false});
    RunHubWrite(*rig);
    ASSERT_EQ(rig->view.questions.size(), 1u);
    const std::string pages = WithArguments(rig->texts.Text(msg::HubPagesWritten), {"2", "5"});
    EXPECT_NE(rig->view.questions[0].find(pages), std::string::npos) << rig->view.questions[0];
    EXPECT_NE(rig->view.questions[0].find(rig->texts.Text(msg::HubOfferRestore)),
              std::string::npos);
    std::vector<uint8_t> torn = rig->server.HubStore();
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + 256, torn.begin()));
    EXPECT_TRUE(std::equal(original.begin() + 256, original.begin() + 512, torn.begin() + 256));

    // Accepted: the snapshot saved before this second write goes back in.
    rig->Control("fault clear");
    rig->Control("fault code 0x6E silent 1 after 1");
    rig->view.AnswerQuestions({true});
    const size_t restores = rig->log.Count(job::RestoreSnapshot);
    rig->worker->PostCommand(job::WriteHubData);
    ASSERT_TRUE(rig->log.WaitFor(job::RestoreSnapshot, restores + 1));
    rig->Stop();
    ASSERT_EQ(rig->view.questions.size(), 2u);
    EXPECT_EQ(rig->view.informations.back(), rig->texts.Text(msg::SnapshotRestored));
    EXPECT_EQ(rig->server.HubStore(), torn);
    EXPECT_EQ(store_->List().size(), 3u); // before each write, and before the restore
}

TEST_F(SnapshotJobs, NoSnapshotMeansNothingIsWritten) {
    std::ofstream(root_ / "file") << "x";
    const SnapshotStore blocked(root_ / "file" / "snapshots");
    auto rig = Rig(blocked);
    const auto before = rig->server.State();
    const auto hub = rig->server.HubStore();
    rig->view.parameterChoice = Choice();
    ASSERT_TRUE(rig->RunUntil(job::WriteParameters, job::None));
    HubMakeDefault(rig->hub.hubBuffer);
    RunHubWrite(*rig);
    // A device that cannot be read is no better.
    auto second = Rig(*store_);
    second->Control("fault code 0x41 silent 1"); // the passport read
    second->view.parameterChoice = Choice();
    ASSERT_TRUE(second->RunUntil(job::WriteParameters, job::None));
    rig->Stop();
    second->Stop();
    EXPECT_EQ(rig->view.errors.size(), 2u);
    EXPECT_EQ(second->view.errors.size(), 1u);
    EXPECT_EQ(rig->server.State().postFilter, before.postFilter);
    EXPECT_EQ(rig->server.HubStore(), hub);
    EXPECT_EQ(second->server.State().postFilter, before.postFilter);
    EXPECT_TRUE(store_->List().empty());
}

TEST_F(SnapshotJobs, RestoreJobPutsTheImageBackAfterAFreshSnapshotAndComparesFirst) {
    auto rig = Rig(*store_);
    const std::vector<uint8_t> original = rig->server.HubStore();
    HubMakeDefault(rig->hub.hubBuffer);
    RunHubWrite(*rig);
    const auto saved = store_->List().front();

    rig->worker->RequestSnapshot(saved, false);
    ASSERT_TRUE(rig->RunUntil(job::CompareSnapshot, job::None));
    ASSERT_EQ(rig->view.informations.size(), 1u);
    // The default configuration has none of the presets the snapshot holds.
    EXPECT_NE(rig->view.informations[0].find("Таблица бака 2: в датчике нет, в снимке строк"),
              std::string::npos)
        << rig->view.informations[0];
    EXPECT_EQ(store_->List().size(), 1u) << "a comparison saved a snapshot";

    ASSERT_TRUE(rig->RunUntil(job::RestoreSnapshot, job::None, 2));
    EXPECT_TRUE(rig->view.errors.empty()) << rig->view.errors.front();
    const std::vector<uint8_t> restored = rig->server.HubStore();
    Snapshot old;
    std::string error;
    ASSERT_TRUE(SnapshotStore::Load(saved, old, error)) << error;
    EXPECT_TRUE(std::equal(old.hub.begin(), old.hub.end(), restored.begin()));
    EXPECT_TRUE(std::equal(old.hub.begin(), old.hub.end(), original.begin()));
    EXPECT_EQ(store_->List().size(), 2u);

    ASSERT_TRUE(rig->RunUntil(job::CompareSnapshot, job::None, 3));
    EXPECT_EQ(rig->view.informations.back(), rig->texts.Text(msg::SnapshotSame));
    rig->Stop();
}

TEST_F(SnapshotJobs, RestoreJobOfAnotherSensorAsksAndADamagedFileWritesNothing) {
    auto rig = Rig(*store_);
    rig->view.parameterChoice = Choice();
    ASSERT_TRUE(rig->RunUntil(job::WriteParameters, job::None)); // postfilter 3 -> 6
    const auto saved = store_->List().front();
    rig->Control("serial 1234");
    rig->view.AnswerQuestions({false, true});
    rig->worker->RequestSnapshot(saved, true);
    ASSERT_TRUE(rig->RunUntil(job::RestoreSnapshot, job::None, 2));
    EXPECT_EQ(rig->view.questions.size(), 1u);
    EXPECT_EQ(rig->server.State().postFilter, 6) << "written although the answer was No";
    EXPECT_EQ(store_->List().size(), 1u);
    ASSERT_TRUE(rig->RunUntil(job::RestoreSnapshot, job::None, 3));
    EXPECT_EQ(rig->server.State().postFilter, 3);
    EXPECT_EQ(store_->List().size(), 2u);
    EXPECT_TRUE(rig->view.errors.empty()) << rig->view.errors.front();

    std::ofstream(root_ / "bad.snapshot") << "[vq31-snapshot]\nformat = 1\ncheck = 0\n";
    const auto requests = rig->server.State().counters.requests;
    rig->worker->RequestSnapshot(root_ / "bad.snapshot", true);
    ASSERT_TRUE(rig->RunUntil(job::RestoreSnapshot, job::None, 4));
    rig->Stop();
    ASSERT_EQ(rig->view.errors.size(), 1u);
    EXPECT_NE(rig->view.errors[0].find("changed or damaged"), std::string::npos)
        << rig->view.errors[0];
    EXPECT_EQ(rig->server.State().counters.requests, requests);
}

} // namespace
} // namespace vq31
