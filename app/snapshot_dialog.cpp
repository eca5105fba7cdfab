// The snapshot window.
#include "snapshot_dialog.h"

#include "command_worker.h"
#include "hub_image.h"
#include "language_texts.h"
#include "parameter_format.h"
#include "prompter.h"
#include "snapshot_words.h"

#include <QDateTime>

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

QString SnapshotTimeText(const std::string& stamp) {
    const QDateTime time = QDateTime::fromString(QString::fromStdString(stamp), Qt::ISODate);
    if (!time.isValid())
        return QString::fromStdString(stamp);
    return time.toLocalTime().toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
}

namespace {
QString SerialText(uint32_t serial) {
    return QStringLiteral("%1").arg(serial, 6, 10, QLatin1Char('0'));
}

std::string ReasonOf(const Snapshot& s, const LanguageTexts& texts) {
    return ReasonWords(s.reason, texts, SnapshotTimeText(s.reason.from).toStdString());
}
} // namespace

QString SnapshotListLine(const Snapshot& s, const LanguageTexts& texts) {
    return QString::fromStdString(
        WithArguments(texts.Text(msg::SnapshotItem),
                      {SerialText(s.serialNumber).toStdString(),
                       SnapshotTimeText(s.time).toStdString(), ReasonOf(s, texts)}));
}

void FillMissingReasons(std::vector<Snapshot>& snapshots, const std::vector<bool>& loaded) {
    for (size_t i = 0; i < snapshots.size(); ++i) {
        if (!loaded[i] || snapshots[i].reason.kind != SnapshotReason::Kind::Unknown)
            continue;
        for (size_t j = i + 1; j < snapshots.size(); ++j) {
            if (loaded[j] && snapshots[j].serialNumber == snapshots[i].serialNumber) {
                snapshots[i].reason = ReasonOfChange(snapshots[i], snapshots[j]);
                break;
            }
        }
    }
}

QString SnapshotSummary(const Snapshot& s, const LanguageTexts& texts) {
    auto image = std::make_unique<HubBuffer>();
    std::copy_n(s.hub.begin(), std::min(s.hub.size(), HubBufferSize), image->bytes().begin());
    const auto speed = SpeedOfLinkFlags(s.linkFlags);
    const auto line = [&](const char* key, std::initializer_list<std::string> arguments) {
        return QString::fromStdString(WithArguments(texts.Text(key), arguments) + "\n");
    };
    const auto number = [](auto v) { return std::to_string(v); };
    QString text = line(msg::SnapshotTime, {SnapshotTimeText(s.time).toStdString()});
    text += line(msg::SnapshotSerial, {SerialText(s.serialNumber).toStdString()});
    text += line(msg::SnapshotReason, {ReasonOf(s, texts)});
    text += line(msg::SnapshotLink, {number(s.address), speed ? number(*speed) : "-",
                                     number(s.autoPeriod), number(s.postFilter)});
    text += line(
        msg::SnapshotFuel,
        {s.fuelType < 4 ? texts.Text("str_cmb_FuelType" + number(s.fuelType)) : number(s.fuelType),
         FuelNumberText(FloatFromBits(s.soundSpeedBits)),
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
    auto* folder = new QLabel(QString::fromStdString(WithArguments(texts_.Text(msg::SnapshotFolder),
                                                                   {store_.folder().string()})),
                              this);
    folder->setObjectName("LblSnapshotFolder");
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
    loaded_.assign(files_.size(), Snapshot{});
    errors_.assign(files_.size(), std::string());
    std::vector<bool> loaded(files_.size());
    for (size_t i = 0; i < files_.size(); ++i)
        loaded[i] = SnapshotStore::Load(files_[i], loaded_[i], errors_[i]);
    FillMissingReasons(loaded_, loaded);
    LstSnapshots->clear();
    // Each snapshot by its sensor, time and reason; the file name stays in the tooltip.
    for (size_t i = 0; i < files_.size(); ++i) {
        LstSnapshots->addItem(loaded[i] ? SnapshotListLine(loaded_[i], texts_)
                                        : QString::fromStdString(files_[i].filename().string()));
        LstSnapshots->item(LstSnapshots->count() - 1)
            ->setToolTip(QString::fromStdString(files_[i].string()));
    }
    LstSnapshots->setCurrentRow(int(files_.size()) - 1);
    ShowSelected();
}

std::filesystem::path SnapshotDialog::Selected() const {
    const int row = LstSnapshots->currentRow();
    return row >= 0 && size_t(row) < files_.size() ? files_[size_t(row)] : std::filesystem::path();
}

void SnapshotDialog::ShowSelected() {
    const int row = LstSnapshots->currentRow();
    const bool chosen = row >= 0 && size_t(row) < files_.size();
    const bool loaded = chosen && errors_[size_t(row)].empty();
    if (!chosen)
        MemoSnapshot->setPlainText(QString::fromStdString(texts_.Text(msg::SnapshotListEmpty)));
    else
        MemoSnapshot->setPlainText(
            loaded ? SnapshotSummary(loaded_[size_t(row)], texts_)
                   : QString::fromStdString(WithArguments(texts_.Text(msg::SnapshotUnreadable),
                                                          {errors_[size_t(row)]})));
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
