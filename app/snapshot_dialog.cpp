// The snapshot window.
#include "snapshot_dialog.h"

#include "command_worker.h"
#include "hub_image.h"
#include "language_texts.h"
#include "parameter_format.h"
#include "prompter.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <cstdio>
#include <memory>

namespace vq31::app {

namespace {
template <class W> W* Named(W* widget, const char* name) {
    widget->setObjectName(name);
    return widget;
}
} // namespace

QString SnapshotSummary(const Snapshot& s, const LanguageTexts& texts) {
    auto image = std::make_unique<HubBuffer>();
    std::copy(s.hub.begin(), s.hub.end(), image->bytes().begin());
    const auto speed = SpeedOfLinkFlags(s.linkFlags);
    char serial[16];
    std::snprintf(serial, sizeof serial, "%06u", s.serialNumber);
    const auto line = [&](const char* key, std::initializer_list<std::string> arguments) {
        return QString::fromStdString(WithArguments(texts.Text(key), arguments) + "\n");
    };
    const auto number = [](auto v) { return std::to_string(v); };
    QString text = line(msg::SnapshotTime, {s.time});
    text += QString("S/N: %1\n").arg(serial);
    text += line(msg::SnapshotLink, {number(s.address), speed ? number(*speed) : "-",
                                     number(s.autoPeriod), number(s.postFilter)});
    text += line(msg::SnapshotFuel,
                 {number(s.fuelType), FuelNumberText(FloatFromBits(s.soundSpeedBits)),
                  FuelNumberText(FloatFromBits(s.tempCoefBits))});
    text += line(msg::SnapshotTank, {number(s.tankId), number(s.tankHeight / 10)});
    text +=
        line(msg::SnapshotHub, {number(s.hub.size()), HubVersionText(image->Version()),
                                texts.Text(HubIsValid(*image) ? msg::HubSound : msg::HubBroken)});
    return text;
}

SnapshotDialog::SnapshotDialog(SnapshotStore store, Prompter& boxes, const LanguageTexts& texts,
                               std::function<void(const std::filesystem::path&, bool)> request,
                               std::function<void(int)> post, QWidget* parent)
    : QDialog(parent), store_(std::move(store)), boxes_(boxes), texts_(texts),
      request_(std::move(request)), post_(std::move(post)) {
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
    // Each snapshot by its sensor and time; the file name stays in the tooltip.
    for (const auto& file : files_) {
        Snapshot s;
        std::string error;
        QString text = QString::fromStdString(file.filename().string());
        if (SnapshotStore::Load(file, s, error))
            text = QStringLiteral("S/N %1 · %2")
                       .arg(s.serialNumber, 6, 10, QLatin1Char('0'))
                       .arg(QString::fromStdString(s.time));
        LstSnapshots->addItem(text);
        LstSnapshots->item(LstSnapshots->count() - 1)
            ->setToolTip(QString::fromStdString(file.string()));
    }
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
        MemoSnapshot->setPlainText(QString::fromStdString(texts_.Text(msg::SnapshotListEmpty)));
    else
        MemoSnapshot->setPlainText(loaded ? SnapshotSummary(s, texts_)
                                          : QString::fromStdString(WithArguments(
                                                texts_.Text(msg::SnapshotUnreadable), {error})));
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
    const char* key = settings ? msg::SnapshotAskRestoreParams : msg::SnapshotAskRestore;
    if (!boxes_.AskQuestion(
            QString::fromStdString(WithArguments(texts_.Text(key), {file.filename().string()}))))
        return;
    request_(file, settings);
    post_(job::RestoreSnapshot);
}

} // namespace vq31::app
