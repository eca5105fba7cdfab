// vq31ctl writes stopped by signals at 2400 bit/s, with the simulator paced like a real
// line: after one signal the device holds the old image or the new one whole and the tool
// says which; after two within 2 s the tool ends at once, and the restore command it prints
// works as printed.
#include "../hub_test_images.h"
#include "sim_server.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

extern char** environ;

namespace vq31::test {
namespace {

using namespace std::chrono_literals;
constexpr size_t Pages = 32;

class CtlWriteSignals : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(sim_.Start(&error)) << error;
        dir_ = std::filesystem::temp_directory_path() /
               ("vq31-ctl-write-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
        ASSERT_TRUE(ImageOfPages(*image_, Pages));
        file_ = (dir_ / "new.bin").string();
        std::ofstream(file_, std::ios::binary)
            .write(reinterpret_cast<const char*>(image_->bytes().data()),
                   std::streamsize(image_->TotalSize()));
        old_ = sim_.HubStore();
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    // Starts vq31ctl with its output in a file; the snapshot folder is the test's own.
    pid_t Start(const std::vector<std::string>& words) {
        std::vector<std::string> args = {VQ31CTL_PATH, "--port", sim_.path(), "--baud", "2400"};
        args.insert(args.end(), words.begin(), words.end());
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        const std::string out = (dir_ / "out.txt").string();
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        setenv("XDG_DATA_HOME", dir_.c_str(), 1);
        pid_t pid = -1;
        EXPECT_EQ(posix_spawn(&pid, VQ31CTL_PATH, &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        return pid;
    }
    // Pages at the start of the device's store that already hold the new image.
    size_t NewPagesOnDevice() const {
        const auto store = sim_.HubStore();
        size_t pages = 0;
        while (pages < Pages && (pages + 1) * HubPageSize <= store.size() &&
               std::equal(store.begin() + ptrdiff_t(pages * HubPageSize),
                          store.begin() + ptrdiff_t((pages + 1) * HubPageSize),
                          image_->bytes().begin() + ptrdiff_t(pages * HubPageSize)))
            ++pages;
        return pages;
    }
    bool WaitForPages(size_t pages) const {
        const auto end = std::chrono::steady_clock::now() + 180s;
        while (NewPagesOnDevice() < pages && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(20ms);
        return NewPagesOnDevice() >= pages;
    }
    static int Wait(pid_t pid) {
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string Output() const {
        std::ifstream in(dir_ / "out.txt");
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    bool HoldsOld() const {
        const auto store = sim_.HubStore();
        const size_t size = std::max<size_t>(old_[0] | (old_[1] << 8), HubPageSize);
        return std::equal(old_.begin(), old_.begin() + ptrdiff_t(size), store.begin());
    }

    sim::SimServer sim_{sim::SimOptions{1, 2400, true, {}}};
    std::filesystem::path dir_;
    std::string file_;
    std::vector<uint8_t> old_;
    std::unique_ptr<HubBuffer> image_ = std::make_unique<HubBuffer>();
};

TEST_F(CtlWriteSignals, OneSignalAfterTwelvePagesPutsTheOldImageBackWhole) {
    const pid_t pid = Start({"hub", "write", file_});
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(WaitForPages(12)) << Output();
    kill(pid, SIGTERM);
    EXPECT_EQ(Wait(pid), 1) << Output();
    EXPECT_TRUE(HoldsOld()) << Output();
    EXPECT_NE(Output().find("went back to what they were"), std::string::npos) << Output();
}

TEST_F(CtlWriteSignals, TwoSignalsEndAtOnceWithARestoreCommandThatWorksAsPrinted) {
    const pid_t pid = Start({"hub", "write", file_});
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(WaitForPages(12)) << Output();
    kill(pid, SIGINT);
    std::this_thread::sleep_for(100ms);
    kill(pid, SIGINT);
    EXPECT_EQ(Wait(pid), 1) << Output();
    const std::string out = Output();
    const std::string marker = "Put the earlier state back with: ";
    const size_t at = out.find(marker);
    ASSERT_NE(at, std::string::npos) << out;
    const std::string command =
        out.substr(at + marker.size(), out.find('\n', at) - at - marker.size());
    ASSERT_EQ(command.rfind("vq31ctl --port ", 0), 0u) << command;
    const std::string line = "XDG_DATA_HOME=" + dir_.string() + " " + std::string(VQ31CTL_PATH) +
                             command.substr(7) + " > " + (dir_ / "restore.txt").string() + " 2>&1";
    EXPECT_EQ(std::system(line.c_str()), 0) << line;
    EXPECT_TRUE(HoldsOld());
}

} // namespace
} // namespace vq31::test

namespace vq31::test {
namespace {

// Files the tool reads or writes: an endless or oversized input is refused without filling
// memory, a folder is refused by name, and an output that is no regular file is never
// replaced (run as root, a rename would put a plain file over a device node).
class CtlFiles : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(sim_.Start(&error)) << error;
        dir_ = std::filesystem::temp_directory_path() /
               ("vq31-ctl-files-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_ / "folder");
        std::filesystem::create_symlink("/dev/null", dir_ / "device");
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    int Ctl(const std::string& words, std::string& output) const {
        const std::string line = "XDG_DATA_HOME=" + dir_.string() + " timeout 60 " +
                                 std::string(VQ31CTL_PATH) + " --port " + sim_.path() + " " +
                                 words + " > " + (dir_ / "out.txt").string() + " 2>&1";
        const int status = std::system(line.c_str());
        std::ifstream in(dir_ / "out.txt");
        std::stringstream text;
        text << in.rdbuf();
        output = text.str();
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    sim::SimServer sim_;
    std::filesystem::path dir_;
};

TEST_F(CtlFiles, EndlessFoldersAndDevicesAreRefusedAndLeftAlone) {
    const std::string d = dir_.string();
    for (const std::string& words : std::vector<std::string>{
             "hub write /dev/zero", "hub write " + d + "/folder", "snapshot show /dev/zero",
             "hub read " + d + "/device", "tanks export " + d + "/device.xlsx",
             "tare export " + d + "/device", "echo --csv " + d + "/device"}) {
        if (words.find("device.xlsx") != std::string::npos)
            std::filesystem::create_symlink("/dev/null", dir_ / "device.xlsx");
        std::string output;
        EXPECT_EQ(Ctl(words, output), 1) << words << "\n" << output;
        EXPECT_TRUE(output.rfind("vq31ctl: ", 0) == 0 ||
                    output.find("\nvq31ctl: ") != std::string::npos)
            << words << "\n"
            << output;
        EXPECT_TRUE(std::filesystem::is_character_file("/dev/null"));
        EXPECT_TRUE(std::filesystem::is_symlink(dir_ / "device")) << words;
    }
}

} // namespace
} // namespace vq31::test
