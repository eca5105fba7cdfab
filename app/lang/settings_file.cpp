// The settings file: where it lives, and reading and writing the serial link's settings.
#include "settings_file.h"

#include "profile_file.h"

#include <cstdlib>
#include <system_error>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace vq31 {
namespace {

bool IsWritable(const std::filesystem::path& path) {
#ifdef _WIN32
    (void)path;
    return true;
#else
    return ::access(path.c_str(), W_OK) == 0;
#endif
}

} // namespace

bool IsWritableLocation(const std::filesystem::path& file) {
    std::error_code ec;
    if (std::filesystem::exists(file, ec)) {
        return IsWritable(file);
    }
    const auto folder = file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
    return IsWritable(folder);
}

std::filesystem::path UserConfigFolder(const std::string& xdgConfigHome, const std::string& home) {
    if (!xdgConfigHome.empty() && std::filesystem::path(xdgConfigHome).is_absolute()) {
        return std::filesystem::path(xdgConfigHome) / ConfigFolderName;
    }
    if (!home.empty()) {
        return std::filesystem::path(home) / ".config" / ConfigFolderName;
    }
    return {};
}

std::filesystem::path UserConfigFolder() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    return UserConfigFolder(xdg ? xdg : "", home ? home : "");
}

std::string LinkSettings::SelectedPort() const {
    return portName.empty() ? "COM" + std::to_string(portNumber) : portName;
}

std::filesystem::path ExecutableDirectory() {
    std::error_code ec;
#ifdef __linux__
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec && exe.has_parent_path()) {
        return exe.parent_path();
    }
#endif
    return std::filesystem::current_path(ec);
}

std::filesystem::path TreeDataDirectory(const std::filesystem::path& exeDir) {
    return exeDir.parent_path() / "share" / ConfigFolderName;
}

bool IsInstalledLayout(const std::filesystem::path& exeDir) {
    std::error_code ec;
    return exeDir.filename() == "bin" &&
           std::filesystem::is_directory(TreeDataDirectory(exeDir), ec);
}

bool IsInstalledDataFile(const std::filesystem::path& file) {
    const auto folder = file.parent_path();
    return folder.filename() == ConfigFolderName && folder.parent_path().filename() == "share";
}

std::filesystem::path ChooseSettingsPath(const std::filesystem::path& exeDir,
                                         const std::string& xdgConfigHome,
                                         const std::string& home) {
    const auto beside = exeDir / SettingsFileName;
    if (!IsInstalledLayout(exeDir) && IsWritableLocation(beside)) {
        return beside;
    }
    const auto folder = UserConfigFolder(xdgConfigHome, home);
    // With nowhere better, stay beside the executable; writes then report the failure.
    return folder.empty() ? beside : folder / SettingsFileName;
}

std::filesystem::path SettingsFilePath(const std::filesystem::path& exeDir) {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    return ChooseSettingsPath(exeDir, xdg ? xdg : "", home ? home : "");
}

LinkSettings SettingsFile::Load() const {
    const ProfileFile f = ProfileFile::Load(path_);
    LinkSettings s;
    s.portNumber = f.ReadInteger(SettingsSection, SettingsPortNumberKey, DefaultPortNumber);
    s.baudRate = f.ReadInteger(SettingsSection, SettingsBaudRateKey, DefaultBaudRate);
    s.address = f.ReadInteger(SettingsSection, SettingsAddressKey, DefaultAddress);
    s.portName = f.ReadString(SettingsSection, SettingsPortNameKey, "");
    return s;
}

bool SettingsFile::Save(const LinkSettings& settings, std::string* error) const {
    ProfileFile f = ProfileFile::Load(path_);
    bool ok =
        f.SetString(SettingsSection, SettingsPortNumberKey, std::to_string(settings.portNumber)) &&
        f.SetString(SettingsSection, SettingsBaudRateKey, std::to_string(settings.baudRate)) &&
        f.SetString(SettingsSection, SettingsAddressKey, std::to_string(settings.address));
    if (ok && (!settings.portName.empty() || f.Find(SettingsSection, SettingsPortNameKey))) {
        ok = f.SetString(SettingsSection, SettingsPortNameKey, settings.portName);
    }
    if (!ok) {
        if (error) {
            *error = "the port name cannot be stored (it holds a line break)";
        }
        return false;
    }
    return f.Save(error);
}

} // namespace vq31
