// The tare table window offscreen: showing a tank, the calibration step through its controls,
// the level indicator, deleting rows, OK with the truncation question, language texts and
// the workbook menu.
#include "exchange.h"
#include "language_file.h"
#include "tare_ui_fixture.h"

#include <QAction>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest/QTest>

#include <fstream>

namespace vq31::test {
namespace {

using TareEditorWindow = TareWindowTest;

TEST_F(TareEditorWindow, ShowsTheTankWithTheRegionalSeparatorAndNumberedRows) {
    tank.RowCount = 3;
    tank.rows[0] = {0, 0.0f};
    tank.rows[1] = {1230, 12.34f};
    tank.rows[2] = {1305, 20.0f};
    auto editor = Open();
    EXPECT_EQ(editor->windowTitle(), QStringLiteral("Тарировочная таблица"));
    EXPECT_EQ(Shown(editor.get()), (Rows{{"12,3", "123"}, {"20,0", "131"}}));
    EXPECT_EQ(Numbers(editor.get()), (QStringList{"1", "2"}));
    auto* table = Child<QTableWidget>(editor.get(), "sg_tare1");
    EXPECT_EQ(table->horizontalHeaderItem(1)->text(), QStringLiteral("Литры"));
    EXPECT_TRUE(Child<QPushButton>(editor.get(), "btn_OK")->isEnabled());
    EXPECT_EQ(Child<QLabel>(editor.get(), "lbl_max")->text(), "6500");
}

TEST_F(TareEditorWindow, APresetTankOpensWithOkDisabled) {
    auto editor = Open(/*readOnly=*/true);
    EXPECT_FALSE(Child<QPushButton>(editor.get(), "btn_OK")->isEnabled());
    EXPECT_TRUE(Child<QPushButton>(editor.get(), "btn_add")->isEnabled());
    // Enter in a field reaches the default button; the table still is not stored.
    ASSERT_TRUE(editor->InsertTareRow(10, 100));
    QTest::keyClick(Child<QLineEdit>(editor.get(), "edit_portion"), Qt::Key_Return);
    editor->Accept();
    EXPECT_TRUE(editor->isVisible());
    EXPECT_EQ(tank.RowCount, 0);
}

TEST_F(TareEditorWindow, CalibrationStepReadsTheShownLevelAndTheFields) {
    auto editor = Open();
    auto* add = Child<QPushButton>(editor.get(), "btn_add");
    auto* portion = Child<QLineEdit>(editor.get(), "edit_portion");
    EXPECT_EQ(Child<QLineEdit>(editor.get(), "edit_accuracy")->text(), "1");
    EXPECT_EQ(portion->text(), "10");

    add->click(); // no level yet
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors.back(), QStringLiteral("Неверное значение кода"));

    editor->ShowLevelCode(1200);
    add->click();
    EXPECT_EQ(Shown(editor.get()), (Rows{{"10,0", "120"}}));
    add->click();
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors.back(),
              QStringLiteral("Изменение кода не превышает установленной чувствительности"));

    editor->ShowLevelCode(1214); // 121.4 mm shows as 121
    portion->setText("2,5");
    add->click();
    EXPECT_EQ(Shown(editor.get()), (Rows{{"10,0", "120"}, {"12,5", "121"}}));

    portion->setText("2.5"); // not the regional separator
    editor->ShowLevelCode(1300);
    add->click();
    EXPECT_EQ(errors.back(), QStringLiteral("Неверное значение порции топлива"));
    EXPECT_EQ(Shown(editor.get()).size(), 2u);
}

TEST_F(TareEditorWindow, LevelIndicatorStandsOnTheBoxBottom) {
    auto editor = Open();
    auto* box = Child<QFrame>(editor.get(), "shape_box");
    auto* fuel = Child<QFrame>(editor.get(), "shape_fuel");
    auto* label = Child<QLabel>(editor.get(), "lbl_fuel");
    EXPECT_EQ(box->height(), 328);

    editor->ShowLevelCode(65000);
    EXPECT_EQ(label->text(), "6500");
    EXPECT_EQ(fuel->height(), 325);
    EXPECT_EQ(fuel->geometry().top(), box->geometry().top() + box->height() - 325);

    editor->ShowLevelCode(1999); // 199.9 mm: 200 shown, bar still under 10 px
    EXPECT_EQ(label->text(), "200");
    EXPECT_EQ(fuel->height(), 9);

    editor->ShowLevelCode(std::nullopt);
    EXPECT_EQ(label->text(), "No Data");
    EXPECT_EQ(fuel->height(), 0);

    editor->ShowLevel(true, "150", 7);
    EXPECT_EQ(label->text(), "150");
    EXPECT_EQ(fuel->geometry().top(), box->geometry().top() + box->height() - 7);
}

TEST_F(TareEditorWindow, DeletingTheSelectedRangeRenumbersAndKeepsOneRow) {
    tank.RowCount = 4;
    for (uint16_t i = 0; i < 4; ++i) {
        tank.rows[i] = {static_cast<uint16_t>(1000 + 100 * i), 10.0f * (i + 1)};
    }
    auto editor = Open();
    auto* table = Child<QTableWidget>(editor.get(), "sg_tare1");
    table->setRangeSelected(QTableWidgetSelectionRange(1, 0, 2, 2), true);
    editor->findChild<QAction*>("Menu_Rem")->trigger();
    EXPECT_EQ(Shown(editor.get()), (Rows{{"10,0", "100"}, {"40,0", "130"}}));
    EXPECT_EQ(Numbers(editor.get()), (QStringList{"1", "2"}));

    table->setRangeSelected(QTableWidgetSelectionRange(0, 0, 1, 2), true);
    Child<QToolButton>(editor.get(), "spd_del")->click();
    EXPECT_EQ(Shown(editor.get()), (Rows{{"", ""}}));
    EXPECT_EQ(Numbers(editor.get()), (QStringList{"1"}));
}

TEST_F(TareEditorWindow, OkStoresTheGridAndCancelKeepsTheTank) {
    auto editor = Open();
    ASSERT_TRUE(editor->InsertTareRow(12.34, 126));
    ASSERT_TRUE(editor->InsertTareRow(100, 300));
    Child<QPushButton>(editor.get(), "btn_Cancel")->click();
    EXPECT_EQ(editor->result(), QDialog::Rejected);
    EXPECT_EQ(tank.RowCount, 0);

    auto again = Open();
    ASSERT_TRUE(again->InsertTareRow(12.34, 126));
    ASSERT_TRUE(again->InsertTareRow(100, 300));
    Child<QPushButton>(again.get(), "btn_OK")->click();
    EXPECT_EQ(again->result(), QDialog::Accepted);
    ASSERT_EQ(tank.RowCount, 2);
    EXPECT_EQ(tank.rows[0].Code, 1260);
    EXPECT_FLOAT_EQ(tank.rows[0].Litres, 12.3f);
    EXPECT_EQ(tank.Scale, 10);
}

TEST_F(TareEditorWindow, SixtyRowsAskBeforeTruncatingAndNoKeepsTheWindowOpen) {
    auto editor = Open();
    for (int i = 1; i <= 60; ++i) {
        ASSERT_TRUE(editor->InsertTareRow(i, 100 + i));
    }
    answers = {false};
    editor->Accept();
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_EQ(questions[0], QStringLiteral("Превышено максимальное количество записей. "
                                           "Таблица будет усечена. Продолжить?"));
    EXPECT_TRUE(editor->isVisible());
    EXPECT_EQ(tank.RowCount, 0);

    answers = {true};
    editor->Accept();
    EXPECT_FALSE(editor->isVisible());
    ASSERT_EQ(tank.RowCount, 50);
    EXPECT_EQ(tank.rows[49].Code, 1500);
}

TEST_F(TareEditorWindow, TextsAndCaptionsComeFromTheLanguageFile) {
    QTemporaryDir dir;
    const std::string path = dir.filePath("vQ31_Install_Service.lng").toStdString();
    std::ofstream(path) << "[LANG]\nSELECTED=English\nLANG1=English\n"
                           "[English]\nForm_Tare1=Tare table\nbtn_add=Add\ngb_tare=Calibration\n"
                           "Menu_Rem=Delete row\nsg_tare_column1=Litres\n"
                           "msg_wrong_code_value=Wrong level\n";
    const LanguageFile language = LanguageFile::Load(path);
    auto editor = std::make_unique<TareEditor>(tank, texts, false, nullptr);
    editor->SetErrorBox([this](const QString& text) { errors.push_back(text); });
    editor->SetLanguageFile(&language);
    editor->show();
    EXPECT_EQ(editor->windowTitle(), "Tare table");
    EXPECT_EQ(Child<QPushButton>(editor.get(), "btn_add")->text(), "Add");
    EXPECT_EQ(Child<QGroupBox>(editor.get(), "gb_tare")->title(), "Calibration");
    EXPECT_EQ(editor->findChild<QAction*>("Menu_Rem")->text(), "Delete row");
    // Keys the file does not hold keep the built-in texts.
    EXPECT_EQ(Child<QPushButton>(editor.get(), "btn_Cancel")->text(), QStringLiteral("Отмена"));
    auto* table = Child<QTableWidget>(editor.get(), "sg_tare1");
    EXPECT_EQ(table->horizontalHeaderItem(1)->text(), "Litres");
    EXPECT_EQ(table->horizontalHeaderItem(2)->text(), QStringLiteral("мм"));
    Child<QPushButton>(editor.get(), "btn_add")->click();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "Wrong level");
}

TEST_F(TareEditorWindow, ExportWorksReadOnlyAndImportBringsTheRowsBack) {
    QTemporaryDir dir;
    const QString file = dir.filePath("tare.xlsx");
    tank.RowCount = 3;
    tank.rows[0] = {1200, 10.0f};
    tank.rows[1] = {1210, 20.0f};
    tank.rows[2] = {1250, 30.0f};
    auto viewer = Open(/*readOnly=*/true);
    viewer->SetFileChooser([&](bool forSaving) { return forSaving ? file : QString(); });
    viewer->findChild<QAction*>("Menu_Excel_Exp")->trigger();
    ASSERT_TRUE(errors.empty()) << errors.front().toStdString();

    tank = TankRecord{};
    auto editor = Open();
    editor->SetFileChooser([&](bool forSaving) { return forSaving ? QString() : file; });
    Child<QToolButton>(editor.get(), "spd_imp")->click();
    ASSERT_TRUE(errors.empty()) << errors.front().toStdString();
    EXPECT_EQ(Shown(editor.get()), (Rows{{"10", "120"}, {"20", "121"}, {"30", "125"}}));
    EXPECT_EQ(Numbers(editor.get()), (QStringList{"1", "2", "3"}));
    editor->Accept();
    ASSERT_EQ(tank.RowCount, 3);
    EXPECT_EQ(tank.rows[2].Code, 1250);
}

TEST_F(TareEditorWindow, AnImportedSheetWithTitlesAndDecimalLevelsIsSortedOutOnOk) {
    QTemporaryDir dir;
    const QString file = dir.filePath("levels.xlsx");
    // A sheet as an engineer may have typed it: a title row and a level with a decimal.
    const sheets::ExchangeResult written = sheets::ExportTareTable(
        {{"Литры", "мм"}, {"10", "12,6"}, {"20", "130"}}, "Tank", file.toStdString(), ",");
    ASSERT_TRUE(written.ok) << written.detail;

    tank.RowCount = 1;
    tank.rows[0] = {5000, 99.0f};
    auto editor = Open();
    editor->ImportFile(file);
    ASSERT_TRUE(errors.empty()) << errors.front().toStdString();
    EXPECT_EQ(Shown(editor.get()), (Rows{{"Литры", "мм"}, {"10", "12,6"}, {"20", "130"}}));
    editor->Accept();
    EXPECT_EQ(editor->result(), QDialog::Accepted);
    ASSERT_EQ(tank.RowCount, 2);
    EXPECT_EQ(tank.rows[0].Code, 130);
    EXPECT_EQ(tank.rows[1].Code, 1300);
}

TEST_F(TareEditorWindow, AnUnreadableWorkbookIsReportedAndTheTableBeingBuiltStays) {
    QTemporaryDir dir;
    const QString broken = dir.filePath("broken.xlsx");
    std::ofstream(broken.toStdString(), std::ios::binary) << "PK\x03\x04 not really a package";
    tank.RowCount = 2;
    tank.rows[0] = {1200, 10.0f};
    tank.rows[1] = {1300, 20.0f};
    auto editor = Open();
    const Rows before = Shown(editor.get());
    ASSERT_EQ(before.size(), 2u);
    for (const QString& file : {QString("/nonexistent/tare.xlsx"), broken}) {
        errors.clear();
        editor->ImportFile(file);
        ASSERT_EQ(errors.size(), 1u) << file.toStdString();
        // The fixed first lines, then the reason on a line of its own.
        EXPECT_EQ(errors[0].left(36), "Error read excel file\nUnknown error\n");
        EXPECT_GT(errors[0].size(), 37);
        EXPECT_EQ(Shown(editor.get()), before) << file.toStdString();
    }
}

} // namespace
} // namespace vq31::test
