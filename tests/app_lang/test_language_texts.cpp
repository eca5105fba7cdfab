// The main window's message, list and status texts filled from the language file.
#include "language_file.h"
#include "language_texts.h"
#include "russian_text.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace vq31 {
namespace {

std::vector<TextEntry> AllTextKeys() {
    std::vector<TextEntry> all = LanguageTexts::MessageDefaults();
    const auto& lists = LanguageTexts::ListDefaults();
    all.insert(all.end(), lists.begin(), lists.end());
    return all;
}

TEST(LanguageTexts, MissingKeysKeepBuiltInTextsAndEmptyValuesEmptyThem) {
    const LanguageFile lang(ProfileFile::FromBytes("[LANG]\nSELECTED=English\n[english]\n"
                                                   "msg_signal=Signal level\nmsg_Ok=\n"
                                                   "str_cmb_Atten1=On\nsta_port_error=Failed\n"));
    LanguageTexts texts;
    lang.LoadTexts(texts);
    EXPECT_EQ(texts.Text(msg::Signal), "Signal level");
    EXPECT_EQ(texts.Text(msg::Ok), "");
    EXPECT_EQ(texts.Text("str_cmb_Atten1"), "On");
    EXPECT_EQ(texts.Text("str_cmb_Atten0"), "Выкл.");
    EXPECT_EQ(texts.Text(msg::ChangeLanguage),
              "Необходимо перезапустить программу, чтобы изменения вступили в силу");
    EXPECT_EQ(texts.PortStatus(PortOpenError), "Failed");
    EXPECT_EQ(texts.DeviceStatus(0), StatusTexts::Defaults().device[0]);
}

TEST(LanguageTexts, ShippedFileHoldsEveryTextInBothLanguages) {
    const auto file = ProfileFile::Load(VQ31_SHIPPED_LANGUAGE_FILE);
    ASSERT_TRUE(file.Exists());
    for (const TextEntry& e : AllTextKeys()) {
        EXPECT_TRUE(RussianTextFits(file.Find("Russian", e.key), e.text))
            << e.key << "=" << file.Find("Russian", e.key).value_or("(none)");
        EXPECT_NE(file.Find("English", e.key).value_or(""), "") << e.key;
    }
}

TEST(LanguageTexts, ShippedEnglishReplacesEveryText) {
    auto profile = ProfileFile::Load(VQ31_SHIPPED_LANGUAGE_FILE);
    ASSERT_TRUE(profile.SetString("LANG", "SELECTED", "English"));
    const LanguageFile lang(std::move(profile));
    LanguageTexts texts;
    lang.LoadTexts(texts);
    EXPECT_EQ(texts.Text(msg::ErrorOpenPort), "Cannot open the serial port");
    EXPECT_EQ(texts.Text("str_cmb_OscillMode0"), "Envelope");
    EXPECT_EQ(texts.DeviceStatus(6), "Device status: Device does not answer");
    EXPECT_EQ(texts.PortStatus(PortClosed), "Port status: Port closed");
}

} // namespace
} // namespace vq31
