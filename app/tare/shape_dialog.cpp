// The shape dialog: fields for each shape, the pours grid, the computation through the
// calibration library, and the preview of the curve with its rows and the pours.
#include "shape_dialog.h"

#include "tare_grid.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <vector>

namespace vq31 {

namespace {

constexpr int PourRows = 8;
constexpr int CurveSamples = 200;
const QColor RowColour(0x20, 0x50, 0xA0);
const QColor PourColour(0x20, 0x80, 0x20);
const QColor FarColour(0xC0, 0x20, 0x20);

QString Q(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

template <typename W> W* Named(W* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

// Which fields each shape shows, in the order of the shape list.
struct ShapeFields {
    TankShapeKind kind;
    std::vector<std::string> fields;
};
const std::vector<ShapeFields>& ShapeList() {
    static const std::vector<ShapeFields> list = {
        {TankShapeKind::Cylinder, {"diameter", "length", "head_depth"}},
        {TankShapeKind::Box, {"width", "height", "length", "corner_radius"}},
        {TankShapeKind::Oval, {"width", "height", "length"}},
        {TankShapeKind::Vertical, {"diameter", "height"}},
    };
    return list;
}
// Fields a shape may leave empty (taken as 0 or their default).
bool Optional(const std::string& field) {
    return field == "corner_radius" || field == "head_depth" || field == "offset" ||
           field == "tilt" || field == "sensor_at";
}

} // namespace

// The computed curve (litres against the reading), the table's rows joined by straight
// lines as the sensor reads them, and the pours: green, or red when over 2 % off.
class ShapePreview : public QWidget {
public:
    explicit ShapePreview(QWidget* parent) : QWidget(parent) { setMinimumSize(320, 260); }

    void Show(const ShapeCalculation* calculation) {
        curve_.clear();
        rows_.clear();
        pours_.clear();
        if (calculation != nullptr) {
            const TankModel model(calculation->shape, calculation->placement, calculation->factor);
            for (int i = 0; i <= CurveSamples; ++i) {
                const double mm = model.TopReadingMm() * i / CurveSamples;
                curve_.emplace_back(mm, model.LitresAtReading(mm));
            }
            for (const ShapeRow& row : calculation->table.rows) {
                rows_.emplace_back(row.levelMm, row.litres);
            }
            pours_ = calculation->pours;
        }
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillRect(rect(), palette().base());
        if (curve_.empty()) {
            return;
        }
        const QRectF area = QRectF(rect()).adjusted(40, 10, -10, -24);
        double top = curve_.back().first, most = curve_.back().second;
        for (const PourDeviation& d : pours_) {
            top = std::max(top, d.point.levelMm);
            most = std::max(most, d.point.litres);
        }
        const auto at = [&](double mm, double litres) {
            return QPointF(area.left() + area.width() * mm / std::max(top, 1e-9),
                           area.bottom() - area.height() * litres / std::max(most, 1e-9));
        };
        painter.setPen(palette().text().color());
        painter.drawRect(area);
        painter.drawText(QRectF(0, area.bottom() + 4, width(), 18), Qt::AlignRight,
                         QString::number(top, 'f', 0) + QStringLiteral(" мм"));
        painter.drawText(QRectF(2, area.top(), 38, 18), Qt::AlignLeft,
                         QString::number(most, 'f', 0));
        QPainterPath curve;
        curve.moveTo(at(curve_.front().first, curve_.front().second));
        for (const auto& [mm, litres] : curve_) {
            curve.lineTo(at(mm, litres));
        }
        painter.setPen(QPen(Qt::gray, 3));
        painter.drawPath(curve);
        painter.setPen(QPen(RowColour, 1));
        for (size_t i = 0; i < rows_.size(); ++i) {
            const QPointF p = at(rows_[i].first, rows_[i].second);
            if (i > 0) {
                painter.drawLine(at(rows_[i - 1].first, rows_[i - 1].second), p);
            }
            painter.drawEllipse(p, 2, 2);
        }
        for (const PourDeviation& d : pours_) {
            painter.setPen(QPen(d.tooFar ? FarColour : PourColour, 2));
            painter.drawEllipse(at(d.point.levelMm, d.point.litres), 5, 5);
        }
    }

private:
    std::vector<std::pair<double, double>> curve_;
    std::vector<std::pair<double, double>> rows_;
    std::vector<PourDeviation> pours_;
};

ShapeDialog::ShapeDialog(TextFn text, std::string decimalPoint, QWidget* parent)
    : QDialog(parent), text_(std::move(text)), decimalPoint_(std::move(decimalPoint)) {
    setObjectName(QStringLiteral("Form_Shape"));
    setWindowTitle(Message("Form_Shape", "Таблица по размерам бака"));

    auto* fieldsGrid = new QGridLayout;
    auto* lblShape = Named(new QLabel(Message("lbl_shape", "Форма:"), this), "lbl_shape");
    cmbShape_ = Named(new QComboBox(this), "cmb_shape");
    for (const char* key :
         {"rep_shape_cylinder", "rep_shape_box", "rep_shape_oval", "rep_shape_vertical"}) {
        static const std::map<std::string, const char*> builtIn = {
            {"rep_shape_cylinder", "Горизонтальный цилиндр"},
            {"rep_shape_box", "Прямоугольный"},
            {"rep_shape_oval", "Овальный"},
            {"rep_shape_vertical", "Вертикальный цилиндр"}};
        cmbShape_->addItem(Message(key, builtIn.at(key)));
    }
    fieldsGrid->addWidget(lblShape, 0, 0);
    fieldsGrid->addWidget(cmbShape_, 0, 1);
    labels_["heads"] = Named(new QLabel(Message("lbl_heads", "Днища:"), this), "lbl_heads");
    cmbHeads_ = Named(new QComboBox(this), "cmb_heads");
    cmbHeads_->addItem(Message("rep_heads_flat", "плоские"));
    cmbHeads_->addItem(Message("rep_heads_ellipsoidal", "эллиптические"));
    cmbHeads_->addItem(Message("rep_heads_hemispherical", "полусферические"));
    fieldsGrid->addWidget(labels_["heads"], 1, 0);
    fieldsGrid->addWidget(cmbHeads_, 1, 1);
    Field(fieldsGrid, "diameter", "lbl_diameter", "Диаметр, мм:", 2);
    Field(fieldsGrid, "width", "lbl_width", "Ширина, мм:", 3);
    Field(fieldsGrid, "height", "lbl_height", "Высота, мм:", 4);
    Field(fieldsGrid, "length", "lbl_length", "Длина, мм:", 5);
    Field(fieldsGrid, "corner_radius", "lbl_corner_radius", "Радиус углов, мм:", 6);
    Field(fieldsGrid, "head_depth", "lbl_head_depth", "Глубина днищ, мм:", 7);
    Field(fieldsGrid, "offset", "lbl_offset", "Ноль датчика над дном, мм:", 8);
    Field(fieldsGrid, "tilt", "lbl_tilt", "Наклон по длине, °:", 9);
    Field(fieldsGrid, "sensor_at", "lbl_sensor_at", "Датчик от торца, мм:", 10);

    auto* lblPours =
        Named(new QLabel(Message("lbl_pours", "Проливки для проверки:"), this), "lbl_pours");
    pours_ = Named(new QTableWidget(PourRows, 3, this), "sg_pours");
    pours_->setHorizontalHeaderLabels({Message("sg_pours_column0", "Литры"),
                                       Message("sg_pours_column1", "мм"),
                                       Message("sg_pours_column2", "Отклонение, %")});
    pours_->verticalHeader()->hide();
    pours_->horizontalHeader()->setStretchLastSection(true);
    for (int r = 0; r < PourRows; ++r) {
        auto* deviation = new QTableWidgetItem;
        deviation->setFlags(deviation->flags() & ~Qt::ItemIsEditable);
        pours_->setItem(r, 2, deviation);
    }

    preview_ = new ShapePreview(this);
    preview_->setObjectName(QStringLiteral("plot_shape"));
    result_ = Named(new QLabel(this), "lbl_shape_result");
    result_->setWordWrap(true);
    warning_ = Named(new QLabel(this), "lbl_shape_warning");
    warning_->setWordWrap(true);
    warning_->setStyleSheet(QStringLiteral("color: #c00000"));
    // Room for the wrapped lines, which a layout would otherwise squeeze under the preview.
    result_->setMinimumHeight(fontMetrics().height() * 3);
    warning_->setMinimumHeight(fontMetrics().height() * 2);

    auto* compute = Named(new QPushButton(Message("btn_shape_compute", "Рассчитать"), this),
                          "btn_shape_compute");
    auto* ok = Named(new QPushButton(QStringLiteral("OK"), this), "btn_shape_ok");
    auto* cancel =
        Named(new QPushButton(Message("btn_shape_cancel", "Отмена"), this), "btn_shape_cancel");
    compute->setAutoDefault(false);
    cancel->setAutoDefault(false);
    ok->setDefault(true);
    connect(compute, &QPushButton::clicked, this, [this] { Compute(); });
    connect(ok, &QPushButton::clicked, this, [this] { Accept(); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(cmbShape_, &QComboBox::activated, this, [this] { ShowFieldsOfShape(); });
    connect(cmbHeads_, &QComboBox::activated, this, [this] { ShowFieldsOfShape(); });

    auto* left = new QVBoxLayout;
    left->addLayout(fieldsGrid);
    left->addWidget(lblPours);
    left->addWidget(pours_);
    auto* right = new QVBoxLayout;
    right->addWidget(preview_, 1);
    right->addWidget(result_);
    right->addWidget(warning_);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(compute);
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    right->addLayout(buttons);
    auto* main = new QHBoxLayout(this);
    main->addLayout(left);
    main->addLayout(right, 1);
    ShowFieldsOfShape();
    resize(920, 600);
}

void ShapeDialog::Field(QGridLayout* grid, const char* name, const char* labelKey,
                        const char* builtIn, int row) {
    auto* label = new QLabel(Message(labelKey, builtIn), this);
    label->setObjectName(QString::fromLatin1(labelKey));
    auto* edit = new QLineEdit(this);
    edit->setObjectName(QStringLiteral("edit_") + QString::fromLatin1(name));
    grid->addWidget(label, row, 0);
    grid->addWidget(edit, row, 1);
    labels_[name] = label;
    fields_[name] = edit;
}

ShapeTableOptions ShapeDialog::GridOptions() {
    ShapeTableOptions options;
    options.levelStepMm = 1.0;
    options.minLitresStep = 0.1;
    return options;
}

void ShapeDialog::ShowFieldsOfShape() {
    const ShapeFields& shape = ShapeList().at(static_cast<size_t>(cmbShape_->currentIndex()));
    const bool cylinder = shape.kind == TankShapeKind::Cylinder;
    for (auto& [name, edit] : fields_) {
        bool shown =
            std::find(shape.fields.begin(), shape.fields.end(), name) != shape.fields.end() ||
            name == "offset" ||
            ((name == "tilt" || name == "sensor_at") && shape.kind != TankShapeKind::Vertical);
        if (name == "head_depth") {
            shown = cylinder && cmbHeads_->currentIndex() == 1; // ellipsoidal heads only
        }
        edit->setVisible(shown);
        labels_[name]->setVisible(shown);
    }
    labels_["heads"]->setVisible(cylinder);
    cmbHeads_->setVisible(cylinder);
}

QString ShapeDialog::Compute() {
    const ShapeFields& kind = ShapeList().at(static_cast<size_t>(cmbShape_->currentIndex()));
    std::map<std::string, double> values;
    QString error;
    for (auto& [name, edit] : fields_) {
        if (!edit->isVisibleTo(this)) {
            continue;
        }
        const QString text = edit->text().trimmed();
        const QString caption = labels_[name]->text().remove(QLatin1Char(':'));
        if (text.isEmpty()) {
            if (!Optional(name) && error.isEmpty()) {
                error = Message("msg_shape_field_missing", "Не указано: %1")
                            .replace(QStringLiteral("%1"), caption);
            }
            continue;
        }
        const auto value = ParseTareNumber(text.toStdString(), decimalPoint_);
        if (!value && error.isEmpty()) {
            error = Message("msg_shape_field_wrong", "Неверное число: %1")
                        .replace(QStringLiteral("%1"), caption);
        }
        values[name] = value.value_or(0.0);
    }
    TankShape shape;
    shape.kind = kind.kind;
    shape.diameterMm = values["diameter"];
    shape.widthMm = values["width"];
    shape.heightMm = values["height"];
    shape.lengthMm = values["length"];
    shape.cornerRadiusMm = values["corner_radius"];
    shape.heads = static_cast<TankHeads>(cmbHeads_->currentIndex());
    shape.headDepthMm = shape.heads == TankHeads::Ellipsoidal ? values["head_depth"] : 0.0;
    SensorPlacement placement;
    placement.offsetMm = values["offset"];
    placement.tiltDeg = values["tilt"];
    // Without a position the sensor stands in the middle (it matters only with a tilt).
    placement.sensorAtMm = fields_["sensor_at"]->text().trimmed().isEmpty()
                               ? TankLengthMm(Normalised(shape)) / 2
                               : values["sensor_at"];

    std::vector<PourPoint> points;
    std::vector<int> pourRows; // the grid row of each point
    for (int r = 0; r < PourRows && error.isEmpty(); ++r) {
        const auto cell = [this, r](int c) {
            const QTableWidgetItem* item = pours_->item(r, c);
            return item != nullptr ? item->text().trimmed() : QString();
        };
        pours_->item(r, 2)->setText(QString());
        pours_->item(r, 2)->setBackground(QBrush());
        if (cell(0).isEmpty() && cell(1).isEmpty()) {
            continue;
        }
        const auto litres = ParseTareNumber(cell(0).toStdString(), decimalPoint_);
        const auto level = ParseTareNumber(cell(1).toStdString(), decimalPoint_);
        if (!litres || !level || *litres < 0 || *level < 0) {
            error = Message("msg_shape_pour_wrong", "Неверная проливка в строке %1")
                        .replace(QStringLiteral("%1"), QString::number(r + 1));
            break;
        }
        points.push_back({*litres, *level});
        pourRows.push_back(r);
    }
    if (error.isEmpty() && points.size() == 1) {
        error = Message("msg_shape_one_pour", "Для поправки нужны хотя бы две проливки");
    }
    ShapeCalculation calculation;
    std::string why;
    if (error.isEmpty() &&
        !CalculateShapeTable(shape, placement, points, GridOptions(), calculation, why)) {
        error = Message("msg_shape_wrong", "Размеры бака не подходят: %1")
                    .replace(QStringLiteral("%1"), Q(why));
    }
    if (!error.isEmpty()) {
        calculation_.reset();
        preview_->Show(nullptr);
        result_->clear();
        warning_->setText(error);
        return error;
    }
    calculation_ = std::move(calculation);
    const ShapeCalculation& c = *calculation_;
    const auto number = [this](double v, int decimals) {
        return QString::number(v, 'f', decimals).replace(QLatin1Char('.'), Q(decimalPoint_));
    };
    QString summary =
        Message("str_shape_result", "Строк: %1, ёмкость %2 л, ниже зоны датчика %3 л, "
                                    "наибольшая ошибка интерполяции %4 л (%5 % ёмкости)")
            .replace(QStringLiteral("%1"), QString::number(c.table.rows.size()))
            .replace(QStringLiteral("%2"), number(c.table.capacityLitres, 1))
            .replace(QStringLiteral("%3"), number(c.table.deadLitres, 1))
            .replace(QStringLiteral("%4"), number(c.table.maxErrorLitres, 2))
            .replace(QStringLiteral("%5"), number(c.table.ErrorShare() * 100, 3));
    if (c.CorrectedByPours()) {
        summary +=
            QLatin1Char('\n') + Message("str_shape_fit", "Поправка объёма %1, ноль датчика %2 мм")
                                    .replace(QStringLiteral("%1"), number(c.factor, 4))
                                    .replace(QStringLiteral("%2"), number(c.placement.offsetMm, 1));
    }
    result_->setText(summary);
    for (size_t i = 0; i < c.pours.size() && i < pourRows.size(); ++i) {
        QTableWidgetItem* deviation = pours_->item(pourRows[i], 2);
        deviation->setText(number(c.pours[i].share * 100, 2));
        deviation->setBackground(c.pours[i].tooFar ? QBrush(QColor(0xFF, 0xE4, 0xE1)) : QBrush());
    }
    warning_->setText(c.PourWarning()
                          ? Message("msg_shape_pour_far",
                                    "Проливка отклоняется от расчёта более чем на 2 %: утечка, "
                                    "неверный размер или ошибка отсчёта?")
                          : QString());
    preview_->Show(&c);
    return {};
}

void ShapeDialog::Accept() {
    if (Compute().isEmpty()) {
        accept();
    }
}

} // namespace vq31
