// The settings page: the device's passport data, its output parameters and fuel settings,
// and the button that writes them.
#include "checked_spin_box.h"
#include "main_window.h"
#include "page_parts.h"
#include "snapshot_dialog.h"

#include "apply_captions.h"
#include "command_parameters.h"
#include "language_keys.h"
#include "language_texts.h"
#include "parameter_format.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

#include <cmath>

namespace vq31::app {

namespace {
constexpr int PostFilterMax = 8;

QLineEdit* PassportEdit(QWidget* parent, const char* name, int digits) {
    auto* e = Named(new QLineEdit(parent), name);
    e->setReadOnly(true);
    if (digits > 0) {
        e->setMaxLength(digits);
        e->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), e));
    }
    return e;
}

// A number in the user's format; the plain form with a point is accepted too. Digit grouping
// is refused in both ("0,003" is not 3 under an English format), and so are infinity and
// not-a-number words: they are no value for the device.
std::optional<float> ParseDecimal(const QString& text) {
    QLocale plain = QLocale::c();
    plain.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
    for (const QLocale& locale : {FuelNumberLocale(), plain}) {
        bool ok = false;
        const float v = locale.toFloat(text.trimmed(), &ok);
        if (ok)
            return std::isfinite(v) ? std::optional<float>(v) : std::nullopt;
    }
    return std::nullopt;
}
} // namespace

namespace {
// Dynamic properties of a fuel field: the value read from the device and the text shown for it.
constexpr const char* DeviceValueProperty = "vq31DeviceValue";
constexpr const char* ShownTextProperty = "vq31ShownText";
} // namespace

void ShowFuelNumber(QLineEdit* edit, float value) {
    // Enough digits that the text gives back the stored float, with the user's separator.
    QString text = QString::fromStdString(FuelNumberText(value));
    text.replace(QLatin1Char('.'), FuelNumberLocale().decimalPoint());
    edit->setText(text);
    edit->setProperty(DeviceValueProperty, value);
    edit->setProperty(ShownTextProperty, text);
}

std::optional<float> FuelFieldValue(const QLineEdit* edit) {
    const QVariant device = edit->property(DeviceValueProperty);
    if (device.isValid() && edit->text() == edit->property(ShownTextProperty).toString())
        return device.toFloat();
    return ParseDecimal(edit->text());
}

QLocale FuelNumberLocale() {
    // No digit grouping: the texts are read back when the parameters are written.
    QLocale locale = QLocale::system();
    locale.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
    return locale;
}

void MainWindow::BuildSettingsPage() {
    TsSettings = Named(new QWidget(), "TsSettings");
    PcMain->addTab(TsSettings, "Настройки");

    GbInfo = Named(new QGroupBox("Паспортные данные", TsSettings), "GbInfo");
    LblDate = Named(new QLabel("Дата:", GbInfo), "LblDate");
    EditDate = PassportEdit(GbInfo, "EditDate", 6);
    LblSN = Named(new QLabel("S/N:", GbInfo), "LblSN");
    EditSN = PassportEdit(GbInfo, "EditSN", 7);
    LblModel = Named(new QLabel("Модель:", GbInfo), "LblModel");
    EditModel = PassportEdit(GbInfo, "EditModel", 3);
    LblVer = Named(new QLabel("Версия ПО:", GbInfo), "LblVer");
    EditVer = PassportEdit(GbInfo, "EditVer", 0);
    LblRev = Named(new QLabel("Ревизия:", GbInfo), "LblRev");
    EditRev = PassportEdit(GbInfo, "EditRev", 0);
    auto* info = new QGridLayout(GbInfo);
    int r = 0;
    for (auto [label, edit] :
         {std::pair{LblDate, EditDate}, std::pair{LblSN, EditSN}, std::pair{LblModel, EditModel},
          std::pair{LblVer, EditVer}, std::pair{LblRev, EditRev}}) {
        info->addWidget(label, r, 0);
        info->addWidget(edit, r, 1);
        ++r;
    }
    info->setColumnStretch(2, 1);

    GbParams = Named(new QGroupBox("Параметры выдаваемых данных", TsSettings), "GbParams");
    LblBits = Named(new QLabel("Разрядность данных:", GbParams), "LblBits");
    CmbBits = Named(new QComboBox(GbParams), "CmbBits");
    Lbl255Ans = Named(new QLabel("Ответ по адресу 255:", GbParams), "Lbl255Ans");
    Cmb255Ans = Named(new QComboBox(GbParams), "Cmb255Ans");
    LblPostFiltr = Named(new QLabel("Пост-фильтрация:", GbParams), "LblPostFiltr");
    CmbPostFiltr = Named(new QComboBox(GbParams), "CmbPostFiltr");
    for (int i = 0; i <= PostFilterMax; ++i)
        CmbPostFiltr->addItem(QString::number(i));
    CmbPostFiltr->setCurrentIndex(-1);
    LblAddr2 = Named(new QLabel("Адрес:", GbParams), "LblAddr2");
    SpinAddr2 = Named(new CheckedSpinBox(GbParams), "SpinAddr2");
    SpinAddr2->setRange(0, 255);
    LblBaud2 = Named(new QLabel("Скорость:", GbParams), "LblBaud2");
    CmbBaud2 = Named(new QComboBox(GbParams), "CmbBaud2");
    for (const char* s : LinkSpeeds)
        CmbBaud2->addItem(s);
    CmbBaud2->setCurrentIndex(-1);
    RepAutoOn = Named(new QCheckBox("Автовыдача", GbParams), "RepAutoOn");
    LblPeriod = Named(new QLabel("Период автовыдачи:", GbParams), "LblPeriod");
    RepAutoPeriod = Named(new CheckedSpinBox(GbParams), "RepAutoPeriod");
    RepAutoPeriod->setRange(0, 255);
    auto* params = new QGridLayout(GbParams);
    params->addWidget(LblBits, 0, 0);
    params->addWidget(CmbBits, 0, 1);
    params->addWidget(Lbl255Ans, 1, 0);
    params->addWidget(Cmb255Ans, 1, 1);
    params->addWidget(LblPostFiltr, 2, 0);
    params->addWidget(CmbPostFiltr, 2, 1);
    params->addWidget(LblAddr2, 3, 0);
    params->addWidget(SpinAddr2, 3, 1);
    params->addWidget(LblBaud2, 4, 0);
    params->addWidget(CmbBaud2, 4, 1);
    params->addWidget(RepAutoOn, 5, 0);
    params->addWidget(LblPeriod, 6, 0);
    params->addWidget(RepAutoPeriod, 6, 1);
    params->setColumnStretch(2, 1);

    GbFuelType = Named(new QGroupBox("Тип топлива", TsSettings), "GbFuelType");
    LblFuelType = Named(new QLabel("Тип топлива:", GbFuelType), "LblFuelType");
    CmbFuelType = Named(new QComboBox(GbFuelType), "CmbFuelType");
    LblFuelOfs = Named(new QLabel("Скорость звука в топливе:", GbFuelType), "LblFuelOfs");
    EditFuelOfs = Named(new QLineEdit(GbFuelType), "EditFuelOfs");
    LblFuelKu = Named(new QLabel("Температурный коэф.:", GbFuelType), "LblFuelKu");
    EditFuelKu = Named(new QLineEdit(GbFuelType), "EditFuelKu");
    auto* fuel = new QGridLayout(GbFuelType);
    fuel->addWidget(LblFuelType, 0, 0);
    fuel->addWidget(CmbFuelType, 0, 1);
    fuel->addWidget(LblFuelOfs, 1, 0);
    fuel->addWidget(EditFuelOfs, 1, 1);
    fuel->addWidget(LblFuelKu, 2, 0);
    fuel->addWidget(EditFuelKu, 2, 1);
    fuel->setColumnStretch(2, 1);
    for (QWidget* w :
         std::initializer_list<QWidget*>{CmbBits, Cmb255Ans, CmbPostFiltr, SpinAddr2, CmbBaud2,
                                         RepAutoPeriod, CmbFuelType, EditFuelOfs, EditFuelKu})
        w->setMinimumWidth(140);

    BtnParamsWrite = Named(new QPushButton("Установить", TsSettings), "BtnParamsWrite");
    BtnSnapshots = Named(new QPushButton("Снимки...", TsSettings), "BtnSnapshots");
    auto* buttons = new QHBoxLayout();
    buttons->addWidget(BtnParamsWrite);
    buttons->addWidget(BtnSnapshots);
    buttons->addStretch(1);

    auto* page = new QVBoxLayout(TsSettings);
    auto* columns = new QHBoxLayout();
    auto* left = new QVBoxLayout();
    left->addWidget(GbInfo);
    left->addStretch(1);
    auto* right = new QVBoxLayout();
    right->addWidget(GbParams);
    right->addWidget(GbFuelType);
    columns->addLayout(left, 1);
    columns->addLayout(right, 1);
    page->addLayout(columns);
    page->addLayout(buttons);
    page->addStretch(1);
}

void MainWindow::ConnectTareSettingsPages() {
    connect(BtnHubTareTable, &QPushButton::clicked, this, [this] { BtnHubTareTableClick(); });
    connect(CmbHubTankID, &QComboBox::activated, this, [this] { CmbHubTankIDChange(); });
    connect(BtnHubTareSet, &QPushButton::clicked, this, [this] { BtnHubTareSetClick(); });
    connect(BtnTanksImp, &QPushButton::clicked, this, [this] { BtnTanksImpClick(); });
    connect(BtnTanksExp, &QPushButton::clicked, this, [this] { BtnTanksExpClick(); });
    connect(CmbFuelType, &QComboBox::activated, this, [this] { CmbFuelTypeChange(); });
    connect(BtnParamsWrite, &QPushButton::clicked, this, [this] { BtnParamsWriteClick(); });
    connect(BtnSnapshots, &QPushButton::clicked, this, [this] { BtnSnapshotsClick(); });
}

void MainWindow::BtnSnapshotsClick() {
    if (!snapshotDialog_) {
        snapshotDialog_ = new SnapshotDialog(
            SnapshotStore(setup_.snapshotFolder), *prompter_, texts_,
            [this](const std::filesystem::path& file, bool settings) {
                // After a compare or restore the page shown reads the device anew.
                if (setup_.requestSnapshot)
                    setup_.requestSnapshot(file, settings, PageReadCode());
            },
            [this](int code) { PostDeviceAction(code); }, this);
        if (language_) {
            ApplyCaptions(snapshotDialog_, *language_, CaptionSet::SubWindow);
            ApplyWindowCaption(snapshotDialog_, *language_, SnapshotWindowKey);
        }
    } else {
        snapshotDialog_->Refresh();
    }
    snapshotDialog_->show();
    snapshotDialog_->raise();
}

void MainWindow::CmbFuelTypeChange() {
    const int index = CmbFuelType->currentIndex();
    Put(params_.FuelType, index);
    SetFuelEditsEnabled(index == 0);
}

void MainWindow::SetFuelEditsEnabled(bool userDefined) {
    for (QWidget* w :
         std::initializer_list<QWidget*>{EditFuelKu, EditFuelOfs, LblFuelKu, LblFuelOfs})
        w->setEnabled(userDefined);
}

void MainWindow::BtnParamsWriteClick() {
    // The coefficient is checked first, so only its message shows when both are wrong.
    const auto coef = FuelFieldValue(EditFuelKu);
    if (!coef) {
        prompter_->Error(Text(msg::ThermoWrong));
        return;
    }
    const auto speed = FuelFieldValue(EditFuelOfs);
    if (!speed) {
        prompter_->Error(Text(msg::SoundSpeedWrong));
        return;
    }
    Put(params_.FuelTempCoef, *coef);
    Put(params_.FuelSoundSpeed, *speed);
    PostCommand(20);
}

} // namespace vq31::app
