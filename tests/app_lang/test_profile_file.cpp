// Private-profile files: encodings, lookups, and one-key writes that keep every other line.
#include "profile_file.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

namespace vq31 {
namespace {

using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

// "Тест" in Windows-1251 and in UTF-8.
constexpr std::string_view TestCp1251 = "\xD2\xE5\xF1\xF2";
constexpr std::string_view TestUtf8 = "Тест";

TEST(TextEncoding, Cp1251KnownCharactersConvertBothWays) {
    struct Case {
        std::string_view cp1251;
        std::string_view utf8;
    };
    const Case cases[] = {
        {TestCp1251, TestUtf8},
        {"\xA8\xB8", "Ёё"},
        {"\xB9", "№"},
        {"\x88", "€"},
        {"\xC0\xDF\xE0\xFF", "АЯая"},
        {"\xA5\xB4\xAA\xBA\xAF\xBF\xB2\xB3", "ҐґЄєЇїІі"},
        {"\x96\x97\xAB\xBB", "–—«»"},
        {"plain ASCII", "plain ASCII"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Cp1251ToUtf8(c.cp1251), c.utf8);
        std::string back;
        ASSERT_TRUE(Utf8ToCp1251(c.utf8, back)) << c.utf8;
        EXPECT_EQ(back, c.cp1251);
    }
}

TEST(TextEncoding, EveryCp1251ByteSurvivesARoundTrip) {
    std::string all;
    for (int b = 0; b < 256; ++b) {
        all += static_cast<char>(b);
    }
    const std::string utf8 = Cp1251ToUtf8(all);
    EXPECT_TRUE(IsValidUtf8(utf8));
    std::string back;
    ASSERT_TRUE(Utf8ToCp1251(utf8, back));
    EXPECT_EQ(back, all);
}

TEST(TextEncoding, CharactersOutsideTheCodePageAreRefused) {
    std::string out;
    EXPECT_FALSE(Utf8ToCp1251("日本", out));
    EXPECT_FALSE(Utf8ToCp1251("\xFF", out));
}

TEST(TextEncoding, DetectsEachEncoding) {
    struct Case {
        std::string bytes;
        TextEncoding encoding;
        std::string text;
        bool lossless;
    };
    const Case cases[] = {
        {"[A]\nk=v\n", TextEncoding::Utf8, "[A]\nk=v\n", true},
        {"\xEF\xBB\xBFk=" + std::string(TestUtf8), TextEncoding::Utf8Bom,
         "k=" + std::string(TestUtf8), true},
        {"k=" + std::string(TestCp1251), TextEncoding::Cp1251, "k=" + std::string(TestUtf8), true},
        // "k=Т" and an emoji as a surrogate pair.
        {std::string("\xFF\xFEk\0=\0\x22\x04\x3D\xD8\x00\xDE", 12), TextEncoding::Utf16Le,
         "k=Т\U0001F600", true},
        // An unpaired surrogate and an odd trailing byte cannot be kept.
        {std::string("\xFF\xFE\x00\xD8x\0y", 7), TextEncoding::Utf16Le, "\uFFFDx", false},
        {"\xEF\xBB\xBF\xC0x", TextEncoding::Utf8Bom, "\uFFFDx", false},
    };
    for (const auto& c : cases) {
        TextEncoding enc{};
        bool lossless = false;
        EXPECT_EQ(DecodeProfileText(c.bytes, enc, lossless), c.text);
        EXPECT_EQ(enc, c.encoding);
        EXPECT_EQ(lossless, c.lossless);
    }
}

TEST(TextEncoding, FoldCaseMatchesLatinAndCyrillicLetters) {
    EXPECT_EQ(FoldCase("SeLeCtEd"), "selected");
    EXPECT_EQ(FoldCase("РУССКИЙ Ёж"), "русский ёж");
    EXPECT_EQ(FoldCase("ЂЏ"), "ђџ");
}

TEST(ProfileRead, SectionsAndKeysIgnoreLetterCaseAndValuesComeAsStored) {
    const auto f = ProfileFile::FromBytes("; comment\n"
                                          "  [ Uart ]  \n"
                                          "  Num = 5  \n"
                                          "Name=  Mixed Case \"quoted\"\n"
                                          "Empty=\n"
                                          "no equals sign\n"
                                          "=orphan value\n"
                                          "[Другой]\n"
                                          "Ключ=значение\n");
    EXPECT_EQ(f.Find("UART", "NUM"), "5");
    EXPECT_EQ(f.Find("uart", "name"), "Mixed Case \"quoted\"");
    EXPECT_EQ(f.Find("UART", "EMPTY"), "");
    EXPECT_EQ(f.Find("другой", "КЛЮЧ"), "значение");
    EXPECT_FALSE(f.Find("UART", "no equals sign"));
    EXPECT_FALSE(f.Find("UART", ""));
    EXPECT_FALSE(f.Find("missing", "NUM"));
    EXPECT_EQ(f.ReadString("UART", "missing", "dflt"), "dflt");
    EXPECT_EQ(f.Keys("uart"), (std::vector<std::string>{"Num", "Name", "Empty"}));
}

TEST(ProfileRead, FirstSectionAndFirstKeyWin) {
    const auto f = ProfileFile::FromBytes("[A]\nk=1\nK=2\n[B]\nk=3\n[a]\nk=4\nj=5\n");
    EXPECT_EQ(f.Find("A", "k"), "1");
    EXPECT_FALSE(f.Find("A", "j"));
    EXPECT_EQ(f.Keys("A"), (std::vector<std::string>{"k"}));
}

TEST(ProfileRead, KeysBeforeAnySectionBelongToNone) {
    const auto f = ProfileFile::FromBytes("k=1\n[A]\n");
    EXPECT_FALSE(f.Find("", "k"));
    EXPECT_FALSE(f.Find("A", "k"));
}

TEST(ProfileRead, IntegersMustBeWholeDecimalNumbersThatFit) {
    const auto f = ProfileFile::FromBytes("[S]\na=42\nb=-7\nc=+3\nd=12abc\ne=\nf=2147483648\n"
                                          "g=0x10\nh=+-1\ni=-\n");
    const std::pair<const char*, int> cases[] = {{"a", 42}, {"b", -7}, {"c", 3},  {"d", 99},
                                                 {"e", 99}, {"f", 99}, {"g", 99}, {"h", 99},
                                                 {"i", 99}, {"z", 99}};
    for (const auto& [key, expected] : cases) {
        EXPECT_EQ(f.ReadInteger("S", key, 99), expected) << key;
    }
}

TEST(ProfileRead, LineBreaksOfAnyKindSeparateLines) {
    const auto f = ProfileFile::FromBytes("[S]\r\na=1\rb=2\nc=3");
    EXPECT_EQ(f.Find("S", "a"), "1");
    EXPECT_EQ(f.Find("S", "b"), "2");
    EXPECT_EQ(f.Find("S", "c"), "3");
}

std::string Serialised(const ProfileFile& f) {
    std::string out;
    EXPECT_TRUE(f.ToBytes(out));
    return out;
}

TEST(ProfileWrite, ChangingAKeyRewritesOnlyItsValue) {
    auto f = ProfileFile::FromBytes("; settings\r\n[UART]\r\n  num = 3 \r\n; keep me\r\n"
                                    "BAUD=9600\r\n\r\n[Other]\r\nx=y");
    ASSERT_TRUE(f.SetString("uart", "NUM", "7"));
    EXPECT_EQ(Serialised(f), "; settings\r\n[UART]\r\n  num = 7\r\n; keep me\r\n"
                             "BAUD=9600\r\n\r\n[Other]\r\nx=y");
}

TEST(ProfileWrite, MissingKeyGoesAfterTheSectionsLastEntry) {
    auto f = ProfileFile::FromBytes("[A]\nk=1\n\n; about B\n[B]\nm=2");
    ASSERT_TRUE(f.SetString("A", "new", "v"));
    ASSERT_TRUE(f.SetString("B", "n", "3"));
    EXPECT_EQ(Serialised(f), "[A]\nk=1\nnew=v\n\n; about B\n[B]\nm=2\nn=3");
}

TEST(ProfileWrite, MissingSectionIsAppended) {
    auto f = ProfileFile::FromBytes("[A]\r\nk=1");
    ASSERT_TRUE(f.SetString("LANG", "SELECTED", "English"));
    EXPECT_EQ(Serialised(f), "[A]\r\nk=1\r\n[LANG]\r\nSELECTED=English\r\n");
    EXPECT_EQ(f.Find("lang", "selected"), "English");
}

TEST(ProfileWrite, NamesThatWouldBreakTheFileAreRefused) {
    auto f = ProfileFile::FromBytes("[A]\nk=1\n");
    EXPECT_FALSE(f.SetString("A", "k", "two\nlines"));
    EXPECT_FALSE(f.SetString("A", "a=b", "v"));
    EXPECT_FALSE(f.SetString("A]", "k", "v"));
    EXPECT_FALSE(f.SetString("A", ";k", "v"));
    EXPECT_FALSE(f.SetString("", "k", "v"));
    EXPECT_FALSE(f.SetString("A", " k", "v"));
    EXPECT_EQ(Serialised(f), "[A]\nk=1\n");
}

TEST(ProfileWrite, FileIsCreatedWithItsFolder) {
    TempDir dir;
    const auto path = dir / "sub/new.ini";
    std::string error;
    ASSERT_TRUE(WriteProfileString(path, "S", "K", "V", &error)) << error;
    EXPECT_EQ(ProfileFile::Load(path).Find("s", "k"), "V");
    EXPECT_FALSE(std::filesystem::exists(dir / "sub/new.ini.new"));
}

// UTF-16LE bytes with byte-order mark, built independently of the code under test.
std::string Utf16Le(std::u16string_view text) {
    std::string out = "\xFF\xFE";
    for (const char16_t u : text) {
        out += static_cast<char>(u & 0xFF);
        out += static_cast<char>(u >> 8);
    }
    return out;
}

TEST(ProfileWrite, FileKeepsItsPermissions) {
    TempDir dir;
    const auto path = dir / "private.ini";
    WriteBytes(path, "[S]\nk=1\n");
    using std::filesystem::perms;
    std::filesystem::permissions(path, perms::owner_read | perms::owner_write);
    ASSERT_TRUE(WriteProfileString(path, "S", "k", "2"));
    EXPECT_EQ(std::filesystem::status(path).permissions() & perms::all,
              perms::owner_read | perms::owner_write);
}

TEST(ProfileWrite, FileKeepsItsEncoding) {
    struct Case {
        std::string bytes;
        std::string expected;
    };
    const Case cases[] = {
        {"[" + std::string(TestCp1251) + "]\r\nk=1\r\n",
         "[" + std::string(TestCp1251) + "]\r\nk=\xC4\xE0\r\n"}, // "Да"
        {"\xEF\xBB\xBF[Тест]\nk=1\n", "\xEF\xBB\xBF[Тест]\nk=Да\n"},
        {Utf16Le(u"[Тест]\nk=1\n"), Utf16Le(u"[Тест]\nk=Да\n")},
    };
    TempDir dir;
    for (const auto& c : cases) {
        const auto path = dir / "enc.lng";
        WriteBytes(path, c.bytes);
        std::string error;
        ASSERT_TRUE(WriteProfileString(path, "тЕСТ", "K", "Да", &error)) << error;
        EXPECT_EQ(ReadBytes(path), c.expected);
    }
}

TEST(ProfileWrite, TextTheEncodingCannotHoldLeavesTheFileUnchanged) {
    TempDir dir;
    const auto path = dir / "cp.lng";
    const std::string original = "[S]\nk=" + std::string(TestCp1251) + "\n";
    WriteBytes(path, original);
    std::string error;
    EXPECT_FALSE(WriteProfileString(path, "S", "k", "日本", &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(ReadBytes(path), original);
}

TEST(ProfileWrite, FileWithUndecodableBytesIsNotRewritten) {
    TempDir dir;
    const auto path = dir / "broken.lng";
    const std::string original = "\xEF\xBB\xBF[S]\nk=\xC0\xC1\n";
    WriteBytes(path, original);
    std::string error;
    EXPECT_FALSE(WriteProfileString(path, "S", "other", "1", &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(ReadBytes(path), original);
}

TEST(ProfileWrite, UnreadableFileIsNotReplaced) {
    TempDir dir;
    // A folder where the file should be: it exists but cannot be read as a file.
    const auto path = dir / "settings.ini";
    std::filesystem::create_directory(path);
    std::string error;
    EXPECT_FALSE(WriteProfileString(path, "S", "k", "1", &error));
    EXPECT_TRUE(std::filesystem::is_directory(path));
}

} // namespace
} // namespace vq31
