// The snapshot window.
#include "snapshot_dialog.h"

#include "command_worker.h"
#include "hub_image.h"
#include "prompter.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <memory>

namespace vq31::app {

namespace {
template <class W> W* Named(W* widget, const char* name) {
    widget->setObjectName(name);
    return widget;
}
} // namespace

QString SnapshotSummary(const Snapshot& s) {
    auto image = std::make_unique<HubBuffer>();
    std::copy(s.hub.begin(), s.hub.end(), image->bytes().begin());
    const auto speed = SpeedOfLinkFlags(s.linkFlags);
    QString text;
    text += QString("Время: %1\nS/N: %2\n")
                .arg(QString::fromStdString(s.time))
                .arg(s.serialNumber, 6, 10, QChar('0'));
    text += QString("Адрес: %1, скорость: %2, период автовыдачи: %3, пост-фильтрация: %4\n")
                .arg(s.address)
                .arg(speed ? QString::number(*speed) : QString("-"))
                .arg(s.autoPeriod)
                .arg(s.postFilter);
    text += QString("Тип топлива: %1, скорость звука: %2, температурный коэф.: %3\n")
                .arg(s.fuelType)
                .arg(double(FloatFromBits(s.soundSpeedBits)), 0, 'f', 3)
                .arg(double(FloatFromBits(s.tempCoefBits)), 0, 'f', 3);
    text += QString("Тип бака: %1, высота бака: %2 мм\n").arg(s.tankId).arg(s.tankHeight / 10);
    text += QString("HUB_DATA: %1 байт, версия %2, %3\n")
                .arg(s.hub.size())
                .arg(QString::fromStdString(HubVersionText(image->Version())))
                .arg(HubIsValid(*image) ? "структура верна" : "структура неверна");
    return text;
}

SnapshotDialog::SnapshotDialog(SnapshotStore store, Prompter& boxes,
                               std::function<void(const std::filesystem::path&, bool)> request,
                               std::function<void(int)> post, QWidget* parent)
    : QDialog(parent), store_(std::move(store)), boxes_(boxes), request_(std::move(request)),
      post_(std::move(post)) {
    setObjectName("FormSnapshots");
    setWindowTitle("Снимки устройства");
    LstSnapshots = Named(new QListWidget(this), "LstSnapshots");
    MemoSnapshot = Named(new QPlainTextEdit(this), "MemoSnapshot");
    MemoSnapshot->setReadOnly(true);
    ChkSnapshotParams = Named(new QCheckBox("Восстановить и параметры", this), "ChkSnapshotParams");
    BtnSnapshotDiff = Named(new QPushButton("Сравнить с устройством", this), "BtnSnapshotDiff");
    BtnSnapshotRestore = Named(new QPushButton("Восстановить", this), "BtnSnapshotRestore");
    BtnSnapshotRefresh = Named(new QPushButton("Обновить", this), "BtnSnapshotRefresh");
    auto* folder = new QLabel(QString::fromStdString(store_.folder().string()), this);
    folder->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* buttons = new QHBoxLayout();
    buttons->addWidget(ChkSnapshotParams);
    buttons->addStretch(1);
    buttons->addWidget(BtnSnapshotRefresh);
    buttons->addWidget(BtnSnapshotDiff);
    buttons->addWidget(BtnSnapshotRestore);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(folder);
    layout->addWidget(LstSnapshots, 1);
    layout->addWidget(MemoSnapshot, 1);
    layout->addLayout(buttons);
    resize(640, 480);
    connect(LstSnapshots, &QListWidget::currentRowChanged, this, [this] { ShowSelected(); });
    connect(BtnSnapshotRefresh, &QPushButton::clicked, this, [this] { Refresh(); });
    connect(BtnSnapshotDiff, &QPushButton::clicked, this, [this] { CompareClick(); });
    connect(BtnSnapshotRestore, &QPushButton::clicked, this, [this] { RestoreClick(); });
    Refresh();
}

void SnapshotDialog::Refresh() {
    files_ = store_.List();
    LstSnapshots->clear();
    for (const auto& file : files_)
        LstSnapshots->addItem(QString::fromStdString(file.filename().string()));
    LstSnapshots->setCurrentRow(int(files_.size()) - 1);
    ShowSelected();
}

std::filesystem::path SnapshotDialog::Selected() const {
    const int row = LstSnapshots->currentRow();
    return row >= 0 && size_t(row) < files_.size() ? files_[size_t(row)] : std::filesystem::path();
}

void SnapshotDialog::ShowSelected() {
    const auto file = Selected();
    Snapshot s;
    std::string error;
    const bool loaded = !file.empty() && SnapshotStore::Load(file, s, error);
    if (file.empty())
        MemoSnapshot->setPlainText("Снимков нет.");
    else
        MemoSnapshot->setPlainText(loaded ? SnapshotSummary(s)
                                          : "Файл не читается: " + QString::fromStdString(error));
    BtnSnapshotDiff->setEnabled(loaded);
    BtnSnapshotRestore->setEnabled(loaded);
}

void SnapshotDialog::CompareClick() {
    const auto file = Selected();
    if (file.empty())
        return;
    request_(file, ChkSnapshotParams->isChecked());
    post_(job::CompareSnapshot);
}

void SnapshotDialog::RestoreClick() {
    const auto file = Selected();
    if (file.empty())
        return;
    const bool settings = ChkSnapshotParams->isChecked();
    if (!boxes_.Question(QString("Записать в устройство HUB_DATA%1 из снимка %2? Текущее "
                                 "состояние будет сохранено новым снимком.")
                             .arg(settings ? " и параметры" : "")
                             .arg(QString::fromStdString(file.filename().string()))))
        return;
    request_(file, settings);
    post_(job::RestoreSnapshot);
}

} // namespace vq31::app
