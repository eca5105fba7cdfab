// The tare window's table from the tank's dimensions, offscreen: the dialog computes from its
// fields and pours, OK fills the grid with whole-millimetre rows the editor stores as they
// are, a grid changed afterwards is no longer the computed table, and the report names the
// method with the shape and the pour deviations.
#include "../run_command.h"
#include "shape_dialog.h"
#include "tare_ui_fixture.h"

#include <QComboBox>
#include <QTemporaryDir>

#include <cmath>

namespace vq31::test {
namespace {

class ShapeWindow : public TareWindowTest {
protected:
    static ShapeDialog::TextFn BuiltIn() {
        return [](std::string_view, std::string_view builtIn) {
            return QString::fromUtf8(builtIn.data(), static_cast<qsizetype>(builtIn.size()));
        };
    }
    static void Type(QWidget* dialog, const char* field, const QString& text) {
        Child<QLineEdit>(dialog, field)->setText(text);
    }
    static void Pour(QWidget* dialog, int row, const QString& litres, const QString& mm) {
        auto* pours = Child<QTableWidget>(dialog, "sg_pours");
        pours->setItem(row, 0, new QTableWidgetItem(litres));
        pours->setItem(row, 1, new QTableWidgetItem(mm));
    }
    // A cylinder of 1200 x 3000 mm as typed into the dialog (decimal comma of the tests'
    // regional format).
    static std::unique_ptr<ShapeDialog> Cylinder() {
        auto dialog = std::make_unique<ShapeDialog>(BuiltIn(), ",");
        Type(dialog.get(), "edit_diameter", "1200");
        Type(dialog.get(), "edit_length", "3000,0");
        return dialog;
    }
};

TEST_F(ShapeWindow, OkFillsTheGridWithTheComputedRowsAndTheEditorStoresThem) {
    auto dialog = Cylinder();
    ASSERT_EQ(dialog->Compute(), QString());
    const ShapeCalculation calculation = *dialog->Calculation();
    const ShapeTable& table = calculation.table;
    ASSERT_LE(table.rows.size(), TareTableRows);
    EXPECT_LT(table.ErrorShare(), 0.0003);
    EXPECT_FALSE(calculation.CorrectedByPours());

    auto editor = Open();
    editor->SetShapeAsker([&] { return std::optional(calculation); });
    Child<QPushButton>(editor.get(), "btn_shape")->click();
    const Rows shown = Shown(editor.get());
    ASSERT_EQ(shown.size(), table.rows.size());
    for (size_t i = 0; i < shown.size(); ++i) {
        EXPECT_EQ(shown[i].second.toDouble(), table.rows[i].levelMm) << i;
        EXPECT_NEAR(QString(shown[i].first).replace(',', '.').toDouble(), table.rows[i].litres,
                    1e-9)
            << i;
    }
    editor->Accept();
    ASSERT_TRUE(errors.empty()) << errors.front().toStdString();
    ASSERT_EQ(tank.RowCount, table.rows.size());
    for (size_t i = 0; i < table.rows.size(); ++i) {
        EXPECT_EQ(tank.rows[i].Code, std::lround(table.rows[i].levelMm * 10)) << i;
        EXPECT_FLOAT_EQ(tank.rows[i].Litres, static_cast<float>(table.rows[i].litres)) << i;
    }
}

TEST_F(ShapeWindow, FieldsAndPoursThatCannotBeComputedKeepTheDialogOpen) {
    struct Case {
        const char* name;
        std::function<void(QWidget*)> change;
        const char* message;
    };
    const Case cases[] = {
        {"no diameter", [](QWidget* d) { Type(d, "edit_diameter", ""); }, "Не указано: Диаметр"},
        {"length not a number", [](QWidget* d) { Type(d, "edit_length", "3.000"); },
         "Неверное число: Длина"},
        {"offset at the top", [](QWidget* d) { Type(d, "edit_offset", "1200"); },
         "Размеры бака не подходят"},
        {"one pour", [](QWidget* d) { Pour(d, 0, "100", "90"); }, "хотя бы две проливки"},
        {"half a pour", [](QWidget* d) { Pour(d, 2, "100", ""); }, "Неверная проливка в строке 3"},
    };
    for (const Case& c : cases) {
        auto dialog = Cylinder();
        c.change(dialog.get());
        dialog->Accept();
        EXPECT_TRUE(dialog->Compute().contains(QString::fromUtf8(c.message))) << c.name;
        EXPECT_FALSE(dialog->Calculation().has_value()) << c.name;
        EXPECT_NE(dialog->result(), QDialog::Accepted) << c.name;
    }
}

TEST_F(ShapeWindow, APourFarOffTheModelIsMarkedAndWarned) {
    // Pours of the drawn tank, the middle one read 8 % high.
    TankShape shape;
    shape.diameterMm = 1200;
    shape.lengthMm = 3000;
    const TankModel model(shape, {});
    auto dialog = Cylinder();
    const double levels[] = {150, 450, 800, 1050};
    for (int i = 0; i < 4; ++i) {
        const double litres = model.LitresAtReading(levels[i]) * (i == 1 ? 1.08 : 1.0);
        Pour(dialog.get(), i, QString::number(litres, 'f', 3).replace('.', ','),
             QString::number(levels[i]));
    }
    ASSERT_EQ(dialog->Compute(), QString());
    ASSERT_TRUE(dialog->Calculation()->CorrectedByPours());
    EXPECT_TRUE(dialog->Calculation()->PourWarning());
    EXPECT_FALSE(Child<QLabel>(dialog.get(), "lbl_shape_warning")->text().isEmpty());
    auto* pours = Child<QTableWidget>(dialog.get(), "sg_pours");
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(pours->item(i, 2)->background() != QBrush(), i == 1) << i;
    }
}

TEST_F(ShapeWindow, TheReportNamesTheMethodWhileTheGridHoldsTheComputedTable) {
    QTemporaryDir dir;
    auto dialog = Cylinder();
    TankShape shape;
    shape.diameterMm = 1200;
    shape.lengthMm = 3000;
    const TankModel model(shape, {});
    Pour(dialog.get(), 0, QString::number(model.LitresAtReading(300), 'f', 2).replace('.', ','),
         "300");
    Pour(dialog.get(), 1, QString::number(model.LitresAtReading(900), 'f', 2).replace('.', ','),
         "900");
    ASSERT_EQ(dialog->Compute(), QString());
    auto editor = Open();
    editor->SetDeviceInfo([] { return report::DeviceFromPassport(0x000A0318, 765432, 31, 0x12); });
    editor->FillFromShape(*dialog->Calculation());

    const auto reportText = [&](const QString& name) {
        const QString pdf = dir.filePath(name);
        EXPECT_TRUE(editor->WriteReportFile(pdf, {}));
        return RunCommand("pdftotext -layout '" + pdf.toStdString() + "' -").output;
    };
    const std::string computed = reportText("computed.pdf");
    EXPECT_NE(computed.find("Расчёт по размерам бака, уточнённый проливками"), std::string::npos)
        << computed;
    EXPECT_NE(computed.find("Горизонтальный цилиндр"), std::string::npos);
    EXPECT_NE(computed.find("Ø 1200 × 3000"), std::string::npos) << computed;
    EXPECT_NE(computed.find("Проливка 2:"), std::string::npos);

    // A row deleted by hand: the grid is no longer the computed table.
    editor->findChild<QTableWidget*>("sg_tare1")->selectRow(3);
    editor->DeleteSelectedRows();
    EXPECT_FALSE(editor->ShapeSource().has_value());
    const std::string poured = reportText("poured.pdf");
    EXPECT_NE(poured.find("Проливка бака порциями"), std::string::npos) << poured;
    EXPECT_EQ(poured.find("Горизонтальный цилиндр"), std::string::npos);
}

} // namespace
} // namespace vq31::test
