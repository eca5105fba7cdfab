// The connection doctor on POSIX systems: the device tree for nodes and stable by-id names,
// the process tree for whoever holds a port, and the driver tree for the adapter's maker,
// product and latency timer.
#include "doctor.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vq31 {

namespace {

constexpr int LatencyLimitMs = 2;

std::string Trim(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' '))
        s.pop_back();
    return s;
}

std::string ReadLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return Trim(line);
}

std::vector<std::string> Entries(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(folder.c_str())) {
        while (const dirent* e = ::readdir(d))
            if (e->d_name[0] != '.')
                names.push_back(e->d_name);
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string LinkTarget(const std::string& path) {
    char target[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
    if (n <= 0)
        return {};
    return std::string(target, size_t(n));
}

std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool StartsWith(const std::string& s, const std::string& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

// A device path as it is found in the (possibly fake) device tree.
std::string InTree(const std::string& device, const DoctorRoots& roots) {
    if (StartsWith(device, "/dev/"))
        return roots.dev + device.substr(4);
    return device;
}

const std::string ByIdFolder = "/serial/by-id";

// The driver-tree folder of the USB device behind a tty, found by walking up from the tty's
// device link to the first folder with a vendor id; empty when there is none.
std::string UsbDeviceFolder(const std::string& tty, const DoctorRoots& roots) {
    char resolved[PATH_MAX];
    const std::string link = roots.sys + "/class/tty/" + tty + "/device";
    if (::realpath(link.c_str(), resolved) == nullptr)
        return {};
    std::string folder = resolved;
    for (int up = 0; up < 4 && folder.size() > roots.sys.size(); ++up) {
        if (::access((folder + "/idVendor").c_str(), R_OK) == 0)
            return folder;
        folder = folder.substr(0, folder.find_last_of('/'));
    }
    return {};
}

struct UsbIds {
    std::string vendor, product, description;
};

UsbIds AdapterOf(const std::string& tty, const DoctorRoots& roots) {
    UsbIds ids;
    const std::string folder = UsbDeviceFolder(tty, roots);
    if (folder.empty())
        return ids;
    ids.vendor = ReadLine(folder + "/idVendor");
    ids.product = ReadLine(folder + "/idProduct");
    const std::string maker = ReadLine(folder + "/manufacturer");
    const std::string name = ReadLine(folder + "/product");
    ids.description = maker.empty() ? name : name.empty() ? maker : maker + " " + name;
    if (ids.description.empty())
        ids.description = "USB " + ids.vendor + ":" + ids.product;
    return ids;
}

std::string UdevMatch(const UsbIds& ids) {
    if (ids.vendor.empty())
        return "KERNEL==\"ttyUSB*\"";
    return "ATTRS{idVendor}==\"" + ids.vendor + "\", ATTRS{idProduct}==\"" + ids.product + "\"";
}

// The device name a port name stands for now, in /dev terms ("/dev/ttyUSB0").
std::string DeviceOf(const std::string& name, const DoctorRoots& roots) {
    const std::string inTree = InTree(name, roots);
    const std::string target = LinkTarget(inTree);
    if (target.empty())
        return name;
    // by-id links point at ../../ttyUSB0
    if (StartsWith(name, "/dev/"))
        return "/dev/" + BaseName(target);
    return target;
}

struct Holder {
    std::string name;
    int pid;
};

// Processes with the device open, as far as their fd folders are readable.
std::vector<Holder> HoldersOf(const std::vector<std::string>& paths, const DoctorRoots& roots) {
    std::vector<Holder> holders;
    const int self = int(::getpid());
    for (const std::string& entry : Entries(roots.proc)) {
        if (entry.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const int pid = std::atoi(entry.c_str());
        if (pid == self && roots.proc == "/proc")
            continue;
        const std::string fds = roots.proc + "/" + entry + "/fd";
        for (const std::string& fd : Entries(fds)) {
            const std::string target = LinkTarget(fds + "/" + fd);
            if (std::find(paths.begin(), paths.end(), target) == paths.end())
                continue;
            std::string name = ReadLine(roots.proc + "/" + entry + "/comm");
            holders.push_back({name.empty() ? "pid " + entry : name, pid});
            break;
        }
    }
    return holders;
}

bool IsProber(const std::string& name) {
    return name == "ModemManager" || StartsWith(name, "brltty");
}

// A modem manager or braille daemon running at all (it may be probing without holding).
std::string RunningProber(const DoctorRoots& roots) {
    for (const std::string& entry : Entries(roots.proc)) {
        if (entry.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const std::string name = ReadLine(roots.proc + "/" + entry + "/comm");
        if (IsProber(name))
            return name;
    }
    return {};
}

std::string ProberFix(const std::string& prober, const UsbIds& ids) {
    if (prober == "ModemManager")
        return "ModemManager probes the adapter as if it were a modem. Stop it with a udev rule: "
               "echo '" +
               UdevMatch(ids) +
               ", ENV{ID_MM_DEVICE_IGNORE}=\"1\"' | sudo tee "
               "/etc/udev/rules.d/99-vq31-no-modem.rules; sudo udevadm control --reload; then "
               "replug the adapter (or: sudo systemctl stop ModemManager)";
    return "brltty takes the adapter for a braille display. Stop it by overriding its udev "
           "rule: sudo ln -s /dev/null /etc/udev/rules.d/85-brltty.rules; sudo udevadm control "
           "--reload; then replug the adapter (or: sudo apt remove brltty)";
}

std::string PresentPortsText(const DoctorRoots& roots) {
    const auto ports = ListSerialPorts(roots);
    if (ports.empty())
        return "no serial adapter is plugged in";
    std::string text = "ports present:";
    for (const PortInfo& p : ports)
        text += " " + (p.stableName.empty() ? p.device : p.stableName + " (" + p.device + ")");
    return text;
}

bool InGroup(gid_t gid) {
    if (::getegid() == gid)
        return true;
    const int n = ::getgroups(0, nullptr);
    if (n <= 0)
        return false;
    std::vector<gid_t> groups(static_cast<size_t>(n));
    if (::getgroups(n, groups.data()) < 0)
        return false;
    return std::find(groups.begin(), groups.end(), gid) != groups.end();
}

} // namespace

Diagnosis DiagnoseOpenFailure(const std::string& port, int errorNumber,
                              const std::string& portError, const DoctorRoots& roots) {
    Diagnosis d;
    const std::string device = DeviceOf(port, roots);
    const std::string tty = BaseName(device);
    const UsbIds ids = AdapterOf(tty, roots);
    switch (errorNumber) {
    case EACCES:
    case EPERM: {
        d.problem = OpenProblem::Permission;
        struct stat st {};
        std::string groupName = "dialout";
        const bool known = ::stat(InTree(device, roots).c_str(), &st) == 0;
        if (known)
            if (const struct group* g = ::getgrgid(st.st_gid))
                groupName = g->gr_name;
        d.group = groupName;
        d.message =
            "permission denied on " + port + ": the port belongs to group '" + groupName + "'";
        if (known && InGroup(st.st_gid) && (st.st_mode & S_IRWXG) != (S_IRGRP | S_IWGRP)) {
            char mode[8];
            std::snprintf(mode, sizeof mode, "%03o", unsigned(st.st_mode & 0777));
            d.message += std::string(" but its mode ") + mode +
                         " does not let that group read and write it: sudo chmod 660 " + device +
                         " (or a udev rule with MODE=\"0660\")";
        } else {
            d.message += ". Join it: sudo usermod -aG " + groupName +
                         " $USER, then log out and log in again";
        }
        return d;
    }
    case EBUSY: {
        std::vector<std::string> paths = {device};
        if (port != device)
            paths.push_back(port);
        const auto holders = HoldersOf(paths, roots);
        std::string prober;
        for (const Holder& h : holders) {
            d.holders.push_back(h.name + " (pid " + std::to_string(h.pid) + ")");
            if (IsProber(h.name))
                prober = h.name;
        }
        if (!prober.empty()) {
            d.problem = OpenProblem::Prober;
            d.message = port + " is held by " + d.holders.front() + ". " + ProberFix(prober, ids);
            return d;
        }
        d.problem = OpenProblem::Busy;
        if (!holders.empty()) {
            std::string list;
            for (const auto& h : d.holders)
                list += (list.empty() ? "" : ", ") + h;
            d.message = port + " is in use by " + list + ": close that program (or kill " +
                        std::to_string(holders.front().pid) + ") and open the port again";
            return d;
        }
        d.message = port +
                    " is in use by another program (its process could not be read: "
                    "try sudo fuser -v " +
                    device + ")";
        if (const std::string running = RunningProber(roots); !running.empty())
            d.message += ". " + ProberFix(running, ids);
        return d;
    }
    case ENOENT:
    case ENODEV:
    case ENXIO:
        d.problem = OpenProblem::Missing;
        d.message = port + " does not exist: the adapter is unplugged or the name is wrong (" +
                    PresentPortsText(roots) + ")";
        return d;
    default:
        d.problem = OpenProblem::Other;
        d.message = portError.empty() ? port + ": " + std::strerror(errorNumber) : portError;
        return d;
    }
}

std::vector<PortInfo> ListSerialPorts(const DoctorRoots& roots) {
    std::vector<PortInfo> ports;
    auto add = [&](const std::string& device) -> PortInfo& {
        for (PortInfo& p : ports)
            if (p.device == device)
                return p;
        PortInfo p;
        p.device = device;
        p.description = AdapterOf(BaseName(device), roots).description;
        ports.push_back(p);
        return ports.back();
    };
    const std::string byId = roots.dev + ByIdFolder;
    for (const std::string& name : Entries(byId)) {
        const std::string target = LinkTarget(byId + "/" + name);
        if (target.empty())
            continue;
        add("/dev/" + BaseName(target)).stableName = "/dev" + ByIdFolder + "/" + name;
    }
    for (const std::string& name : Entries(roots.dev))
        if (StartsWith(name, "ttyUSB") || StartsWith(name, "ttyACM"))
            add("/dev/" + name);
    std::sort(ports.begin(), ports.end(),
              [](const PortInfo& a, const PortInfo& b) { return a.device < b.device; });
    return ports;
}

std::string StableNameOf(const std::string& device, const DoctorRoots& roots) {
    if (StartsWith(device, "/dev" + ByIdFolder + "/"))
        return {};
    for (const PortInfo& p : ListSerialPorts(roots))
        if (p.device == device)
            return p.stableName;
    return {};
}

std::string ResolvePort(const std::string& name, const DoctorRoots& roots) {
    struct stat st {};
    if (::stat(InTree(name, roots).c_str(), &st) != 0)
        return {};
    return DeviceOf(name, roots);
}

std::string TuneLatency(const std::string& device, const DoctorRoots& roots) {
    const std::string tty = BaseName(DeviceOf(device, roots));
    const std::string file = roots.sys + "/class/tty/" + tty + "/device/latency_timer";
    const std::string text = ReadLine(file);
    if (text.empty())
        return {}; // not an adapter with a latency timer
    const int latency = std::atoi(text.c_str());
    if (latency <= LatencyLimitMs)
        return {};
    {
        std::ofstream out(file);
        if (out && (out << "1\n") && out.flush() && std::atoi(ReadLine(file).c_str()) == 1)
            return {};
    }
    return "the adapter's latency timer is " + std::to_string(latency) +
           " ms, which delays every answer: set it to 1 with echo 1 | sudo tee "
           "/sys/bus/usb-serial/devices/" +
           tty +
           "/latency_timer, or for good with a udev rule: ACTION==\"add\", "
           "SUBSYSTEM==\"usb-serial\", DRIVER==\"ftdi_sio\", ATTR{latency_timer}=\"1\"";
}

} // namespace vq31
