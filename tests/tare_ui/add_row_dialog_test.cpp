// The add-row dialog offscreen: pairs typed by hand go through the editor's ordering rules;
// refused input leaves the dialog open with the typed texts.
#include "add_row_dialog.h"
#include "tare_ui_fixture.h"

#include <QtTest/QTest>

namespace vq31::test {
namespace {

using AddRowDialogWindow = TareWindowTest;

struct DialogParts {
    QLineEdit* litres;
    QLineEdit* level;
    QPushButton* add;
};

DialogParts PartsOf(AddRowDialog& dialog) {
    return {dialog.findChild<QLineEdit*>("edit_litr"), dialog.findChild<QLineEdit*>("edit_code"),
            dialog.findChild<QPushButton*>("btn_add")};
}

TEST_F(AddRowDialogWindow, TypedPairsAreOrderedByVolume) {
    auto editor = Open();
    AddRowDialog dialog(*editor);
    dialog.show();
    const DialogParts parts = PartsOf(dialog);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Добавить"));
    EXPECT_EQ(parts.litres->text(), "0");
    EXPECT_EQ(parts.level->text(), "0");

    parts.litres->setText("100");
    parts.level->setText("500");
    parts.add->click();
    parts.litres->setText("50");
    parts.level->setText("300");
    // Enter in a field presses the default button "Добавить".
    QTest::keyClick(parts.level, Qt::Key_Return);
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(Shown(editor.get()), (Rows{{"50,0", "300"}, {"100,0", "500"}}));
    EXPECT_EQ(Numbers(editor.get()), (QStringList{"1", "2"}));
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(parts.litres->text(), "50");
}

TEST_F(AddRowDialogWindow, RefusedFieldsShowTheirOwnMessage) {
    auto editor = Open();
    AddRowDialog dialog(*editor);
    dialog.show();
    const DialogParts parts = PartsOf(dialog);
    const struct {
        const char* litres;
        const char* level;
        const char* message;
    } cases[] = {
        {"10", "12,5", "Неверное значение кода"},
        {"10", "abc", "Неверное значение кода"},
        {"10.5", "120", "Неверное значение литров"}, // the point is not the regional separator
        {"", "120", "Неверное значение литров"},
        {"0,5", "0", "Неверное значение кода"}, // the editor's own rule
    };
    for (const auto& c : cases) {
        errors.clear();
        parts.litres->setText(QString::fromUtf8(c.litres));
        parts.level->setText(QString::fromUtf8(c.level));
        EXPECT_FALSE(dialog.AddPair()) << c.litres << " at " << c.level;
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0], QString::fromUtf8(c.message));
        EXPECT_EQ(parts.litres->text(), QString::fromUtf8(c.litres));
    }
    EXPECT_EQ(Shown(editor.get()), (Rows{{"", ""}}));

    parts.litres->setText("10,5");
    parts.level->setText("120");
    EXPECT_TRUE(dialog.AddPair());
    EXPECT_EQ(Shown(editor.get()), (Rows{{"10,5", "120"}}));
}

TEST_F(AddRowDialogWindow, APairBreakingTheOrderIsRefusedAndTheDialogStays) {
    tank.RowCount = 2;
    tank.rows[0] = {1200, 10.0f};
    tank.rows[1] = {1300, 20.0f};
    auto editor = Open();
    AddRowDialog dialog(*editor);
    dialog.show();
    const DialogParts parts = PartsOf(dialog);
    parts.litres->setText("15");
    parts.level->setText("135");
    parts.add->click();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], QStringLiteral("Неверное значение кода"));
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(parts.level->text(), "135");
    EXPECT_EQ(Shown(editor.get()), (Rows{{"10,0", "120"}, {"20,0", "130"}}));

    parts.level->setText("125");
    parts.add->click();
    EXPECT_EQ(Shown(editor.get()), (Rows{{"10,0", "120"}, {"15,0", "125"}, {"20,0", "130"}}));
}

} // namespace
} // namespace vq31::test
