// The program page: language choice, serial port, link speed and device address, and the
// open, close and search buttons; also the port list, and the line census with its list of
// sensors, from which a row sets the working speed and address or is moved to a new address.
#include "main_window.h"
#include "page_parts.h"

#include "command_parameters.h"
#include "doctor.h"
#include "language_texts.h"
#include "net_port.h"
#include "window_words.h"

#include <QCheckBox>

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace vq31::app {

namespace {

// Port number kept in the settings file for a port name: the digits after "COM", or the
// trailing digits of a device path (ttyUSB0 -> 0); none gives 0, as does a network gateway's
// name (its trailing digits are a TCP port).
int PortNumberOf(const QString& name) {
    if (IsGatewayName(name.toStdString()))
        return 0;
    int end = int(name.size());
    int start = end;
    while (start > 0 && name[start - 1].isDigit())
        --start;
    if (start == end)
        return 0;
    bool ok = false;
    const int n = name.mid(start, end - start).toInt(&ok);
    return ok ? n : 0;
}

// The address text as a number, without reporting: nothing for text that is not one.
std::optional<int64_t> QuietInteger(const QString& text) {
    bool ok = false;
    const qlonglong v = text.trimmed().toLongLong(&ok, 10);
    if (!ok || v < INT32_MIN || v > INT32_MAX)
        return std::nullopt;
    return v;
}

// Columns of the census list.
enum CensusColumn { ColAddress, ColSpeed, ColSerial, ColModel, ColFirmware, ColState, ColCount };
} // namespace

void MainWindow::BuildProgramPage() {
    TsProgram = Named(new QWidget(), "TsProgram");
    PcMain->addTab(TsProgram, "Программа");

    GbLang = Named(new QGroupBox("Локализация", TsProgram), "GbLang");
    LblLang = Named(new QLabel("Язык:", GbLang), "LblLang");
    CmbLang = Named(new QComboBox(GbLang), "CmbLang");
    CmbLang->setMinimumWidth(160);
    auto* langGrid = new QGridLayout(GbLang);
    langGrid->addWidget(LblLang, 0, 0);
    langGrid->addWidget(CmbLang, 0, 1);
    langGrid->setColumnStretch(2, 1);

    GbCom = Named(new QGroupBox("Настройки порта", TsProgram), "GbCom");
    LblCom = Named(new QLabel("Номер порта:", GbCom), "LblCom");
    CmbCom = Named(new QComboBox(GbCom), "CmbCom");
    // A port may be typed as a device path: pseudo-terminals are never listed.
    CmbCom->setEditable(true);
    CmbCom->setInsertPolicy(QComboBox::NoInsert);
    CmbCom->setMinimumWidth(160);
    LblBaud = Named(new QLabel("Скорость (бит/с):", GbCom), "LblBaud");
    CmbBaud = Named(new QComboBox(GbCom), "CmbBaud");
    for (const char* s : LinkSpeeds)
        CmbBaud->addItem(s);
    CmbBaud->setCurrentIndex(-1);
    LblAddr = Named(new QLabel("Адрес устройства:", GbCom), "LblAddr");
    EditAddr = Named(new QLineEdit(GbCom), "EditAddr");
    EditAddr->setMaximumWidth(120);
    auto* spin = Named(new QWidget(GbCom), "SbAddr");
    SbAddrUp = Named(new QToolButton(spin), "SbAddrUp");
    SbAddrUp->setArrowType(Qt::UpArrow);
    SbAddrDown = Named(new QToolButton(spin), "SbAddrDown");
    SbAddrDown->setArrowType(Qt::DownArrow);
    auto* spinBox = new QVBoxLayout(spin);
    spinBox->setContentsMargins(0, 0, 0, 0);
    spinBox->setSpacing(0);
    for (QToolButton* b : {SbAddrUp, SbAddrDown}) {
        b->setFixedSize(18, 11);
        spinBox->addWidget(b);
    }
    auto* addrRow = new QHBoxLayout();
    addrRow->setSpacing(0);
    addrRow->addWidget(EditAddr);
    addrRow->addWidget(spin);
    addrRow->addStretch(1);
    BtnPortOpen = Named(new QPushButton("Открыть", GbCom), "BtnPortOpen");
    BtnPortClose = Named(new QPushButton("Закрыть", GbCom), "BtnPortClose");
    BtnSearchDevice = Named(new QPushButton("Поиск устройства", GbCom), "BtnSearchDevice");
    auto* comGrid = new QGridLayout(GbCom);
    comGrid->addWidget(LblCom, 0, 0);
    comGrid->addWidget(CmbCom, 0, 1);
    comGrid->addWidget(LblBaud, 1, 0);
    comGrid->addWidget(CmbBaud, 1, 1);
    comGrid->addWidget(LblAddr, 2, 0);
    comGrid->addLayout(addrRow, 2, 1);
    auto* buttons = new QHBoxLayout();
    buttons->addWidget(BtnPortOpen);
    buttons->addWidget(BtnPortClose);
    buttons->addWidget(BtnSearchDevice);
    buttons->addStretch(1);
    comGrid->addLayout(buttons, 3, 0, 1, 3);
    comGrid->setColumnStretch(2, 1);

    GbCensus = Named(new QGroupBox("Датчики на линии", TsProgram), "GbCensus");
    BtnCensus = Named(new QPushButton("Опрос линии", GbCensus), "BtnCensus");
    BtnCensusStop = Named(new QPushButton("Остановить", GbCensus), "BtnCensusStop");
    BtnCensusStop->setEnabled(false);
    ChkCensusAllSpeeds = Named(new QCheckBox("Все скорости", GbCensus), "ChkCensusAllSpeeds");
    PbCensus = Named(new QProgressBar(GbCensus), "PbCensus");
    PbCensus->setRange(0, 100);
    PbCensus->setValue(0);
    LblCensus = Named(new QLabel(GbCensus), "LblCensusState");
    LblCensus->setWordWrap(true);
    GridCensus = Named(new QTableWidget(0, ColCount, GbCensus), "GridCensus");
    GridCensus->setSelectionBehavior(QAbstractItemView::SelectRows);
    GridCensus->setSelectionMode(QAbstractItemView::SingleSelection);
    GridCensus->setEditTriggers(QAbstractItemView::NoEditTriggers);
    GridCensus->verticalHeader()->hide();
    GridCensus->horizontalHeader()->setStretchLastSection(true);
    GridCensus->setMinimumHeight(140);
    LblNewAddr = Named(new QLabel("Новый адрес:", GbCensus), "LblNewAddr");
    EditNewAddr = Named(new QLineEdit(GbCensus), "EditNewAddr");
    EditNewAddr->setMaximumWidth(80);
    BtnReaddress = Named(new QPushButton("Изменить адрес", GbCensus), "BtnReaddress");
    BtnReaddress->setEnabled(false);
    auto* censusButtons = new QHBoxLayout();
    censusButtons->addWidget(BtnCensus);
    censusButtons->addWidget(BtnCensusStop);
    censusButtons->addWidget(ChkCensusAllSpeeds);
    censusButtons->addWidget(PbCensus, 1);
    auto* moveRow = new QHBoxLayout();
    moveRow->addWidget(LblNewAddr);
    moveRow->addWidget(EditNewAddr);
    moveRow->addWidget(BtnReaddress);
    moveRow->addStretch(1);
    auto* censusBox = new QVBoxLayout(GbCensus);
    censusBox->addLayout(censusButtons);
    censusBox->addWidget(LblCensus);
    censusBox->addWidget(GridCensus, 1);
    censusBox->addLayout(moveRow);

    auto* page = new QVBoxLayout(TsProgram);
    page->addWidget(GbLang);
    page->addWidget(GbCom);
    page->addWidget(GbCensus, 1);
}

void MainWindow::ConnectProgramPage() {
    connect(CmbLang, &QComboBox::activated, this, [this] { CmbLangChange(); });
    connect(CmbCom, &QComboBox::activated, this, [this] { CmbComChange(); });
    // A typed path counts once editing ends (Enter or leaving the field).
    connect(CmbCom->lineEdit(), &QLineEdit::editingFinished, this, [this] {
        if (CmbCom->lineEdit()->isModified()) {
            CmbCom->lineEdit()->setModified(false);
            CmbComChange();
        }
    });
    connect(CmbBaud, &QComboBox::activated, this, [this] { CmbBaudChange(); });
    connect(EditAddr, &QLineEdit::textChanged, this, [this] { EditAddrChange(); });
    connect(SbAddrUp, &QToolButton::clicked, this, [this] { SbAddrUpClick(); });
    connect(SbAddrDown, &QToolButton::clicked, this, [this] { SbAddrDownClick(); });
    connect(BtnPortOpen, &QPushButton::clicked, this, [this] { PostCommand(1); });
    connect(BtnPortClose, &QPushButton::clicked, this, [this] { PostCommand(2); });
    connect(BtnSearchDevice, &QPushButton::clicked, this, [this] { PostCommand(3); });
    connect(BtnCensus, &QPushButton::clicked, this, [this] { BtnCensusClick(); });
    // Any code posted while the census runs ends it; 0 runs nothing after it.
    connect(BtnCensusStop, &QPushButton::clicked, this, [this] { PostCommand(0); });
    connect(GridCensus, &QTableWidget::currentCellChanged, this,
            [this](int row) { GridCensusChoose(row); });
    connect(BtnReaddress, &QPushButton::clicked, this, [this] { BtnReaddressClick(); });
}

void MainWindow::BtnCensusClick() {
    CensusOptions options;
    if (ChkCensusAllSpeeds->isChecked())
        options.speeds.assign(CensusSpeeds.begin(), CensusSpeeds.end());
    else
        options.speeds = {uint32_t(baudRate_)};
    if (setup_.requestCensus)
        setup_.requestCensus(options);
    BtnCensus->setEnabled(false);
    BtnCensusStop->setEnabled(true);
    BtnReaddress->setEnabled(false);
    PbCensus->setValue(0);
    PostCommand(29);
}

void MainWindow::ShowCensusProgress(int percent, const QString& text) {
    PbCensus->setValue(std::clamp(percent, 0, 100));
    if (!text.isEmpty())
        LblCensus->setText(text);
}

void MainWindow::ShowCensus(const CensusView& view) {
    censusRows_ = view.rows;
    const QStringList headers = Text(msg::CensusColumns).split(';');
    GridCensus->setHorizontalHeaderLabels(headers);
    {
        const QSignalBlocker quiet(GridCensus); // refilling is not the user's choice of a row
        GridCensus->setRowCount(int(censusRows_.size()));
        for (int r = 0; r < int(censusRows_.size()); ++r) {
            const CensusRowView& row = censusRows_[size_t(r)];
            const QString cells[ColCount] = {
                QString::number(row.address),         QString::number(row.speed),
                QString::fromStdString(row.serial),   QString::fromStdString(row.model),
                QString::fromStdString(row.firmware), QString::fromStdString(row.state)};
            for (int c = 0; c < ColCount; ++c)
                GridCensus->setItem(r, c, new QTableWidgetItem(cells[c]));
        }
        GridCensus->setCurrentCell(-1, -1);
    }
    LblCensus->setText(QString::fromStdString(view.summary));
    PbCensus->setValue(100);
    BtnCensus->setEnabled(true);
    BtnCensusStop->setEnabled(false);
    BtnReaddress->setEnabled(false);
}

void MainWindow::GridCensusChoose(int row) {
    if (row < 0 || row >= int(censusRows_.size())) {
        BtnReaddress->setEnabled(false);
        return;
    }
    // A collision row has no one sensor to work with; its move says what to do instead.
    const CensusRowView& chosen = censusRows_[size_t(row)];
    if (!chosen.collision)
        ApplyFoundLink(int(chosen.speed), int(chosen.address));
    BtnReaddress->setEnabled(true);
}

void MainWindow::BtnReaddressClick() {
    const int row = GridCensus->currentRow();
    if (row < 0 || row >= int(censusRows_.size()))
        return;
    const CensusRowView& chosen = censusRows_[size_t(row)];
    const auto to = QuietInteger(EditNewAddr->text());
    if (!to || *to < 0 || *to > 254 || *to == int64_t(chosen.address)) {
        Boxes().Error(Text(msg::ReaddressBad));
        return;
    }
    if (setup_.requestReaddress)
        setup_.requestReaddress(uint8_t(chosen.address), uint8_t(*to), chosen.speed);
    PostCommand(30);
}

void MainWindow::FillPortList() {
    // Device paths of the system's serial ports, in text order, with their description.
    CmbCom->clear();
    auto ports = QSerialPortInfo::availablePorts();
    std::sort(ports.begin(), ports.end(), [](const QSerialPortInfo& a, const QSerialPortInfo& b) {
        return a.systemLocation() < b.systemLocation();
    });
    for (const QSerialPortInfo& info : ports) {
        CmbCom->addItem(info.systemLocation());
        QString tip = info.description();
        if (!info.manufacturer().isEmpty())
            tip += (tip.isEmpty() ? "" : ", ") + info.manufacturer();
        CmbCom->setItemData(CmbCom->count() - 1, tip, Qt::ToolTipRole);
        // The stable name beside it: it stays the same when the adapter is replugged.
        const std::string stable = StableNameOf(info.systemLocation().toStdString());
        if (!stable.empty()) {
            CmbCom->addItem(QString::fromStdString(stable));
            CmbCom->setItemData(CmbCom->count() - 1,
                                info.systemLocation() + (tip.isEmpty() ? "" : ": ") + tip,
                                Qt::ToolTipRole);
        }
    }
    CmbCom->setCurrentIndex(-1);
}

void MainWindow::CmbComChange() {
    const QString name = CmbCom->currentText().trimmed();
    if (name.isEmpty()) {
        // No port: the number becomes 0 and the typed or chosen name goes with it, so that
        // "Открыть" does not open the port that was shown before.
        portNumber_ = 0;
        Put(params_.PortNumber, 0);
        portName_.clear();
        params_.SetPortName({});
        return;
    }
    portNumber_ = PortNumberOf(name);
    Put(params_.PortNumber, portNumber_);
    // A device with a stable name is remembered by it, since ttyUSB numbers change when
    // adapters are replugged.
    const std::string stable = StableNameOf(name.toStdString());
    portName_ = stable.empty() ? name : QString::fromStdString(stable);
    params_.SetPortName(portName_.toStdString());
    SaveSettings();
}

void MainWindow::CmbBaudChange() {
    const auto speed = IntegerOf(CmbBaud->currentText());
    if (!speed)
        return;
    baudRate_ = *speed;
    Put(params_.BaudRate, baudRate_);
    SaveSettings();
}

void MainWindow::EditAddrChange() {
    const auto value = QuietInteger(EditAddr->text());
    if (!value) {
        // Not a number: the stored address comes back, which runs this handler again.
        EditAddr->setText(QString::number(address_));
        return;
    }
    // 255 reaches every sensor of the line: only the broadcast box chooses it. Any other
    // number outside the bus range is refused with its range, never cut to fit.
    const bool broadcast = ChkAddrBroadcast && ChkAddrBroadcast->isChecked();
    const int64_t highest = broadcast ? 255 : 254;
    if (*value < 0 || *value > highest || (broadcast && *value != 255)) {
        const QString typed = EditAddr->text();
        EditAddr->setText(QString::number(address_));
        if (shown_)
            prompter_->Error(Word(word::AddressOutOfRange.key, word::AddressOutOfRange.text)
                                 .arg(typed.trimmed()));
        return;
    }
    address_ = int32_t(*value);
    Put(params_.DeviceAddress, address_);
    SaveSettings();
}

void MainWindow::SbAddrUpClick() {
    if (const auto v = QuietInteger(EditAddr->text()))
        EditAddr->setText(QString::number(*v + 1));
}

void MainWindow::SbAddrDownClick() {
    if (const auto v = QuietInteger(EditAddr->text()))
        EditAddr->setText(QString::number(*v - 1));
}

} // namespace vq31::app
