// The language file: the list of languages, the language in use, texts by key, the choice of
// a new language, and the shipped file.
#include "language_file.h"
#include "language_keys.h"
#include "russian_text.h"
#include "status_texts.h"
#include "temp_dir.h"
#include "window_words.h"

#include <gtest/gtest.h>

#include <optional>
#include <set>

namespace vq31 {
namespace {

using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

LanguageFile FromText(std::string_view text) {
    return LanguageFile(ProfileFile::FromBytes(text));
}

TEST(LanguageFile, MissingFileMeansEnglishNoListAndBuiltInTexts) {
    TempDir dir;
    const auto lang = LanguageFile::Load(dir / LanguageFileName);
    EXPECT_FALSE(lang.Exists());
    EXPECT_EQ(lang.Selected(), "English");
    EXPECT_TRUE(lang.Languages().empty());
    EXPECT_EQ(lang.SelectedIndex(), -1);
    EXPECT_EQ(lang.Text("msg_Ok", "built-in"), "built-in");
    EXPECT_EQ(lang.Caption("BtnPortOpen"), "");
}

TEST(LanguageFile, ListEndsAtTheFirstMissingOrEmptyName) {
    EXPECT_EQ(FromText("[LANG]\nLANG1=Russian\nLANG3=English\n").Languages(),
              (std::vector<std::string>{"Russian"}));
    EXPECT_EQ(FromText("[LANG]\nLANG1=A\nLANG2=\nLANG3=C\n").Languages(),
              (std::vector<std::string>{"A"}));
    EXPECT_TRUE(FromText("[LANG]\nLANG2=B\n").Languages().empty());
}

TEST(LanguageFile, ListStopsAtTwoHundredFiftyFourNames) {
    std::string text = "[LANG]\n";
    for (int i = 1; i <= 300; ++i) {
        text += "LANG" + std::to_string(i) + "=L" + std::to_string(i) + "\n";
    }
    const auto lang = FromText(text);
    ASSERT_EQ(lang.Languages().size(), 254u);
    EXPECT_EQ(lang.Languages().back(), "L254");
}

TEST(LanguageFile, SelectionComparesExactlyButTheSectionIgnoresCase) {
    const auto lang = FromText("[lang]\nselected=ENGLISH\nLANG1=Russian\nLANG2=English\n"
                               "[English]\nBtnPortOpen=Open\nmsg_Ok=Fine\n");
    EXPECT_EQ(lang.Selected(), "ENGLISH");
    EXPECT_EQ(lang.SelectedIndex(), -1);
    EXPECT_EQ(lang.Caption("btnportopen"), "Open");
    EXPECT_EQ(lang.Text("msg_Ok", "OK"), "Fine");

    EXPECT_EQ(FromText("[LANG]\nSELECTED=English\nLANG1=Russian\nLANG2=English\n").SelectedIndex(),
              1);
}

TEST(LanguageFile, EmptyValueEmptiesATextButKeepsACaption) {
    const auto lang = FromText("[LANG]\nSELECTED=X\n[X]\nmsg_Ok=\nBtnPortOpen=\n");
    EXPECT_EQ(lang.Text("msg_Ok", "OK"), "");
    EXPECT_EQ(lang.Text("msg_other", "dflt"), "dflt");
    EXPECT_EQ(lang.Caption("BtnPortOpen"), "");
}

TEST(LanguageFile, SelectedLanguageWithoutASectionGivesBuiltInTexts) {
    const auto lang = FromText("[LANG]\nSELECTED=Klingon\nLANG1=Russian\n[Russian]\nmsg_Ok=ОК\n");
    EXPECT_EQ(lang.Text("msg_Ok", "OK"), "OK");
    EXPECT_EQ(lang.SelectedIndex(), -1);
}

TEST(LanguageFile, ReadsUtf16AndWindows1251Files) {
    // "[LANG]SELECTED=Русский LANG1=Русский [Русский] BtnPortOpen=Открыть" in both encodings.
    const std::u16string text =
        u"[LANG]\r\nSELECTED=Русский\r\nLANG1=Русский\r\n[РУССКИЙ]\r\nBtnPortOpen=Открыть\r\n";
    std::string utf16 = "\xFF\xFE";
    for (const char16_t u : text) {
        utf16 += static_cast<char>(u & 0xFF);
        utf16 += static_cast<char>(u >> 8);
    }
    const std::string cp1251 = "[LANG]\r\nSELECTED=\xD0\xF3\xF1\xF1\xEA\xE8\xE9\r\n"
                               "LANG1=\xD0\xF3\xF1\xF1\xEA\xE8\xE9\r\n"
                               "[\xD0\xD3\xD1\xD1\xCA\xC8\xC9]\r\n"
                               "BtnPortOpen=\xCE\xF2\xEA\xF0\xFB\xF2\xFC\r\n";
    TempDir dir;
    for (const std::string& bytes : {utf16, cp1251}) {
        WriteBytes(dir / LanguageFileName, bytes);
        const auto lang = LanguageFile::Load(dir / LanguageFileName);
        EXPECT_EQ(lang.Selected(), "Русский");
        EXPECT_EQ(lang.SelectedIndex(), 0);
        EXPECT_EQ(lang.Caption("BtnPortOpen"), "Открыть");
    }
}

TEST(LanguageFile, StatusTextsComeFromTheirKeysAndOthersStayEmpty) {
    const auto lang = FromText("[LANG]\nSELECTED=E\n[E]\nsta_device6=No answer\n"
                               "sta_port_closed=Closed\nsta_device9=never read\n");
    StatusTexts status = StatusTexts::Defaults();
    lang.LoadStatusTexts(status);
    EXPECT_EQ(status.device[6], "No answer");
    EXPECT_EQ(status.device[0], StatusTexts::Defaults().device[0]);
    EXPECT_EQ(status.device[9], "");
    EXPECT_EQ(status.port[PortClosed], "Closed");
    EXPECT_EQ(status.port[PortOpened], StatusTexts::Defaults().port[PortOpened]);
}

TEST(LanguageLocation, BesideTheExecutableFirstThenTheDataFolder) {
    TempDir dir;
    const auto exeDir = dir / "bin";
    const auto dataDir = dir / "share";
    std::filesystem::create_directories(exeDir);
    std::filesystem::create_directories(dataDir);
    const auto noCopy = dir / "no-copy" / LanguageFileName;
    EXPECT_EQ(LocateLanguageFile(exeDir, dataDir, noCopy), exeDir / LanguageFileName);
    WriteBytes(dataDir / LanguageFileName, "[LANG]\n");
    EXPECT_EQ(LocateLanguageFile(exeDir, dataDir, noCopy), dataDir / LanguageFileName);
    WriteBytes(exeDir / LanguageFileName, "[LANG]\n");
    EXPECT_EQ(LocateLanguageFile(exeDir, dataDir, noCopy), exeDir / LanguageFileName);
}

TEST(ChooseLanguage, ShowsTheRestartMessageBeforeWritingTheChoice) {
    TempDir dir;
    const auto path = dir / LanguageFileName;
    WriteBytes(path, "[LANG]\nSELECTED=Russian\nLANG1=Russian\nLANG2=English\n");
    std::vector<std::string> seen;
    const bool ok = ChooseLanguage(path, "English", "restart please", [&](const std::string& m) {
        seen.push_back(m);
        // While the message is shown, the file still holds the old choice.
        EXPECT_EQ(LanguageFile::Load(path).Selected(), "Russian");
    });
    ASSERT_TRUE(ok);
    EXPECT_EQ(seen, std::vector<std::string>{"restart please"});
    EXPECT_EQ(ReadBytes(path), "[LANG]\nSELECTED=English\nLANG1=Russian\nLANG2=English\n");
}

TEST(ChooseLanguage, CreatesAMissingFile) {
    TempDir dir;
    const auto path = dir / LanguageFileName;
    ASSERT_TRUE(ChooseLanguage(path, "Russian", "m", nullptr));
    EXPECT_EQ(LanguageFile::Load(path).Selected(), "Russian");
}

TEST(ChooseLanguage, ReportsAFileThatCannotBeWritten) {
    TempDir dir;
    const auto path = dir / "missing-folder-file" / LanguageFileName;
    WriteBytes(dir / "missing-folder-file", "a plain file where a folder is needed");
    std::string error;
    int shown = 0;
    EXPECT_FALSE(ChooseLanguage(
        path, "Russian", "m", [&](const std::string&) { ++shown; }, &error));
    EXPECT_EQ(shown, 1);
    EXPECT_FALSE(error.empty());
}

TEST(ChooseLanguage, ReadOnlyPlaceSendsTheWholeFileToTheUsersCopy) {
    TempDir dir;
    // An installed file that cannot be written: its folder does not exist for writing.
    const auto installed = std::filesystem::path("/nonexistent-vq31") / LanguageFileName;
    const auto userCopy = dir / "config" / LanguageFileName;
    ASSERT_TRUE(ChooseLanguage(installed, "English", "m", nullptr, nullptr, userCopy));
    EXPECT_EQ(LanguageFile::Load(userCopy).Selected(), "English");
}

TEST(ChooseLanguage, UsersCopyKeepsEveryLineOfTheReadOnlyFile) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "file permissions do not bind the superuser";
    }
    TempDir dir;
    const auto dataDir = dir / "share";
    std::filesystem::create_directories(dataDir);
    const std::string shipped = "[LANG]\nSELECTED=Russian\nLANG1=Russian\n[Russian]\nmsg_Ok=ОК\n";
    WriteBytes(dataDir / LanguageFileName, shipped);
    std::filesystem::permissions(dataDir / LanguageFileName, std::filesystem::perms::owner_read);
    std::filesystem::permissions(dataDir, std::filesystem::perms::owner_read |
                                              std::filesystem::perms::owner_exec);
    const auto userCopy = dir / "config" / LanguageFileName;
    const bool ok =
        ChooseLanguage(dataDir / LanguageFileName, "English", "m", nullptr, nullptr, userCopy);
    std::filesystem::permissions(dataDir, std::filesystem::perms::owner_all);
    ASSERT_TRUE(ok);
    EXPECT_EQ(ReadBytes(dataDir / LanguageFileName), shipped);
    EXPECT_EQ(ReadBytes(userCopy),
              "[LANG]\nSELECTED=English\nLANG1=Russian\n[Russian]\nmsg_Ok=ОК\n");
}

TEST(LanguageLocation, UsersCopyWinsOverTheInstalledFile) {
    TempDir dir;
    const auto dataDir = dir / "share";
    const auto userCopy = dir / "config" / LanguageFileName;
    std::filesystem::create_directories(dataDir);
    WriteBytes(dataDir / LanguageFileName, "[LANG]\n");
    const auto exeDir = std::filesystem::path("/nonexistent-vq31/bin");
    EXPECT_EQ(LocateLanguageFile(exeDir, dataDir, userCopy), dataDir / LanguageFileName);
    ASSERT_TRUE(ChooseLanguage(std::filesystem::path("/nonexistent-vq31") / LanguageFileName,
                               "English", "m", nullptr, nullptr, userCopy));
    EXPECT_EQ(LocateLanguageFile(exeDir, dataDir, userCopy), userCopy);
    // A writable file beside the executable still comes first.
    const auto besideDir = dir / "bin";
    std::filesystem::create_directories(besideDir);
    WriteBytes(besideDir / LanguageFileName, "[LANG]\n");
    EXPECT_EQ(LocateLanguageFile(besideDir, dataDir, userCopy), besideDir / LanguageFileName);
}

TEST(ChooseLanguage, InstalledFileStaysAsShippedEvenWhenWritable) {
    TempDir dir;
    const auto dataDir = dir / "usr" / "share" / "vq31-install-service";
    std::filesystem::create_directories(dataDir);
    const std::string shipped = "[LANG]\nSELECTED=Russian\nLANG1=Russian\nLANG2=English\n";
    WriteBytes(dataDir / LanguageFileName, shipped);
    const auto userCopy = dir / "config" / LanguageFileName;
    ASSERT_TRUE(
        ChooseLanguage(dataDir / LanguageFileName, "English", "m", nullptr, nullptr, userCopy));
    EXPECT_EQ(ReadBytes(dataDir / LanguageFileName), shipped);
    EXPECT_EQ(LanguageFile::Load(userCopy).Selected(), "English");
    EXPECT_EQ(LocateLanguageFile(dir / "usr" / "bin", dataDir, userCopy), userCopy);
}

TEST(LanguageLocation, AnUnpackedTreeFindsItsOwnDataFolder) {
    TempDir dir;
    const auto bin = dir / "usr" / "bin";
    const auto own = dir / "usr" / "share" / "vq31-install-service";
    std::filesystem::create_directories(bin);
    std::filesystem::create_directories(own);
    EXPECT_EQ(DataDirectory(bin), InstalledDataDirectory());
    WriteBytes(own / LanguageFileName, "[LANG]\n");
    EXPECT_EQ(DataDirectory(bin), own);
}

// The shipped file: both languages hold every key of every window, and the Russian texts are
// the built-in ones (Latin-only built-ins in Russian words).
class ShippedLanguageFile : public ::testing::Test {
protected:
    ProfileFile file = ProfileFile::Load(VQ31_SHIPPED_LANGUAGE_FILE);

    static std::vector<KeyText> WindowKeys() {
        std::vector<KeyText> all;
        for (const auto* list : {&MainWindowCaptions(), &TareWindowCaptions(), &AddRowCaptions(),
                                 &ToolWindowCaptions(), &TareWindowTexts(), &AddRowTexts()}) {
            all.insert(all.end(), list->begin(), list->end());
        }
        return all;
    }
};

TEST_F(ShippedLanguageFile, HoldsTheMainWindowsOwnWordsInBothLanguages) {
    for (const KeyText& k : app::word::All()) {
        EXPECT_EQ(file.Find("Russian", k.key), k.text) << k.key;
        EXPECT_NE(file.Find("English", k.key).value_or(""), "") << k.key;
    }
}

TEST_F(ShippedLanguageFile, NamesTheChartsSeriesInEachLanguageOwnWords) {
    for (const char* key : {"Chart1LegendOscill", "Chart1LegendAFC", "Chart1LegendIntegrator"}) {
        const std::string russian = file.Find("Russian", key).value_or("");
        EXPECT_NE(russian, "") << key;
        EXPECT_EQ(russian.find_first_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"),
                  std::string::npos)
            << key << ": " << russian;
        EXPECT_NE(file.Find("English", key).value_or(""), "") << key;
    }
}

TEST_F(ShippedLanguageFile, ListsRussianAndEnglish) {
    ASSERT_TRUE(file.Exists());
    EXPECT_EQ(file.Encoding(), TextEncoding::Utf8Bom);
    const LanguageFile lang(file);
    EXPECT_EQ(lang.Languages(), (std::vector<std::string>{"Russian", "English"}));
    EXPECT_GE(lang.SelectedIndex(), 0);
}

TEST_F(ShippedLanguageFile, RussianSectionHoldsTheBuiltInCaptionsAndTexts) {
    for (const KeyText& k : WindowKeys()) {
        EXPECT_TRUE(RussianTextFits(file.Find("Russian", k.key), k.text))
            << k.key << "=" << file.Find("Russian", k.key).value_or("(none)");
    }
    const StatusTexts status = StatusTexts::Defaults();
    for (int code = 0; code < 256; ++code) {
        const std::string key = StatusTexts::DeviceKey(code);
        if (!key.empty()) {
            EXPECT_EQ(file.Find("Russian", key), status.device[static_cast<size_t>(code)]) << key;
        }
    }
    for (size_t i = 0; i < status.port.size(); ++i) {
        EXPECT_EQ(file.Find("Russian", StatusTexts::PortKeys()[i]), status.port[i]);
    }
}

TEST_F(ShippedLanguageFile, BothSectionsHoldTheSameNonEmptyKeys) {
    const auto russian = file.Keys("Russian");
    const auto english = file.Keys("English");
    EXPECT_EQ(std::set<std::string>(russian.begin(), russian.end()),
              std::set<std::string>(english.begin(), english.end()));
    for (const auto& key : english) {
        EXPECT_NE(file.Find("English", key).value_or(""), "") << key;
    }
    for (const KeyText& k : WindowKeys()) {
        EXPECT_TRUE(file.Find("English", k.key)) << k.key;
    }
}

// Every language on offer has a text for every key of the Russian section (the built-in
// texts), so a key added later without its translations fails here.
TEST_F(ShippedLanguageFile, EveryListedLanguageHasATextForEveryRussianKey) {
    const LanguageFile lang(file);
    const auto russian = file.Keys("Russian");
    ASSERT_FALSE(russian.empty());
    ASSERT_GE(lang.Languages().size(), 2u);
    for (const auto& language : lang.Languages()) {
        ASSERT_FALSE(file.Keys(language).empty()) << "no section for " << language;
        for (const auto& key : russian) {
            EXPECT_NE(file.Find(language, key).value_or(""), "") << language << ": " << key;
        }
    }
    // A Russian text copied into the English section is no translation: no Cyrillic letters
    // (UTF-8 lead bytes 0xD0 and 0xD1) there.
    for (const auto& key : file.Keys("English")) {
        const std::string text = file.Find("English", key).value_or("");
        EXPECT_EQ(text.find_first_of("\xD0\xD1"), std::string::npos) << key << "=" << text;
    }
}

} // namespace
} // namespace vq31
