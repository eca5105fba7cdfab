// The oscilloscope page: mode, live values, gain and attenuator, the pulse, filter,
// integrator, sweep, automatic tuning and display test tabs, and the echo chart.
#include "language_texts.h"
#include "main_window.h"
#include "page_parts.h"

#include "command_parameters.h"
#include "echo_chart.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>
#include <QSlider>
#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace vq31::app {

namespace {
constexpr int FreqMin = 500, FreqMax = 4000;
constexpr int FiltrMin = 450, FiltrMax = 4000, FiltrStep = 50;
constexpr int PulseMax = 200;
constexpr int GainItems = 25; // "0" .. "24", then the automatic / unlimited item
constexpr int TuneStep1 = 134, TuneStep2 = 135, TuneOff = 0;
constexpr int DisplayAutoStart = 256;
constexpr int AttenuatorOn = 30;
// Narrow live-value boxes and tab captions, so that all six tuning tabs fit beside them; the
// boxes are still wide enough for an echo error with a three-digit code.
constexpr int LiveEditMinWidth = 72;
constexpr const char* WidestLiveText = "Ошибка Е255";
constexpr int LiveEditFrame = 12;
constexpr int ControlSpacing = 3;

QSlider* MakeSlider(QWidget* parent, const char* name, int min, int max, int arrow, int page,
                    int tick, int start) {
    auto* s = Named(new QSlider(Qt::Horizontal, parent), name);
    s->setRange(min, max);
    s->setSingleStep(arrow);
    s->setPageStep(page);
    s->setTickInterval(tick);
    s->setTickPosition(QSlider::TicksBelow);
    s->setValue(start);
    return s;
}

QLineEdit* DigitsEdit(QWidget* parent, const char* name) {
    auto* e = Named(new QLineEdit(parent), name);
    e->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), e));
    e->setMaximumWidth(70);
    return e;
}

QToolButton* ToggleButton(QWidget* parent, const char* name, const char* text) {
    auto* b = Named(new QToolButton(parent), name);
    b->setText(text);
    b->setCheckable(true);
    b->setMinimumWidth(70);
    return b;
}
} // namespace

int MainWindow::FilterIndex(int position) {
    return int(std::trunc(double(position - FiltrMin) / FiltrStep + 0.5));
}

void MainWindow::BuildOscillPage() {
    TsOscill = Named(new QWidget(), "TsOscill");
    PcMain->addTab(TsOscill, "Осциллограф");
    // The controls sit above the chart; the chart is placed below them by PlaceChart.
    auto* top = Named(new QWidget(TsOscill), "OscillControls");
    top->setGeometry(0, 0, DesignClientWidth, ChartTop);

    CmbOscillMode = Named(new QComboBox(top), "CmbOscillMode");
    CmbOscillMode->setMaxVisibleItems(10);
    auto* live = new QGridLayout();
    live->setVerticalSpacing(1);
    live->setHorizontalSpacing(ControlSpacing);
    live->addWidget(CmbOscillMode, 0, 0, 1, 2);
    struct LiveRow {
        QLabel** label;
        QLineEdit** edit;
        const char* labelName;
        const char* text;
        const char* editName;
        bool readOnly;
    };
    const LiveRow rows[] = {
        {&LblAuth, &EditAuth, "LblAuth", "Auth:", "EditAuth", true},
        {&LblPos, &EditPos, "LblPos", "Pos/Div:", "EditPos", true},
        {&LblFrame, &EditFrame, "LblFrame", "Frame:", "EditFrame", true},
        {&LblUncorr, &EditUncorr, "LblUncorr", "Uncorr:", "EditUncorr", true},
        {&LblCorr, &EditCorr, "LblCorr", "Corr:", "EditCorr", true},
        {&LblMm, &EditMm, "LblMm", "mm:", "EditMm", false},
        {&LblTemp, &EditTemp, "LblTemp", "T,°C :", "EditTemp", true},
    };
    const int liveEditWidth =
        std::max(LiveEditMinWidth, fontMetrics().horizontalAdvance(WidestLiveText) + LiveEditFrame);
    int r = 1;
    for (const LiveRow& row : rows) {
        *row.label = Named(new QLabel(row.text, top), row.labelName);
        *row.edit = Named(new QLineEdit(top), row.editName);
        (*row.edit)->setReadOnly(row.readOnly);
        (*row.edit)->setMaximumWidth(liveEditWidth);
        live->addWidget(*row.label, r, 0);
        live->addWidget(*row.edit, r, 1);
        ++r;
    }

    auto* gain = new QGridLayout();
    gain->setHorizontalSpacing(ControlSpacing);
    LblCurr = Named(new QLabel("Тек:", top), "LblCurr");
    LblSet = Named(new QLabel("Уст:", top), "LblSet");
    LblMax = Named(new QLabel("Макс.:", top), "LblMax");
    LblKuStr = Named(new QLabel("Ku:", top), "LblKuStr");
    LblKu = Named(new QLabel("0", top), "LblKu");
    CmbKu = Named(new QComboBox(top), "CmbKu");
    CmbKuMax = Named(new QComboBox(top), "CmbKuMax");
    for (int i = 0; i < GainItems; ++i) {
        CmbKu->addItem(QString::number(i));
        CmbKuMax->addItem(QString::number(i));
    }
    CmbKu->addItem("Авто");
    CmbKuMax->addItem("б/огр.");
    CmbKu->setMaxVisibleItems(15);
    CmbKuMax->setMaxVisibleItems(15);
    CmbKu->setCurrentIndex(-1);
    CmbKuMax->setCurrentIndex(-1);
    LblAttenStr = Named(new QLabel("Att:", top), "LblAttenStr");
    LblAtten = Named(new QLabel("0", top), "LblAtten");
    CmbAtten = Named(new QComboBox(top), "CmbAtten");
    gain->addWidget(LblCurr, 0, 1);
    gain->addWidget(LblSet, 0, 2);
    gain->addWidget(LblMax, 0, 3);
    gain->addWidget(LblKuStr, 1, 0);
    gain->addWidget(LblKu, 1, 1);
    gain->addWidget(CmbKu, 1, 2);
    gain->addWidget(CmbKuMax, 1, 3);
    gain->addWidget(LblAttenStr, 2, 0);
    gain->addWidget(LblAtten, 2, 1);
    gain->addWidget(CmbAtten, 2, 2);
    gain->setRowStretch(3, 1);

    PcPulse = Named(new QTabWidget(top), "PcPulse");
    QFont tabFont = PcPulse->tabBar()->font();
    tabFont.setPointSizeF(tabFont.pointSizeF() - 2);
    PcPulse->tabBar()->setFont(tabFont);

    TsPulse = Named(new QWidget(), "TsPulse");
    LblFreqStr = Named(new QLabel("F, кГц:", TsPulse), "LblFreqStr");
    TbFreq = MakeSlider(TsPulse, "TbFreq", FreqMin, FreqMax, 10, 100, 100, FreqMin);
    LblFreq = Named(new QLabel(TsPulse), "LblFreq");
    EditFreq = DigitsEdit(TsPulse, "EditFreq");
    BtnFreq = Named(new QPushButton("Set", TsPulse), "BtnFreq");
    LblPulseStr = Named(new QLabel("Имп, х10:", TsPulse), "LblPulseStr");
    TbPulse = MakeSlider(TsPulse, "TbPulse", 0, PulseMax, 1, 10, 10, 0);
    LblPulse = Named(new QLabel(TsPulse), "LblPulse");
    EditPulse = DigitsEdit(TsPulse, "EditPulse");
    BtnPulse = Named(new QPushButton("Set", TsPulse), "BtnPulse");
    auto* pulseGrid = new QGridLayout(TsPulse);
    pulseGrid->addWidget(LblFreqStr, 0, 0);
    pulseGrid->addWidget(TbFreq, 0, 1);
    pulseGrid->addWidget(LblFreq, 0, 2);
    pulseGrid->addWidget(EditFreq, 0, 3);
    pulseGrid->addWidget(BtnFreq, 0, 4);
    pulseGrid->addWidget(LblPulseStr, 1, 0);
    pulseGrid->addWidget(TbPulse, 1, 1);
    pulseGrid->addWidget(LblPulse, 1, 2);
    pulseGrid->addWidget(EditPulse, 1, 3);
    pulseGrid->addWidget(BtnPulse, 1, 4);
    pulseGrid->setColumnStretch(1, 1);
    pulseGrid->setColumnMinimumWidth(2, 40);
    PcPulse->addTab(TsPulse, "Имульс");

    TsFiltr = Named(new QWidget(), "TsFiltr");
    LblFiltrStr = Named(new QLabel("F, кГц", TsFiltr), "LblFiltrStr");
    TbFiltr = MakeSlider(TsFiltr, "TbFiltr", FiltrMin, FiltrMax, FiltrStep, 100, 50, FiltrMin);
    LblFiltr = Named(new QLabel(TsFiltr), "LblFiltr");
    CmbFiltr = Named(new QComboBox(TsFiltr), "CmbFiltr");
    CmbFiltr->addItem("WideBand");
    for (int f = FiltrMin + FiltrStep; f <= FiltrMax; f += FiltrStep)
        CmbFiltr->addItem(QString::number(f));
    CmbFiltr->setCurrentIndex(-1);
    auto* filtrGrid = new QGridLayout(TsFiltr);
    filtrGrid->addWidget(LblFiltrStr, 0, 0);
    filtrGrid->addWidget(TbFiltr, 0, 1);
    filtrGrid->addWidget(LblFiltr, 0, 2);
    filtrGrid->addWidget(CmbFiltr, 0, 3);
    filtrGrid->setColumnStretch(1, 1);
    filtrGrid->setColumnMinimumWidth(2, 40);
    filtrGrid->setRowStretch(1, 1);
    PcPulse->addTab(TsFiltr, "Фильтр");

    TsIntegrator = Named(new QWidget(), "TsIntegrator");
    GbIntegrator = Named(new QGroupBox("Интегратор", TsIntegrator), "GbIntegrator");
    LblIntegrateDeadzone = Named(new QLabel("Мертвая зона:", GbIntegrator), "LblIntegrateDeadzone");
    EditIntegrateDeadzone = Named(new QLineEdit(GbIntegrator), "EditIntegrateDeadzone");
    LblIntegrateTreshold = Named(new QLabel("Порог:", GbIntegrator), "LblIntegrateTreshold");
    EditIntegrateTreshold = Named(new QLineEdit(GbIntegrator), "EditIntegrateTreshold");
    BtnSetIntegrator = Named(new QPushButton("Установить", GbIntegrator), "BtnSetIntegrator");
    auto* integGrid = new QGridLayout(GbIntegrator);
    integGrid->addWidget(LblIntegrateDeadzone, 0, 0);
    integGrid->addWidget(EditIntegrateDeadzone, 0, 1);
    integGrid->addWidget(LblIntegrateTreshold, 1, 0);
    integGrid->addWidget(EditIntegrateTreshold, 1, 1);
    integGrid->addWidget(BtnSetIntegrator, 0, 2, 2, 1);
    (new QVBoxLayout(TsIntegrator))->addWidget(GbIntegrator);
    PcPulse->addTab(TsIntegrator, "Интегратор");

    TsAfc = Named(new QWidget(), "TsAfc");
    GbAfc = Named(new QGroupBox("АЧХ", TsAfc), "GbAfc");
    LblDAfc = Named(new QLabel("Шаг:", GbAfc), "LblDAfc");
    EditDAfc = Named(new QLineEdit("20", GbAfc), "EditDAfc");
    LblAfcDeadZone = Named(new QLabel("Начало:", GbAfc), "LblAfcDeadZone");
    EditAfcDeadZone = Named(new QLineEdit("2000", GbAfc), "EditAfcDeadZone");
    LblAfcBandwidth = Named(new QLabel("Ширина:", GbAfc), "LblAfcBandwidth");
    EditAfcBandwidth = Named(new QLineEdit("1000", GbAfc), "EditAfcBandwidth");
    BtnAFC = Named(new QPushButton("АЧХ", GbAfc), "BtnAFC");
    auto* afcGrid = new QGridLayout(GbAfc);
    afcGrid->addWidget(LblDAfc, 0, 0);
    afcGrid->addWidget(EditDAfc, 0, 1);
    afcGrid->addWidget(LblAfcDeadZone, 1, 0);
    afcGrid->addWidget(EditAfcDeadZone, 1, 1);
    afcGrid->addWidget(LblAfcBandwidth, 2, 0);
    afcGrid->addWidget(EditAfcBandwidth, 2, 1);
    afcGrid->addWidget(BtnAFC, 0, 2, 3, 1);
    (new QVBoxLayout(TsAfc))->addWidget(GbAfc);
    PcPulse->addTab(TsAfc, "АЧХ");

    TsAuto = Named(new QWidget(), "TsAuto");
    GbAutomat = Named(new QGroupBox("Автонастройка", TsAuto), "GbAutomat");
    SbPre = ToggleButton(GbAutomat, "SbPre", "Шаг 1");
    SbAfc = ToggleButton(GbAutomat, "SbAfc", "Шаг 2");
    LblDataInst = Named(new QLabel(GbAutomat), "LblDataInst");
    TbDataInst = Named(new QProgressBar(GbAutomat), "TbDataInst");
    TbDataInst->setRange(0, 5);
    TbDataInst->setValue(0);
    TbDataInst->setTextVisible(false);
    LblDataInst->setEnabled(false);
    TbDataInst->setEnabled(false);
    auto* autoGrid = new QGridLayout(GbAutomat);
    autoGrid->addWidget(SbPre, 0, 0);
    autoGrid->addWidget(SbAfc, 0, 1);
    autoGrid->addWidget(LblDataInst, 1, 0, 1, 3);
    autoGrid->addWidget(TbDataInst, 2, 0, 1, 3);
    autoGrid->setColumnStretch(2, 1);
    (new QVBoxLayout(TsAuto))->addWidget(GbAutomat);
    PcPulse->addTab(TsAuto, "Автонастройка");

    TsDsplTest = Named(new QWidget(), "TsDsplTest");
    GbDisplay = Named(new QGroupBox("Тест", TsDsplTest), "GbDisplay");
    LblSegm1 = Named(new QLabel("Сегмент 1", GbDisplay), "LblSegm1");
    LblSegm2 = Named(new QLabel("Сегмент 2", GbDisplay), "LblSegm2");
    LblSegm3 = Named(new QLabel("3", GbDisplay), "LblSegm3");
    auto* dispGrid = new QGridLayout(GbDisplay);
    dispGrid->setVerticalSpacing(0);
    dispGrid->addWidget(LblSegm1, 0, 0);
    dispGrid->addWidget(LblSegm2, 1, 0);
    dispGrid->addWidget(LblSegm3, 2, 0);
    for (int n = 0; n <= 16; ++n) {
        if (n == 7 || n == 15)
            continue;
        auto* box = Named(new QCheckBox(GbDisplay), QString("ChkTestDisplay%1").arg(n));
        box->setProperty("tag", n);
        ChkTestDisplay[size_t(n)] = box;
        dispGrid->addWidget(box, n / 8, 1 + n % 8);
    }
    SbDplTestManual = ToggleButton(GbDisplay, "SbDplTestManual", "Ручн");
    SbDplTestAuto = ToggleButton(GbDisplay, "SbDplTestAuto", "Авто");
    dispGrid->addWidget(SbDplTestManual, 0, 9);
    dispGrid->addWidget(SbDplTestAuto, 1, 9);
    dispGrid->setColumnStretch(10, 1);
    (new QVBoxLayout(TsDsplTest))->addWidget(GbDisplay);
    PcPulse->addTab(TsDsplTest, "Дисплей");

    auto* row = new QHBoxLayout(top);
    row->setContentsMargins(ControlSpacing, ControlSpacing, ControlSpacing, ControlSpacing);
    row->setSpacing(ControlSpacing);
    row->addLayout(live);
    row->addLayout(gain);
    row->addWidget(PcPulse, 1);

    chart_ = new EchoChart(TsOscill);
}

void MainWindow::ConnectOscillPage() {
    connect(CmbOscillMode, &QComboBox::activated, this, [this] { CmbOscillModeChange(); });
    connect(chart_->PictureButton(), &QPushButton::clicked, this, [this] { BtnChartPngClick(); });
    connect(chart_->PointsButton(), &QPushButton::clicked, this, [this] { BtnChartCsvClick(); });
    connect(TbFreq, &QSlider::valueChanged, this, [this] { TbFreqChange(); });
    connect(BtnFreq, &QPushButton::clicked, this, [this] { BtnFreqClick(); });
    connect(EditFreq, &QLineEdit::returnPressed, this, [this] { BtnFreqClick(); });
    connect(TbPulse, &QSlider::valueChanged, this, [this] { TbPulseChange(); });
    connect(BtnPulse, &QPushButton::clicked, this, [this] { BtnPulseClick(); });
    connect(EditPulse, &QLineEdit::returnPressed, this, [this] { BtnPulseClick(); });
    connect(TbFiltr, &QSlider::valueChanged, this, [this] { TbFiltrChange(); });
    connect(CmbFiltr, &QComboBox::activated, this, [this] { CmbFiltrChange(); });
    connect(CmbKu, &QComboBox::activated, this, [this] { CmbKuChange(); });
    connect(CmbKuMax, &QComboBox::activated, this, [this] { CmbKuChange(); });
    connect(CmbAtten, &QComboBox::activated, this, [this] { CmbAttenChange(); });
    connect(BtnSetIntegrator, &QPushButton::clicked, this, [this] { BtnSetIntegratorClick(); });
    connect(BtnAFC, &QPushButton::clicked, this, [this] { BtnAFCClick(); });
    connect(SbPre, &QToolButton::clicked, this, [this] { SbPreClick(); });
    connect(SbAfc, &QToolButton::clicked, this, [this] { SbAfcClick(); });
    connect(SbDplTestManual, &QToolButton::clicked, this, [this] { SbDplTestManualClick(); });
    connect(SbDplTestAuto, &QToolButton::clicked, this, [this] { SbDplTestAutoClick(); });
}

void MainWindow::CmbOscillModeChange() {
    const int index = CmbOscillMode->currentIndex();
    Put(params_.OscillMode, index + 1);
    if (index >= 0 && index <= 2)
        chart_->SetLeftRange(index == 0 ? 0 : -32000, 32000);
}

void MainWindow::TbFreqChange() {
    {
        QSignalBlocker detach(TbFiltr);
        EditFreq->setText(QString::number(TbFreq->value()));
        Put(params_.PulseFrequency, TbFreq->value());
        // The filter follows the frequency unless it is on the wide band.
        if (Get(params_.FilterFrequency) != TbFiltr->minimum()) {
            TbFiltr->setValue(Get(params_.PulseFrequency));
            CmbFiltr->setCurrentIndex(FilterIndex(TbFiltr->value()));
        }
        Put(params_.FilterFrequency, TbFiltr->value());
    }
    PostCommand(9);
}

void MainWindow::BtnFreqClick() {
    const auto value = IntegerOf(EditFreq);
    if (!value || !WithinSlider(TbFreq, *value))
        return;
    {
        QSignalBlocker detach(TbFreq);
        TbFreq->setValue(*value);
    }
    TbFreqChange();
}

void MainWindow::TbPulseChange() {
    EditPulse->setText(QString::number(TbPulse->value()));
    Put(params_.PulseWidth, TbPulse->value());
    PostCommand(15);
}

void MainWindow::BtnPulseClick() {
    const auto value = IntegerOf(EditPulse);
    if (!value || !WithinSlider(TbPulse, *value))
        return;
    // The slider stays attached: a move runs TbPulseChange, and then it runs once more.
    TbPulse->setValue(*value);
    TbPulseChange();
}

bool MainWindow::WithinSlider(const QSlider* slider, int32_t value) {
    // A typed value the slider cannot hold is refused with the range, never sent as the
    // nearest end of it.
    if (value >= slider->minimum() && value <= slider->maximum())
        return true;
    prompter_->Error(
        Text(msg::OutOfRange).arg(value).arg(slider->minimum()).arg(slider->maximum()));
    return false;
}

void MainWindow::TbFiltrChange() {
    CmbFiltr->setCurrentIndex(FilterIndex(TbFiltr->value()));
    Put(params_.FilterFrequency, TbFiltr->value());
    PostCommand(10);
}

void MainWindow::CmbFiltrChange() {
    {
        QSignalBlocker detach(TbFiltr);
        TbFiltr->setValue(CmbFiltr->currentIndex() * FiltrStep + FiltrMin);
    }
    TbFiltrChange();
}

void MainWindow::CmbKuChange() {
    // Each index fills its own byte of the word; a list without a selection counts as 0.
    const int ku = std::max(0, CmbKu->currentIndex());
    const int kuMax = std::max(0, CmbKuMax->currentIndex());
    Put(params_.GainWord, ku | (kuMax << 8));
    PostCommand(11);
}

void MainWindow::CmbAttenChange() {
    Put(params_.Attenuation, std::max(0, CmbAtten->currentIndex()) * AttenuatorOn);
    PostCommand(12);
}

void MainWindow::BtnSetIntegratorClick() {
    const auto threshold = IntegerOf(EditIntegrateTreshold);
    if (!threshold)
        return;
    const auto deadZone = IntegerOf(EditIntegrateDeadzone);
    if (!deadZone)
        return;
    const uint32_t word = (uint32_t(*threshold) & 0xFFFFu) << 16 | (uint32_t(*deadZone) & 0xFFFFu);
    Put(params_.IntegratorWord, int32_t(word));
    PostCommand(16);
}

void MainWindow::BtnAFCClick() {
    chart_->ClearAfc();
    // Each field is stored as soon as it converts, so a later failure leaves the earlier.
    const auto start = IntegerOf(EditAfcDeadZone);
    if (!start)
        return;
    Put(params_.AfcStart, *start);
    const auto width = IntegerOf(EditAfcBandwidth);
    if (!width)
        return;
    Put(params_.AfcWidth, *width);
    const auto step = IntegerOf(EditDAfc);
    if (!step)
        return;
    Put(params_.AfcStep, *step);
    PostCommand(17);
}

void MainWindow::SbPreClick() {
    ReleaseOther(SbPre, SbAfc);
    barAdvanceTime_ = 0;
    Put(params_.TuneMode, SbPre->isChecked() ? TuneStep1 : TuneOff);
    PostCommand(6);
}

void MainWindow::SbAfcClick() {
    ReleaseOther(SbAfc, SbPre);
    barAdvanceTime_ = 0;
    Put(params_.TuneMode, SbAfc->isChecked() ? TuneStep2 : TuneOff);
    PostCommand(6);
}

void MainWindow::SbDplTestManualClick() {
    ReleaseOther(SbDplTestManual, SbDplTestAuto);
    PostCommand(SbDplTestManual->isChecked() ? 18 : 5);
}

void MainWindow::SbDplTestAutoClick() {
    ReleaseOther(SbDplTestAuto, SbDplTestManual);
    if (SbDplTestAuto->isChecked()) {
        Put(params_.DisplayTestPattern, DisplayAutoStart);
        PostCommand(18);
    } else {
        PostCommand(5);
    }
}

void MainWindow::BtnChartPngClick() {
    const QString filter = QStringLiteral("PNG (*.png)");
    QString file = prompter_->ChooseSaveFileNamed(filter, SuggestedName(filter));
    if (file.isEmpty())
        return;
    if (!file.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive))
        file += QStringLiteral(".png");
    std::string error;
    if (!chart_->SavePicture(file, error))
        prompter_->Error(Text(msg::FileWriteFailed).arg(QString::fromStdString(error)));
}

void MainWindow::BtnChartCsvClick() {
    const QString filter = QStringLiteral("CSV (*.csv)");
    QString file = prompter_->ChooseSaveFileNamed(filter, SuggestedName(filter));
    if (file.isEmpty())
        return;
    if (!file.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive))
        file += QStringLiteral(".csv");
    std::string error;
    if (!chart_->SavePoints(file, error))
        prompter_->Error(Text(msg::FileWriteFailed).arg(QString::fromStdString(error)));
}

} // namespace vq31::app
