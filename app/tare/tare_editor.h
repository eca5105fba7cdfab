// The tare table window (TForm_Tare1): shows the selected tank's tare table as a grid, builds
// it by pouring or draining measured portions while the live level is shown beside it, takes
// typed rows through the add-row dialog, deletes rows, exchanges the table with a workbook,
// and on OK stores the grid into the tank record it was given. Beside the grid it draws the
// curve with the live level, shows the table checks against each row, tells on the add
// button whether the level has settled, and writes telematics pairs and the calibration
// report. The grid rules themselves live in the calibration library (tare_grid.h,
// tare_record.h, tare_check.h, settle.h); this window only shows them.
#pragma once

#include "hub_image.h"
#include "settle.h"
#include "tank_calculation.h"
#include "tare_check.h"
#include "tare_grid.h"
#include "tare_report.h"

#include <QDialog>
#include <QString>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

class QAction;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;
class QTimer;
class QToolButton;

namespace vq31 {

class LanguageFile;
class LanguageTexts;
class TarePlotWidget;

class TareEditor : public QDialog {
    Q_OBJECT
public:
    // tank: the working copy of the selected tank (CurrentTank); it changes only on OK.
    // readOnlyTable: OK stays disabled (every tank but tank 1). postCommand hands a worker
    // command code to the worker; RunModal uses it to switch the device's tare mode.
    TareEditor(TankRecord& tank, const LanguageTexts& texts, bool readOnlyTable,
               std::function<void(int)> postCommand, QWidget* parent = nullptr);
    ~TareEditor() override;

    // Texts and captions from the language file, applied whenever the window is shown. Without
    // a file the texts of LanguageTexts that carry a tare key are used, else the built-in ones.
    void SetLanguageFile(const LanguageFile* language);
    const LanguageFile* LanguageSource() const { return language_; }

    // The opening round of the tare page: setTareWindowOpen(1) and code 22 before the window
    // is shown, the modal showing, setTareWindowOpen(0) and code 22 after it has closed.
    int RunModal(const std::function<void(int32_t)>& setTareWindowOpen);

    // Live level from the level poll. hasLevel false shows the text (normally "No Data")
    // with an empty bar; barHeight is in pixels, 20 mm each. The level code (tenths of a
    // millimetre) feeds the settle detection and the curve's marker; without it the whole
    // millimetres of the text are used.
    void ShowLevel(bool hasLevel, const std::string& text, uint32_t barHeight,
                   std::optional<uint16_t> levelCode = std::nullopt);
    // The same from a level code in tenths of a millimetre (nullopt: no level available).
    void ShowLevelCode(std::optional<uint16_t> levelCode);

    // The one way a pair enters the grid; a refused pair shows its message. True when taken.
    bool InsertTareRow(double litres, int millimetres);

    // Handlers, public so that the opener and tests can drive them.
    void AddCalibrationPoint(); // btn_add
    void DeleteSelectedRows();  // Menu_Rem, spd_del
    void OpenAddRowDialog();    // Menu_Add, spd_add
    void ImportFromWorkbook();  // Menu_Excel_Imp, spd_imp: asks for a file
    void ExportToWorkbook();    // Menu_Excel_Exp, spd_exp: asks for a file
    void ImportFile(const QString& path);
    void ExportFile(const QString& path);
    void Accept(); // btn_OK
    // btn_shape: the table from the tank's dimensions (shape dialog); its rows replace the
    // grid's. The computation is remembered for the report as long as the grid keeps it.
    void OpenShapeDialog();
    void FillFromShape(const ShapeCalculation& calculation);
    std::optional<ShapeCalculation> ShapeSource() const;
    using ShapeAsker = std::function<std::optional<ShapeCalculation>()>;
    void SetShapeAsker(ShapeAsker asker) { shapeAsker_ = std::move(asker); }

    // The tank the table belongs to, for the gap check and the report: its height in
    // millimetres (0: unknown) and its id.
    void SetTankHeight(double millimetres);
    void SetTankId(int id) { tankId_ = id; }

    // The checks of the table as shown now, and whether a row's point was taken before the
    // level had settled.
    const std::vector<TareIssue>& Issues() const { return issues_; }
    bool TakenUnsettled(int gridRow) const;
    // Whether the level has kept within 0.5 mm for the settle time (field edit_settle).
    bool LevelSettled() const;

    // Telematics pairs: Menu_Csv_Exp and spd_csv ask for a file; the separator comes from
    // cmb_csv_separator. True when written.
    void ExportTelematics();
    bool ExportTelematicsFile(const QString& path, char separator);
    // Calibration report: btn_report and Menu_Report ask for the particulars (remembered
    // through the report store) and a file, and write the PDF. The passport comes from
    // the device information the opener gives; without it the report is refused.
    void OpenReportDialog();
    using ReportFields = std::map<std::string, std::string>;
    bool WriteReportFile(const QString& path, const ReportFields& fields);

    const TareGrid& Grid() const { return grid_; }

    // The grid as OK would store it (at most 50 rows, refused values refused) and where that
    // table stands: stored and on the sensor, stored but not written, or not stored at all.
    // The telematics file and the report are made from it. nullopt when the store refuses
    // (its message shown) or the user keeps the table uncut.
    struct StoredTable {
        TankRecord record;
        report::TableState state = report::TableState::OnSensor;
    };
    std::optional<StoredTable> TableAsStored();
    // The decimal separator of the user's regional settings, used for every number text.
    const std::string& DecimalPoint() const { return decimalPoint_; }

    // Message boxes and file choices go through these, so that tests can answer them. An
    // error box returns when closed; a question returns true for Yes.
    using ErrorBox = std::function<void(const QString&)>;
    using Question = std::function<bool(const QString&)>;
    using FileChooser = std::function<QString(bool forSaving)>;
    void SetErrorBox(ErrorBox box) { errorBox_ = std::move(box); }
    // The word after a file was written or read (tests answer it; unset: nothing shown).
    void SetInfoBox(ErrorBox box) { infoBox_ = std::move(box); }
    // Whether the sensor holds the tank record as it stands now (its table written and read
    // back); unset: not known, so the table counts as not written.
    void SetSensorHoldsRecord(std::function<bool()> holds) { sensorHolds_ = std::move(holds); }
    void SetQuestion(Question question) { question_ = std::move(question); }
    void SetFileChooser(FileChooser chooser) { fileChooser_ = std::move(chooser); }
    // The file to save a telematics file or a report to, for a file-dialog filter.
    using SaveChooser = std::function<QString(const QString& filter)>;
    void SetSaveChooser(SaveChooser chooser) { saveChooser_ = std::move(chooser); }
    using DeviceInfo = std::function<std::optional<report::ReportDevice>()>;
    void SetDeviceInfo(DeviceInfo info) { deviceInfo_ = std::move(info); }
    // Loads and saves the particulars of the last report; the dialog asker shows the report
    // dialog (tests answer it) and gives the values typed, or nothing when cancelled.
    void SetReportStore(std::function<ReportFields()> load,
                        std::function<void(const ReportFields&)> save) {
        loadReportFields_ = std::move(load);
        saveReportFields_ = std::move(save);
    }
    using ReportAsker = std::function<std::optional<ReportFields>(const ReportFields&)>;
    void SetReportAsker(ReportAsker asker) { reportAsker_ = std::move(asker); }
    void ShowError(const QString& text) const;

    // A window text by key: language file, then LanguageTexts, then the built-in text.
    QString Text(std::string_view key, std::string_view builtIn) const;
    // The error a report without the sensor's passport gets.
    QString NoPassportText() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void BuildControls();
    void ApplyLanguage();
    void LoadFromTank();
    void RefreshTable();
    void SelectRow(int gridRow);
    bool Report(const TareOutcome& outcome);
    void ShowInfo(const QString& text) const;
    // The word after a file was written from a stored table, with the table's state.
    void ShowWritten(const QString& path, report::TableState state) const;
    void RefreshChecks();
    void UpdateSettleState();
    void ReadSettleWindow();
    report::TextLookup ReportText() const;
    QPushButton* AddShapeButton(QWidget* parent);

    TankRecord& tank_;
    const LanguageTexts& texts_;
    const LanguageFile* language_ = nullptr;
    bool readOnlyTable_;
    std::function<void(int)> postCommand_;
    std::string decimalPoint_;
    TareGrid grid_;

    ErrorBox errorBox_;
    ErrorBox infoBox_;
    std::function<bool()> sensorHolds_;
    Question question_;
    FileChooser fileChooser_;
    SaveChooser saveChooser_;
    DeviceInfo deviceInfo_;
    std::function<ReportFields()> loadReportFields_;
    std::function<void(const ReportFields&)> saveReportFields_;
    ReportAsker reportAsker_;
    ShapeAsker shapeAsker_;
    std::optional<ShapeCalculation> shapeSource_;
    std::vector<std::vector<std::string>> shapeTexts_; // the grid as the shape filled it

    double tankHeightMm_ = 0.0;
    int tankId_ = 1;
    std::vector<TarePoint> points_;
    std::vector<TareIssue> issues_;
    SettleDetector settle_;
    std::optional<double> liveMm_;
    // (litres, level) texts of the rows whose point was taken before the level settled.
    std::set<std::pair<std::string, std::string>> unsettled_;

    QGroupBox* gbTare_ = nullptr;
    QLineEdit* editAccuracy_ = nullptr;
    QLineEdit* editPortion_ = nullptr;
    QPushButton* btnAdd_ = nullptr;
    QLineEdit* editSettle_ = nullptr;
    QTimer* settleTimer_ = nullptr;
    QComboBox* cmbSeparator_ = nullptr;
    QPushButton* btnReport_ = nullptr;
    TarePlotWidget* plot_ = nullptr;
    QTableWidget* table_ = nullptr;
    QFrame* shapeBox_ = nullptr;
    QFrame* shapeFuel_ = nullptr;
    QLabel* lblFuel_ = nullptr;
    QLabel* lblMax_ = nullptr;
    QLabel* lblMin_ = nullptr;
    QPushButton* btnOk_ = nullptr;
    QPushButton* btnCancel_ = nullptr;
};

} // namespace vq31
