// The main window's frame: construction of the pages, the start-up and shut-down order, the
// status bar, the page-change rules, the control locks and the resize limits.
#include "main_window.h"

#include "apply_captions.h"
#include "command_parameters.h"
#include "echo_chart.h"
#include "hub_image.h"
#include "language_file.h"
#include "language_keys.h"
#include "language_texts.h"
#include "net_port.h"
#include "protocol.h"
#include "sensor_panel.h"
#include "traffic_window.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>

namespace vq31::app {

namespace {
constexpr int StatusPanel0Width = 450;
constexpr int StatusPanel1Width = 50;
// Frame of a typical desktop window, used until the real frame is known.
constexpr int DesignFrameWidth = MinWindowWidth - DesignClientWidth;
constexpr int DesignFrameHeight = 39;
} // namespace

MainWindow::MainWindow(CommandParameters& params, LanguageTexts& texts, HubRecords& hub,
                       WindowSetup setup, QWidget* parent)
    : QMainWindow(parent), params_(params), texts_(texts), hub_(hub), setup_(std::move(setup)),
      ownPrompter_(std::make_unique<QtPrompter>(this)), prompter_(ownPrompter_.get()) {
    setObjectName("Form1");
    setWindowTitle("vQ31 Install Service v.2.0.0.8");
    QFont font("Tahoma");
    font.setStyleHint(QFont::SansSerif);
    setFont(font);

    PcMain = new QTabWidget(this);
    PcMain->setObjectName("PcMain");
    setCentralWidget(PcMain);
    BuildProgramPage();
    BuildOscillPage();
    BuildTarePage();
    BuildSettingsPage();

    auto* bar = new QStatusBar(this);
    bar->setObjectName("StatusBar1");
    bar->setSizeGripEnabled(false);
    StatusPanel0 = new QLabel(bar);
    StatusPanel0->setObjectName("StatusBar1Panel0");
    StatusPanel0->setFixedWidth(StatusPanel0Width);
    StatusPanel1 = new QLabel(bar);
    StatusPanel1->setObjectName("StatusBar1Panel1");
    StatusPanel1->setMinimumWidth(StatusPanel1Width);
    bar->addWidget(StatusPanel0);
    bar->addWidget(StatusPanel1, 1); // the last panel takes the rest of the bar
    StatusNotice = new QLabel(bar);
    StatusNotice->setObjectName("StatusBar1Notice");
    StatusNotice->hide();
    bar->addWidget(StatusNotice);
    auto* traffic = new QToolButton(bar);
    traffic->setObjectName("BtnTraffic");
    traffic->setText("Обмен...");
    traffic->setToolTip("Обмен с устройством: кадры, ошибки, счётчики");
    BtnReconnect = new QPushButton("Подключить снова", bar);
    BtnReconnect->setObjectName("BtnReconnect");
    BtnReconnect->hide();
    bar->addPermanentWidget(BtnReconnect);
    connect(BtnReconnect, &QPushButton::clicked, this, [this] { Reconnect(); });
    portReturnWatch_ = new QTimer(this);
    portReturnWatch_->setInterval(setup_.portReturnCheckMs);
    connect(portReturnWatch_, &QTimer::timeout, this, [this] {
        // A by-id name comes back as a link to the new node once the adapter is in again.
        if (vanishedPort_.isEmpty() || !QFileInfo::exists(vanishedPort_))
            return;
        portReturnWatch_->stop();
        StatusPanel0->setText(QString::fromStdString(
            WithArguments(texts_.Text(msg::PortBack), {vanishedPort_.toStdString()})));
        BtnReconnect->show();
    });
    bar->addPermanentWidget(traffic);
    connect(traffic, &QToolButton::clicked, this, [this] { OpenTrafficWindow(); });
    setStatusBar(bar);

    // Page changes by the user run PcMainChange unless the pages are locked, in which case
    // the change is taken back; changes from code (SetMainPage) run nothing.
    connect(PcMain, &QTabWidget::currentChanged, this, [this](int index) {
        if (pageByCode_) {
            shownMainPage_ = index;
            return;
        }
        if (mainPagesLocked_) {
            QSignalBlocker block(PcMain);
            PcMain->setCurrentIndex(shownMainPage_);
            return;
        }
        shownMainPage_ = index;
        PcMainChange(index);
    });
    connect(PcPulse, &QTabWidget::currentChanged, this, [this](int index) {
        if (tuningPagesLocked_) {
            QSignalBlocker block(PcPulse);
            PcPulse->setCurrentIndex(shownPulsePage_);
            return;
        }
        shownPulsePage_ = index;
    });
    TsOscill->installEventFilter(this);
    ConnectProgramPage();
    ConnectOscillPage();
    ConnectTareSettingsPages();
    BuildGuards();

    UpdateMinimumSize();
    PlaceOnScreen();
}

MainWindow::~MainWindow() {
    StopWorker();
}

QString MainWindow::Text(const char* key) const {
    return QString::fromStdString(texts_.Text(key));
}

void MainWindow::SetTrafficMonitor(std::shared_ptr<LinkMonitor> monitor) {
    trafficMonitor_ = std::move(monitor);
}

TrafficWindow* MainWindow::OpenTrafficWindow() {
    if (!trafficMonitor_)
        return nullptr;
    if (!traffic_) {
        traffic_ = new TrafficWindow(trafficMonitor_, *prompter_, texts_, this);
        if (language_) {
            ApplyCaptions(traffic_, *language_, CaptionSet::SubWindow);
            ApplyWindowCaption(traffic_, *language_, TrafficWindowKey);
        }
        traffic_->setAttribute(Qt::WA_DeleteOnClose);
    }
    traffic_->show();
    traffic_->raise();
    return traffic_;
}

void MainWindow::PostCommand(int code) {
    if (code == 1 || code == 3)
        StopPortWatch(); // opened or searched by hand
    WatchWrite(code);
    if (poster_)
        poster_(code);
    if (setup_.postObserver)
        setup_.postObserver(code);
}

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!shown_)
        FormShow();
}

void MainWindow::FormShow() {
    if (shown_)
        return;
    shown_ = true;
    // The worker (with its command slot and event) exists before anything can post.
    if (setup_.startWorker)
        poster_ = setup_.startWorker();
    LoadLanguage();
    FillPortList();
    LoadSettings();
    ShowPortStatus(PortClosed);
    ShowDeviceStatus(StatusOk);
    SetMainPage(PageProgram);
    chart_->SetSeriesActive(EchoChart::Afc, false);
    chart_->SetSeriesActive(EchoChart::Integrator, false);

    // Select the remembered port and speed without running their handlers.
    const QString port = QString::fromStdString(params_.PortName());
    CmbCom->setCurrentIndex(CmbCom->findText(port));
    if (CmbCom->currentIndex() < 0)
        CmbCom->setEditText(portName_); // a stored path that is not listed stays visible
    CmbBaud->setCurrentIndex(CmbBaud->findText(QString::number(baudRate_)));
    // Setting the address runs EditAddrChange, which clamps it and writes the settings file.
    const QString addr = QString::number(address_);
    if (EditAddr->text() == addr)
        EditAddrChange();
    else
        EditAddr->setText(addr);
    ApplyStartOptions();
}

void MainWindow::ApplyStartOptions() {
    if (setup_.startPort) {
        CmbCom->setCurrentIndex(CmbCom->findText(*setup_.startPort));
        if (CmbCom->currentIndex() < 0)
            CmbCom->setEditText(*setup_.startPort);
        CmbComChange();
    }
    if (setup_.startBaud) {
        const int index = CmbBaud->findText(QString::number(*setup_.startBaud));
        if (index >= 0) {
            CmbBaud->setCurrentIndex(index);
            CmbBaudChange();
        }
    }
    if (setup_.startAddress)
        EditAddr->setText(QString::number(*setup_.startAddress));
}

void MainWindow::StopWorker() {
    if (stopped_)
        return;
    stopped_ = true;
    poster_ = nullptr;
    if (setup_.stopWorker)
        setup_.stopWorker();
    SetBusyCursor(false);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // A write that is sending pages ends whole first: it is asked to stop, finishes its image
    // or puts the old one back, says which, and then the window closes.
    if (setup_.writeInProgress && setup_.writeInProgress()) {
        event->ignore();
        if (!closeWhenWriteEnds_) {
            closeWhenWriteEnds_ = true;
            if (setup_.stopWrite)
                setup_.stopWrite();
            auto* watch = new QTimer(this);
            watch->setInterval(WriteEndCheckMs);
            connect(watch, &QTimer::timeout, this, [this, watch] {
                if (setup_.writeInProgress && setup_.writeInProgress())
                    return;
                watch->stop();
                watch->deleteLater();
                close();
            });
            watch->start();
        }
        return;
    }
    // Work the sensor does not have yet is written, dropped or kept on the user's word.
    if (!stopped_ && KeepOpenForUnwritten()) {
        event->ignore();
        return;
    }
    SaveGeometry();
    // The worker may be inside a job waiting on the window; stop it before the window goes.
    StopWorker();
    QMainWindow::closeEvent(event);
    // Closing the main window ends the program, even when another top-level window (a box,
    // the tare window) would keep the application's loop running.
    if (event->isAccepted())
        QCoreApplication::quit();
}

void MainWindow::ShowPortStatus(int portState) {
    StatusPanel0->setText(QString::fromStdString(texts_.PortStatus(portState)));
    if (GbSensor)
        GbSensor->SetPortState(StatusPanel0->text());
}

void MainWindow::ShowDeviceStatus(int status) {
    StatusPanel1->setText(QString::fromStdString(texts_.DeviceStatus(status)));
}

void MainWindow::PortVanished(const QString& port) {
    vanishedPort_ = port;
    BtnReconnect->hide();
    // A gateway has no name in the file system to watch for, and probing it would hold up
    // the window: Reconnect is offered at once and tells by trying.
    if (IsGatewayName(port.toStdString()))
        BtnReconnect->show();
    else
        portReturnWatch_->start();
}

void MainWindow::StopPortWatch() {
    portReturnWatch_->stop();
    BtnReconnect->hide();
    vanishedPort_.clear();
}

int MainWindow::PageReadCode() const {
    switch (PcMain->currentIndex()) {
    case PageOscill:
        return 4;
    case PageTara:
        return 21;
    case PageSettings:
        return 19;
    default:
        return 0;
    }
}

bool MainWindow::PostDeviceAction(int code) {
    // A job that holds the controls ends by posting its page's code, which would replace this
    // one unseen: the action is refused with a word instead.
    if (mainPagesLocked_) {
        prompter_->Error(QString::fromStdString(texts_.Text(msg::SlotBusy)));
        return false;
    }
    PostCommand(code);
    return true;
}

void MainWindow::Reconnect() {
    if (mainPagesLocked_) {
        prompter_->Error(QString::fromStdString(texts_.Text(msg::SlotBusy)));
        return;
    }
    StopPortWatch();
    // The page shown is read anew once the device answers.
    if (setup_.requestReconnect)
        setup_.requestReconnect(PageReadCode());
    PostCommand(28);
}

void MainWindow::SetMainPage(int index) {
    pageByCode_ = true;
    PcMain->setCurrentIndex(index);
    pageByCode_ = false;
    shownMainPage_ = PcMain->currentIndex();
}

void MainWindow::PcMainChange(int index) {
    switch (index) {
    case PageOscill:
        PostCommand(4);
        break;
    case PageTara:
        PostCommand(21);
        break;
    case PageSettings:
        PostCommand(19);
        break;
    default:
        PostCommand(0);
        break;
    }
}

void MainWindow::LockControls() {
    for (QWidget* w : std::initializer_list<QWidget*>{
             EditHubVersion, CmbHubTankID, BtnHubTareSet, BtnHubTareTable, EditHubTableLen,
             SpinHubTankHeight, CmbHubMlPerBit, BtnTanksImp, BtnTanksExp, BtnParamsWrite,
             BtnPortOpen, BtnPortClose, BtnSearchDevice, PcMain})
        w->setEnabled(false);
    mainPagesLocked_ = true;
}

void MainWindow::UnlockControls(int32_t tankId) {
    for (QWidget* w : std::initializer_list<QWidget*>{
             EditHubVersion, CmbHubTankID, BtnHubTareSet, BtnTanksImp, BtnTanksExp, BtnParamsWrite,
             BtnPortOpen, BtnPortClose, BtnSearchDevice, PcMain})
        w->setEnabled(true);
    BtnHubTareTable->setEnabled(tankId != 0);
    EditHubTableLen->setEnabled(tankId != 0);
    CmbHubMlPerBit->setEnabled(tankId != 0);
    SpinHubTankHeight->setEnabled(tankId == 0 || tankId == 1);
    mainPagesLocked_ = false;
}

void MainWindow::SetBusyCursor(bool busy) {
    if (busy == busyCursor_)
        return;
    busyCursor_ = busy;
    if (busy)
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QGuiApplication::restoreOverrideCursor();
}

void MainWindow::SetLiveView(bool enabled) {
    for (QWidget* w : std::initializer_list<QWidget*>{
             EditAuth, EditPos,     EditFrame,     EditCorr, EditUncorr, EditMm,
             EditTemp, LblAuth,     LblPos,        LblFrame, LblCorr,    LblUncorr,
             LblTemp,  LblCurr,     LblSet,        LblMax,   LblKu,      LblKuStr,
             LblAtten, LblAttenStr, CmbOscillMode, CmbKu,    CmbKuMax,   CmbAtten})
        w->setEnabled(enabled);
    mainPagesLocked_ = !enabled;
    tuningPagesLocked_ = !enabled;
    LblDataInst->setEnabled(!enabled);
    TbDataInst->setEnabled(!enabled);
}

void MainWindow::UpdateMinimumSize() {
    // The limits apply to the outer window; the client minimum leaves room for the frame.
    int frameW = frameGeometry().width() - width();
    int frameH = frameGeometry().height() - height();
    if (frameW <= 0 && frameH <= 0) {
        frameW = DesignFrameWidth;
        frameH = DesignFrameHeight;
    }
    setMinimumSize(MinWindowWidth - frameW, MinWindowHeight - frameH);
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    PlaceChart();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == TsOscill && event->type() == QEvent::Resize)
        PlaceChart();
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::PlaceChart() {
    // The controls take the page's top and the chart fills the page below them.
    if (!chart_)
        return;
    if (QWidget* top = TsOscill->findChild<QWidget*>("OscillControls"))
        top->setGeometry(0, 0, TsOscill->width(), ChartTop);
    const int chartHeight = std::max(0, height() - ChartHeightReserve);
    chart_->setGeometry(0, ChartTop, TsOscill->width(), chartHeight);
}

std::optional<int32_t> MainWindow::IntegerOf(const QLineEdit* edit) {
    return IntegerOf(edit->text());
}

std::optional<int32_t> MainWindow::IntegerOf(const QString& text) {
    // Decimal with an optional sign and surrounding blanks, within 32 bits.
    bool ok = false;
    const QString trimmed = text.trimmed();
    const qlonglong value = trimmed.toLongLong(&ok, 10);
    if (ok && value >= INT32_MIN && value <= INT32_MAX)
        return int32_t(value);
    prompter_->Error(QString("'%1' is not a valid integer value").arg(text));
    return std::nullopt;
}

void MainWindow::ReleaseOther(QToolButton* clicked, QToolButton* other) {
    if (clicked->isChecked() && other->isChecked()) {
        QSignalBlocker block(other);
        other->setChecked(false);
    }
}

} // namespace vq31::app
