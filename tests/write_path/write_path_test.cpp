// Write transactions on a link to the simulated sensor: a stop between pages ends with the
// old image or the new one whole, a failure part-way names what the device took, and a
// write of what the device already holds sends nothing.
#include "../hub_test_images.h"
#include "device_ops.h"
#include "sim_server.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>

namespace vq31::test {
namespace {

class WritePath : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(sim_.Start(&error)) << error;
        ASSERT_EQ(link_.UartOpen(sim_.path(), 19200), 0);
        folder_ = std::filesystem::temp_directory_path() /
                  ("vq31-write-path-" + std::to_string(::getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(folder_);
        store_ = std::make_unique<SnapshotStore>(folder_);
        ASSERT_TRUE(ImageOfPages(*image_, 12));
    }
    void TearDown() override {
        link_.UartClose();
        std::filesystem::remove_all(folder_);
    }
    std::vector<uint8_t> NewBytes() const {
        return {image_->bytes().begin(), image_->bytes().begin() + 12 * HubPageSize};
    }
    // Whether the device's store starts with these bytes.
    bool Holds(const std::vector<uint8_t>& bytes) const {
        const auto store = sim_.HubStore();
        return store.size() >= bytes.size() &&
               std::equal(bytes.begin(), bytes.end(), store.begin());
    }

    sim::SimServer sim_;
    DeviceLink link_;
    std::filesystem::path folder_;
    std::unique_ptr<SnapshotStore> store_;
    std::unique_ptr<HubBuffer> image_ = std::make_unique<HubBuffer>();
};

TEST_F(WritePath, AStopBetweenPagesEndsWithOneImageWhole) {
    struct Case {
        size_t stopAfter;
        StopEnd answer;
        WriteEnd end;
    };
    for (const Case c : {Case{3, StopEnd::PutBack, WriteEnd::PutBack},
                         Case{9, StopEnd::Finished, WriteEnd::Written}}) {
        const std::vector<uint8_t> old = sim_.HubStore();
        size_t done = 0;
        WriteContext context;
        context.store = store_.get();
        context.progress = [&done](size_t pages, size_t) { done = pages; };
        context.stop = [&] { return done >= c.stopAfter; };
        WriteOutcome o = WriteHubTransaction(link_, 1, {image_.get(), 12, {}, {}}, context);
        EXPECT_EQ(o.stopEnd, StopEnd::Incomplete) << c.stopAfter;
        EXPECT_EQ(o.pagesWritten, c.stopAfter);
        EndInterruptedWrite(link_, 1, o);
        EXPECT_EQ(o.stopEnd, c.answer) << c.stopAfter;
        EXPECT_EQ(o.end, c.end) << c.stopAfter << " " << JoinFields(o.readBackDiffers);
        EXPECT_TRUE(c.answer == StopEnd::PutBack ? Holds({old.begin(), old.end()})
                                                 : Holds(NewBytes()));
        EXPECT_TRUE(std::filesystem::exists(o.snapshot));
        ASSERT_TRUE(sim_.SetHubStore(old));
    }
}

TEST_F(WritePath, AFailurePartWayNamesThePagesTakenAndTheSnapshot) {
    // The fourth hub block write (code 110) gets no answer.
    ASSERT_EQ(sim_.Control("fault code 110 silent 3 after 3").rfind("error", 0), std::string::npos);
    const WriteOutcome o =
        WriteHubTransaction(link_, 1, {image_.get(), 12, 1, {}}, {store_.get(), {}, {}, {}});
    EXPECT_EQ(o.end, WriteEnd::PartWritten);
    EXPECT_TRUE(o.tankIdWritten);
    EXPECT_EQ(o.pagesWritten, 3u);
    EXPECT_EQ(o.pagesTotal, 12u);
    EXPECT_EQ(o.status, StatusNoAnswer);
    EXPECT_FALSE(o.snapshot.empty());
}

TEST_F(WritePath, AWriteOfWhatTheDeviceHoldsSendsNothing) {
    ASSERT_TRUE(sim_.SetHubStore(NewBytes()));
    const uint64_t requests = link_.Counters().requests;
    // As the window asks: what the device holds is not sent again.
    const WriteOutcome o =
        WriteHubTransaction(link_, 1, {image_.get(), 12, {}, {}}, {store_.get(), {}, {}, true, {}});
    EXPECT_EQ(o.end, WriteEnd::Unchanged);
    EXPECT_FALSE(o.Changed());
    EXPECT_TRUE(store_->List().empty()) << "no snapshot for a write that sends nothing";
    // Only the reads of the state: the settings and the twelve pages.
    EXPECT_LE(link_.Counters().requests - requests, 8u + 12u);
}

TEST_F(WritePath, ASettingsWriteFailingPartWayNamesTheSettingsStored) {
    ASSERT_EQ(sim_.Control("fault ack 84 1 1").rfind("error", 0), std::string::npos);
    SettingsWrite w;
    w.postFilter = 3;
    w.fuel = SettingsWrite::Fuel{1, 0.5f, 1400.0f};
    w.autoPeriod = 20;
    uint8_t address = 1;
    const WriteOutcome o =
        WriteSettingsTransaction(link_, address, 19200, w, {store_.get(), {}, {}, {}}, {});
    EXPECT_EQ(o.end, WriteEnd::PartWritten) << o.status;
    EXPECT_EQ(JoinFields(o.settingsWritten), "post-filter, fuel settings");
}

// The snapshot before a write says what the write was about to change, in the file's own
// words, so the snapshot window can name it.
TEST_F(WritePath, EachSnapshotRecordsWhatItsWriteWasAboutToChange) {
    ASSERT_TRUE(sim_.SetHubStore(NewBytes()));
    Snapshot device;
    ASSERT_EQ(ReadSnapshotSettings(link_, 1, device), StatusOk);
    auto changed = std::make_unique<HubBuffer>(*image_);
    const auto tank = HubFindEntry(*changed, 10);
    ASSERT_TRUE(tank.has_value());
    changed->bytes()[tank->offset + TankEntryHeadSize + 2] ^= 0x01; // a volume of row 0
    HubSeal(*changed);
    struct Case {
        const char* what;
        std::function<WriteOutcome()> write;
        const char* reason;
    };
    const WriteContext context{store_.get(), {}, {}, false, {}};
    uint8_t address = 1;
    const Case cases[] = {
        {"one tank's table",
         [&] {
             return WriteHubTransaction(link_, 1, {changed.get(), 12, {}, {}}, context);
         },
         "table 10"},
        {"the working tank",
         [&] {
             return WriteHubTransaction(link_, 1, {changed.get(), 12, device.tankId + 1, {}},
                                        context);
         },
         "active"},
        {"address and period",
         [&] {
             SettingsWrite w;
             w.address = 2;
             w.autoPeriod = device.autoPeriod + 1;
             return WriteSettingsTransaction(link_, address, 19200, w, context, {});
         },
         "settings address period"},
    };
    for (const Case& c : cases) {
        const WriteOutcome o = c.write();
        ASSERT_TRUE(o.Ok()) << c.what;
        Snapshot saved;
        std::string error;
        ASSERT_TRUE(SnapshotStore::Load(o.snapshot, saved, error)) << error;
        EXPECT_EQ(ReasonLine(saved.reason).rfind(c.reason, 0), 0u)
            << c.what << ": " << ReasonLine(saved.reason);
    }
}

// A page whose answer comes broken once is asked again and the image is read whole; broken
// twice, the read fails with the line's status. No answer is not asked again.
TEST_F(WritePath, APageWithABrokenAnswerIsAskedOnceMore) {
    struct Case {
        const char* fault;
        Status status;
        uint64_t extraRequests;
    };
    for (const Case c :
         {Case{"fault crc 1", StatusOk, 1}, Case{"fault short 1", StatusOk, 1},
          Case{"fault crc 2", StatusCrcError, 1}, Case{"fault silent 1", StatusNoAnswer, 0}}) {
        SCOPED_TRACE(c.fault);
        const uint64_t before = sim_.State().counters.requests;
        sim_.Control(c.fault);
        auto image = std::make_unique<HubBuffer>();
        size_t pages = 0;
        EXPECT_EQ(ReadHubImage(link_, 1, *image, &pages), c.status);
        const uint64_t asked = sim_.State().counters.requests - before;
        if (c.status == StatusOk) {
            EXPECT_EQ(asked, HubTransferPages(*image) + c.extraRequests);
            EXPECT_TRUE(
                Holds({image->bytes().begin(), image->bytes().begin() + image->TotalSize()}));
        } else {
            EXPECT_EQ(asked, 1 + c.extraRequests) << "the first page is given up";
            EXPECT_EQ(pages, 0u);
        }
        sim_.Control("fault clear");
    }
}

} // namespace
} // namespace vq31::test
