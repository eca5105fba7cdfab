// The tare window keeps a table at its tank's own resolution: shown with the decimals its
// scale stores, and stored back unchanged when nothing was edited. Enter never closes it.
#include "tare_ui_fixture.h"

#include <QFrame>
#include <QtTest/QTest>

namespace vq31::test {
namespace {

using TareResolution = TareWindowTest;

TEST_F(TareResolution, AnUnchangedTableIsShownAndStoredAtItsOwnScale) {
    struct Case {
        uint16_t scale;
        std::vector<float> litres;
        Rows shown;
    };
    const Case cases[] = {
        {1, {2.125f, 40.5f}, {{"2,125", "100"}, {"40,500", "200"}}},
        {10,
         {25.25f, 40.75f, 60.55f, 80.25f},
         {{"25,25", "100"}, {"40,75", "200"}, {"60,55", "300"}, {"80,25", "400"}}},
        {100, {250.5f, 4000.7f}, {{"250,5", "100"}, {"4000,7", "200"}}},
        {1000, {300.0f, 40000.0f}, {{"300", "100"}, {"40000", "200"}}},
    };
    for (const Case& c : cases) {
        tank = TankRecord{};
        tank.Scale = c.scale;
        tank.RowCount = static_cast<uint16_t>(c.litres.size());
        for (size_t i = 0; i < c.litres.size(); ++i) {
            tank.rows[i] = {static_cast<uint16_t>(1000 * (i + 1)), c.litres[i]};
        }
        const TankRecord before = tank;
        auto editor = Open();
        EXPECT_EQ(Shown(editor.get()), c.shown) << c.scale;
        editor->Accept();
        EXPECT_TRUE(errors.empty()) << c.scale;
        EXPECT_EQ(tank.Scale, before.Scale) << c.scale;
        for (size_t i = 0; i < c.litres.size(); ++i) {
            EXPECT_EQ(ValueForLitres(tank.rows[i].Litres, tank.Scale),
                      ValueForLitres(before.rows[i].Litres, before.Scale))
                << c.scale << " row " << i;
        }
    }
}

TEST_F(TareResolution, ACalibrationStepWritesLitresAtTheTanksResolution) {
    tank.Scale = 10;
    tank.RowCount = 1;
    tank.rows[0] = {1000, 25.25f};
    auto editor = Open();
    ASSERT_TRUE(editor->InsertTareRow(30.5, 120));
    EXPECT_EQ(Shown(editor.get()), (Rows{{"25,25", "100"}, {"30,50", "120"}}));
}

TEST_F(TareResolution, EnterInTheGridOrAFieldLeavesTheWindowOpen) {
    auto editor = Open();
    for (const char* name : {"sg_tare1", "edit_portion", "edit_accuracy"}) {
        QWidget* widget = Child<QWidget>(editor.get(), name);
        widget->setFocus();
        QTest::keyClick(widget, Qt::Key_Return);
        QTest::keyClick(widget, Qt::Key_Enter);
        EXPECT_TRUE(editor->isVisible()) << name;
        EXPECT_EQ(editor->result(), 0) << name;
    }
}

TEST_F(TareResolution, TheLevelGaugeSpansTheTanksOwnHeight) {
    struct Case {
        double heightMm;
        uint16_t levelCode;
        int bar;
        const char* top;
    };
    for (const Case& c : {Case{1000, 5000, 164, "1000"}, Case{1000, 10000, 328, "1000"},
                          Case{400, 1000, 82, "400"}, Case{0, 20000, 100, "6500"}}) {
        auto editor = Open();
        editor->SetTankHeight(c.heightMm);
        editor->hide();
        editor->show(); // the captions are applied on showing
        editor->ShowLevelCode(c.levelCode);
        EXPECT_EQ(Child<QFrame>(editor.get(), "shape_fuel")->height(), c.bar) << c.heightMm;
        EXPECT_EQ(Child<QLabel>(editor.get(), "lbl_max")->text(), c.top) << c.heightMm;
    }
}

} // namespace
} // namespace vq31::test
