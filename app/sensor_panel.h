// The program page's panel of the connected sensor: serial number, model, firmware, the
// level in millimetres and in litres of the active tank's table, and the port's state. It
// shows what the window last learned; a value not read yet shows a dash.
#pragma once

#include <QGroupBox>

#include <optional>

class QLabel;

namespace vq31 {
struct TankRecord;
}

namespace vq31::app {

// Litres at a level from a tank's table (rows of level code and litres, rising), by straight
// lines between its rows; nothing outside the table or without two rows.
std::optional<double> LitresAtLevel(const TankRecord& tank, double millimetres);

class SensorPanel : public QGroupBox {
    Q_OBJECT
public:
    explicit SensorPanel(QWidget* parent = nullptr);

    void SetPassport(const QString& serial, const QString& model, const QString& firmware);
    // The level with its litres (none: no table for it, or the level is outside it).
    void SetLevel(std::optional<double> millimetres, std::optional<double> litres);
    void SetPortState(const QString& text);

    QLabel *ValSerial = nullptr, *ValModel = nullptr, *ValFirmware = nullptr, *ValLevel = nullptr,
           *ValLitres = nullptr, *ValPort = nullptr;
};

} // namespace vq31::app
