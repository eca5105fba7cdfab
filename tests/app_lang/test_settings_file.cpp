// The settings file: defaults, first start, the port name, and where the file lives.
#include "profile_file.h"
#include "settings_file.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

namespace vq31 {
namespace {

using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

TEST(SettingsFile, FirstStartCreatesTheFileWithTheDefaults) {
    TempDir dir;
    const SettingsFile file(dir / SettingsFileName);
    const LinkSettings loaded = file.Load();
    EXPECT_EQ(loaded.portNumber, 1);
    EXPECT_EQ(loaded.baudRate, 19200);
    EXPECT_EQ(loaded.address, 1);
    EXPECT_EQ(loaded.SelectedPort(), "COM1");

    std::string error;
    ASSERT_TRUE(file.Save(loaded, &error)) << error;
    const auto written = ProfileFile::Load(file.Path());
    EXPECT_EQ(written.Find("UART", "NUM"), "1");
    EXPECT_EQ(written.Find("UART", "BAUD"), "19200");
    EXPECT_EQ(written.Find("UART", "ADDR"), "1");
    EXPECT_FALSE(written.Find("UART", "PORT")) << "no name chosen, none written";
    EXPECT_EQ(written.Keys("UART"), (std::vector<std::string>{"NUM", "BAUD", "ADDR"}));
}

TEST(SettingsFile, ValuesThatAreNotIntegersGiveTheirDefaults) {
    TempDir dir;
    WriteBytes(dir / SettingsFileName, "[uart]\nnum=x\nbaud=\naddr=300\n");
    const LinkSettings s = SettingsFile(dir / SettingsFileName).Load();
    EXPECT_EQ(s.portNumber, 1);
    EXPECT_EQ(s.baudRate, 19200);
    EXPECT_EQ(s.address, 300) << "clamping is the address field's business, not the file's";
}

TEST(SettingsFile, PortNameWinsOverThePortNumber) {
    TempDir dir;
    WriteBytes(dir / SettingsFileName, "[UART]\nNUM=4\nBAUD=1200\nADDR=7\nPORT=/dev/ttyUSB0\n");
    const LinkSettings s = SettingsFile(dir / SettingsFileName).Load();
    EXPECT_EQ(s.portNumber, 4);
    EXPECT_EQ(s.baudRate, 1200);
    EXPECT_EQ(s.SelectedPort(), "/dev/ttyUSB0");

    LinkSettings numberOnly = s;
    numberOnly.portName.clear();
    EXPECT_EQ(numberOnly.SelectedPort(), "COM4");
}

TEST(SettingsFile, SaveKeepsOtherLinesAndCanHandTheChoiceBackToTheNumber) {
    TempDir dir;
    const auto path = dir / SettingsFileName;
    WriteBytes(path, "; link\n[UART]\nNUM=2\nPORT=/dev/ttyS0\nBAUD=9600\nADDR=5\n[Extra]\na=b\n");
    const SettingsFile file(path);

    LinkSettings s{3, 57600, 9, "/dev/ttyACM1"};
    ASSERT_TRUE(file.Save(s));
    EXPECT_EQ(ReadBytes(path), "; link\n[UART]\nNUM=3\nPORT=/dev/ttyACM1\nBAUD=57600\nADDR=9\n"
                               "[Extra]\na=b\n");

    s.portName.clear();
    ASSERT_TRUE(file.Save(s));
    EXPECT_EQ(file.Load().SelectedPort(), "COM3");
}

TEST(SettingsFile, PortNameWithALineBreakIsRefusedAndNothingWritten) {
    TempDir dir;
    const auto path = dir / SettingsFileName;
    WriteBytes(path, "[UART]\nNUM=2\n");
    std::string error;
    EXPECT_FALSE(SettingsFile(path).Save({1, 19200, 1, "/dev/x\n[UART]"}, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(ReadBytes(path), "[UART]\nNUM=2\n");
}

TEST(SettingsLocation, BesideTheExecutableWhenItsFolderIsWritable) {
    TempDir dir;
    EXPECT_EQ(ChooseSettingsPath(dir.Path(), "/cfg", "/home/u"), dir / SettingsFileName);
}

TEST(SettingsLocation, UserConfigFolderWhenTheExecutablesFolderCannotBeWritten) {
    const std::filesystem::path exeDir = "/nonexistent/vq31/bin";
    const std::string name = std::string(ConfigFolderName) + "/" + SettingsFileName;
    EXPECT_EQ(ChooseSettingsPath(exeDir, "/cfg", "/home/u"), std::filesystem::path("/cfg") / name);
    // A relative XDG_CONFIG_HOME is ignored, as the base directory rules say.
    EXPECT_EQ(ChooseSettingsPath(exeDir, "rel", "/home/u"),
              std::filesystem::path("/home/u/.config") / name);
    EXPECT_EQ(ChooseSettingsPath(exeDir, "", "/home/u"),
              std::filesystem::path("/home/u/.config") / name);
}

TEST(SettingsLocation, InstalledProgramUsesTheConfigFolderEvenWhereItCouldWrite) {
    // An unpacked package: <root>/usr/bin beside <root>/usr/share/vq31-install-service, both
    // writable (as /usr/bin is for the superuser).
    TempDir dir;
    const auto bin = dir / "usr" / "bin";
    std::filesystem::create_directories(bin);
    std::filesystem::create_directories(dir / "usr" / "share" / ConfigFolderName);
    ASSERT_TRUE(IsInstalledLayout(bin));
    EXPECT_EQ(ChooseSettingsPath(bin, "/cfg", "/home/u"),
              std::filesystem::path("/cfg") / ConfigFolderName / SettingsFileName);
    // Without the data folder, or in a folder not named bin, the program is a portable one.
    EXPECT_FALSE(IsInstalledLayout(dir / "usr"));
    std::filesystem::remove_all(dir / "usr" / "share");
    EXPECT_FALSE(IsInstalledLayout(bin));
    EXPECT_EQ(ChooseSettingsPath(bin, "/cfg", "/home/u"), bin / SettingsFileName);
}

TEST(SettingsLocation, SavingIntoTheConfigFolderCreatesIt) {
    TempDir dir;
    const auto path = ChooseSettingsPath("/nonexistent/bin", (dir / "cfg").string(), "");
    ASSERT_TRUE(SettingsFile(path).Save({}));
    EXPECT_TRUE(std::filesystem::exists(dir / "cfg" / ConfigFolderName / SettingsFileName));
}

} // namespace
} // namespace vq31
