// The tare window's table from the tank's dimensions: the button beside the table buttons,
// the shape dialog, and the grid filled with the computed rows.
#include "shape_dialog.h"
#include "tare_editor.h"
#include "tare_editor_parts.h"

#include <QPushButton>

#include <cmath>

namespace vq31 {

using namespace tare_editor;

QPushButton* TareEditor::AddShapeButton(QWidget* parent) {
    auto* button = new QPushButton(QStringLiteral("По размерам бака..."), parent);
    button->setObjectName(QStringLiteral("btn_shape"));
    button->setAutoDefault(false);
    connect(button, &QPushButton::clicked, this, [this] { OpenShapeDialog(); });
    if (!shapeAsker_) {
        shapeAsker_ = [this]() -> std::optional<ShapeCalculation> {
            ShapeDialog dialog([this](std::string_view key,
                                      std::string_view builtIn) { return Text(key, builtIn); },
                               decimalPoint_, this);
            if (dialog.exec() != QDialog::Accepted) {
                return std::nullopt;
            }
            return dialog.Calculation();
        };
    }
    return button;
}

void TareEditor::OpenShapeDialog() {
    if (!shapeAsker_) {
        return;
    }
    if (const std::optional<ShapeCalculation> calculation = shapeAsker_()) {
        FillFromShape(*calculation);
    }
}

void TareEditor::FillFromShape(const ShapeCalculation& calculation) {
    std::vector<std::vector<std::string>> rows;
    for (const ShapeRow& row : calculation.table.rows) {
        rows.push_back({FormatTareLitres(row.litres, decimalPoint_),
                        std::to_string(std::lround(row.levelMm))});
    }
    grid_.Reset();
    PutTableTexts(grid_, rows);
    RenumberRows(grid_);
    RefreshTable();
    SelectRow(1);
    shapeSource_ = calculation;
    shapeTexts_ = TableTextsOf(grid_);
}

std::optional<ShapeCalculation> TareEditor::ShapeSource() const {
    // A grid changed since (a row typed, deleted, poured or imported) is no longer the
    // computed table.
    if (shapeSource_ && TableTextsOf(grid_) == shapeTexts_) {
        return shapeSource_;
    }
    return std::nullopt;
}

} // namespace vq31
