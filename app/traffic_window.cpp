// The traffic window's controls and its refresh from the link monitor.
#include "traffic_window.h"

#include "prompter.h"

#include <QCheckBox>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <cstdio>

namespace vq31::app {

TrafficWindow::TrafficWindow(std::shared_ptr<LinkMonitor> monitor, Prompter& boxes,
                             const LanguageTexts& texts, QWidget* parent)
    : QWidget(parent, Qt::Window), monitor_(std::move(monitor)), boxes_(boxes), texts_(texts) {
    setObjectName("FormTraffic");
    setWindowTitle("Обмен с устройством");
    resize(900, 500);
    lines_ = new QPlainTextEdit(this);
    lines_->setObjectName("MemoTraffic");
    lines_->setReadOnly(true);
    lines_->setLineWrapMode(QPlainTextEdit::NoWrap);
    lines_->setMaximumBlockCount(
        int(monitor_->capacity())); // the window holds no more than the ring
    QFont mono("monospace");
    mono.setStyleHint(QFont::TypeWriter);
    lines_->setFont(mono);
    health_ = new QLabel(this);
    health_->setObjectName("LblTrafficHealth");
    health_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    pause_ = new QPushButton("Пауза", this);
    pause_->setObjectName("BtnTrafficPause");
    pause_->setCheckable(true);
    auto* clear = new QPushButton("Очистить", this);
    clear->setObjectName("BtnTrafficClear");
    errorsOnly_ = new QCheckBox("Только ошибки", this);
    errorsOnly_->setObjectName("ChkTrafficErrors");
    auto* save = new QPushButton("Сохранить...", this);
    save->setObjectName("BtnTrafficSave");

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(pause_);
    buttons->addWidget(clear);
    buttons->addWidget(errorsOnly_);
    buttons->addStretch(1);
    buttons->addWidget(save);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(lines_, 1);
    layout->addWidget(health_);

    connect(pause_, &QPushButton::toggled, this, [this](bool on) { SetPaused(on); });
    connect(clear, &QPushButton::clicked, this, [this] { Clear(); });
    connect(errorsOnly_, &QCheckBox::toggled, this, [this](bool on) { SetErrorsOnly(on); });
    connect(save, &QPushButton::clicked, this, [this] {
        const QString path = boxes_.ChooseSaveFile(QString::fromStdString(
            texts_.Text(msg::FilterText) + " (*.txt);;" + texts_.Text(msg::FilterAll) + " (*)"));
        if (!path.isEmpty())
            SaveTo(path);
    });
    timer_ = new QTimer(this);
    timer_->setInterval(RedrawIntervalMs);
    connect(timer_, &QTimer::timeout, this, [this] { Refresh(); });
    timer_->start();
    Rebuild();
}

void TrafficWindow::Append(const std::vector<TraceRecord>& records) {
    QString text;
    for (const TraceRecord& r : records) {
        if (errorsOnly_->isChecked() && !IsErrorRecord(r))
            continue;
        if (!text.isEmpty())
            text += '\n';
        text += QString::fromStdString(FormatTraceLine(r));
    }
    if (!records.empty())
        shown_ = records.back().sequence;
    if (text.isEmpty())
        return;
    lines_->appendPlainText(text); // one paragraph per line, the oldest dropped at the bound
    ++redraws_;
}

void TrafficWindow::Refresh() {
    if (!Paused())
        Append(monitor_->Since(shown_));
    health_->setText(HealthText(monitor_->Health(), texts_));
}

QString HealthText(const LinkHealth& h, const LanguageTexts& texts) {
    const auto n = [](uint64_t v) { return std::to_string(v); };
    char rate[32];
    std::snprintf(rate, sizeof rate, "%.1f", h.requestsPerSecond);
    std::string text =
        WithArguments(texts.Text(msg::TrafficCounts), {n(h.requests), n(h.answers), n(h.broken),
                                                       n(h.silences), n(h.rejected), rate});
    text += "\n" + WithArguments(texts.Text(msg::TrafficExchanges), {n(h.exchanges())});
    const char* separator = ": ";
    for (size_t i = 0; i < h.statuses.size(); ++i) {
        if (h.statuses[i] == 0)
            continue;
        const std::string name = i < 9 ? texts.Text("str_traffic_status" + std::to_string(i))
                                       : texts.Text(msg::TrafficOther);
        text += separator + name + " " + n(h.statuses[i]);
        separator = ", ";
    }
    // The failed exchange's own trace line stays as the trace shows it.
    text += "\n" + WithArguments(
                       texts.Text(msg::TrafficLastError),
                       {h.lastErrorLine.empty() ? texts.Text(msg::TrafficNone) : h.lastErrorLine});
    return QString::fromStdString(text);
}

void TrafficWindow::Rebuild() {
    lines_->clear();
    shown_ = 0;
    Append(monitor_->Since(0));
}

void TrafficWindow::SetPaused(bool paused) {
    if (pause_->isChecked() != paused)
        pause_->setChecked(paused); // runs this again through toggled
    // On resume the lines that came meanwhile follow, as far as the ring still holds them.
}

bool TrafficWindow::Paused() const {
    return pause_->isChecked();
}

void TrafficWindow::SetErrorsOnly(bool on) {
    if (errorsOnly_->isChecked() != on) {
        errorsOnly_->setChecked(on); // runs this again through toggled
        return;
    }
    Rebuild();
}

void TrafficWindow::Clear() {
    monitor_->Clear();
    lines_->clear();
    shown_ = monitor_->LastSequence();
    Refresh();
}

QString TrafficWindow::Text() const {
    return lines_->toPlainText();
}

bool TrafficWindow::SaveTo(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        boxes_.Error(QString::fromStdString(WithArguments(
            texts_.Text(msg::SaveFailed), {path.toStdString(), file.errorString().toStdString()})));
        return false;
    }
    QByteArray bytes = Text().toUtf8();
    if (!bytes.isEmpty())
        bytes += '\n';
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        boxes_.Error(QString::fromStdString(WithArguments(
            texts_.Text(msg::SaveFailed), {path.toStdString(), file.errorString().toStdString()})));
        return false;
    }
    return true;
}

} // namespace vq31::app
