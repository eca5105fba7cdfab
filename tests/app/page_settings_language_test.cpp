// The main window's tare and settings page handlers and its language steps, without a worker.
#include "echo_chart.h"
#include "language_keys.h"
#include "snapshot_dialog.h"
#include "traffic_window.h"
#include "window_actions.h"
#include "window_rig.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#ifdef VQ31_HAVE_TARE_UI
#include "tare_editor.h"
#endif

namespace vq31::app::test {
namespace {

// --- tare and settings pages ------------------------------------------------------------------

TEST(TarePage, TareWindowPostsTwentyTwoBeforeAndAfterItIsShown) {
    WindowRig rig;
    rig.window->show();
    int openWhileShown = -1;
    rig.w().onTareWindow = [&](TareEditor& editor) {
#ifdef VQ31_HAVE_TARE_UI
        QTimer::singleShot(0, &editor, [&] {
            openWhileShown = Get(rig.params.TareWindowOpen);
            editor.reject();
        });
#else
        (void)editor;
#endif
    };
    rig.hub->currentTank.RowCount = 12;
    rig.w().BtnHubTareTableClick();
    EXPECT_EQ(rig.posts, (std::vector<int>{22, 22}));
    EXPECT_EQ(Get(rig.params.TareWindowOpen), 0);
    EXPECT_EQ(rig.w().EditHubTableLen->text(), "12");
#ifdef VQ31_HAVE_TARE_UI
    EXPECT_EQ(openWhileShown, 1);
#endif
}

#ifdef VQ31_HAVE_TARE_UI
// The report's particulars go to the settings file's [REPORT] section beside the link
// settings and come back on the next report, notes with their line breaks; the report uses
// the passport of the last parameter read.
TEST(TarePage, ReportParticularsAreRememberedInTheSettingsFile) {
    WindowRig rig;
    rig.window->show();
    QFile ini(rig.SettingsPath());
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[UART]\nNUM=3\n");
    ini.close();
    rig.w().SpinHubTankHeight->setValue(1200);
    rig.w().RememberPassport({0x00010217, 5555, 31, 0x12});
    std::vector<TareEditor::ReportFields> offered;
    bool written = false;
    const auto round = [&](const TareEditor::ReportFields& typed) {
        rig.w().onTareWindow = [&, typed](TareEditor& editor) {
            QTimer::singleShot(0, &editor, [&, typed] {
                editor.SetReportAsker([&, typed](const TareEditor::ReportFields& last) {
                    offered.push_back(last);
                    return std::optional(typed);
                });
                editor.InsertTareRow(10, 100);
                editor.InsertTareRow(20, 200);
                written = editor.WriteReportFile(rig.dir.filePath("r.pdf"), typed);
                editor.OpenReportDialog(); // asks, remembers; the file choice is cancelled
                editor.reject();
            });
        };
        rig.w().BtnHubTareTableClick();
    };
    round({{"client", "Парк"}, {"notes", "строка 1\nстрока \\2"}});
    round({{"client", "Другой"}});
    ASSERT_EQ(offered.size(), 2u);
    EXPECT_EQ(offered[1].at("client"), "Парк");
    EXPECT_EQ(offered[1].at("notes"), "строка 1\nстрока \\2");
    EXPECT_TRUE(written) << "the passport seen on the settings page was used";
    ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(ini.readAll());
    EXPECT_TRUE(text.contains(QStringLiteral("NUM=3"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("[REPORT]")));
    EXPECT_TRUE(text.contains(QStringLiteral("client=Другой")));
}
#endif

TEST(TarePage, CancelledImportPostsNothingAndAChosenFileRefreshes) {
    WindowRig rig;
    rig.w().BtnTanksImp->click();
    EXPECT_EQ(rig.boxes.fileDialogs, 1);
    EXPECT_TRUE(rig.posts.empty());
    rig.boxes.openFile = rig.dir.filePath("missing.xlsx");
    rig.w().BtnTanksImp->click();
    EXPECT_EQ(rig.posts, (std::vector<int>{24}));
#ifdef VQ31_HAVE_SHEETS
    ASSERT_EQ(rig.boxes.shown.size(), 1u); // the unreadable file is reported
    EXPECT_EQ(rig.boxes.shown[0].kind, "error");
#endif
}

#ifdef VQ31_HAVE_SHEETS
TEST(TarePage, TankListExportedByTheButtonComesBackByImport) {
    WindowRig rig;
    HubBuffer& image = rig.hub->hubBuffer;
    HubMakeDefault(image);
    TankRecord preset;
    preset.Id = 7;
    preset.Height = 15000;
    preset.Scale = 1;
    preset.RowCount = 2;
    preset.rows[0] = {0, 0.0f};
    preset.rows[1] = {12000, 250.0f};
    ASSERT_TRUE(HubAppendTank(image, preset));
    rig.boxes.saveFile = rig.dir.filePath("tanks.xlsx");
    rig.w().BtnTanksExp->click();
    EXPECT_TRUE(rig.boxes.shown.empty());
    EXPECT_TRUE(rig.posts.empty());

    image = HubBuffer{};
    rig.boxes.openFile = rig.boxes.saveFile;
    rig.w().BtnTanksImp->click();
    EXPECT_TRUE(rig.boxes.shown.empty());
    EXPECT_TRUE(HubIsValid(image));
    ASSERT_TRUE(HubFindEntry(image, 7).has_value());
    EXPECT_EQ(HubEntryHead(image, *HubFindEntry(image, 7)).RowCount, 2);
    EXPECT_EQ(rig.posts, (std::vector<int>{24}));
}

TEST(TarePage, RowsLeftOutOfAnImportedTankListAreSaidInOneBox) {
    WindowRig rig;
    const QString file = rig.dir.filePath("tanks.csv");
    WriteText(file, "Liters,mm,Tank ID,Tank Height\n0,0,2,1000\n70000,50\n100,100\n");
    rig.boxes.openFile = file;
    rig.w().BtnTanksImp->click();
    ASSERT_EQ(rig.boxes.shown.size(), 1u);
    EXPECT_EQ(rig.boxes.shown[0].kind, "information");
    EXPECT_TRUE(rig.boxes.shown[0].text.contains("sheet 'Sheet1': 1 row outside"))
        << rig.boxes.shown[0].text.toStdString();
    EXPECT_TRUE(HubFindEntry(rig.hub->hubBuffer, 2).has_value());
}

TEST(TarePage, ImportingTheTankListKeepsTankOnesTableAndWorkingCopy) {
    WindowRig rig;
    HubBuffer& image = rig.hub->hubBuffer;
    HubMakeDefault(image);
    TankRecord& tank = rig.hub->currentTank;
    tank.Scale = 1;
    tank.RowCount = 13;
    for (uint16_t r = 0; r < 13; ++r)
        tank.rows[r] = {uint16_t(100 * (r + 1)), float(10 * (r + 1))};
    ASSERT_TRUE(RecordToEntry(tank, image, *HubFindEntry(image, 1)));
    HubSeal(image);
    TankRecord preset;
    preset.Id = 7;
    preset.Scale = 1;
    preset.RowCount = 1;
    preset.rows[0] = {12000, 250.0f};
    ASSERT_TRUE(HubAppendTank(image, preset));
    const TankRecord before = tank;
    rig.boxes.saveFile = rig.dir.filePath("tanks.xlsx");
    rig.w().BtnTanksExp->click();
    rig.boxes.openFile = rig.boxes.saveFile;
    rig.w().BtnTanksImp->click();
    EXPECT_TRUE(rig.boxes.shown.empty());
    EXPECT_EQ(HubEntryHead(image, *HubFindEntry(image, 1)).RowCount, 13);
    EXPECT_EQ(HubEntryRow(image, *HubFindEntry(image, 1), 12).Code, 1300);
    EXPECT_EQ(tank.RowCount, before.RowCount);
    EXPECT_EQ(tank.rows[12].Code, before.rows[12].Code);
}
#endif

TEST(TarePage, TankChoiceStoresTheIdAndRefreshes) {
    WindowRig rig;
    rig.w().CmbHubTankID->addItems({"0", "1", "7"});
    Choose(rig.w().CmbHubTankID, 2);
    EXPECT_EQ(Get(rig.params.TankId), 7);
    rig.w().BtnHubTareSet->click();
    EXPECT_EQ(rig.posts, (std::vector<int>{24, 25}));
}

TEST(SettingsPage, FuelFieldsAreEnabledOnlyForTheUserDefinedFuel) {
    WindowRig rig;
    Choose(rig.w().CmbFuelType, 2);
    EXPECT_EQ(rig.w().CmbFuelType->currentText(), "Бензин");
    EXPECT_FALSE(rig.w().EditFuelKu->isEnabled());
    EXPECT_FALSE(rig.w().LblFuelOfs->isEnabled());
    Choose(rig.w().CmbFuelType, 0);
    EXPECT_TRUE(rig.w().EditFuelKu->isEnabled());
    EXPECT_TRUE(rig.w().EditFuelOfs->isEnabled());
    EXPECT_EQ(Get(rig.params.FuelType), 0);
    EXPECT_TRUE(rig.posts.empty());
}

TEST(SettingsPage, FuelNumbersAreCheckedCoefficientFirst) {
    WindowRig rig;
    rig.w().EditFuelKu->setText("abc");
    rig.w().EditFuelOfs->setText("xyz");
    rig.w().BtnParamsWrite->click();
    ASSERT_EQ(rig.boxes.shown.size(), 1u);
    EXPECT_EQ(rig.boxes.shown[0].text, "Неверное значение температурного коэф.");
    rig.w().EditFuelKu->setText("0.5");
    rig.w().BtnParamsWrite->click();
    ASSERT_EQ(rig.boxes.shown.size(), 2u);
    EXPECT_EQ(rig.boxes.shown[1].text, "Неверное значение скорости звука");
    EXPECT_TRUE(rig.posts.empty());
    EXPECT_EQ(rig.w().EditFuelOfs->text(), "xyz");
    rig.w().EditFuelOfs->setText("1400");
    rig.w().BtnParamsWrite->click();
    EXPECT_FLOAT_EQ(Get(rig.params.FuelTempCoef), 0.5f);
    EXPECT_FLOAT_EQ(Get(rig.params.FuelSoundSpeed), 1400.0f);
    EXPECT_EQ(rig.posts, (std::vector<int>{20}));

    // Words for infinity or not-a-number are no values to send to the device.
    rig.posts.clear();
    for (const char* word : {"nan", "inf", "-inf", "1e40"}) {
        rig.boxes.shown.clear();
        rig.w().EditFuelOfs->setText(word);
        rig.w().BtnParamsWrite->click();
        ASSERT_EQ(rig.boxes.shown.size(), 1u) << word;
        EXPECT_EQ(rig.boxes.shown[0].text, "Неверное значение скорости звука") << word;
    }
    EXPECT_TRUE(rig.posts.empty());
    EXPECT_FLOAT_EQ(Get(rig.params.FuelSoundSpeed), 1400.0f);

    // Digit grouping is no decimal: under this English format "0,003" would read as 3.
    rig.w().EditFuelOfs->setText("1400");
    for (const char* grouped : {"0,003", "1,000.5"}) {
        rig.boxes.shown.clear();
        rig.w().EditFuelKu->setText(grouped);
        rig.w().BtnParamsWrite->click();
        ASSERT_EQ(rig.boxes.shown.size(), 1u) << grouped;
        EXPECT_EQ(rig.boxes.shown[0].text, "Неверное значение температурного коэф.") << grouped;
    }
    EXPECT_TRUE(rig.posts.empty());
    EXPECT_FLOAT_EQ(Get(rig.params.FuelTempCoef), 0.5f);
}

// --- language file ------------------------------------------------------------------------------

const std::string TwoLanguages = "[LANG]\nSELECTED=English\nLANG1=Russian\nLANG2=English\n"
                                 "[English]\nBtnPortOpen=Open\nTsProgram=Program\n"
                                 "str_cmb_OscillMode0=Envelope\nsta_port_closed=Port: closed\n"
                                 "CmbKu=never\n";

TEST(WindowLanguage, FileReplacesCaptionsListsAndStatusTexts) {
    WindowRig rig("", TwoLanguages);
    EXPECT_EQ(rig.w().BtnPortOpen->text(), "Open");
    EXPECT_EQ(rig.w().PcMain->tabText(0), "Program");
    EXPECT_EQ(rig.w().CmbOscillMode->currentText(), "Envelope");
    EXPECT_EQ(rig.w().StatusPanel0->text(), "Port: closed");
    EXPECT_EQ(rig.w().CmbLang->currentIndex(), 1);
    EXPECT_EQ(rig.w().BtnPortClose->text(), "Закрыть");
    EXPECT_EQ(rig.w().CmbKu->count(), 26); // lists are not captioned
}

TEST(WindowLanguage, SnapshotAndTrafficWindowsTakeTheLanguage) {
    WindowRig rig("", "[LANG]\nSELECTED=English\nLANG1=Russian\nLANG2=English\n[English]\n"
                      "FormSnapshots=Device snapshots\nBtnSnapshotRestore=Restore\n"
                      "msg_snapshot_list_empty=No snapshots.\nFormTraffic=Traffic\n"
                      "BtnTrafficPause=Pause\n");
    rig.w().BtnSnapshots->click();
    auto* snapshots = rig.w().findChild<SnapshotDialog*>();
    ASSERT_NE(snapshots, nullptr);
    EXPECT_EQ(snapshots->windowTitle(), "Device snapshots");
    EXPECT_EQ(snapshots->BtnSnapshotRestore->text(), "Restore");
    EXPECT_EQ(snapshots->BtnSnapshotDiff->text(), "Сравнить с устройством"); // no key: built-in
    EXPECT_EQ(snapshots->MemoSnapshot->toPlainText(), "No snapshots.");
    rig.w().SetTrafficMonitor(std::make_shared<LinkMonitor>());
    TrafficWindow* traffic = rig.w().OpenTrafficWindow();
    ASSERT_NE(traffic, nullptr);
    EXPECT_EQ(traffic->windowTitle(), "Traffic");
    EXPECT_EQ(traffic->findChild<QPushButton*>("BtnTrafficPause")->text(), "Pause");
}

TEST(WindowLanguage, WithoutFileListsAreBuiltInAndNothingIsSelected) {
    WindowRig rig;
    EXPECT_EQ(rig.w().CmbLang->count(), 0);
    EXPECT_EQ(rig.w().CmbOscillMode->currentText(), "Огибающая");
    EXPECT_EQ(rig.w().CmbAtten->currentIndex(), -1);
    EXPECT_EQ(rig.w().CmbKu->itemText(25), "Авто");
    EXPECT_EQ(rig.w().CmbKuMax->itemText(25), "б/огр.");
    EXPECT_EQ(rig.w().CmbFuelType->count(), 4);
    // The missing file is said once in the status bar, with where it was looked for.
    EXPECT_FALSE(rig.w().StatusNotice->isHidden());
    EXPECT_EQ(rig.w().StatusNotice->text(),
              QString("Файл языка не найден (искали: %1)").arg(rig.LanguagePath()));
    EXPECT_TRUE(rig.boxes.shown.empty());

    WindowRig found("", TwoLanguages);
    EXPECT_TRUE(found.w().StatusNotice->isHidden());
}

TEST(WindowLanguage, ChoosingALanguageShowsTheRestartMessageThenStoresIt) {
    WindowRig rig("", TwoLanguages);
    std::string fileWhenShown;
    rig.boxes.onBox = [&] { fileWhenShown = ReadText(rig.LanguagePath()); };
    Choose(rig.w().CmbLang, 0);
    EXPECT_TRUE(Holds(fileWhenShown, "SELECTED=English"));
    ASSERT_EQ(rig.boxes.shown.size(), 1u);
    EXPECT_EQ(rig.boxes.shown[0].kind, "information");
    EXPECT_TRUE(rig.boxes.shown[0].text.startsWith("Необходимо перезапустить"));
    EXPECT_TRUE(Holds(ReadText(rig.LanguagePath()), "SELECTED=Russian"));
    EXPECT_EQ(rig.w().BtnPortOpen->text(), "Open"); // captions change at the next start
}

TEST(WindowLanguage, ALanguageChoiceThatCannotBeStoredIsReported) {
    WindowRig rig;
    // A folder where the language file should be: the choice cannot be written.
    ASSERT_TRUE(QDir().mkpath(rig.LanguagePath()));
    rig.w().CmbLang->addItem("Russian");
    Choose(rig.w().CmbLang, 0);
    ASSERT_EQ(rig.boxes.shown.size(), 2u);
    EXPECT_EQ(rig.boxes.shown[0].kind, "information");
    EXPECT_EQ(rig.boxes.shown[1].kind, "error");
}

} // namespace
} // namespace vq31::app::test
