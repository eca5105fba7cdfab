// The program page's panel of the connected sensor.
#include "sensor_panel.h"

#include "hub_image.h"

#include <QFormLayout>
#include <QLabel>
#include <QLocale>

#include <algorithm>

namespace vq31::app {

namespace {
const QString Dash = QStringLiteral("—");

QLabel* Value(QWidget* parent, const char* name) {
    auto* label = new QLabel(Dash, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

QLabel* Caption(QWidget* parent, const char* name, const QString& text) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    return label;
}
} // namespace

std::optional<double> LitresAtLevel(const TankRecord& tank, double millimetres) {
    const size_t rows = std::min<size_t>(tank.RowCount, tank.rows.size());
    const double code = millimetres * 10.0;
    for (size_t i = 1; i < rows; ++i) {
        const RecordRow& low = tank.rows[i - 1];
        const RecordRow& high = tank.rows[i];
        if (high.Code <= low.Code)
            continue;
        if (code >= low.Code && code <= high.Code) {
            const double t = (code - low.Code) / double(high.Code - low.Code);
            return double(low.Litres) + t * double(high.Litres - low.Litres);
        }
    }
    return std::nullopt;
}

SensorPanel::SensorPanel(QWidget* parent) : QGroupBox(QStringLiteral("Датчик"), parent) {
    setObjectName(QStringLiteral("GbSensor"));
    ValSerial = Value(this, "ValSensorSerial");
    ValModel = Value(this, "ValSensorModel");
    ValFirmware = Value(this, "ValSensorFirmware");
    ValLevel = Value(this, "ValSensorLevel");
    ValLitres = Value(this, "ValSensorLitres");
    ValPort = Value(this, "ValSensorPort");
    auto* form = new QFormLayout(this);
    form->addRow(Caption(this, "LblSensorSerial", QStringLiteral("Серийный номер:")), ValSerial);
    form->addRow(Caption(this, "LblSensorModel", QStringLiteral("Модель:")), ValModel);
    form->addRow(Caption(this, "LblSensorFirmware", QStringLiteral("Версия ПО:")), ValFirmware);
    form->addRow(Caption(this, "LblSensorLevel", QStringLiteral("Уровень, мм:")), ValLevel);
    form->addRow(Caption(this, "LblSensorLitres", QStringLiteral("Объём, л:")), ValLitres);
    form->addRow(Caption(this, "LblSensorPort", QStringLiteral("Порт:")), ValPort);
}

void SensorPanel::SetPassport(const QString& serial, const QString& model,
                              const QString& firmware) {
    ValSerial->setText(serial.isEmpty() ? Dash : serial);
    ValModel->setText(model.isEmpty() ? Dash : model);
    ValFirmware->setText(firmware.isEmpty() ? Dash : firmware);
}

void SensorPanel::SetLevel(std::optional<double> millimetres, std::optional<double> litres) {
    const QLocale locale = QLocale::system();
    ValLevel->setText(millimetres ? locale.toString(*millimetres, 'f', 1) : Dash);
    ValLitres->setText(litres ? locale.toString(*litres, 'f', 2) : Dash);
}

void SensorPanel::SetPortState(const QString& text) {
    ValPort->setText(text.isEmpty() ? Dash : text);
}

} // namespace vq31::app
