// vq31ctl's writes against the simulated sensor: each leaves exactly one new snapshot of the
// state it replaced, reads back what it wrote and fails when the device did not store it;
// params set writes every named value and keeps the rest; a restore puts the hub image back
// byte for byte; bad snapshot files and other sensors' snapshots are refused.
#include "../hub_test_images.h"
#include "../run_command.h"
#include "hub_image.h"
#include "sim_server.h"
#include "snapshot.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace vq31::test {
namespace {

class CtlSnapshots : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(sim_.Start(&error)) << error;
        char pattern[] = "/tmp/vq31-ctl-snapshots-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        store_ = SnapshotStore(root_ / "vq31-install-service" / "snapshots");
    }
    void TearDown() override { std::filesystem::remove_all(root_); }

    CommandRun Ctl(const std::string& words) {
        return RunCommand("XDG_DATA_HOME=" + root_.string() + " timeout 60 " +
                          std::string(VQ31CTL_PATH) + " --port " + sim_.path() + " " + words);
    }
    void Control(const std::string& line) {
        const std::string reply = sim_.Control(line);
        ASSERT_EQ(reply.rfind("error:", 0), std::string::npos) << line << ": " << reply;
    }
    Snapshot Load(const std::filesystem::path& file) {
        Snapshot s;
        std::string error;
        EXPECT_TRUE(SnapshotStore::Load(file, s, error)) << error;
        return s;
    }
    // The one snapshot added since the list had known entries; fails the test otherwise.
    Snapshot OnlyNew(size_t known) {
        const auto files = store_.List();
        EXPECT_EQ(files.size(), known + 1);
        return files.size() == known + 1 ? Load(files.back()) : Snapshot{};
    }
    std::string Path(const std::string& name) const { return (root_ / name).string(); }

    sim::SimServer sim_;
    std::filesystem::path root_;
    SnapshotStore store_{std::filesystem::path()};
};

TEST_F(CtlSnapshots, ParamsSetWritesEveryNameKeepsTheRestAndSnapshotsTheOldState) {
    const auto before = sim_.State();
    CommandRun run = Ctl("params set postfilter 6 period 9 answer255 255 bits 10 fueltype 0 "
                         "tempcoef 0.5 soundspeed 1500.25");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    auto s = sim_.State();
    EXPECT_EQ(s.postFilter, 6u);
    EXPECT_EQ(s.autoPeriod, 9u);
    EXPECT_EQ(s.linkFlags & 0x20, 0u);
    EXPECT_EQ(s.linkFlags & 0x80, 0u);
    EXPECT_EQ(s.fuelType, 0u);
    EXPECT_FLOAT_EQ(s.fuelTempCoef, 0.5f);
    EXPECT_FLOAT_EQ(s.fuelSoundSpeed, 1500.25f);
    EXPECT_EQ(s.address, before.address) << "an address not named was changed";
    EXPECT_EQ(s.baud, before.baud);
    EXPECT_EQ(s.linkFlags & 0x1D, before.linkFlags & 0x1D) << "auto output or speed changed";
    Snapshot old = OnlyNew(0);
    EXPECT_EQ(old.serialNumber, before.serialNumber);
    EXPECT_EQ(old.postFilter, before.postFilter);
    EXPECT_EQ(old.linkFlags, before.linkFlags);
    EXPECT_EQ(old.fuelType, before.fuelType);
    EXPECT_EQ(old.hub.size() % 128, 0u);
    EXPECT_FALSE(old.hub.empty());

    // A new address and speed: the tool follows the device, the fuel values stay.
    run = Ctl("params set address 7 baud 9600 answer255 own bits 12");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    ASSERT_TRUE(sim_.State().address == 7 && sim_.State().baud == 9600) << run.output;
    s = sim_.State();
    EXPECT_EQ(s.linkFlags & 0xA0, 0xA0u);
    EXPECT_FLOAT_EQ(s.fuelSoundSpeed, 1500.25f);
    EXPECT_EQ(s.postFilter, 6u);
    old = OnlyNew(1);
    EXPECT_EQ(old.address, 1u);
    EXPECT_EQ(old.postFilter, 6u);
    run = Ctl("--address 7 --baud 9600 params");
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("address 7, speed 9600"), std::string::npos) << run.output;
}

TEST_F(CtlSnapshots, ParamsSetRefusesBadNamesAndValuesBeforeTheDevice) {
    for (const char* words :
         {"params set colour 3", "params set postfilter 9", "params set address 255",
          "params set baud 1200", "params set bits 11", "params set answer255 yes",
          "params set fueltype 4", "params set soundspeed 1,5", "params set tempcoef nan",
          "params set period 256", "params set postfilter 1 postfilter 2", "params set"}) {
        const CommandRun run = Ctl(words);
        EXPECT_EQ(run.exitCode, 2) << words << "\n" << run.output;
    }
    EXPECT_EQ(sim_.State().counters.requests, 0u);
    EXPECT_TRUE(store_.List().empty());
}

TEST_F(CtlSnapshots, AWriteTheDeviceDoesNotStoreIsAFailureNamingTheFields) {
    Control("fault nostore 0x32");
    CommandRun run = Ctl("params set postfilter 6 period 4");
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_NE(run.output.find("post-filter"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("output period"), std::string::npos) << run.output;
    EXPECT_EQ(store_.List().size(), 1u);
    // The hub image: a page acknowledged but not stored.
    run = Ctl("hub read " + Path("hub.bin"));
    ASSERT_EQ(run.exitCode, 0) << run.output;
    Control("fault nostore 0x6E");
    std::vector<uint8_t> image = sim_.HubStore();
    image[0x20] ^= 0xFF; // a change to page 0 so the dropped write shows
    HubBuffer changed;
    std::copy(image.begin(), image.begin() + 1024, changed.bytes().begin());
    std::ofstream(Path("hub2.bin"), std::ios::binary)
        .write(reinterpret_cast<const char*>(changed.bytes().data()), changed.TotalSize());
    run = Ctl("hub write " + Path("hub2.bin") + " --force"); // the change is not resealed
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_NE(run.output.find("hub image (page 0)"), std::string::npos) << run.output;
    EXPECT_EQ(store_.List().size(), 2u);
}

TEST_F(CtlSnapshots, HubWriteThenRestorePutsTheImageBackByteForByte) {
    const std::vector<uint8_t> original = sim_.HubStore();
    HubBuffer image;
    HubMakeDefault(image);
    std::ofstream(Path("default.bin"), std::ios::binary)
        .write(reinterpret_cast<const char*>(image.bytes().data()), image.TotalSize());
    CommandRun run = Ctl("hub write " + Path("default.bin"));
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const Snapshot old = OnlyNew(0);
    ASSERT_FALSE(old.hub.empty());
    EXPECT_TRUE(std::equal(old.hub.begin(), old.hub.end(), original.begin()));
    EXPECT_NE(sim_.HubStore(), original);
    const auto oldFile = store_.List().back();
    const std::vector<uint8_t> written = sim_.HubStore();

    run = Ctl("snapshot restore " + oldFile.string());
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const std::vector<uint8_t> restored = sim_.HubStore();
    EXPECT_TRUE(std::equal(old.hub.begin(), old.hub.end(), restored.begin()))
        << "the restored image differs";
    const Snapshot beforeRestore = OnlyNew(1);
    EXPECT_TRUE(std::equal(beforeRestore.hub.begin(), beforeRestore.hub.end(), written.begin()))
        << "the fresh snapshot does not hold the image it replaced";
    // show and list read the file; a bare name is found in the snapshot folder.
    run = Ctl("snapshot show " + oldFile.filename().string());
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("serial number 004711"), std::string::npos) << run.output;
    run = Ctl("snapshot list");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.output.find(oldFile.filename().string()), std::string::npos) << run.output;
}

TEST_F(CtlSnapshots, AWriteFailingPartWaySaysWhichPagesLandedAndHowToPutTheOldImageBack) {
    const std::vector<uint8_t> original = sim_.HubStore();
    HubBuffer image;
    ASSERT_TRUE(FivePageImage(image));
    std::ofstream(Path("five.bin"), std::ios::binary)
        .write(reinterpret_cast<const char*>(image.bytes().data()), image.TotalSize());
    std::ofstream(Path("tare.csv")) << "10;120\n20;121\n";

    // The worker's hub write (hub write) and the direct one (tare import --write) alike.
    Control("fault code 0x6E silent 1 after 2");
    CommandRun run = Ctl("hub write " + Path("five.bin"));
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_NE(run.output.find("2 of 5"), std::string::npos) << run.output;
    const std::vector<uint8_t> torn = sim_.HubStore();
    EXPECT_TRUE(std::equal(image.bytes().begin(), image.bytes().begin() + 256, torn.begin()));
    EXPECT_TRUE(std::equal(original.begin() + 256, original.end(), torn.begin() + 256));
    // The restore command carries the link it needs and works as printed.
    const std::string way = "vq31ctl --port " + sim_.path() +
                            " --baud 19200 --address 1 "
                            "snapshot restore ";
    const size_t at = run.output.find(way);
    ASSERT_NE(at, std::string::npos) << run.output;
    const std::string printed = run.output.substr(at, run.output.find('\n', at) - at);
    run = RunCommand("XDG_DATA_HOME=" + root_.string() + " timeout 60 " +
                     std::string(VQ31CTL_PATH) + printed.substr(7));
    ASSERT_EQ(run.exitCode, 0) << printed << "\n" << run.output;
    EXPECT_EQ(sim_.HubStore(), original);

    Control("fault code 0x6E silent 1 after 1");
    run = Ctl("tare import " + Path("tare.csv") + " --write");
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_NE(run.output.find("1 of 4 hub pages were written"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find(way), std::string::npos) << run.output;
    // Nothing written at all says so, and offers nothing.
    Control("fault code 0x6E silent 1");
    run = Ctl("tare import " + Path("tare.csv") + " --write");
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_NE(run.output.find("no hub page was written"), std::string::npos) << run.output;
}

TEST_F(CtlSnapshots, RestoreWithParamsPutsTheSettingsBackAndFollowsTheAddress) {
    ASSERT_EQ(Ctl("params set address 5 postfilter 1 fueltype 2").exitCode, 0);
    const auto file = store_.List().back();
    ASSERT_EQ(Ctl("--address 5 snapshot restore " + file.string()).exitCode, 0);
    EXPECT_EQ(sim_.State().postFilter, 1u) << "without --params the settings stay";
    const CommandRun run = Ctl("--address 5 snapshot restore " + file.string() + " --params");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const auto s = sim_.State();
    EXPECT_EQ(s.address, 1u);
    EXPECT_EQ(s.postFilter, 3u);
    EXPECT_EQ(s.fuelType, Load(file).fuelType);
    EXPECT_EQ(store_.List().size(), 3u);
}

TEST_F(CtlSnapshots, BadFilesAndOtherSensorsSnapshotsWriteNothing) {
    ASSERT_EQ(Ctl("params set postfilter 4").exitCode, 0);
    const auto file = store_.List().back();
    std::string text;
    {
        std::ifstream in(file);
        text.assign(std::istreambuf_iterator<char>(in), {});
    }
    std::ofstream(Path("edited.snapshot"))
        << text.substr(0, text.find("postfilter")) << "postfilter = 7"
        << text.substr(text.find('\n', text.find("postfilter")));
    std::ofstream(Path("cut.snapshot")) << text.substr(0, text.size() / 3);
    const auto requests = sim_.State().counters.requests;
    const std::vector<uint8_t> hub = sim_.HubStore();
    for (const std::string name : {"edited.snapshot", "cut.snapshot", "none.snapshot"}) {
        const CommandRun run = Ctl("snapshot restore " + Path(name) + " --params");
        EXPECT_EQ(run.exitCode, 1) << name << "\n" << run.output;
        EXPECT_NE(run.output.find("nothing written"), std::string::npos) << run.output;
    }
    EXPECT_EQ(sim_.State().counters.requests, requests);
    const CommandRun show = Ctl("snapshot show " + Path("edited.snapshot"));
    EXPECT_EQ(show.exitCode, 1);
    EXPECT_NE(show.output.find("changed or damaged"), std::string::npos) << show.output;

    // Another serial number: refused unless forced.
    Control("serial 1234");
    CommandRun run = Ctl("snapshot restore " + file.string() + " --params");
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_NE(run.output.find("--force"), std::string::npos) << run.output;
    EXPECT_EQ(sim_.State().postFilter, 4u);
    EXPECT_EQ(store_.List().size(), 1u);
    run = Ctl("snapshot restore " + file.string() + " --params --force");
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(sim_.State().postFilter, 3u);
    EXPECT_EQ(OnlyNew(1).serialNumber, 1234u);
    EXPECT_EQ(sim_.HubStore(), hub);
    EXPECT_EQ(Ctl("snapshot list --force").exitCode, 2);
}

TEST_F(CtlSnapshots, WorkbookImportsWithWriteSnapshotAndReadBack) {
    std::ofstream(Path("tare.csv")) << "10;120\n20;121\n";
    ASSERT_EQ(Ctl("tanks export " + Path("tanks.xlsx")).exitCode, 0);
    EXPECT_TRUE(store_.List().empty()) << "a read took a snapshot";
    const std::vector<uint8_t> original = sim_.HubStore();
    CommandRun run = Ctl("tare import " + Path("tare.csv") + " --write");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("read back"), std::string::npos) << run.output;
    const Snapshot old = OnlyNew(0);
    EXPECT_TRUE(std::equal(old.hub.begin(), old.hub.end(), original.begin()));
    run = Ctl("tanks import " + Path("tanks.xlsx") + " --write");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(store_.List().size(), 2u);
    // With another image on the device, a lost first page shows in the read-back.
    HubBuffer image;
    HubMakeDefault(image);
    std::ofstream(Path("default.bin"), std::ios::binary)
        .write(reinterpret_cast<const char*>(image.bytes().data()), image.TotalSize());
    ASSERT_EQ(Ctl("hub write " + Path("default.bin")).exitCode, 0);
    Control("fault nostore any 1");
    run = Ctl("tanks import " + Path("tanks.xlsx") + " --write");
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_NE(run.output.find("page 0"), std::string::npos) << run.output;
}

} // namespace
} // namespace vq31::test
