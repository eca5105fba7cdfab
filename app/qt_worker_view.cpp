// The worker's window steps, marshalled to the window thread.
#include "qt_worker_view.h"

#include "command_parameters.h"
#include "echo_chart.h"
#include "main_window.h"
#include "sensor_panel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProgressBar>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QThread>
#include <QToolButton>

#include <chrono>
#include <vector>

namespace vq31::app {

namespace {
QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

// The worker writes decimals with a point; the window shows them with the user's separator.
QString RegionalDecimal(const std::string& text) {
    QString shown = Q(text);
    const QString point = QLocale::system().decimalPoint();
    if (point != QLatin1String("."))
        shown.replace(QLatin1Char('.'), point);
    return shown;
}

uint32_t NowMs() {
    using namespace std::chrono;
    return uint32_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void SetSlider(QSlider* slider, uint32_t value) {
    slider->setValue(int(std::min<uint32_t>(value, uint32_t(slider->maximum()))));
}

// List index from a byte: the last item when the byte is past the list.
int ItemFor(const QComboBox* list, uint32_t value) {
    return value < uint32_t(list->count()) ? int(value) : list->count() - 1;
}

int IndexOrNone(const QComboBox* list, int32_t index) {
    return index >= 0 && index < list->count() ? index : -1;
}

// The step-1/step-2 look of the tuning buttons.
void SetTuneButtons(MainWindow* w, bool step1, bool step2) {
    QSignalBlocker a(w->SbPre), b(w->SbAfc);
    w->SbPre->setChecked(step1);
    w->SbAfc->setChecked(step2);
    w->ShowTuneHint(step1 ? 1 : step2 ? 2 : 0);
}
} // namespace

QtWorkerView::QtWorkerView(MainWindow& window)
    : window_(window), sync_(std::make_shared<Sync>()),
      longestStepMs_(std::make_shared<double>(0.0)) {}

QtWorkerView::~QtWorkerView() {
    Shutdown();
}

void QtWorkerView::Shutdown() {
    {
        std::lock_guard lock(sync_->lock);
        sync_->shutdown = true;
    }
    sync_->done.notify_all();
}

bool QtWorkerView::IsShutDown() const {
    std::lock_guard lock(sync_->lock);
    return sync_->shutdown;
}

double QtWorkerView::LongestStepMs() const {
    return *longestStepMs_;
}

uint64_t QtWorkerView::StepsQueued() const {
    std::lock_guard lock(sync_->lock);
    return sync_->queued;
}

int QtWorkerView::StepsWaiting() const {
    std::lock_guard lock(sync_->lock);
    return sync_->waiting;
}

template <typename R, typename F> R QtWorkerView::Call(F step, R fallback) {
    if (QThread::currentThread() == window_.thread())
        return IsShutDown() ? fallback : step();
    struct Result {
        bool finished = false;
        R value{};
    };
    auto result = std::make_shared<Result>();
    auto sync = sync_;
    auto longest = longestStepMs_;
    {
        std::lock_guard lock(sync->lock);
        if (sync->shutdown)
            return fallback;
        ++sync->queued;
        ++sync->waiting;
    }
    QMetaObject::invokeMethod(
        &window_,
        [sync, result, longest, step = std::move(step)]() mutable {
            {
                std::lock_guard lock(sync->lock);
                if (sync->shutdown)
                    return;
            }
            QElapsedTimer timer;
            timer.start();
            R value = step();
            const double ms = double(timer.nsecsElapsed()) / 1e6;
            if (ms > *longest)
                *longest = ms;
            {
                std::lock_guard lock(sync->lock);
                result->value = std::move(value);
                result->finished = true;
            }
            sync->done.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(sync->lock);
    sync->done.wait(lock, [&] { return result->finished || sync->shutdown; });
    --sync->waiting;
    return result->finished ? result->value : fallback;
}

template <typename F> void QtWorkerView::Do(F step) {
    Call<bool>(
        [step = std::move(step)]() mutable {
            step();
            return true;
        },
        false);
}

void QtWorkerView::ShowPortStatus(int, const std::string& text) {
    Do([w = &window_, t = Q(text)] {
        w->StatusPanel0->setText(t);
        if (w->GbSensor)
            w->GbSensor->SetPortState(t);
    });
}

void QtWorkerView::ShowDeviceStatus(Status, const std::string& text) {
    Do([w = &window_, t = Q(text)] {
        if (!w->ShowSearchStatus())
            w->StatusPanel1->setText(t);
    });
}

void QtWorkerView::EnterOscilloscopePage() {
    Do([w = &window_] { w->SetMainPage(PageOscill); });
}

void QtWorkerView::ShowDisconnected(const std::string& portClosedText) {
    Do([w = &window_, t = Q(portClosedText)] {
        w->SetMainPage(PageProgram);
        w->StatusPanel0->setText(t);
    });
}

void QtWorkerView::ShowPortVanished(const std::string& port) {
    Do([w = &window_, p = Q(port)] { w->PortVanished(p); });
}

void QtWorkerView::ShowBusyCursor() {
    Do([w = &window_] { w->SetBusyCursor(true); });
}

void QtWorkerView::RestoreCursor() {
    Do([w = &window_] { w->SetBusyCursor(false); });
}

void QtWorkerView::LockControls() {
    Do([w = &window_] { w->LockControls(); });
}

void QtWorkerView::UnlockControls(int32_t tankId) {
    Do([w = &window_, tankId] { w->UnlockControls(tankId); });
}

void QtWorkerView::ApplyFoundLink(uint32_t baudRate, uint32_t address) {
    Do([w = &window_, baudRate, address] { w->ApplyFoundLink(int(baudRate), int(address)); });
}

void QtWorkerView::ShowSignalSettings(const SignalSettings& s) {
    Do([w = &window_, s] {
        {
            QSignalBlocker detach(w->TbFreq);
            SetSlider(w->TbFreq, s.pulseFrequency);
        }
        // The filter and pulse sliders stay attached: their handlers store the positions
        // and post codes that the job's final post replaces.
        SetSlider(w->TbFiltr, s.filterFrequency);
        SetSlider(w->TbPulse, s.pulseWidth);
        w->CmbKu->setCurrentIndex(ItemFor(w->CmbKu, s.gainWord & 0xFFu));
        w->CmbKuMax->setCurrentIndex(ItemFor(w->CmbKuMax, (s.gainWord >> 8) & 0xFFu));
        w->CmbAtten->setCurrentIndex(IndexOrNone(w->CmbAtten, int32_t(s.attenuation / 30)));
        w->EditFreq->setText(QString::number(s.pulseFrequency));
        w->CmbFiltr->setCurrentIndex(
            IndexOrNone(w->CmbFiltr, MainWindow::FilterIndex(int(s.filterFrequency))));
        w->EditPulse->setText(QString::number(s.pulseWidth));
        w->EditIntegrateDeadzone->setText(QString::number(s.integratorWord & 0xFFFFu));
        w->EditIntegrateTreshold->setText(QString::number(s.integratorWord >> 16));
    });
}

int32_t QtWorkerView::ReadOscillMode() {
    return Call<int32_t>(
        [w = &window_] {
            const int32_t mode = w->CmbOscillMode->currentIndex() + 1;
            Put(w->Params().OscillMode, mode);
            return mode;
        },
        0);
}

void QtWorkerView::SetLiveView(bool enabled) {
    Do([w = &window_, enabled] { w->SetLiveView(enabled); });
}

void QtWorkerView::ShowEcho(const EchoFrame& frame) {
    // The frame points into the worker's buffers: the step gets its own copy.
    struct Copy {
        int32_t mode;
        EchoLabels labels;
        std::optional<EchoFields> fields;
        QString dataInst;
        int32_t step;
        std::vector<int16_t> oscillogram;
        std::vector<uint32_t> envelope;
        std::vector<uint8_t> high;
    };
    auto copy = std::make_shared<Copy>(
        Copy{frame.mode, frame.labels, frame.fields, Q(frame.dataInst), frame.sampleStep,
             std::vector<int16_t>(frame.oscillogram.begin(), frame.oscillogram.end()),
             std::vector<uint32_t>(frame.envelope.begin(), frame.envelope.end()),
             std::vector<uint8_t>(frame.envelopeHigh.begin(), frame.envelopeHigh.end())});
    Do([w = &window_, copy] {
        w->SetLiveView(true);
        w->LblFreq->setText(Q(copy->labels.freq));
        w->LblFiltr->setText(Q(copy->labels.filter));
        w->LblPulse->setText(RegionalDecimal(copy->labels.pulse));
        w->LblAtten->setText(Q(copy->labels.atten));
        w->LblKu->setText(Q(copy->labels.ku));
        w->LblDataInst->setText(copy->dataInst);
        w->TbDataInst->setValue(0);
        SetTuneButtons(w, false, false);
        if (copy->fields) {
            const EchoFields& f = *copy->fields;
            w->EditAuth->setText(Q(f.auth));
            w->EditPos->setText(Q(f.pos));
            w->EditFrame->setText(Q(f.frame));
            w->EditCorr->setText(Q(f.corr));
            w->EditUncorr->setText(Q(f.uncorr));
            w->EditMm->setText(Q(f.mm));
            w->EditTemp->setText(RegionalDecimal(f.temp));
            bool ok = false;
            const double mm = QString::fromStdString(f.mm).toDouble(&ok);
            w->ShowSensorLevel(ok ? std::optional<double>(mm) : std::nullopt);
        }
        if (!copy->envelope.empty())
            w->Chart().SetIntegrator(copy->envelope, copy->high);
        if (!copy->oscillogram.empty())
            w->Chart().SetOscillogram(copy->oscillogram, copy->step);
    });
}

void QtWorkerView::ShowTuneStep1(const TuneStep1View& view) {
    Do([w = &window_, text = Q(view.text), bar = view.barPosition] {
        w->SetLiveView(false);
        SetTuneButtons(w, true, false);
        w->LblDataInst->setText(text);
        w->TbDataInst->setValue(std::clamp(bar, 0, TuneBarMax));
    });
}

void QtWorkerView::ShowTuneStep2(const std::string& text) {
    Do([w = &window_, t = Q(text)] {
        w->SetLiveView(false);
        SetTuneButtons(w, false, true);
        w->LblDataInst->setText(t);
        uint32_t advance = w->BarAdvanceTime();
        w->TbDataInst->setValue(StepTuneBar(w->TbDataInst->value(), advance, NowMs()));
        w->SetBarAdvanceTime(advance);
    });
}

uint32_t QtWorkerView::BuildDisplayPattern(uint32_t runningMask) {
    return Call<uint32_t>(
        [w = &window_, runningMask] {
            w->SetLiveView(false);
            if (w->SbDplTestAuto->isChecked())
                return AdvanceDisplayPattern(runningMask);
            std::array<bool, 17> boxes{};
            for (size_t n = 0; n < boxes.size(); ++n)
                boxes[n] = w->ChkTestDisplay[n] && w->ChkTestDisplay[n]->isChecked();
            return DisplayPatternFromBoxes(boxes);
        },
        runningMask);
}

void QtWorkerView::AddSweepPoint(const SweepPoint& point) {
    Do([w = &window_, point] {
        w->Chart().AddAfcPoint(point.frequency, point.peak);
        w->ShowSweepPoint(point.frequency);
    });
}

void QtWorkerView::ShowPassport(const Passport& p) {
    Do([w = &window_, p] {
        w->RememberPassport({p.date, p.serialNumber, p.model, p.firmwareVersion});
    });
}

void QtWorkerView::ShowParameters(const ParameterView& v) {
    Do([w = &window_, v] {
        w->RememberPassport(
            {v.record.date, v.record.serialNumber, v.record.model, v.record.firmwareVersion});
        w->EditDate->setText(Q(v.date));
        w->EditSN->setText(Q(v.serial));
        w->EditModel->setText(Q(v.model));
        w->EditVer->setText(Q(v.version));
        w->EditRev->setText(Q(v.revision));
        w->CmbBaud2->setCurrentIndex(IndexOrNone(w->CmbBaud2, v.speedIndex));
        w->Cmb255Ans->setCurrentIndex(IndexOrNone(w->Cmb255Ans, v.answer255Index));
        w->CmbBits->setCurrentIndex(IndexOrNone(w->CmbBits, v.bitsIndex));
        w->SpinAddr2->setValue(int(v.address));
        w->RepAutoOn->setChecked(v.autoOn);
        w->RepAutoPeriod->setValue(int(v.autoPeriod));
        w->CmbPostFiltr->setCurrentIndex(IndexOrNone(w->CmbPostFiltr, v.postFilterIndex));
        w->CmbFuelType->setCurrentIndex(IndexOrNone(w->CmbFuelType, v.fuelTypeIndex));
        w->SetFuelEditsEnabled(v.fuelEditsEnabled);
        ShowFuelNumber(w->EditFuelKu, v.fuelTempCoef);
        ShowFuelNumber(w->EditFuelOfs, v.fuelSoundSpeed);
    });
}

ParameterChoice QtWorkerView::CollectParameters() {
    return Call<ParameterChoice>(
        [w = &window_] {
            ParameterChoice c;
            c.speedIndex = w->CmbBaud2->currentIndex();
            c.answer255Index = w->Cmb255Ans->currentIndex();
            c.bitsIndex = w->CmbBits->currentIndex();
            c.autoOn = w->RepAutoOn->isChecked();
            c.autoPeriod = uint32_t(w->RepAutoPeriod->value());
            c.address = uint32_t(w->SpinAddr2->value());
            c.postFilterIndex = w->CmbPostFiltr->currentIndex();
            c.fuelTypeIndex = w->CmbFuelType->currentIndex();
            c.fuelTempCoef = FuelFieldValue(w->EditFuelKu).value_or(0.0f);
            c.fuelSoundSpeed = FuelFieldValue(w->EditFuelOfs).value_or(0.0f);
            return c;
        },
        ParameterChoice{});
}

void QtWorkerView::ApplyNewAddress(uint32_t address, uint32_t baudRate) {
    Do([w = &window_, address, baudRate] {
        Put(w->Params().DeviceAddress, int32_t(address));
        w->ApplyFoundLink(int(baudRate), int(address));
    });
}

void QtWorkerView::ApplyNewSpeed(uint32_t baudRate, uint32_t address) {
    Do([w = &window_, address, baudRate] {
        Put(w->Params().BaudRate, int32_t(baudRate));
        w->ApplyFoundLink(int(baudRate), int(address));
    });
}

void QtWorkerView::ShowHubData(const HubView& v) {
    Do([w = &window_, v] {
        LoadCurrentTank(v); // on the window thread, which owns CurrentTank
        w->ShowHubData(v);
    });
}

HubChoice QtWorkerView::PrepareHubData() {
    return Call<HubChoice>(
        [w = &window_] {
            HubChoice c;
            c.heightMm = uint32_t(w->SpinHubTankHeight->value());
            c.mlPerBitIndex = w->CmbHubMlPerBit->currentIndex();
            return c;
        },
        HubChoice{});
}

void QtWorkerView::ShowLevel(const LevelView& v) {
    Do([w = &window_, v] {
        w->ShowLevel(v.hasLevel, Q(v.text), v.barHeight,
                     v.hasLevel ? std::optional<uint16_t>(v.code) : std::nullopt);
        w->ShowSensorLevel(v.hasLevel ? std::optional<double>(v.code / 10.0) : std::nullopt);
    });
}

void QtWorkerView::ShowCensusProgress(int percent, const std::string& text) {
    Do([w = &window_, percent, t = Q(text)] { w->ShowCensusProgress(percent, t); });
}

void QtWorkerView::ShowCensus(const CensusView& v) {
    Do([w = &window_, v] { w->ShowCensus(v); });
}

void QtWorkerView::ShowError(const std::string& text) {
    Do([w = &window_, t = Q(text)] {
        w->NoteWorkerBox();
        w->Boxes().Error(w->ExplainError(t));
    });
}

void QtWorkerView::ShowInformation(const std::string& text) {
    Do([w = &window_, t = Q(text)] { w->Boxes().Information(t); });
}

bool QtWorkerView::AskYesNo(const std::string& text) {
    return Call<bool>(
        [w = &window_, t = Q(text)] {
            w->NoteWorkerBox();
            return w->Boxes().Question(t);
        },
        false);
}

} // namespace vq31::app
