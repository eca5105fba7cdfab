// The settings file that remembers the serial link between runs: section "UART" with the
// port number, the link speed and the device address, plus the port's name (a device path on
// Linux), which wins over the number when present. The file sits beside the executable, or in
// the user's configuration folder when the executable's folder is not writable.
#pragma once

#include <filesystem>
#include <string>

namespace vq31 {

inline constexpr const char* SettingsFileName = "vQ31_Install_Service.ini";
inline constexpr const char* SettingsSection = "UART";
inline constexpr const char* SettingsPortNumberKey = "NUM";
inline constexpr const char* SettingsBaudRateKey = "BAUD";
inline constexpr const char* SettingsAddressKey = "ADDR";
inline constexpr const char* SettingsPortNameKey = "PORT";
// Folder name under the user's configuration folder.
inline constexpr const char* ConfigFolderName = "vq31-install-service";

inline constexpr int DefaultPortNumber = 1;
inline constexpr int DefaultBaudRate = 19200;
inline constexpr int DefaultAddress = 1;

struct LinkSettings {
    int portNumber = DefaultPortNumber; // port "COM<n>"
    int baudRate = DefaultBaudRate;
    int address = DefaultAddress;
    std::string portName; // empty: the port number names the port

    // The port to select and open: the stored name when there is one, else "COM<n>".
    std::string SelectedPort() const;
};

// Folder of the running executable (the current folder when it cannot be found).
std::filesystem::path ExecutableDirectory();

// The program's data folder of the tree an executable in exeDir was installed into:
// <exeDir>/../share/vq31-install-service.
std::filesystem::path TreeDataDirectory(const std::filesystem::path& exeDir);
// True when exeDir is the bin folder of an installed tree, that is a folder named "bin" with
// the program's data folder beside it (/usr/bin, or a package unpacked under another root).
// Such a program keeps its own files in the user's configuration folder even where it could
// write beside itself (the superuser can write to /usr/bin).
bool IsInstalledLayout(const std::filesystem::path& exeDir);
// True when the file lies in a data folder of an installed tree
// (.../share/vq31-install-service/), whose files belong to the package and are never changed.
bool IsInstalledDataFile(const std::filesystem::path& file);

// The program's folder in the user's configuration folder: <configHome>/vq31-install-service,
// where configHome is xdgConfigHome when it is an absolute path, else <home>/.config; empty
// when neither is known.
std::filesystem::path UserConfigFolder(const std::string& xdgConfigHome, const std::string& home);
// The same with the process's environment ($XDG_CONFIG_HOME, $HOME).
std::filesystem::path UserConfigFolder();
// True when the file can be written: the file itself when it exists, else its folder.
bool IsWritableLocation(const std::filesystem::path& file);

// Where the settings file lives: beside the executable when that file is writable or can be
// created there and the executable is not an installed one (IsInstalledLayout); otherwise
// <configHome>/vq31-install-service/, where configHome is xdgConfigHome when it is an absolute
// path, else <home>/.config.
std::filesystem::path ChooseSettingsPath(const std::filesystem::path& exeDir,
                                         const std::string& xdgConfigHome, const std::string& home);
// The same with the process's environment ($XDG_CONFIG_HOME, $HOME).
std::filesystem::path SettingsFilePath(const std::filesystem::path& exeDir);

class SettingsFile {
public:
    explicit SettingsFile(std::filesystem::path path) : path_(std::move(path)) {}
    const std::filesystem::path& Path() const { return path_; }

    // Reads NUM, BAUD, ADDR and PORT. A missing file, section or key, or a value that is not
    // an integer, gives that key's default; nothing is reported.
    LinkSettings Load() const;
    // Writes NUM, BAUD and ADDR, in that order, then PORT when a name is given or the file
    // already holds the key (an empty PORT hands the choice back to NUM). Every other line
    // of the file stays; the file and its folder are created when missing.
    bool Save(const LinkSettings& settings, std::string* error = nullptr) const;

private:
    std::filesystem::path path_;
};

} // namespace vq31
