// Files by UTF-8 path: bounded reads refuse endless and oversized files and folders; a
// replacing write never touches what is not a regular file and keeps the old file when the
// write fails; exclusive creation never replaces anything; names in Cyrillic work. Built for
// Linux and for Windows (run under Wine), with the device cases of each system.
#include "file_io.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>
#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace vq31::fileio {
namespace {

namespace fs = std::filesystem;

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// A fresh folder named in Cyrillic under the system's temporary folder, removed afterwards.
class FileIo : public ::testing::Test {
protected:
    void SetUp() override {
        std::error_code ec;
        root_ = fs::temp_directory_path(ec) /
                PathFromUtf8(std::string("vq31-файлы-") +
                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root_, ec);
        ASSERT_TRUE(fs::create_directories(root_, ec)) << ec.message();
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    std::string At(const std::string& name) const { return Utf8Path(root_) + "/" + name; }
    std::string Contents(const std::string& path) const {
        return ReadFileLimited(path, 1 << 20).bytes;
    }
    // The names in the folder, as UTF-8.
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(root_))
            names.push_back(Utf8Path(entry.path().filename()));
        return names;
    }
    fs::path root_;
};

#ifdef _WIN32
const char* const NullDevice = "NUL";
#else
const char* const NullDevice = "/dev/null";
#endif

TEST_F(FileIo, ReadRefusesFoldersAndFilesOverTheLimit) {
    ASSERT_TRUE(CreateNewFile(At("five"), "12345").ok);
    ASSERT_TRUE(fs::create_directory(root_ / "folder"));
    struct Case {
        std::string path;
        size_t limit;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {At("five"), 4, "larger than 4 bytes"},        {At("folder"), 100, "is a folder"},
        {At("missing"), 100, "cannot open"},
#ifndef _WIN32
        {"/dev/zero", 1000, "larger than 1000 bytes"}, // never ends
        {"/dev/full", 10, "larger than 10 bytes"},
#endif
    };
    for (const Case& c : cases) {
        const ReadResult r = ReadFileLimited(c.path, c.limit);
        EXPECT_FALSE(r.ok) << c.path;
        EXPECT_TRUE(Has(r.error, c.reason)) << c.path << ": " << r.error;
        EXPECT_TRUE(r.bytes.empty()) << c.path;
    }
}

TEST_F(FileIo, ReadTakesAFileOfExactlyTheLimitWhole) {
    const std::string bytes("a\0b\r\nc", 6);
    ASSERT_TRUE(CreateNewFile(At("six"), bytes).ok);
    const ReadResult r = ReadFileLimited(At("six"), 6);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.bytes, bytes);
}

// The device nodes are reached through links in the test folder: should the check ever fail,
// the rename replaces the link, never the system's own node.
TEST_F(FileIo, ReplacingWriteLeavesWhatIsNotARegularFileAlone) {
    ASSERT_TRUE(fs::create_directory(root_ / "folder"));
    struct Case {
        std::string path;
        const char* reason;
    };
#ifdef _WIN32
    const std::vector<Case> cases = {
        {NullDevice, "not a regular file"},
        {At("folder"), "is a folder"},
    };
#else
    fs::create_symlink("/dev/null", root_ / "null");
    fs::create_symlink("/dev/full", root_ / "full");
    const std::vector<Case> cases = {
        {At("null"), "not a regular file"},
        {At("full"), "not a regular file"}, // writes would fail as on a full disk
        {At("folder"), "is a folder"},
    };
#endif
    for (const Case& c : cases) {
        const FileResult r = WriteFileReplacing(c.path, "new");
        EXPECT_FALSE(r.ok) << c.path;
        EXPECT_TRUE(Has(r.error, c.reason)) << c.path << ": " << r.error;
    }
    EXPECT_TRUE(fs::is_directory(root_ / "folder"));
    EXPECT_TRUE(fs::is_empty(root_ / "folder"));
#ifndef _WIN32
    for (const char* link : {"null", "full"})
        EXPECT_TRUE(fs::is_symlink(root_ / link)) << link << " was replaced";
    EXPECT_EQ(Names().size(), 3u) << "a temporary file was left";
#endif
}

TEST_F(FileIo, ReplacingWriteReplacesTheFileAndLeavesNoTemporaryFile) {
    ASSERT_TRUE(CreateNewFile(At("table.csv"), "old contents, longer than the new").ok);
    const FileResult r = WriteFileReplacing(At("table.csv"), "new");
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(Contents(At("table.csv")), "new");
    EXPECT_EQ(Names(), std::vector<std::string>{"table.csv"});
}

TEST_F(FileIo, ReplacingWriteIntoAMissingFolderFails) {
    const FileResult r = WriteFileReplacing(At("none/table.csv"), "x");
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(Has(r.error, "cannot create")) << r.error;
}

TEST_F(FileIo, CreationNeverReplacesWhatHasTheName) {
    ASSERT_TRUE(CreateNewFile(At("a.snapshot"), "first").ok);
    ASSERT_TRUE(fs::create_directory(root_ / "folder"));
    for (const std::string& path : {At("a.snapshot"), At("folder"), std::string(NullDevice)}) {
        const FileResult r = CreateNewFile(path, "second");
        EXPECT_FALSE(r.ok) << path;
        EXPECT_FALSE(r.error.empty()) << path;
    }
    EXPECT_TRUE(Has(CreateNewFile(At("a.snapshot"), "x").error, "already exists"));
    EXPECT_EQ(Contents(At("a.snapshot")), "first");
    EXPECT_TRUE(fs::is_directory(root_ / "folder"));
}

// Names in Cyrillic, Greek and with spaces reach the disk as written and read back.
TEST_F(FileIo, NamesInAnyScriptAreKeptAsWritten) {
    const std::vector<std::string> names = {"Пётр Иванов.snapshot", "ταξίδι.csv",
                                            "tare table (1).xlsx"};
    for (const std::string& name : names) {
        ASSERT_TRUE(CreateNewFile(At(name), name).ok) << name;
        ASSERT_TRUE(WriteFileReplacing(At(name), name + " again").ok) << name;
        EXPECT_EQ(Contents(At(name)), name + " again") << name;
        EXPECT_TRUE(fs::exists(root_ / PathFromUtf8(name))) << name;
    }
    std::vector<std::string> found = Names();
    std::sort(found.begin(), found.end());
    std::vector<std::string> expected = names;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(found, expected);
}

#ifndef _WIN32
// Writes past this process's file size limit fail as on a full disk (EFBIG instead of
// ENOSPC), after part of the data has gone out.
class FullDisk {
public:
    explicit FullDisk(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &old_);
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = old_;
        small.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &small);
    }
    ~FullDisk() {
        setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldHandler_);
    }

private:
    rlimit old_{};
    void (*oldHandler_)(int) = nullptr;
};

TEST_F(FileIo, FailedWritesKeepTheOldFileAndLeaveNothingHalfWritten) {
    ASSERT_TRUE(CreateNewFile(At("table.csv"), "old").ok);
    const std::string big(64 * 1024, 'x');
    FileResult replaced, created;
    {
        const FullDisk full(4096);
        replaced = WriteFileReplacing(At("table.csv"), big);
        created = CreateNewFile(At("new.snapshot"), big);
    }
    EXPECT_FALSE(replaced.ok);
    EXPECT_TRUE(Has(replaced.error, "cannot write")) << replaced.error;
    EXPECT_FALSE(created.ok);
    EXPECT_TRUE(Has(created.error, "cannot write")) << created.error;
    EXPECT_EQ(Contents(At("table.csv")), "old");
    EXPECT_EQ(Names(), std::vector<std::string>{"table.csv"});
}
#endif

} // namespace
} // namespace vq31::fileio
