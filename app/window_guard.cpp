// What keeps the field engineer's work safe in the main window: the tare page's unwritten
// work (marked, and asked about when the window closes), a write with nothing changed, the
// question before another tank becomes the sensor's active one, a word after every write
// that succeeded, range checks with a message, and the window's size and place on screen.
#include "main_window.h"
#include "page_parts.h"

#include "checked_spin_box.h"
#include "command_parameters.h"
#include "hub_image.h"
#include "language_file.h"
#include "profile_file.h"
#include "sensor_panel.h"
#include "snapshot_dialog.h"
#include "window_words.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QLocale>
#include <QScreen>
#include <QSpinBox>
#include <QStatusBar>
#include <QTime>
#include <QTimer>
#include <QToolButton>
#include <QTranslator>
#include <QVBoxLayout>

#include <algorithm>

namespace vq31::app {

namespace {
// The writes that get a word of success when their job ends without an error box.
constexpr int WatchedCodes[] = {9, 10, 11, 12, 15, 16, 20, 25};
constexpr int SetFrequencyCode = 9;
constexpr int WriteParametersCode = 20;
constexpr int WriteHubCode = 25;
constexpr int ReadHubCode = 21;
constexpr int RestoreCode = 27;

bool Watched(int code) {
    return std::find(std::begin(WatchedCodes), std::end(WatchedCodes), code) !=
           std::end(WatchedCodes);
}

// The sensor's model as its name: model code 31 is the VQ31.
QString ModelName(uint32_t model) {
    return QStringLiteral("VQ%1").arg(model);
}

bool OwnsHeight(int32_t tankId) {
    return tankId == DefaultTankId0 || tankId == CalibratedTankId;
}

constexpr std::string_view WindowSection = "WINDOW";
constexpr int BroadcastAddress = 255;
// Title bar and frame of a typical desktop, until the real frame is known.
constexpr int DesignFrameHeightGuess = 39;
} // namespace

QString MainWindow::Word(const char* key, const char* builtIn) const {
    if (language_)
        return QString::fromStdString(language_->Text(key, builtIn));
    return QString::fromUtf8(builtIn);
}

void MainWindow::UpdateSensorPassport() {
    if (!GbSensor || !passportSeen_)
        return;
    // Serial "%06u"; firmware 0x12 is "1.20", as the settings page shows them.
    const uint32_t version = passportSeen_->firmwareVersion;
    GbSensor->SetPassport(
        QStringLiteral("%1").arg(passportSeen_->serialNumber, 6, 10, QLatin1Char('0')),
        ModelName(passportSeen_->model),
        QStringLiteral("%1.%2")
            .arg((version >> 4) & 0xF)
            .arg((version & 0xF) * 10, 2, 10, QLatin1Char('0')));
}

void MainWindow::ShowSensorLevel(std::optional<double> millimetres) {
    if (!GbSensor || millimetres == sensorLevelMm_)
        return; // nothing changed: nothing to redraw
    sensorLevelMm_ = millimetres;
    std::optional<double> litres;
    if (millimetres && activeTable_)
        litres = LitresAtLevel(*activeTable_, *millimetres);
    GbSensor->SetLevel(millimetres, litres);
}

void MainWindow::TakeActiveTable() {
    activeTable_.reset();
    if (deviceHub_) {
        auto image = std::make_unique<HubBuffer>();
        std::copy(deviceHub_->image.begin(), deviceHub_->image.end(), image->bytes().begin());
        if (const auto entry = HubFindEntry(*image, uint16_t(deviceHub_->tankId))) {
            auto tank = std::make_shared<TankRecord>();
            EntryToRecord(*image, *entry, *tank);
            activeTable_ = std::move(tank);
        }
    }
    const auto level = sensorLevelMm_;
    sensorLevelMm_.reset();
    ShowSensorLevel(level);
}

void MainWindow::BuildGuards() {
    BuildProgress();
    // The connected sensor below the port settings of the program page.
    GbSensor = new SensorPanel(TsProgram);
    if (auto* page = qobject_cast<QVBoxLayout*>(TsProgram->layout()))
        page->insertWidget(page->count() - 1, GbSensor); // above the closing stretch

    StatusResult = Named(new QLabel(statusBar()), "StatusBar1Result");
    statusBar()->addWidget(StatusResult, 1);

    // Added beside the tare page's controls: the mark of work the sensor does not have.
    LblHubUnwritten = Named(new QLabel(GbTara), "LblHubUnwritten");
    LblHubUnwritten->setStyleSheet(QStringLiteral("color: #c00000; font-weight: bold"));
    LblHubUnwritten->hide();
    if (auto* grid = qobject_cast<QGridLayout*>(GbTara->layout()))
        grid->addWidget(LblHubUnwritten, 5, 2, 1, 2);
    connect(SpinHubTankHeight, &QSpinBox::valueChanged, this, [this] { UpdateUnwrittenMark(); });
    connect(CmbHubMlPerBit, &QComboBox::activated, this, [this] { UpdateUnwrittenMark(); });

    // The broadcast address only on purpose: a box beside the address field.
    ChkAddrBroadcast = Named(new QCheckBox(Word(word::Broadcast.key, word::Broadcast.text), GbCom),
                             "ChkAddrBroadcast");
    if (auto* grid = qobject_cast<QGridLayout*>(GbCom->layout()))
        grid->addWidget(ChkAddrBroadcast, 2, 2);
    connect(ChkAddrBroadcast, &QCheckBox::clicked, this, [this](bool on) {
        // Back from broadcast, the sensor's own address of before comes back.
        if (on)
            ChkAddrBroadcast->setProperty("own", address_);
        const int own = ChkAddrBroadcast->property("own").isValid()
                            ? ChkAddrBroadcast->property("own").toInt()
                            : 1;
        EditAddr->setText(QString::number(on ? BroadcastAddress : std::min(own, 254)));
        SyncBroadcastBox();
    });

    for (QSpinBox* box : {SpinHubTankHeight, SpinAddr2, RepAutoPeriod}) {
        if (auto* checked = qobject_cast<CheckedSpinBox*>(box))
            checked->SetRefusal(
                [this](const QString& text, int low, int high) { RefuseRange(text, low, high); });
    }
}

void MainWindow::SyncBroadcastBox() {
    if (!ChkAddrBroadcast)
        return;
    if (address_ == BroadcastAddress && !ChkAddrBroadcast->isChecked())
        ChkAddrBroadcast->setChecked(true); // stored or found as broadcast
    const bool on = ChkAddrBroadcast->isChecked();
    EditAddr->setEnabled(!on);
    SbAddrUp->setEnabled(!on);
    SbAddrDown->setEnabled(!on);
}

void MainWindow::InstallQtTranslation() {
    // The language section names the Qt locale of its language; the built-in texts are
    // Russian, so is the default.
    const QString locale = Word(word::QtLocale.key, word::QtLocale.text);
    static QTranslator* translator = nullptr; // one per application, replaced on a change
    if (translator) {
        QCoreApplication::removeTranslator(translator);
        delete translator;
        translator = nullptr;
    }
    auto next = std::make_unique<QTranslator>();
    if (next->load(QLocale(locale), QStringLiteral("qtbase"), QStringLiteral("_"),
                   QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        translator = next.release();
        QCoreApplication::installTranslator(translator);
    }
}

void MainWindow::RefuseRange(const QString& text, int minimum, int maximum) {
    prompter_->Error(Word(word::OutOfRange.key, word::OutOfRange.text)
                         .arg(text, QString::number(minimum), QString::number(maximum)));
}

void MainWindow::ShowResult(const QString& text) {
    StatusResult->setText(QTime::currentTime().toString(QStringLiteral("HH:mm:ss ")) + text);
}

void MainWindow::JobFinished(int code) {
    LongJobFinished(code);
    if (code == RestoreCode) {
        // The snapshot window lists the snapshot the restore took; the tare page shows the
        // table the sensor holds again.
        if (snapshotDialog_)
            snapshotDialog_->Refresh();
        if (PcMain->currentIndex() == PageTara)
            PostCommand(ReadHubCode);
        return;
    }
    const auto watched = std::find_if(watchedWrites_.begin(), watchedWrites_.end(),
                                      [code](const auto& w) { return w.first == code; });
    if (watched == watchedWrites_.end())
        return;
    const bool succeeded = watched->second == workerBoxes_;
    watchedWrites_.erase(watched);
    if (!succeeded) {
        if (code == WriteHubCode)
            closeAfterWrite_ = false;
        return;
    }
    switch (code) {
    case SetFrequencyCode:
        ShowResult(Word(word::FrequencySet.key, word::FrequencySet.text).arg(EditFreq->text()));
        break;
    case WriteParametersCode:
        ShowResult(Word(word::SettingsWritten.key, word::SettingsWritten.text));
        break;
    case WriteHubCode: {
        const DeviceHubCopy written = HubToWrite();
        const int32_t tankId = written.tankId;
        const bool listChanged = listImported_;
        listImported_ = false;
        if (listChanged)
            ShowResult(Word(word::ListWritten.key, word::ListWritten.text));
        else if (tankId == CalibratedTankId)
            ShowResult(Word(word::TableWritten.key, word::TableWritten.text)
                           .arg(hub_.currentTank.RowCount));
        else
            ShowResult(Word(word::HubWritten.key, word::HubWritten.text).arg(tankId));
        deviceHub_ = written;
        TakeActiveTable();
        UpdateUnwrittenMark();
        if (closeAfterWrite_) {
            closeAfterWrite_ = false;
            QTimer::singleShot(0, this, [this] { close(); });
        }
        break;
    }
    default:
        ShowResult(Word(word::ValueSet.key, word::ValueSet.text));
        break;
    }
}

void MainWindow::WatchWrite(int code) {
    boxesAtLastPost_ = workerBoxes_;
    LongJobPosted(code);
    if (code == 24)
        hubRefreshPending_ = true;
    if (!Watched(code))
        return;
    std::erase_if(watchedWrites_, [code](const auto& w) { return w.first == code; });
    watchedWrites_.emplace_back(code, workerBoxes_);
}

DeviceHubCopy MainWindow::HubToWrite() const {
    // As the write job prepares its image: tank 1's working table into its entry, the
    // output unit, the seal.
    auto image = std::make_unique<HubBuffer>(hub_.hubBuffer);
    DeviceHubCopy copy;
    copy.tankId = Get(params_.TankId);
    if (copy.tankId == CalibratedTankId) {
        if (const auto entry = HubFindEntry(*image, CalibratedTankId)) {
            TankRecord tank = hub_.currentTank;
            const size_t needed = tank.RowCount * EntryRowSize + TankEntryHeadSize;
            if (tank.RowCount <= TankRecordRows &&
                HubEntryHead(*image, *entry).EntrySize >= needed) {
                if (tank.Scale == 0)
                    tank.Scale = 1;
                RecordToEntry(tank, *image, *entry);
            }
        }
    }
    image->SetMlPerBit(MlPerBitForIndex(CmbHubMlPerBit->currentIndex()));
    HubSeal(*image);
    const size_t pages = std::min<size_t>(HubPageCount(*image), 256);
    copy.image.assign(image->bytes().begin(),
                      image->bytes().begin() + ptrdiff_t(pages * HubPageSize));
    copy.heightMm = OwnsHeight(copy.tankId) ? uint32_t(SpinHubTankHeight->value()) : 0;
    return copy;
}

bool MainWindow::HubUnwritten() const {
    return deviceHub_.has_value() && HubToWrite() != *deviceHub_;
}

void MainWindow::UpdateUnwrittenMark() {
    if (!LblHubUnwritten)
        return;
    LblHubUnwritten->setText(Word(word::Unwritten.key, word::Unwritten.text));
    LblHubUnwritten->setVisible(HubUnwritten());
}

void MainWindow::NoteHubShown() {
    // A hub view after a read is what the sensor holds; after code 24 (another tank chosen
    // for viewing, an import) it is the window's own memory.
    if (hubRefreshPending_) {
        hubRefreshPending_ = false;
    } else if (workerBoxes_ != boxesAtLastPost_) {
        // The read asked or warned (a blank store made default): what the sensor holds is
        // not known, so nothing is called unchanged or unwritten.
        deviceHub_.reset();
    } else {
        deviceHub_ = HubToWrite();
        deviceHub_->tankId = Get(params_.TankId);
    }
    TakeActiveTable();
    UpdateUnwrittenMark();
}

bool MainWindow::ConfirmHubWrite() {
    if (!deviceHub_)
        return true;
    const int32_t tankId = Get(params_.TankId);
    if (!HubUnwritten()) {
        prompter_->Information(Word(word::NothingChanged.key, word::NothingChanged.text));
        return false;
    }
    if (tankId != deviceHub_->tankId &&
        !prompter_->Question(
            Word(word::MakeActive.key, word::MakeActive.text).arg(tankId).arg(deviceHub_->tankId)))
        return false;
    return true;
}

bool MainWindow::KeepOpenForUnwritten() {
    if (closeAfterWrite_ || !HubUnwritten())
        return false;
    switch (prompter_->AskWriteDiscardStay(Word(word::AskUnwritten.key, word::AskUnwritten.text),
                                           Word(word::WriteButton.key, word::WriteButton.text),
                                           Word(word::DiscardButton.key, word::DiscardButton.text),
                                           Word(word::StayButton.key, word::StayButton.text))) {
    case Prompter::CloseChoice::Discard:
        return false;
    case Prompter::CloseChoice::Stay:
        return true;
    case Prompter::CloseChoice::Write:
        if (ConfirmHubWrite()) {
            closeAfterWrite_ = true; // the window closes once the write has succeeded
            PostCommand(WriteHubCode);
        }
        return true;
    }
    return true;
}

void MainWindow::PlaceOnScreen() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const ProfileFile file = ProfileFile::Load(setup_.settingsPath.toStdString());
    const QRect saved(
        file.ReadInteger(WindowSection, "X", 0), file.ReadInteger(WindowSection, "Y", 0),
        file.ReadInteger(WindowSection, "W", 0), file.ReadInteger(WindowSection, "H", 0));
    QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1366, 728);
    if (saved.width() > 0 && saved.height() > 0) {
        for (const QScreen* s : QGuiApplication::screens())
            if (s->availableGeometry().intersects(saved))
                area = s->availableGeometry();
    }
    // The frame comes on top of the client size; the whole window stays in the free area,
    // so the status bar shows even on a 768-pixel screen.
    const int frameW = std::max(0, frameGeometry().width() - width());
    const int frameH = std::max(DesignFrameHeightGuess, frameGeometry().height() - height());
    QSize size = saved.width() > 0 ? saved.size() : QSize(DesignClientWidth, DesignClientHeight);
    size = size.boundedTo(QSize(area.width() - frameW, area.height() - frameH));
    size = size.expandedTo(minimumSize());
    resize(size);
    QPoint place = saved.width() > 0 ? saved.topLeft()
                                     : area.center() - QPoint(size.width() / 2, size.height() / 2);
    place.setX(std::clamp(place.x(), area.left(),
                          std::max(area.left(), area.right() - size.width() - frameW)));
    place.setY(std::clamp(place.y(), area.top(),
                          std::max(area.top(), area.bottom() - size.height() - frameH)));
    move(place);
}

void MainWindow::SaveGeometry() {
    if (!shown_ || isMinimized())
        return;
    ProfileFile file = ProfileFile::Load(setup_.settingsPath.toStdString());
    const QRect g = normalGeometry().isValid() ? normalGeometry() : geometry();
    file.SetString(WindowSection, "X", std::to_string(pos().x()));
    file.SetString(WindowSection, "Y", std::to_string(pos().y()));
    file.SetString(WindowSection, "W", std::to_string(g.width()));
    file.SetString(WindowSection, "H", std::to_string(g.height()));
    file.Save();
}

} // namespace vq31::app
