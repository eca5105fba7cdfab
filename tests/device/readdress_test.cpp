// Re-addressing against several simulated sensors: a move confirmed by the serial number at
// the new address with its snapshot saved, and the moves refused before anything is written.
#include "device_ops.h"
#include "readdress.h"
#include "sim_fixture.h"
#include "snapshot.h"

#include <cstdlib>

namespace vq31::sim {
namespace {

class Readdressing : public SimLink {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/vq31-readdress-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        store_ = std::make_unique<SnapshotStore>(root_ / "snapshots");
        SimOptions options;
        options.address = 1;
        options.moreAddresses = {2, 7};
        Begin(options);
    }
    void TearDown() override {
        SimLink::TearDown();
        std::filesystem::remove_all(root_);
    }
    SnapshotSaver Saver() {
        return [this](DeviceLink& l, uint8_t address, std::filesystem::path& file,
                      std::string& error) {
            ++saves;
            Snapshot s;
            const Status status = ReadSnapshotSettings(l, address, s);
            if (status != StatusOk) {
                error = "read failed";
                return false;
            }
            s.time = SnapshotTimeNow();
            file = store_->Save(s, error);
            return !file.empty();
        };
    }
    std::string Bus() { return sim().Control("bus list"); }

    std::filesystem::path root_;
    std::unique_ptr<SnapshotStore> store_;
    int saves = 0;
};

TEST_F(Readdressing, AMoveIsConfirmedByTheSerialNumberAtTheNewAddress) {
    const ReaddressOutcome out = Readdress(link, 2, 5, Saver());
    EXPECT_EQ(out.result, ReaddressResult::Moved);
    EXPECT_TRUE(out.written);
    EXPECT_EQ(out.serialBefore, sim().State().serialNumber + 1);
    EXPECT_EQ(out.serialAfter, out.serialBefore);
    ASSERT_FALSE(out.snapshot.empty());
    Snapshot saved;
    std::string error;
    ASSERT_TRUE(SnapshotStore::Load(out.snapshot, saved, error)) << error;
    EXPECT_EQ(saved.address, 2u);
    EXPECT_EQ(saved.serialNumber, out.serialBefore);
    Identity id;
    EXPECT_EQ(ReadIdentity(link, 2, id), StatusNoAnswer);
}

TEST_F(Readdressing, RefusedMovesWriteNothing) {
    struct Case {
        const char* setup; // control line, or empty
        uint8_t from;
        uint8_t to;
        ReaddressResult result;
        bool snapshotTaken;
    };
    const Case cases[] = {
        {"", 2, 7, ReaddressResult::Taken, false},
        {"collide 7", 2, 7, ReaddressResult::Taken, false}, // garbled answers: taken too
        {"collide 2", 2, 5, ReaddressResult::Collision, false},
        {"", 3, 5, ReaddressResult::NoSensor, false},
        {"", 2, 255, ReaddressResult::BadAddress, false},
        {"", 2, 2, ReaddressResult::BadAddress, false},
        {"@2 fault code 0x41 silent 1", 2, 5, ReaddressResult::SnapshotFailed, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.setup) + " " + std::to_string(c.from) + "->" +
                     std::to_string(c.to));
        if (*c.setup)
            Control(c.setup);
        const std::string before = Bus();
        saves = 0;
        const ReaddressOutcome out = Readdress(link, c.from, c.to, Saver());
        EXPECT_EQ(out.result, c.result);
        EXPECT_FALSE(out.written);
        EXPECT_EQ(saves > 0, c.snapshotTaken);
        EXPECT_EQ(Bus(), before);
        if (std::string(c.setup).rfind("collide", 0) == 0)
            Control("bus remove " + std::string(c.setup).substr(8));
    }
}

TEST_F(Readdressing, AWriteTheSensorDoesNotKeepIsNotConfirmed) {
    Control("@2 fault ack 0x56 1");
    const ReaddressOutcome out = Readdress(link, 2, 5, Saver());
    EXPECT_EQ(out.result, ReaddressResult::WriteFailed);
    EXPECT_FALSE(out.snapshot.empty()); // taken before the write, kept for a restore
    Identity id;
    EXPECT_EQ(ReadIdentity(link, 2, id), StatusOk);
}

} // namespace
} // namespace vq31::sim
