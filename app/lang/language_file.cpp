// The language file: locating it, the list of languages, the language in use, its texts, and
// storing a new choice of language.
#include "language_file.h"

#include "settings_file.h"
#include "status_texts.h"

#include <system_error>

#ifndef VQ31_DATA_DIR
#define VQ31_DATA_DIR "/usr/local/share/vq31-install-service"
#endif

namespace vq31 {

std::filesystem::path InstalledDataDirectory() {
    return VQ31_DATA_DIR;
}

std::filesystem::path DataDirectory(const std::filesystem::path& exeDir) {
    const auto own = TreeDataDirectory(exeDir);
    std::error_code ec;
    if (std::filesystem::is_regular_file(own / LanguageFileName, ec)) {
        return own;
    }
    return InstalledDataDirectory();
}

std::filesystem::path UserLanguageFile() {
    const auto folder = UserConfigFolder();
    return folder.empty() ? folder : folder / LanguageFileName;
}

std::filesystem::path LocateLanguageFile(const std::filesystem::path& exeDir,
                                         const std::filesystem::path& dataDir,
                                         const std::filesystem::path& userFile) {
    const auto beside = exeDir / LanguageFileName;
    std::error_code ec;
    const bool besideExists = std::filesystem::is_regular_file(beside, ec);
    if (besideExists && IsWritableLocation(beside)) {
        return beside;
    }
    // A user's copy exists only because the file in use could not take a choice of language.
    if (!userFile.empty() && std::filesystem::is_regular_file(userFile, ec)) {
        return userFile;
    }
    if (besideExists) {
        return beside;
    }
    if (!dataDir.empty()) {
        const auto installed = dataDir / LanguageFileName;
        if (std::filesystem::is_regular_file(installed, ec)) {
            return installed;
        }
    }
    return beside;
}

std::filesystem::path LocateLanguageFile(const std::filesystem::path& exeDir,
                                         const std::filesystem::path& dataDir) {
    return LocateLanguageFile(exeDir, dataDir, UserLanguageFile());
}

LanguageFile::LanguageFile(ProfileFile profile) : profile_(std::move(profile)) {
    selected_ = profile_.ReadString(LanguageListSection, SelectedLanguageKey, DefaultLanguage);
    for (int i = 1; i <= MaxLanguages; ++i) {
        std::string name =
            profile_.ReadString(LanguageListSection, LanguageNameKeyPrefix + std::to_string(i), "");
        if (name.empty()) {
            break;
        }
        languages_.push_back(std::move(name));
    }
}

LanguageFile LanguageFile::Load(const std::filesystem::path& path) {
    return LanguageFile(ProfileFile::Load(path));
}

int LanguageFile::SelectedIndex() const {
    for (size_t i = 0; i < languages_.size(); ++i) {
        if (languages_[i] == selected_) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

std::string LanguageFile::Text(std::string_view key, std::string_view defaultValue) const {
    return profile_.ReadString(selected_, key, defaultValue);
}

std::string LanguageFile::Caption(std::string_view componentName) const {
    if (componentName.empty()) {
        return {};
    }
    return profile_.ReadString(selected_, componentName, "");
}

void LanguageFile::LoadStatusTexts(StatusTexts& status) const {
    for (int code = 0; code < static_cast<int>(status.device.size()); ++code) {
        const std::string key = StatusTexts::DeviceKey(code);
        if (!key.empty()) {
            status.device[static_cast<size_t>(code)] =
                Text(key, status.device[static_cast<size_t>(code)]);
        }
    }
    const auto& portKeys = StatusTexts::PortKeys();
    for (size_t i = 0; i < status.port.size(); ++i) {
        status.port[i] = Text(portKeys[i], status.port[i]);
    }
}

bool ChooseLanguage(const std::filesystem::path& path, const std::string& language,
                    const std::string& restartMessage,
                    const std::function<void(const std::string&)>& showMessage, std::string* error,
                    const std::filesystem::path& userFile) {
    // The message comes first: the choice is stored only once the user has read it.
    if (showMessage) {
        showMessage(restartMessage);
    }
    if (language.empty()) {
        if (error) {
            *error = "no language chosen";
        }
        return false;
    }
    ProfileFile file = ProfileFile::Load(path);
    if (!file.SetString(LanguageListSection, SelectedLanguageKey, language)) {
        if (error) {
            *error = "the language name cannot be stored: " + language;
        }
        return false;
    }
    if (IsWritableLocation(path) && !IsInstalledDataFile(path)) {
        return file.Save(error);
    }
    const auto copy = userFile.empty() ? UserLanguageFile() : userFile;
    if (copy.empty() || copy == path) {
        return file.Save(error); // nowhere else to go; reports why it cannot be written
    }
    return file.SaveAs(copy, error);
}

} // namespace vq31
