// The main window: the page control with the program, oscilloscope, tare and settings pages
// over a two-panel status bar. Every control carries its component name as objectName (the
// language file's keys). Handlers store values in CommandParameters and post a command code;
// results come back through the window steps that the worker calls (QtWorkerView).
#pragma once

#include "census.h"
#include "prompter.h"
#include "worker_view.h"

#include <QLocale>
#include <QMainWindow>
#include <QPointer>
#include <QString>

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QTimer;
class QPushButton;
class QSlider;
class QSpinBox;
class QTabWidget;
class QTableWidget;
class QToolButton;

namespace vq31 {
struct CommandParameters;
class LanguageTexts;
class LanguageFile;
struct HubRecords;
struct HubView;
struct TankRecord;
class TareEditor;
class LinkMonitor;
} // namespace vq31

namespace vq31::app {

class EchoChart;
class TrafficWindow;

// The user's number format without digit grouping, for the fuel numbers.
QLocale FuelNumberLocale();
// Shows a fuel number read from the device with three decimals and remembers the exact value.
void ShowFuelNumber(QLineEdit* edit, float value);
// The number a fuel field stands for: the exact device value while the field still shows the
// text it was given, else the parsed text (nothing when that is not a number). Three decimals
// would otherwise round a small coefficient such as 0.00083 to 0.001 on every write.
std::optional<float> FuelFieldValue(const QLineEdit* edit);

// The window's design sizes and resize limits (outer window size).
inline constexpr int DesignClientWidth = 792;
inline constexpr int DesignClientHeight = 780;
inline constexpr int MinWindowWidth = 809;
inline constexpr int MinWindowHeight = 400;
// Chart placement on the oscilloscope page: top edge, and client height minus chart height.
inline constexpr int ChartTop = 222;
inline constexpr int ChartHeightReserve = 269;

// Pages of PcMain and the command codes that load them.
enum MainPage { PageProgram = 0, PageOscill = 1, PageTara = 2, PageSettings = 3 };

// Where the window finds its files and how it reaches the worker. Tests leave the worker out
// and watch the posted codes instead.
struct WindowSetup {
    QString settingsPath; // the settings file
    QString languagePath; // the language file
    // Where a missing language file was looked for, for the notice that says so (empty: the
    // language path alone).
    QStringList languagePlaces;
    // Starts the worker when the window is first shown; returns the poster of command codes.
    std::function<std::function<void(int)>()> startWorker;
    // Stops the worker (and the link); run before the window's controls go away.
    std::function<void()> stopWorker;
    // Every posted code is also reported here (tests, status).
    std::function<void(int)> postObserver;
    // Start values from the command line, applied after the settings file as if chosen.
    std::optional<QString> startPort;
    std::optional<int> startBaud;
    std::optional<int> startAddress;
    // The snapshot folder shown by the snapshot window, and the hand-over of its choice
    // (file, settings too) to the worker before codes 26 and 27 are posted.
    std::filesystem::path snapshotFolder;
    std::function<void(const std::filesystem::path&, bool, int)> requestSnapshot;
    // A write transaction runs; asking it to stop makes it finish or put back and say which.
    std::function<bool()> writeInProgress;
    std::function<void()> stopWrite;
    // The page code the worker posts after reconnecting (code 28).
    std::function<void(int)> requestReconnect;
    // The hand-over of the census range and speeds (code 29) and of the sensor to move
    // (code 30: old address, new address, speed) to the worker before the code is posted.
    std::function<void(const CensusOptions&)> requestCensus;
    std::function<void(uint8_t, uint8_t, uint32_t)> requestReaddress;
    // How often an unplugged port is looked for.
    int portReturnCheckMs = 1000;
};

class SnapshotDialog;
class CheckedSpinBox;
class SensorPanel;

// What the sensor holds of the tare page's data as far as the window knows (read, or written
// and read back): the hub image, the active tank and the tank height.
struct DeviceHubCopy {
    std::vector<uint8_t> image;
    int32_t tankId = 0;
    uint32_t heightMm = 0;
    bool operator==(const DeviceHubCopy&) const = default;
};

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    MainWindow(CommandParameters& params, LanguageTexts& texts, HubRecords& hub, WindowSetup setup,
               QWidget* parent = nullptr);
    ~MainWindow() override;

    // The window's boxes and file dialogs; tests replace them with a script.
    void SetPrompter(Prompter* prompter) { prompter_ = prompter; }
    Prompter& Boxes() { return *prompter_; }

    // Hands a code to the worker (and the observer).
    void PostCommand(int code);

    // The link's trace, shown by the traffic window (opened with BtnTraffic).
    void SetTrafficMonitor(std::shared_ptr<LinkMonitor> monitor);
    // Opens (or raises) the traffic window; null when no monitor was given.
    TrafficWindow* OpenTrafficWindow();

    // Start-up steps run on the first show, in this order; public so tests can run them
    // without a shown window.
    void FormShow();
    // Stops the worker first, then lets the controls go. Safe to call twice.
    void StopWorker();

    // Settings and language files.
    void LoadSettings();
    void SaveSettings();
    void ApplyFoundLink();
    // The worker found or changed the link: store speed and address, then ApplyFoundLink.
    void ApplyFoundLink(int baudRate, int address);
    void LoadLanguage();
    void FillPortList();

    // The open port's adapter was unplugged: watch for the same name to come back, then
    // show BtnReconnect, whose click opens the port again and re-reads the page.
    void PortVanished(const QString& port);
    void Reconnect();
    // Posts a device action from a side window (snapshot compare or restore); refused with a
    // message while a job holds the controls. True when posted.
    bool PostDeviceAction(int code);
    // The code that reads the page shown anew (4, 21, 19; 0 on the program page).
    int PageReadCode() const;
    const QString& VanishedPort() const { return vanishedPort_; }

    // Page control rules.
    void SetMainPage(int index); // from code: no change handler runs
    bool MainPagesLocked() const { return mainPagesLocked_; }
    void SetMainPagesLocked(bool on) { mainPagesLocked_ = on; }
    bool TuningPagesLocked() const { return tuningPagesLocked_; }
    void SetTuningPagesLocked(bool on) { tuningPagesLocked_ = on; }
    uint32_t BarAdvanceTime() const { return barAdvanceTime_; }
    void SetBarAdvanceTime(uint32_t tick) { barAdvanceTime_ = tick; }
    // True when a window of this outer size may be shown.
    static bool CanResize(int width, int height) {
        return width >= MinWindowWidth && height >= MinWindowHeight;
    }

    // Window-thread steps shared by several jobs.
    void ShowPortStatus(int portState);
    void ShowDeviceStatus(int status);
    void LockControls();
    void UnlockControls(int32_t tankId);
    void SetBusyCursor(bool busy);
    void SetFuelEditsEnabled(bool enabled);
    void ShowHubData(const HubView& view);
    // Live level of the open tare window; nothing while none is open.
    void ShowLevel(bool hasLevel, const QString& text, uint32_t barHeight,
                   std::optional<uint16_t> levelCode = std::nullopt);
    const LanguageFile* Language() const { return language_.get(); }
    void SetLiveView(bool enabled);
    // The tuning step the device runs (1, 2; 0: none) explained under the tuning bar.
    void ShowTuneHint(int step);

    int PortNumberSetting() const { return portNumber_; }
    int BaudRateSetting() const { return baudRate_; }
    int AddressSetting() const { return address_; }

    CommandParameters& Params() { return params_; }
    LanguageTexts& Texts() { return texts_; }
    HubRecords& Hub() { return hub_; }
    EchoChart& Chart() { return *chart_; }
    QString Text(const char* key) const;

    // Controls, named as the components they stand for.
    QTabWidget* PcMain = nullptr;
    QLabel* StatusPanel0 = nullptr;
    QLabel* StatusPanel1 = nullptr;
    // A one-line notice after the two panels (a language file that was not found).
    QLabel* StatusNotice = nullptr;
    QPushButton* BtnReconnect = nullptr;
    // Program page.
    QWidget* TsProgram = nullptr;
    QGroupBox *GbLang = nullptr, *GbCom = nullptr;
    QLabel *LblLang = nullptr, *LblCom = nullptr, *LblBaud = nullptr, *LblAddr = nullptr;
    QComboBox *CmbLang = nullptr, *CmbCom = nullptr, *CmbBaud = nullptr;
    QLineEdit* EditAddr = nullptr;
    QToolButton *SbAddrUp = nullptr, *SbAddrDown = nullptr;
    QPushButton *BtnPortOpen = nullptr, *BtnPortClose = nullptr, *BtnSearchDevice = nullptr;
    // Program page: the sensors on the line (census list) and moving one to a new address.
    QGroupBox* GbCensus = nullptr;
    QPushButton *BtnCensus = nullptr, *BtnCensusStop = nullptr, *BtnReaddress = nullptr;
    QCheckBox* ChkCensusAllSpeeds = nullptr;
    QProgressBar* PbCensus = nullptr;
    QLabel *LblCensus = nullptr, *LblNewAddr = nullptr;
    QLineEdit* EditNewAddr = nullptr;
    QTableWidget* GridCensus = nullptr;
    // Window steps of codes 29 and 30.
    void ShowCensusProgress(int percent, const QString& text);
    void ShowCensus(const CensusView& view);
    // Handlers: start and stop the census, choose a row (its speed and address become the
    // working ones), move the chosen row's sensor to EditNewAddr.
    void BtnCensusClick();
    void GridCensusChoose(int row);
    void BtnReaddressClick();
    // Oscilloscope page.
    QWidget* TsOscill = nullptr;
    QComboBox* CmbOscillMode = nullptr;
    QLabel *LblAuth = nullptr, *LblPos = nullptr, *LblFrame = nullptr, *LblUncorr = nullptr,
           *LblCorr = nullptr, *LblMm = nullptr, *LblTemp = nullptr;
    QLineEdit *EditAuth = nullptr, *EditPos = nullptr, *EditFrame = nullptr, *EditUncorr = nullptr,
              *EditCorr = nullptr, *EditMm = nullptr, *EditTemp = nullptr;
    QLabel *LblCurr = nullptr, *LblSet = nullptr, *LblMax = nullptr;
    QLabel *LblKuStr = nullptr, *LblKu = nullptr, *LblAttenStr = nullptr, *LblAtten = nullptr;
    QComboBox *CmbKu = nullptr, *CmbKuMax = nullptr, *CmbAtten = nullptr;
    QTabWidget* PcPulse = nullptr;
    QWidget *TsPulse = nullptr, *TsFiltr = nullptr, *TsIntegrator = nullptr, *TsAfc = nullptr,
            *TsAuto = nullptr, *TsDsplTest = nullptr;
    QLabel *LblFreqStr = nullptr, *LblFreq = nullptr, *LblPulseStr = nullptr, *LblPulse = nullptr;
    QSlider *TbFreq = nullptr, *TbPulse = nullptr, *TbFiltr = nullptr;
    QLineEdit *EditFreq = nullptr, *EditPulse = nullptr;
    QPushButton *BtnFreq = nullptr, *BtnPulse = nullptr;
    QLabel *LblFiltrStr = nullptr, *LblFiltr = nullptr;
    QComboBox* CmbFiltr = nullptr;
    QGroupBox* GbIntegrator = nullptr;
    QLabel *LblIntegrateDeadzone = nullptr, *LblIntegrateTreshold = nullptr;
    QLineEdit *EditIntegrateDeadzone = nullptr, *EditIntegrateTreshold = nullptr;
    QPushButton* BtnSetIntegrator = nullptr;
    QGroupBox* GbAfc = nullptr;
    QLabel *LblDAfc = nullptr, *LblAfcDeadZone = nullptr, *LblAfcBandwidth = nullptr;
    QLineEdit *EditDAfc = nullptr, *EditAfcDeadZone = nullptr, *EditAfcBandwidth = nullptr;
    QPushButton* BtnAFC = nullptr;
    QGroupBox* GbAutomat = nullptr;
    QToolButton *SbPre = nullptr, *SbAfc = nullptr;
    QLabel* LblDataInst = nullptr;
    QProgressBar* TbDataInst = nullptr;
    QGroupBox* GbDisplay = nullptr;
    QLabel *LblSegm1 = nullptr, *LblSegm2 = nullptr, *LblSegm3 = nullptr;
    std::array<QCheckBox*, 17> ChkTestDisplay{}; // indices 7 and 15 stay empty
    QToolButton *SbDplTestManual = nullptr, *SbDplTestAuto = nullptr;
    // Tare page.
    QWidget* TsTara = nullptr;
    QGroupBox *GbTara = nullptr, *GbExcelImpExp = nullptr;
    QLabel *LblHubVer = nullptr, *LblHubTankID = nullptr, *LblHubTableLen = nullptr,
           *LblHubTankHeight = nullptr, *LblHubMlPerBit = nullptr;
    QLineEdit *EditHubVersion = nullptr, *EditHubTableLen = nullptr;
    QComboBox *CmbHubTankID = nullptr, *CmbHubMlPerBit = nullptr;
    QSpinBox* SpinHubTankHeight = nullptr;
    QPushButton *BtnHubTareTable = nullptr, *BtnHubTareSet = nullptr, *BtnTanksImp = nullptr,
                *BtnTanksExp = nullptr;
    // Settings page.
    QWidget* TsSettings = nullptr;
    QGroupBox *GbInfo = nullptr, *GbParams = nullptr, *GbFuelType = nullptr;
    QLabel *LblDate = nullptr, *LblSN = nullptr, *LblModel = nullptr, *LblVer = nullptr,
           *LblRev = nullptr;
    QLineEdit *EditDate = nullptr, *EditSN = nullptr, *EditModel = nullptr, *EditVer = nullptr,
              *EditRev = nullptr;
    QLabel *LblBits = nullptr, *Lbl255Ans = nullptr, *LblPostFiltr = nullptr, *LblAddr2 = nullptr,
           *LblBaud2 = nullptr, *LblPeriod = nullptr;
    QComboBox *CmbBits = nullptr, *Cmb255Ans = nullptr, *CmbPostFiltr = nullptr,
              *CmbBaud2 = nullptr;
    QSpinBox *SpinAddr2 = nullptr, *RepAutoPeriod = nullptr;
    QCheckBox* RepAutoOn = nullptr;
    QLabel *LblFuelType = nullptr, *LblFuelOfs = nullptr, *LblFuelKu = nullptr;
    QComboBox* CmbFuelType = nullptr;
    QLineEdit *EditFuelOfs = nullptr, *EditFuelKu = nullptr;
    QPushButton* BtnParamsWrite = nullptr;
    QPushButton* BtnSnapshots = nullptr;

    // Handlers (program page).
    void CmbComChange();
    void CmbBaudChange();
    void EditAddrChange();
    void SbAddrUpClick();
    void SbAddrDownClick();
    void CmbLangChange();
    // Handlers (oscilloscope page).
    void CmbOscillModeChange();
    void TbFreqChange();
    void BtnFreqClick();
    void TbPulseChange();
    void BtnPulseClick();
    void TbFiltrChange();
    void CmbFiltrChange();
    void CmbKuChange();
    void CmbAttenChange();
    void BtnSetIntegratorClick();
    void BtnAFCClick();
    void SbPreClick();
    void SbAfcClick();
    void SbDplTestManualClick();
    void SbDplTestAutoClick();
    // Handlers (tare and settings pages).
    void BtnHubTareTableClick();
    void CmbHubTankIDChange();
    void BtnHubTareSetClick();
    void BtnTanksImpClick();
    void BtnTanksExpClick();
    void CmbFuelTypeChange();
    void BtnParamsWriteClick();
    void BtnSnapshotsClick();
    // The oscilloscope chart as a PNG picture and its points as CSV (BtnChartPng,
    // BtnChartCsv): ask for a file, report a failed write.
    void BtnChartPngClick();
    void BtnChartCsvClick();

    // The filter list index of a filter slider position (nearest item, ties upward).
    static int FilterIndex(int position);

    // The open tare window, reached by the live-level step; null while none is open.
    TareEditor* TareWindow = nullptr;
    // Called with the tare window just before it is shown (tests answer its boxes).
    std::function<void(TareEditor&)> onTareWindow;

    // --- Unwritten work, results and checks (window_guard.cpp) ---
    // A text of the window's own additions: the language file's, else the built-in one.
    QString Word(const char* key, const char* builtIn) const;
    // The worker finished the job of a code (its observer, marshalled to the window thread).
    // A write the window posted that ended without an error box gets its word of success.
    void JobFinished(int code);
    // The worker showed an error box or asked a question (QtWorkerView).
    void NoteWorkerBox() { ++workerBoxes_; }
    // The last word of success (or of nothing done) in the status bar.
    QLabel* StatusResult = nullptr;
    void ShowResult(const QString& text);
    // What a hub write would send now (image, tank, height), as the write job builds it.
    DeviceHubCopy HubToWrite() const;
    const std::optional<DeviceHubCopy>& DeviceHub() const { return deviceHub_; }
    // True when the tare page holds work the sensor does not have (a table stored with OK, an
    // imported tank list, a changed height or output unit).
    bool HubUnwritten() const;
    // Shows or hides the tare page's "not written" mark.
    void UpdateUnwrittenMark();
    QLabel* LblHubUnwritten = nullptr;
    // The program page's choice of the broadcast address 255 (the only way to reach it).
    QCheckBox* ChkAddrBroadcast = nullptr;

    // --- Progress of the long jobs (window_progress.cpp) ---
    // The sweep's stop button, its progress line (the device's present frequency) and the
    // caption that says the start and width are a distance window.
    QPushButton* BtnAfcStop = nullptr;
    QLabel* LblAfcProgress = nullptr;
    QLabel* LblAfcWindow = nullptr;
    QLabel* LblTuneHint = nullptr; // what the running tuning step does and how it ends
    // The search's cancel button; the status bar says which speed is tried.
    QPushButton* BtnSearchCancel = nullptr;
    bool Searching() const { return searching_; }
    bool Sweeping() const { return sweeping_; }
    // Window steps of the long jobs (from QtWorkerView and JobFinished).
    void ShowSweepPoint(uint32_t frequency);
    // The device status during a search names the speed tried; false when no search runs.
    bool ShowSearchStatus();
    // An error box of the worker: a search that found nothing adds the likely causes.
    QString ExplainError(const QString& text) const;
    void StopSweep();
    void CancelSearch();

    // The passport as the device last answered it (settings page read), for the calibration
    // report; none before the first read.
    struct PassportSeen {
        uint32_t date = 0, serialNumber = 0, model = 0, firmwareVersion = 0;
    };
    void RememberPassport(const PassportSeen& passport) {
        passportSeen_ = passport;
        UpdateSensorPassport();
    }
    // The program page's sensor panel (sensor_panel.h) and its updates.
    SensorPanel* GbSensor = nullptr;
    void UpdateSensorPassport();
    // The level last measured, with its litres from the active tank's table as read.
    void ShowSensorLevel(std::optional<double> millimetres);
    const std::optional<PassportSeen>& LastPassport() const { return passportSeen_; }

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::optional<PassportSeen> passportSeen_;
    // window_guard.cpp
    void BuildGuards();
    void RefuseRange(const QString& text, int minimum, int maximum);
    // The broadcast box follows a stored or found address 255; the address field is off
    // while it is checked.
    void SyncBroadcastBox();
    // Qt's own dialogs and buttons in the window's language (Debian's Qt translations).
    void InstallQtTranslation();
    // The file name a save dialog starts with, for its filter (SuggestedFileName).
    QString SuggestedName(const QString& filter) const;
    // Closing with unwritten work: write (true: the close waits for the write), discard, or
    // stay; false when the close goes on.
    bool KeepOpenForUnwritten();
    // The window's size and place: remembered in the settings file, and always inside the
    // screen's free area so the status bar stays visible.
    void PlaceOnScreen();
    void SaveGeometry();
    // PostCommand's bookkeeping: the writes awaiting their word, the hub view to come.
    void WatchWrite(int code);
    // The hub view was shown (ShowHubData): after a read it is what the sensor holds.
public:
    void NoteHubShown();

private:
    // The active tank's table from what the sensor holds, for the panel's litres.
    void TakeActiveTable();
    // Before a hub write: nothing changed says so (false), another active tank is asked.
    bool ConfirmHubWrite();
    bool listImported_ = false; // a tank list imported and not yet written
    bool searching_ = false;
    bool sweeping_ = false;
    void BuildProgress();
    void LongJobPosted(int code);
    void LongJobFinished(int code);
    std::shared_ptr<const TankRecord> activeTable_; // the sensor's active tank as read
    std::optional<double> sensorLevelMm_;
    // After the tare window's OK: the stored table into the image in memory.
    void KeepStoredTable();
    std::optional<DeviceHubCopy> deviceHub_;
    bool hubRefreshPending_ = false; // code 24 posted: its hub view is not a device read
    bool closeAfterWrite_ = false;
    uint64_t workerBoxes_ = 0;
    uint64_t boxesAtLastPost_ = 0;
    std::vector<std::pair<int, uint64_t>> watchedWrites_; // code, boxes when posted

    void BuildProgramPage();
    void BuildOscillPage();
    void BuildTarePage();
    void BuildSettingsPage();
    void ConnectProgramPage();
    void ConnectOscillPage();
    void ConnectTareSettingsPages();
    void RebuildLists();
    void ApplyStartOptions();
    void PcMainChange(int index);
    void StopPortWatch();
    void PlaceChart();
    void UpdateMinimumSize();
    // Converts a field's text with the standard conversion; on failure shows the conversion
    // message in an error box and returns nothing.
    std::optional<int32_t> IntegerOf(const QLineEdit* edit);
    std::optional<int32_t> IntegerOf(const QString& text);
    // True when the slider holds value; otherwise an error box names its range.
    bool WithinSlider(const QSlider* slider, int32_t value);
    // Toggle groups: at most one button down, both may be up.
    static void ReleaseOther(QToolButton* clicked, QToolButton* other);

    CommandParameters& params_;
    // The window was closed while a write ran: it closes once the write has ended.
    bool closeWhenWriteEnds_ = false;
    static constexpr int WriteEndCheckMs = 100;
    LanguageTexts& texts_;
    HubRecords& hub_;
    WindowSetup setup_;
    std::unique_ptr<QtPrompter> ownPrompter_;
    std::unique_ptr<LanguageFile> language_;
    Prompter* prompter_ = nullptr;
    std::function<void(int)> poster_;
    EchoChart* chart_ = nullptr;
    SnapshotDialog* snapshotDialog_ = nullptr;
    std::shared_ptr<LinkMonitor> trafficMonitor_;
    QPointer<TrafficWindow> traffic_;
    QTimer* portReturnWatch_ = nullptr;
    QString vanishedPort_; // empty: no port is watched for

    int32_t portNumber_ = 1;
    int32_t baudRate_ = 19200;
    int32_t address_ = 1;
    bool mainPagesLocked_ = false;
    bool tuningPagesLocked_ = false;
    uint32_t barAdvanceTime_ = 0;
    QString portName_; // the chosen port's name, kept in the settings file
    bool busyCursor_ = false;
    bool shown_ = false;
    bool stopped_ = false;
    bool pageByCode_ = false;
    int shownMainPage_ = 0;
    int shownPulsePage_ = 0;
    QString currentLanguage_;
    std::vector<CensusRowView> censusRows_; // the rows of GridCensus, in order
};

} // namespace vq31::app
