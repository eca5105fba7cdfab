// The seam between the command worker and the window. Every window-thread step of the jobs
// and every message box is one method here; the worker calls it on its own thread and the
// call returns only when the step has run (the Qt window marshals it with a blocking queued
// call, tests run it inline). Results travel in plain records, one call per refresh, so a
// chart series can be refilled in one go.
//
// Shutdown order for an implementation that marshals to another thread: first request the
// worker's stop, then make the view stop marshalling (calls return at once with their
// fallback, questions answer No), then join the worker, then close the link. The worker makes
// no view call once its stop has been requested, and a job never acts on a fallback answer.
#pragma once

#include "commands.h"
#include "protocol.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vq31 {

// Values shown on the oscilloscope page after the entry job read them from the device.
struct SignalSettings {
    uint32_t gainWord = 0;
    uint32_t pulseFrequency = 0;
    uint32_t filterFrequency = 0;
    uint32_t pulseWidth = 0;
    uint32_t attenuation = 0;
    uint32_t integratorWord = 0;
};

// Envelope values from this level up are drawn in the second (magenta) colour.
inline constexpr uint32_t EnvelopeHighLevel = 3500;

// The current-value labels refreshed from every echo record.
struct EchoLabels {
    std::string freq;   // LblFreq
    std::string filter; // LblFiltr
    std::string pulse;  // LblPulse
    std::string atten;  // LblAtten
    std::string ku;     // LblKu
};

// The live measurement fields (the "-" texts in the raw and filtered modes).
struct EchoFields {
    std::string auth;   // EditAuth
    std::string pos;    // EditPos
    std::string frame;  // EditFrame
    std::string corr;   // EditCorr
    std::string uncorr; // EditUncorr
    std::string mm;     // EditMm
    std::string temp;   // EditTemp
};

// One echo refresh. The spans point into the worker's buffers and are valid during the call.
struct EchoFrame {
    int32_t mode = 0;                 // 1 envelope, 2 raw, 3 filtered, other: no series change
    const EchoStatusRecord* status{}; // the 64 status words as received
    EchoLabels labels;
    std::optional<EchoFields> fields; // absent when the mode is not 1, 2 or 3
    std::string dataInst; // LblDataInst text ("Не активен"); bar to 0, buttons up
    // Oscillogram series ("Oscill"): point i at x = sampleStep * i, y = oscillogram[i].
    // Empty when the mode is not 1, 2 or 3 (the series keeps its points).
    int32_t sampleStep = 0;
    std::span<const int16_t> oscillogram;
    // Normalised envelope ("Integrator", envelope mode only): point i at x = 10 * i; high[i]
    // is 1 when envelope[i] >= EnvelopeHighLevel. Empty in the other modes (keep the series).
    std::span<const uint32_t> envelope;
    std::span<const uint8_t> envelopeHigh;
};

// Step 1 of the automatic tuning: the text above the bar and the bar position.
struct TuneStep1View {
    std::string text;
    int32_t barPosition = 0;
};

// One point of the frequency-response series ("AFC").
struct SweepPoint {
    uint32_t frequency = 0;
    int32_t peak = 0;
};

// The passport and output parameters of the settings page.
struct ParameterRecord {
    uint32_t date = 0; // byte 0 year, byte 1 month - 1, byte 2 day - 1
    uint32_t serialNumber = 0;
    uint32_t model = 0;
    uint32_t firmwareVersion = 0; // high nibble major, low nibble minor
    uint32_t address = 0;
    uint32_t autoPeriod = 0;
    uint32_t flagsA = 0; // bit 0 auto output, 2-4 speed code, 5 answer to 255, 7 data width
    uint32_t revision = 0;
    uint32_t flagsB = 0; // bit 5: high bit of the data-width choice
    uint32_t outputByte9 = 0;
    uint32_t outputByte10 = 0;
    uint32_t postFilter = 0;
    uint32_t flagsARead = 0; // copies taken when a read succeeded
    uint32_t flagsBRead = 0;
};

// What the settings page shows, ready to put in its controls. An index of -1 leaves a list
// without a selection.
struct ParameterView {
    ParameterRecord record;
    std::string date;     // EditDate, day month year "%02d%02d%02d"
    std::string serial;   // EditSN "%06d"
    std::string model;    // EditModel
    std::string version;  // EditVer, 0x12 -> "1.20"
    std::string revision; // EditRev
    int32_t speedIndex = -1;
    int32_t answer255Index = 0;
    int32_t bitsIndex = -1;
    uint32_t address = 0;
    bool autoOn = false;
    uint32_t autoPeriod = 0;
    int32_t postFilterIndex = 0;
    int32_t fuelTypeIndex = -1;
    bool fuelEditsEnabled = false; // only for fuel type 0
    float fuelTempCoef = 0.0f;     // shown with 3 decimals
    float fuelSoundSpeed = 0.0f;
};

// What the settings page holds when the user writes the parameters. An index of -1 means no
// item of that list is selected; for the speed and the fuel type the device then keeps its own.
struct ParameterChoice {
    int32_t speedIndex = -1;
    int32_t answer255Index = 0;
    int32_t bitsIndex = 0;
    bool autoOn = false;
    uint32_t autoPeriod = 0;
    uint32_t address = 0;
    int32_t postFilterIndex = 0;
    int32_t fuelTypeIndex = 0;
    float fuelTempCoef = 0.0f; // 0 when the text did not parse
    float fuelSoundSpeed = 0.0f;
};

// What the tare page shows of the hub image. When valid is false the hub controls are
// emptied and disabled.
struct HubView {
    bool valid = false;
    std::string version;                 // EditHubVersion, 0x0301 -> "3.01"
    std::vector<uint16_t> tankIds;       // CmbHubTankID items, in image order
    int32_t selectedIndex = -1;          // item matching TankId, -1 none
    uint32_t heightMm = 0;               // SpinHubTankHeight
    std::optional<uint16_t> tableLength; // EditHubTableLen; absent keeps the text
    int32_t mlPerBitIndex = -1;          // CmbHubMlPerBit, -1 none
    // Copies the selected tank's entry into CurrentTank; empty without a selected entry.
    // CurrentTank belongs to the window (the tare window stores its grid into it), so the
    // view step runs this first, on the window thread, while the worker waits for the step.
    std::function<void()> loadCurrentTank;
};

// Runs the view's CurrentTank copy, if it has one. Every ShowHubData step calls it first.
inline void LoadCurrentTank(const HubView& view) {
    if (view.loadCurrentTank)
        view.loadCurrentTank();
}

// What the tare page holds when the hub is written.
struct HubChoice {
    uint32_t heightMm = 0;      // SpinHubTankHeight
    int32_t mlPerBitIndex = -1; // CmbHubMlPerBit item, -1 none
};

// The live level of the tare window.
struct LevelView {
    bool hasLevel = false;
    std::string text;       // lbl_fuel: millimetres, or "No Data"
    uint32_t barHeight = 0; // shape_fuel height in pixels, standing on the box bottom
    uint16_t code = 0;      // the level in tenths of a millimetre, when hasLevel
};

// One row of the line census list: a sensor found, or an address where several answer.
struct CensusRowView {
    uint32_t address = 0;
    uint32_t speed = 0;
    std::string serial;   // "%06u", empty for a collision
    std::string model;    // the identity's model byte
    std::string firmware; // 0x09 -> "0.90"
    std::string state;    // found, or the collision text
    bool collision = false;
};

// The census list and the line under it (what was found, in how long, or why it stopped).
struct CensusView {
    std::vector<CensusRowView> rows;
    std::string summary;
};

class WorkerView {
public:
    virtual ~WorkerView() = default;

    // Status bar panel 0 (port state index) and panel 1 (device status), with their texts.
    virtual void ShowPortStatus(int portState, const std::string& text) = 0;
    virtual void ShowDeviceStatus(Status status, const std::string& text) = 0;
    // Main page control to the oscilloscope page. The worker posts code 4 after it returns.
    virtual void EnterOscilloscopePage() = 0;
    // Page 0 and the port-closed text; the worker has already posted code 0.
    virtual void ShowDisconnected(const std::string& portClosedText) = 0;
    // The adapter of the open port was unplugged: the worker has closed the port and stopped
    // polling. The view may watch for port to come back and offer code 28.
    virtual void ShowPortVanished(const std::string& port) { (void)port; }
    virtual void ShowBusyCursor() = 0;
    virtual void RestoreCursor() = 0;
    // Disable / re-enable the hub, tank-list, parameter and port controls and the page
    // control (MainPagesLocked); unlocking enables the table controls for tankId != 0 and
    // the height for tankId 0 or 1.
    virtual void LockControls() = 0;
    virtual void UnlockControls(int32_t tankId) = 0;
    // Store speed and address in the window and the settings file, select them in the lists.
    virtual void ApplyFoundLink(uint32_t baudRate, uint32_t address) = 0;
    virtual void ShowSignalSettings(const SignalSettings& settings) = 0;

    // Oscilloscope page. ReadOscillMode returns the mode list's item index + 1 (0 when none).
    virtual int32_t ReadOscillMode() = 0;
    // Live values on (measuring look) or off (tuning or display test look, pages locked).
    // The worker calls it with true right before ShowEcho, and with false right before
    // ShowTuneStep1, ShowTuneStep2 and BuildDisplayPattern.
    virtual void SetLiveView(bool enabled) = 0;
    virtual void ShowEcho(const EchoFrame& frame) = 0;
    // Tuning steps: "Шаг 1" down with text and bar; "Шаг 2" down with the scanning text, the
    // view advancing its bar by StepTuneBar.
    virtual void ShowTuneStep1(const TuneStep1View& view) = 0;
    virtual void ShowTuneStep2(const std::string& text) = 0;
    // The display-test mask to send next: the automatic walk (AdvanceDisplayPattern of the
    // running mask) while "Авто" is down, else DisplayPatternFromBoxes of the check boxes.
    virtual uint32_t BuildDisplayPattern(uint32_t runningMask) = 0;
    // Adds one point to the "AFC" series.
    virtual void AddSweepPoint(const SweepPoint& point) = 0;

    // Settings page.
    virtual void ShowParameters(const ParameterView& view) = 0;
    // The passport as read with the tare page's hub (date, serial number, model, firmware),
    // for the calibration report.
    virtual void ShowPassport(const Passport& passport) { (void)passport; }
    virtual ParameterChoice CollectParameters() = 0;
    // DeviceAddress changed: EditAddr shows it, then speed and address are saved.
    virtual void ApplyNewAddress(uint32_t address, uint32_t baudRate) = 0;
    // BaudRate changed: speed and address are saved (the worker reopens the port).
    virtual void ApplyNewSpeed(uint32_t baudRate, uint32_t address) = 0;

    // Tare page.
    virtual void ShowHubData(const HubView& view) = 0;
    virtual HubChoice PrepareHubData() = 0;
    virtual void ShowLevel(const LevelView& view) = 0;

    // Program page, line census: progress (0..100 and its text) while it runs, then the
    // list; the list again after a sensor was moved to another address.
    virtual void ShowCensusProgress(int percent, const std::string& text) {
        (void)percent;
        (void)text;
    }
    virtual void ShowCensus(const CensusView& view) { (void)view; }

    // Modal boxes: error (OK), information (OK), and an error-kind Yes/No question (true =
    // Yes).
    virtual void ShowError(const std::string& text) = 0;
    virtual void ShowInformation(const std::string& text) = 0;
    virtual bool AskYesNo(const std::string& text) = 0;

    // True once the view has stopped carrying steps out (the window is closing): the answers
    // of its steps are then fallbacks, which no job may act on.
    virtual bool Closing() const { return false; }
};

// The automatic display-test walk: bits 8..14, then 0..6, then 17, then 8 again (0 -> 256).
uint32_t AdvanceDisplayPattern(uint32_t mask);
// The manual mask from the check boxes ChkTestDisplay0..16 (index = box number; boxes 7 and
// 15 do not exist and are ignored).
uint32_t DisplayPatternFromBoxes(const std::array<bool, 17>& boxes);

// The step-2 tuning bar (range 0..5): advances one step, wrapping at the top, when more than
// a second has passed since advanceMs; advanceMs (0 after a step button click) then becomes
// nowMs. Returns the new position.
inline constexpr int32_t TuneBarMax = 5;
int32_t StepTuneBar(int32_t position, uint32_t& advanceMs, uint32_t nowMs);

} // namespace vq31
