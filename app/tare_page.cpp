// The tare page: hub version, tank preset, tare table length, tank height and output scale,
// the tare table window, writing the hub configuration, and the tank-list workbooks.
#include "main_window.h"
#include "page_parts.h"

#include "checked_spin_box.h"
#include "command_parameters.h"
#include "hub_image.h"
#include "language_file.h"
#include "language_texts.h"
#include "window_words.h"
#include "worker_view.h"
#ifdef VQ31_HAVE_TARE_UI
#include "profile_file.h"
#include "tare_editor.h"
#include "tare_window_extras.h"
#endif
#ifdef VQ31_HAVE_SHEETS
#include "exchange.h"
#endif

#include <QLocale>

#include <memory>

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

namespace vq31::app {

namespace {
constexpr int TankHeightMin = 100, TankHeightMax = 6500;
// The filters' names in the window's language; the first pattern is the format a name typed
// without an extension gets.
QString WorkbookFilterOf(const MainWindow& w) {
    return w.Word(word::FilterExcel.key, word::FilterExcel.text) +
           QStringLiteral(" (*.xlsx *.xls)");
}
// Opening shows every format the import reads first, the two Excel ones as a choice.
QString OpenWorkbookFilterOf(const MainWindow& w) {
    return w.Word(word::FilterWorkbooks.key, word::FilterWorkbooks.text) +
           QStringLiteral(" (*.xlsx *.xls *.ods *.csv);;") + WorkbookFilterOf(w);
}

#ifdef VQ31_HAVE_TARE_UI
// The report dialog's values of the last report, in the settings file's own section. A
// settings value is one line: line breaks of the notes are kept as "\n", a backslash as "\\".
constexpr std::string_view ReportSection = "REPORT";

std::string EscapeLine(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c != '\r') {
            out += c;
        }
    }
    return out;
}

std::string UnescapeLine(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            out += text[i + 1] == 'n' ? '\n' : text[i + 1];
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

TareEditor::ReportFields LoadReportFieldsFrom(const QString& settingsPath) {
    const ProfileFile file = ProfileFile::Load(settingsPath.toStdString());
    TareEditor::ReportFields fields;
    for (const char* name : report::FieldNames)
        fields[name] = UnescapeLine(file.ReadString(ReportSection, name, ""));
    return fields;
}

// The link settings and every other line of the file stay as they are.
void SaveReportFieldsTo(const QString& settingsPath, const TareEditor::ReportFields& fields) {
    ProfileFile file = ProfileFile::Load(settingsPath.toStdString());
    for (const auto& [name, value] : fields)
        file.SetString(ReportSection, name, EscapeLine(value));
    file.Save();
}
#endif
} // namespace

void MainWindow::BuildTarePage() {
    TsTara = Named(new QWidget(), "TsTara");
    PcMain->addTab(TsTara, "Тарирование");

    GbTara = Named(new QGroupBox("Тарирование", TsTara), "GbTara");
    LblHubVer = Named(new QLabel("Версия хаба:", GbTara), "LblHubVer");
    EditHubVersion = Named(new QLineEdit(GbTara), "EditHubVersion");
    EditHubVersion->setReadOnly(true);
    LblHubTankID = Named(new QLabel("Тип бака:", GbTara), "LblHubTankID");
    CmbHubTankID = Named(new QComboBox(GbTara), "CmbHubTankID");
    BtnHubTareTable = Named(new QPushButton("Таблица", GbTara), "BtnHubTareTable");
    LblHubTableLen = Named(new QLabel("Кол-во записей:", GbTara), "LblHubTableLen");
    EditHubTableLen = Named(new QLineEdit(GbTara), "EditHubTableLen");
    EditHubTableLen->setReadOnly(true);
    LblHubTankHeight = Named(new QLabel("Высота бака, мм:", GbTara), "LblHubTankHeight");
    SpinHubTankHeight = Named(new CheckedSpinBox(GbTara), "SpinHubTankHeight");
    SpinHubTankHeight->setRange(TankHeightMin, TankHeightMax);
    SpinHubTankHeight->setValue(TankHeightMin);
    LblHubMlPerBit = Named(new QLabel("Выдача в литрах:", GbTara), "LblHubMlPerBit");
    CmbHubMlPerBit = Named(new QComboBox(GbTara), "CmbHubMlPerBit");
    BtnHubTareSet = Named(new QPushButton("Установить", GbTara), "BtnHubTareSet");
    for (QWidget* w : std::initializer_list<QWidget*>{EditHubVersion, CmbHubTankID, EditHubTableLen,
                                                      SpinHubTankHeight, CmbHubMlPerBit})
        w->setMinimumWidth(140);
    auto* grid = new QGridLayout(GbTara);
    grid->addWidget(LblHubVer, 0, 0);
    grid->addWidget(EditHubVersion, 0, 1);
    grid->addWidget(LblHubTankID, 1, 0);
    grid->addWidget(CmbHubTankID, 1, 1);
    grid->addWidget(BtnHubTareTable, 1, 2);
    grid->addWidget(LblHubTableLen, 2, 0);
    grid->addWidget(EditHubTableLen, 2, 1);
    grid->addWidget(LblHubTankHeight, 3, 0);
    grid->addWidget(SpinHubTankHeight, 3, 1);
    grid->addWidget(LblHubMlPerBit, 4, 0);
    grid->addWidget(CmbHubMlPerBit, 4, 1);
    grid->addWidget(BtnHubTareSet, 5, 1);
    grid->setColumnStretch(3, 1);

    GbExcelImpExp = Named(new QGroupBox("Импорт/экспорт списка предустановленных баков", TsTara),
                          "GbExcelImpExp");
    BtnTanksImp = Named(new QPushButton("Импорт списка", GbExcelImpExp), "BtnTanksImp");
    BtnTanksExp = Named(new QPushButton("Экспорт списка", GbExcelImpExp), "BtnTanksExp");
    auto* row = new QHBoxLayout(GbExcelImpExp);
    row->addWidget(BtnTanksImp);
    row->addWidget(BtnTanksExp);
    row->addStretch(1);

    auto* page = new QVBoxLayout(TsTara);
    page->addWidget(GbTara);
    page->addWidget(GbExcelImpExp);
    page->addStretch(1);
}

QString MainWindow::SuggestedName(const QString& filter) const {
    return SuggestedFileName(passportSeen_ ? std::optional<uint32_t>(passportSeen_->serialNumber)
                                           : std::nullopt,
                             Get(params_.TankId), QDate::currentDate(), DefaultSuffixOf(filter));
}

void MainWindow::BtnHubTareTableClick() {
#ifdef VQ31_HAVE_TARE_UI
    const bool readOnly = Get(params_.TankId) != CalibratedTankId;
    TareEditor editor(
        hub_.currentTank, texts_, readOnly, [this](int code) { PostCommand(code); }, this);
    editor.setObjectName("Form_Tare1");
    editor.SetLanguageFile(language_.get());
    editor.SetErrorBox([this](const QString& text) { prompter_->Error(text); });
    editor.SetInfoBox([this](const QString& text) { prompter_->Information(text); });
    // The sensor holds the record when the image to write is the one last read back.
    editor.SetSensorHoldsRecord([this] { return deviceHub_.has_value() && !HubUnwritten(); });
    editor.SetQuestion([this](const QString& text) { return prompter_->Question(text); });
    editor.SetFileChooser([this](bool forSaving) {
        return forSaving ? prompter_->ChooseSaveFileNamed(WorkbookFilterOf(*this),
                                                          SuggestedName(WorkbookFilterOf(*this)))
                         : prompter_->ChooseOpenFile(OpenWorkbookFilterOf(*this));
    });
    editor.SetSaveChooser([this](const QString& filter) {
        return prompter_->ChooseSaveFileNamed(filter, SuggestedName(filter));
    });
    editor.SetTankId(Get(params_.TankId));
    editor.SetTankHeight(SpinHubTankHeight->value());
    editor.SetDeviceInfo([this]() -> std::optional<report::ReportDevice> {
        if (!passportSeen_)
            return std::nullopt;
        auto device =
            report::DeviceFromPassport(passportSeen_->date, passportSeen_->serialNumber,
                                       passportSeen_->model, passportSeen_->firmwareVersion);
        device.model = "VQ" + device.model; // model code 31 is the VQ31
        return device;
    });
    editor.SetReportStore([this] { return LoadReportFieldsFrom(setup_.settingsPath); },
                          [this](const TareEditor::ReportFields& fields) {
                              SaveReportFieldsTo(setup_.settingsPath, fields);
                          });
    // Tooltips, the remembered portion and settle time, and the model named as the sensor's.
    SetTareButtonTips(editor,
                      [this](const char* key, const char* builtIn) { return Word(key, builtIn); });
    RestoreTareFields(editor, setup_.settingsPath);
    if (onTareWindow)
        onTareWindow(editor);
    // The level poll reaches the window through TareWindow while it is shown; the editor
    // posts code 22 before showing and after closing, with TareWindowOpen set around it.
    TareWindow = &editor;
    const int result = editor.RunModal([this](int32_t open) { Put(params_.TareWindowOpen, open); });
    TareWindow = nullptr;
    KeepTareFields(editor, setup_.settingsPath);
    EditHubTableLen->setText(QString::number(hub_.currentTank.RowCount));
    if (result == QDialog::Accepted)
        KeepStoredTable();
#else
    // Without the tare window the device is still told it opened and closed.
    Put(params_.TareWindowOpen, 1);
    PostCommand(22);
    EditHubTableLen->setText(QString::number(hub_.currentTank.RowCount));
    Put(params_.TareWindowOpen, 0);
    PostCommand(22);
#endif
}

void MainWindow::ShowLevel(bool hasLevel, const QString& text, uint32_t barHeight,
                           std::optional<uint16_t> levelCode) {
#ifdef VQ31_HAVE_TARE_UI
    if (TareWindow)
        TareWindow->ShowLevel(hasLevel, text.toStdString(), barHeight, levelCode);
#else
    (void)hasLevel, (void)text, (void)barHeight, (void)levelCode;
#endif
}

void MainWindow::ShowHubData(const HubView& v) {
    if (!v.valid) {
        EditHubVersion->clear();
        EditHubTableLen->clear();
        CmbHubTankID->clear();
        for (QWidget* w : std::initializer_list<QWidget*>{
                 EditHubVersion, CmbHubTankID, BtnHubTareTable, EditHubTableLen, SpinHubTankHeight,
                 CmbHubMlPerBit, BtnHubTareSet})
            w->setEnabled(false);
        return;
    }
    EditHubVersion->setText(QString::fromStdString(v.version));
    // Shown last: the mark compares the page's controls with what the sensor holds.
    struct NoteAfter {
        MainWindow* window;
        ~NoteAfter() { window->NoteHubShown(); }
    } noteAfter{this};
    CmbHubTankID->clear();
    for (uint16_t id : v.tankIds)
        CmbHubTankID->addItem(QString::number(id));
    CmbHubTankID->setCurrentIndex(v.selectedIndex < CmbHubTankID->count() ? v.selectedIndex : -1);
    SpinHubTankHeight->setValue(int(v.heightMm));
    if (v.tableLength)
        EditHubTableLen->setText(QString::number(*v.tableLength));
    CmbHubMlPerBit->setCurrentIndex(v.mlPerBitIndex < CmbHubMlPerBit->count() ? v.mlPerBitIndex
                                                                              : -1);
}

void MainWindow::CmbHubTankIDChange() {
    const auto id = IntegerOf(CmbHubTankID->currentText());
    if (!id)
        return;
    Put(params_.TankId, *id);
    PostCommand(24);
}

void MainWindow::BtnHubTareSetClick() {
    if (ConfirmHubWrite())
        PostCommand(25);
}

void MainWindow::KeepStoredTable() {
    // A table stored with OK goes into tank 1's entry of the image in memory at once, so that
    // viewing another preset does not drop it; the write sends that image.
    if (Get(params_.TankId) == CalibratedTankId) {
        if (const auto entry = HubFindEntry(hub_.hubBuffer, CalibratedTankId)) {
            TankRecord tank = hub_.currentTank;
            if (tank.Scale == 0)
                tank.Scale = 1;
            RecordToEntry(tank, hub_.hubBuffer, *entry);
        }
    }
    UpdateUnwrittenMark();
}

void MainWindow::BtnTanksImpClick() {
    const QString file = prompter_->ChooseOpenFile(OpenWorkbookFilterOf(*this));
    if (file.isEmpty())
        return;
#ifdef VQ31_HAVE_SHEETS
    // A workbook without a single tank sheet would reset every preset: asked first.
    // Each sheet's table passes through a record of its own: CurrentTank holds tank 1's
    // working copy, which the import keeps.
    auto scratch = std::make_unique<TankRecord>();
    const auto result =
        sheets::ImportTankList(hub_.hubBuffer, *scratch, file.toStdString(),
                               QString(QLocale::system().decimalPoint()).toStdString(),
                               [this] { return prompter_->Question(Text(msg::NoTankSheets)); });
    // The fixed text first, why on the next line.
    const sheets::ReasonText why = sheets::ReadReasonText(result.reason);
    if (!result.message.empty() && !why.key.empty())
        prompter_->Error(QString::fromStdString(result.message) + "\n" +
                         QString::fromStdString(Language() ? Language()->Text(why.key, why.builtIn)
                                                           : std::string(why.builtIn)));
    else if (!result.message.empty())
        prompter_->Error(QString::fromStdString(result.message));
    else {
        listImported_ = true;
        ShowResult(Word(word::ListImported.key, word::ListImported.text).arg(file));
    }
    // Rows over the limits are left out, as the workbook rules say; the user is told which.
    if (!result.leftOut.empty()) {
        QStringList lines;
        for (const std::string& line : result.leftOut)
            lines << QString::fromStdString(line);
        prompter_->Information(Text(msg::RowsLeftOut).arg(lines.join(QStringLiteral("\n"))));
    }
#endif
    // The view is refreshed from memory whatever the import did.
    PostCommand(24);
}

void MainWindow::BtnTanksExpClick() {
    const QString file = prompter_->ChooseSaveFileNamed(WorkbookFilterOf(*this),
                                                        SuggestedName(WorkbookFilterOf(*this)));
    if (file.isEmpty())
        return;
#ifdef VQ31_HAVE_SHEETS
    const auto result = sheets::ExportTankList(hub_.hubBuffer, file.toStdString());
    if (!result.message.empty())
        prompter_->Error(QString::fromStdString(result.message));
    else
        ShowResult(Word(word::ListExported.key, word::ListExported.text).arg(file));
#endif
}

} // namespace vq31::app
