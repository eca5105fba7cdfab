// The tare window's "По размерам бака..." dialog (Form_Shape): the tank's shape and
// dimensions, the sensor's zero point and tilt, a few measured pours, and a preview of the
// computed curve with its rows and the pours marked. OK hands the computed table to the tare
// window, which fills its grid with it; the table is then stored and written by the usual
// path. The rows stand on whole millimetres with litres to 0.1 l, as the grid keeps them.
#pragma once

#include "tank_calculation.h"

#include <QDialog>
#include <QString>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

class QComboBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QTableWidget;

namespace vq31 {

class ShapePreview;

class ShapeDialog : public QDialog {
    Q_OBJECT
public:
    // text: the window's text by key with its built-in text; decimalPoint: the user's.
    using TextFn = std::function<QString(std::string_view key, std::string_view builtIn)>;
    ShapeDialog(TextFn text, std::string decimalPoint, QWidget* parent = nullptr);

    // Reads the fields and computes the table and the preview. Empty when computed, else
    // the message (also shown in the dialog).
    QString Compute();
    const std::optional<ShapeCalculation>& Calculation() const { return calculation_; }

    // The options of a table the tare grid keeps: whole millimetres, 0.1 l.
    static ShapeTableOptions GridOptions();

    // OK: computes; closes only when the table could be computed.
    void Accept();

private:
    void ShowFieldsOfShape();
    void Field(QGridLayout* grid, const char* name, const char* labelKey, const char* builtIn,
               int row);
    QString Message(const char* key, const char* builtIn) const { return text_(key, builtIn); }

    TextFn text_;
    std::string decimalPoint_;
    std::optional<ShapeCalculation> calculation_;

    QComboBox* cmbShape_ = nullptr;
    QComboBox* cmbHeads_ = nullptr;
    std::map<std::string, QLineEdit*> fields_;
    std::map<std::string, QLabel*> labels_;
    QTableWidget* pours_ = nullptr;
    ShapePreview* preview_ = nullptr;
    QLabel* result_ = nullptr;
    QLabel* warning_ = nullptr;
};

} // namespace vq31
