// The connection doctor against a fake device, process and driver tree built by each test:
// stable names and descriptions in the port list, each diagnosis of a failed open, and the
// latency timer. The permission case is also checked on a real pseudo-terminal opened by an
// unprivileged user.
#include "doctor.h"
#include "link.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <grp.h>
#include <optional>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace vq31;
namespace fs = std::filesystem;

namespace {

constexpr uid_t Nobody = 65534;
const char* FtdiStableName = "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";

void Write(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text;
}

void Link(const fs::path& link, const std::string& target) {
    fs::create_directories(link.parent_path());
    fs::create_symlink(target, link);
}

// Runs fn in a child process as an unprivileged user (when this process is root) and
// returns what it printed; nullopt when privileges cannot be dropped here.
std::optional<std::string> AsUnprivileged(const std::function<std::string()>& fn) {
    int pipeFd[2];
    if (::pipe(pipeFd) != 0)
        return std::nullopt;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pipeFd[0]);
        if (::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(Nobody) != 0 || ::setuid(Nobody) != 0))
            ::_exit(3);
        const std::string out = fn();
        [[maybe_unused]] ssize_t n = ::write(pipeFd[1], out.data(), out.size());
        ::_exit(0);
    }
    ::close(pipeFd[1]);
    std::string out;
    char buffer[512];
    ssize_t n;
    while ((n = ::read(pipeFd[0], buffer, sizeof buffer)) > 0)
        out.append(buffer, size_t(n));
    ::close(pipeFd[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::nullopt;
    return out;
}

// dev/ with an FTDI adapter (stable name, latency timer 16 ms) and an ACM device without
// one; proc/ with minicom holding the FTDI port and ModemManager holding the ACM port.
class FakeTree : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/vq31-doctor-XXXXXX";
        ASSERT_NE(::mkdtemp(name), nullptr);
        root_ = name;
        fs::permissions(root_, fs::perms::owner_all | fs::perms::group_read |
                                   fs::perms::group_exec | fs::perms::others_read |
                                   fs::perms::others_exec);
        roots_.dev = (root_ / "dev").string();
        roots_.proc = (root_ / "proc").string();
        roots_.sys = (root_ / "sys").string();
        Write(root_ / "dev/ttyUSB0", "");
        Write(root_ / "dev/ttyACM0", "");
        Write(root_ / "dev/ttyS0", "");
        Link(root_ / "dev/serial/by-id" / FtdiStableName, "../../ttyUSB0");
        const fs::path usb = root_ / "sys/devices/pci0000:00/usb1/1-1";
        Write(usb / "idVendor", "0403\n");
        Write(usb / "idProduct", "6001\n");
        Write(usb / "manufacturer", "FTDI\n");
        Write(usb / "product", "FT232R USB UART\n");
        Write(usb / "1-1:1.0/ttyUSB0/latency_timer", "16\n");
        Link(root_ / "sys/class/tty/ttyUSB0/device",
             "../../../devices/pci0000:00/usb1/1-1/1-1:1.0/ttyUSB0");
        const fs::path acm = root_ / "sys/devices/pci0000:00/usb1/1-2";
        Write(acm / "idVendor", "2341\n");
        Write(acm / "idProduct", "0043\n");
        fs::create_directories(acm / "1-2:1.0");
        Link(root_ / "sys/class/tty/ttyACM0/device",
             "../../../devices/pci0000:00/usb1/1-2/1-2:1.0");
        Process(4321, "minicom", "/dev/ttyUSB0");
        Process(777, "ModemManager", "/dev/ttyACM0");
        Process(12, "bash", "/dev/pts/3");
    }
    void TearDown() override { fs::remove_all(root_); }

    void Process(int pid, const std::string& name, const std::string& holds) {
        const fs::path p = root_ / "proc" / std::to_string(pid);
        Write(p / "comm", name + "\n");
        Link(p / "fd/3", holds);
    }
    std::string Latency() const {
        std::ifstream in(root_ / "sys/devices/pci0000:00/usb1/1-1/1-1:1.0/ttyUSB0/latency_timer");
        std::string text;
        std::getline(in, text);
        return text;
    }

    fs::path root_;
    DoctorRoots roots_;
};

} // namespace

TEST_F(FakeTree, PortListShowsStableNamesBesideDevicesWithTheAdapter) {
    const auto ports = ListSerialPorts(roots_);
    ASSERT_EQ(ports.size(), 2u); // ttyS0 is no adapter
    EXPECT_EQ(ports[0].device, "/dev/ttyACM0");
    EXPECT_EQ(ports[0].stableName, "");
    EXPECT_EQ(ports[0].description, "USB 2341:0043");
    EXPECT_EQ(ports[1].device, "/dev/ttyUSB0");
    EXPECT_EQ(ports[1].stableName, std::string("/dev/serial/by-id/") + FtdiStableName);
    EXPECT_EQ(ports[1].description, "FTDI FT232R USB UART");

    EXPECT_EQ(StableNameOf("/dev/ttyUSB0", roots_), ports[1].stableName);
    EXPECT_EQ(StableNameOf("/dev/ttyACM0", roots_), "");
    EXPECT_EQ(ResolvePort(ports[1].stableName, roots_), "/dev/ttyUSB0");
}

TEST_F(FakeTree, AStableNameResolvesOnlyWhileItsDeviceIsThere) {
    const std::string stable = std::string("/dev/serial/by-id/") + FtdiStableName;
    fs::remove(root_ / "dev/ttyUSB0"); // unplugged: the link dangles, then goes
    EXPECT_EQ(ResolvePort(stable, roots_), "");
    fs::remove(root_ / "dev/serial/by-id" / FtdiStableName);
    EXPECT_EQ(ResolvePort(stable, roots_), "");
    // Back under another number: the same stable name finds it.
    Write(root_ / "dev/ttyUSB1", "");
    Link(root_ / "dev/serial/by-id" / FtdiStableName, "../../ttyUSB1");
    EXPECT_EQ(ResolvePort(stable, roots_), "/dev/ttyUSB1");
}

TEST_F(FakeTree, BusyPortNamesTheProcessHoldingIt) {
    for (const std::string& port :
         {std::string("/dev/ttyUSB0"), std::string("/dev/serial/by-id/") + FtdiStableName}) {
        const Diagnosis d = DiagnoseOpenFailure(port, EBUSY, "busy", roots_);
        EXPECT_EQ(d.problem, OpenProblem::Busy) << port;
        ASSERT_EQ(d.holders.size(), 1u) << port;
        EXPECT_EQ(d.holders[0], "minicom (pid 4321)");
        EXPECT_NE(d.message.find("in use by minicom (pid 4321)"), std::string::npos) << d.message;
        EXPECT_NE(d.message.find("kill 4321"), std::string::npos) << d.message;
    }
}

TEST_F(FakeTree, ModemManagerOrBrlttyHoldingTheAdapterGetsTheUdevRule) {
    Diagnosis d = DiagnoseOpenFailure("/dev/ttyACM0", EBUSY, "busy", roots_);
    EXPECT_EQ(d.problem, OpenProblem::Prober);
    EXPECT_NE(d.message.find("held by ModemManager (pid 777)"), std::string::npos) << d.message;
    EXPECT_NE(d.message.find("ATTRS{idVendor}==\"2341\", ATTRS{idProduct}==\"0043\", "
                             "ENV{ID_MM_DEVICE_IGNORE}=\"1\""),
              std::string::npos)
        << d.message;

    Write(root_ / "proc/777/comm", "brltty\n");
    d = DiagnoseOpenFailure("/dev/ttyACM0", EBUSY, "busy", roots_);
    EXPECT_EQ(d.problem, OpenProblem::Prober);
    EXPECT_NE(d.message.find("85-brltty.rules"), std::string::npos) << d.message;
}

TEST_F(FakeTree, BusyWithoutAReadableHolderStillNamesARunningProber) {
    fs::remove_all(root_ / "proc/4321");
    fs::remove(root_ / "proc/777/fd/3"); // ModemManager runs but its fds are not readable
    const Diagnosis d = DiagnoseOpenFailure("/dev/ttyUSB0", EBUSY, "busy", roots_);
    EXPECT_EQ(d.problem, OpenProblem::Busy);
    EXPECT_TRUE(d.holders.empty());
    EXPECT_NE(d.message.find("fuser -v /dev/ttyUSB0"), std::string::npos) << d.message;
    EXPECT_NE(d.message.find("ATTRS{idVendor}==\"0403\", ATTRS{idProduct}==\"6001\""),
              std::string::npos)
        << d.message;
}

TEST_F(FakeTree, MissingDeviceSaysSoAndListsWhatIsPresent) {
    const Diagnosis d = DiagnoseOpenFailure("/dev/ttyUSB3", ENOENT, "", roots_);
    EXPECT_EQ(d.problem, OpenProblem::Missing);
    EXPECT_NE(d.message.find("/dev/ttyUSB3 does not exist: the adapter is unplugged"),
              std::string::npos)
        << d.message;
    EXPECT_NE(d.message.find(FtdiStableName), std::string::npos) << d.message;
    EXPECT_NE(d.message.find("/dev/ttyACM0"), std::string::npos) << d.message;

    fs::remove_all(root_ / "dev");
    EXPECT_NE(DiagnoseOpenFailure("/dev/ttyUSB0", ENODEV, "", roots_)
                  .message.find("no serial adapter is plugged in"),
              std::string::npos);
}

TEST_F(FakeTree, PermissionNamesTheNodesGroupAndTheFix) {
    struct stat st {};
    ASSERT_EQ(::stat((root_ / "dev/ttyUSB0").c_str(), &st), 0);
    const struct group* g = ::getgrgid(st.st_gid);
    ASSERT_NE(g, nullptr);
    const std::string group = g->gr_name;

    const Diagnosis d = DiagnoseOpenFailure("/dev/ttyUSB0", EACCES, "", roots_);
    EXPECT_EQ(d.problem, OpenProblem::Permission);
    EXPECT_EQ(d.group, group);
    // This process is in the file's group, so the group's own rights must be what is missing
    // once they are taken away.
    fs::permissions(root_ / "dev/ttyUSB0", fs::perms::owner_read | fs::perms::owner_write);
    const Diagnosis mode = DiagnoseOpenFailure("/dev/ttyUSB0", EACCES, "", roots_);
    EXPECT_NE(mode.message.find("mode 600"), std::string::npos) << mode.message;
    EXPECT_NE(mode.message.find("chmod 660 /dev/ttyUSB0"), std::string::npos) << mode.message;

    // A user outside the group is told to join it and to log in again.
    const auto outside = AsUnprivileged(
        [&] { return DiagnoseOpenFailure("/dev/ttyUSB0", EACCES, "", roots_).message; });
    if (!outside)
        GTEST_SKIP() << "cannot run as another user here";
    EXPECT_NE(outside->find("sudo usermod -aG " + group + " $USER, then log out and log in"),
              std::string::npos)
        << *outside;
}

TEST_F(FakeTree, HighLatencyTimerIsLoweredWhenWritableElseWarnedAbout) {
    EXPECT_EQ(TuneLatency("/dev/ttyUSB0", roots_), "");
    EXPECT_EQ(Latency(), "1");
    EXPECT_EQ(TuneLatency("/dev/ttyACM0", roots_), ""); // no latency timer at all

    Write(root_ / "sys/devices/pci0000:00/usb1/1-1/1-1:1.0/ttyUSB0/latency_timer", "16\n");
    const auto warning = AsUnprivileged([&] { return TuneLatency("/dev/ttyUSB0", roots_); });
    if (!warning)
        GTEST_SKIP() << "cannot run as another user here";
    EXPECT_NE(warning->find("latency timer is 16 ms"), std::string::npos) << *warning;
    EXPECT_NE(warning->find("echo 1 | sudo tee /sys/bus/usb-serial/devices/ttyUSB0/latency_timer"),
              std::string::npos)
        << *warning;
    EXPECT_NE(warning->find("ATTR{latency_timer}=\"1\""), std::string::npos) << *warning;
    EXPECT_EQ(Latency(), "16");
}

TEST(RealPort, APseudoTerminalWithoutRightsIsAPermissionErrorNamingItsGroup) {
    int master = -1, slave = -1;
    char path[128];
    ASSERT_EQ(::openpty(&master, &slave, path, nullptr, nullptr), 0);
    ASSERT_EQ(::chmod(path, 0), 0);
    struct stat st {};
    ASSERT_EQ(::stat(path, &st), 0);
    const struct group* g = ::getgrgid(st.st_gid);
    const std::string group = g ? g->gr_name : "";
    const std::string port = path;
    const auto error = AsUnprivileged([&] {
        DeviceLink link;
        return link.UartOpen(port, 19200) == 0 ? std::string("opened") : link.OpenError();
    });
    ::close(slave);
    ::close(master);
    if (!error)
        GTEST_SKIP() << "cannot run as another user here";
    EXPECT_NE(error->find("permission denied on " + port), std::string::npos) << *error;
    EXPECT_NE(error->find("group '" + group + "'"), std::string::npos) << *error;
}
