// The language file: section "LANG" names the languages on offer ("LANG1", "LANG2", ...) and
// the one in use ("SELECTED"); one section per language holds the texts by key: control
// captions under the control's name, window captions under the window's name, and the
// message, status and list texts. Missing keys keep the built-in Russian texts.
#pragma once

#include "profile_file.h"

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vq31 {

class LanguageTexts;
struct StatusTexts;

inline constexpr const char* LanguageFileName = "vQ31_Install_Service.lng";
inline constexpr const char* LanguageListSection = "LANG";
inline constexpr const char* SelectedLanguageKey = "SELECTED";
inline constexpr const char* LanguageNameKeyPrefix = "LANG";
// The language in use when the file or its "SELECTED" key is missing.
inline constexpr const char* DefaultLanguage = "English";
// The list of languages ends at this number at the latest.
inline constexpr int MaxLanguages = 254;

// The installed data folder that holds the shipped language file.
std::filesystem::path InstalledDataDirectory();
// The data folder for a program in exeDir: the one of its own installed tree when that holds
// the language file (a package unpacked under another root finds its own file), else
// InstalledDataDirectory().
std::filesystem::path DataDirectory(const std::filesystem::path& exeDir);

// The user's own copy of the language file, made when a choice of language cannot be stored
// in the file in use (an installed, read-only one); empty when there is no configuration
// folder.
std::filesystem::path UserLanguageFile();

// The language file to use: the one beside the executable when it can be written; else the
// user's copy when there is one; else the one beside the executable, else the one in dataDir,
// when they exist; when none exists, the path beside the executable (where a choice of
// language creates it).
std::filesystem::path LocateLanguageFile(const std::filesystem::path& exeDir,
                                         const std::filesystem::path& dataDir,
                                         const std::filesystem::path& userFile);
// The same with UserLanguageFile().
std::filesystem::path LocateLanguageFile(const std::filesystem::path& exeDir,
                                         const std::filesystem::path& dataDir);

class LanguageFile {
public:
    // No file: every text is the built-in one and the language is "English".
    LanguageFile() = default;
    explicit LanguageFile(ProfileFile profile);
    static LanguageFile Load(const std::filesystem::path& path);

    const std::filesystem::path& Path() const { return profile_.Path(); }
    bool Exists() const { return profile_.Exists(); }
    const ProfileFile& Profile() const { return profile_; }

    // The language in use ("SELECTED", "English" when missing); its name is the section
    // every text is read from (matched without regard to letter case).
    const std::string& Selected() const { return selected_; }
    // The names of "LANG1", "LANG2", ... up to the first missing or empty one.
    const std::vector<std::string>& Languages() const { return languages_; }
    // Position of the language in use within Languages() by exact comparison; -1 when absent.
    int SelectedIndex() const;

    // A text of the language in use; the default only when the key is missing (a key with an
    // empty value gives an empty text).
    std::string Text(std::string_view key, std::string_view defaultValue) const;
    // A control or window caption; empty when the key is missing or empty, meaning the
    // built-in caption stays.
    std::string Caption(std::string_view componentName) const;

    // Fills the main window's message and list texts and the status-bar texts.
    void LoadTexts(LanguageTexts& texts) const;
    void LoadStatusTexts(StatusTexts& status) const;

private:
    ProfileFile profile_;
    std::string selected_ = DefaultLanguage;
    std::vector<std::string> languages_;
};

// The choice of a language from the list: shows the restart message first (showMessage
// returns when the user has closed it), then stores the name under "LANG"/"SELECTED" in the
// file at path, creating the file when missing. When that file's place cannot be written, or
// the file is the installed one (IsInstalledDataFile, which the package owns), the whole file with
// the new choice goes to userFile instead (UserLanguageFile() when not given), which
// LocateLanguageFile then prefers. Nothing else changes until the next start. False with a reason
// in error when the choice could not be stored.
bool ChooseLanguage(const std::filesystem::path& path, const std::string& language,
                    const std::string& restartMessage,
                    const std::function<void(const std::string&)>& showMessage,
                    std::string* error = nullptr, const std::filesystem::path& userFile = {});

} // namespace vq31
