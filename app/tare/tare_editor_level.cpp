// The tare window's live level: the gauge, the level text, and the settle state shown on the
// add button (how long the level has kept still, judged on fresh readings only).
#include "add_row_dialog.h"
#include "apply_captions.h"
#include "command_worker.h"
#include "exchange.h"
#include "hub_image.h"
#include "language_file.h"
#include "language_keys.h"
#include "language_texts.h"
#include "report_dialog.h"
#include "tare_editor.h"
#include "tare_editor_parts.h"
#include "tare_export.h"
#include "tare_plot_widget.h"
#include "tare_record.h"
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QShowEvent>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>

namespace vq31 {

using namespace tare_editor;

void TareEditor::SetTankHeight(double millimetres) {
    tankHeightMm_ = std::max(0.0, millimetres);
    RefreshChecks();
}

bool TareEditor::TakenUnsettled(int gridRow) const {
    return unsettled_.count({grid_.Cell(TareGrid::kLitresColumn, gridRow),
                             grid_.Cell(TareGrid::kLevelColumn, gridRow)}) > 0;
}

bool TareEditor::LevelSettled() const {
    return liveMm_.has_value() && settle_.Settled(SettleDetector::Clock::now());
}

void TareEditor::ReadSettleWindow() {
    // A settle time that is not a whole number of seconds within the limits keeps the last
    // good one; the field is shown in red until it is corrected.
    const auto seconds = ParseTareWhole(editSettle_->text().toStdString());
    const bool good = seconds && *seconds >= SettleSecondsMin && *seconds <= SettleSecondsMax;
    if (good) {
        settle_.SetWindow(std::chrono::seconds(*seconds));
    }
    editSettle_->setStyleSheet(good ? QString() : QStringLiteral("color: #c00000"));
}

void TareEditor::UpdateSettleState() {
    const QString caption = Text("btn_add", "Добавить");
    if (!liveMm_) {
        btnAdd_->setText(caption);
        btnAdd_->setStyleSheet(QString());
        btnAdd_->setProperty("settled", QVariant());
        return;
    }
    const auto now = SettleDetector::Clock::now();
    const bool settled = settle_.Settled(now);
    QString state;
    if (settled) {
        state = Text(key::Settled, "уровень стабилен");
    } else {
        const auto remaining = settle_.Remaining(now);
        const long long seconds = (remaining.count() + 999) / 1000;
        state = Text(key::Settling, "ждать %1 с")
                    .replace(QStringLiteral("%1"), QString::number(seconds));
    }
    btnAdd_->setText(caption + QStringLiteral(" (") + state + QLatin1Char(')'));
    btnAdd_->setStyleSheet(
        QStringLiteral("color: %1").arg((settled ? SettledColour : UnsettledText).name()));
    btnAdd_->setProperty("settled", settled);
}

void TareEditor::ShowLevel(bool hasLevel, const std::string& text, uint32_t barHeight,
                           std::optional<uint16_t> levelCode) {
    lblFuel_->setText(Q(text));
    std::optional<double> millimetres;
    if (hasLevel) {
        millimetres = levelCode ? std::optional<double>(*levelCode / 10.0)
                                : ParseTareNumber(text, decimalPoint_);
    }
    liveMm_ = millimetres;
    settle_.Add(SettleDetector::Clock::now(), millimetres);
    if (plot_ != nullptr) {
        plot_->SetLiveLevel(millimetres);
        UpdateSettleState();
    }
    const uint32_t bar = millimetres && tankHeightMm_ > 0
                             ? static_cast<uint32_t>(*millimetres / tankHeightMm_ * LevelBoxHeight)
                             : barHeight;
    const int height = hasLevel ? static_cast<int>(std::min<uint32_t>(bar, LevelBoxHeight)) : 0;
    const QRect box = shapeBox_->geometry();
    shapeFuel_->setGeometry(box.left() + 1, box.top() + box.height() - height, box.width() - 2,
                            height);
    shapeFuel_->setVisible(height > 0);
}

void TareEditor::ShowLevelCode(std::optional<uint16_t> levelCode) {
    if (!levelCode) {
        ShowLevel(false, NoLevelText, 0);
        return;
    }
    ShowLevel(true, std::to_string(LevelMillimetres(*levelCode)), *levelCode / 200u, *levelCode);
}

} // namespace vq31
