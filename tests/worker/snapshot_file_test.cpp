// Snapshot files: what is saved loads back unchanged; a damaged, cut or hand-edited file is
// refused with a message; the folder never replaces a file and lists them by time.
#include "snapshot.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace vq31 {
namespace {

Snapshot Sample() {
    Snapshot s;
    s.time = "2026-12-09T00:30:00Z";
    s.serialNumber = 4711;
    s.date = 0x08021A;
    s.model = 31;
    s.firmwareVersion = 0x09;
    s.address = 7;
    s.autoPeriod = 12;
    s.linkFlags = 0xB0;
    s.revision = 2;
    s.postFilter = 5;
    s.fuelType = 0;
    s.tempCoefBits = FloatBits(0.00083f);
    s.soundSpeedBits = FloatBits(1360.5f);
    s.tankId = 1;
    s.tankHeight = 10005;
    for (int i = 0; i < 256; ++i)
        s.hub.push_back(uint8_t(i * 7));
    return s;
}

// Replaces the first occurrence of from in text.
std::string Edited(std::string text, const std::string& from, const std::string& to) {
    const auto at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

// A text with its check line made to fit again, as a careful hand edit would.
std::string Resealed(const std::string& text) {
    Snapshot probe;
    const std::string body = text.substr(0, text.rfind("check = "));
    // The check value of a body is the one SnapshotText would write for it: find it by
    // letting a parse report the value the contents give.
    std::string error;
    ParseSnapshot(body + "check = 00000000\n", probe, error);
    const auto at = error.find("contents give ");
    EXPECT_NE(at, std::string::npos) << error;
    return body + "check = " + error.substr(at + 14, 8) + "\n";
}

TEST(SnapshotFile, WhatIsSavedLoadsBackFieldForField) {
    const Snapshot s = Sample();
    Snapshot back;
    std::string error;
    ASSERT_TRUE(ParseSnapshot(SnapshotText(s), back, error)) << error;
    EXPECT_EQ(back.time, s.time);
    EXPECT_EQ(back.serialNumber, s.serialNumber);
    EXPECT_EQ(back.date, s.date);
    EXPECT_EQ(back.revision, s.revision);
    EXPECT_EQ(back.hub, s.hub);
    EXPECT_TRUE(SnapshotDifferences(s, back).empty());
    EXPECT_EQ(FloatFromBits(back.soundSpeedBits), 1360.5f);
    // Windows line ends (a file copied through an editor that keeps the text) still load.
    std::string crlf;
    for (const char c : SnapshotText(s))
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    EXPECT_TRUE(ParseSnapshot(crlf, back, error)) << error;
}

TEST(SnapshotFile, DamagedOrEditedFilesAreRefusedWithTheReason) {
    const std::string text = SnapshotText(Sample());
    Snapshot out;
    out.serialNumber = 99;
    std::string error;
    EXPECT_FALSE(ParseSnapshot(text.substr(0, text.size() / 2), out, error));
    EXPECT_NE(error.find("cut short"), std::string::npos) << error;
    EXPECT_FALSE(ParseSnapshot(Edited(text, "postfilter = 5", "postfilter = 6"), out, error));
    EXPECT_NE(error.find("changed or damaged"), std::string::npos) << error;
    EXPECT_FALSE(ParseSnapshot("", out, error));
    // Edits that keep the check value right are still checked value by value.
    struct Case {
        const char* from;
        const char* to;
        const char* reason;
    } cases[] = {
        {"postfilter = 5", "postfilter = 256", "8-bit"},
        {"serial = 4711", "serial = 47x1", "serial"},
        {"serial = 4711\n", "", "serial is missing"},
        {"format = 1", "format = 2", "format"},
        {"hubsize = 256", "hubsize = 200", "128-byte pages"},
        {"hubsize = 256", "hubsize = 384", "hubsize says"},
        {"hub = 00", "hub = 0G", "hexadecimal"},
        {"tankid = 1", "tankid = 1\ntankid = 2", "twice"},
        {"hub = ", "hub+ = ", "continued before"},
    };
    for (const Case& c : cases) {
        error.clear();
        EXPECT_FALSE(ParseSnapshot(Resealed(Edited(text, c.from, c.to)), out, error)) << c.to;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.to << ": " << error;
    }
    EXPECT_EQ(out.serialNumber, 99u) << "a refused file changed the record";
    // Comments and blank lines may be added by hand as long as the check is renewed.
    EXPECT_TRUE(ParseSnapshot(Resealed(Edited(text, "address", "# note\n\naddress")), out, error))
        << error;
}

class SnapshotFolder : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/vq31-snapshots-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(root_); }
    std::filesystem::path root_;
};

TEST_F(SnapshotFolder, SavesNeverReplaceAFileAndListInTimeOrder) {
    const SnapshotStore store(root_ / "a" / "snapshots");
    EXPECT_TRUE(store.List().empty()); // no folder yet
    Snapshot later = Sample();
    later.time = "2026-12-09T01:00:00Z";
    later.serialNumber = 1; // sorts first by name, last by time
    Snapshot early = Sample();
    std::string error;
    const auto p1 = store.Save(later, error);
    const auto p2 = store.Save(early, error);
    const auto p3 = store.Save(early, error); // same second
    ASSERT_FALSE(p3.empty()) << error;
    EXPECT_NE(p2, p3);
    const auto files = store.List();
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files.back(), p1);
    Snapshot back;
    ASSERT_TRUE(SnapshotStore::Load(p3, back, error)) << error;
    EXPECT_EQ(back.hub, early.hub);
    EXPECT_FALSE(SnapshotStore::Load(root_ / "missing.snapshot", back, error));
    // A folder that cannot be made is an error, not a silent loss.
    std::ofstream(root_ / "file") << "x";
    EXPECT_TRUE(SnapshotStore(root_ / "file" / "snapshots").Save(early, error).empty());
    EXPECT_FALSE(error.empty());
}

TEST_F(SnapshotFolder, DefaultFolderFollowsTheDataHomeWithTheHomeFallback) {
    const char* oldXdg = std::getenv("XDG_DATA_HOME");
    const std::string savedXdg = oldXdg ? oldXdg : "";
    setenv("XDG_DATA_HOME", root_.c_str(), 1);
    EXPECT_EQ(SnapshotStore().folder(), root_ / "vq31-install-service" / "snapshots");
    setenv("XDG_DATA_HOME", "relative/path", 1); // not absolute: ignored
    const char* home = std::getenv("HOME");
    if (home) {
        EXPECT_EQ(UserDataFolder(), std::filesystem::path(home) / ".local" / "share");
    }
    if (oldXdg)
        setenv("XDG_DATA_HOME", savedXdg.c_str(), 1);
    else
        unsetenv("XDG_DATA_HOME");
}

TEST(SnapshotCompare, NamesTheFieldsAndPagesThatDiffer) {
    const Snapshot a = Sample();
    Snapshot b = a;
    b.address = 9;
    b.serialNumber = 1; // identity is never compared
    b.tankHeight = 1;
    b.hub[130] ^= 1;
    EXPECT_EQ(JoinFields(SnapshotDifferences(a, b)), "address, tank height, hub image (page 1)");
    EXPECT_EQ(JoinFields(SnapshotDifferences(a, b, {false, false, true})), "hub image (page 1)");
    b.hub.resize(128);
    EXPECT_EQ(JoinFields(SnapshotDifferences(a, b, {false, true, true})),
              "tank height, hub image size (256 and 128 bytes)");
}

} // namespace
} // namespace vq31
