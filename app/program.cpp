// Wiring of the program: which object owns what and in which order things stop.
#include "program.h"

#include "language_file.h"
#include "main_window.h"
#include "qt_worker_view.h"
#include "settings_file.h"

#include <QMetaObject>

#include <clocale>
#include <cstdio>

namespace vq31::app {

void KeepCNumberFormat() {
    std::setlocale(LC_NUMERIC, "C");
}

Program::Program(ProgramOptions options)
    : hub_(std::make_unique<HubRecords>()), timing_(options.timing),
      snapshots_(options.snapshotFolder.empty() ? SnapshotStore()
                                                : SnapshotStore(options.snapshotFolder)) {
    const auto exeDir = ExecutableDirectory();
    WindowSetup setup;
    setup.settingsPath = options.settingsPath.isEmpty()
                             ? QString::fromStdString(SettingsFilePath(exeDir).string())
                             : options.settingsPath;
    const auto dataDir = DataDirectory(exeDir);
    setup.languagePath = options.languagePath.isEmpty()
                             ? QString::fromStdString(LocateLanguageFile(exeDir, dataDir).string())
                             : options.languagePath;
    if (options.languagePath.isEmpty()) {
        // The places the file is looked for, in their order, for the notice when none has it.
        for (const auto& place :
             {exeDir / LanguageFileName, UserLanguageFile(), dataDir / LanguageFileName})
            if (!place.empty() && place != std::filesystem::path(LanguageFileName))
                setup.languagePlaces << QString::fromStdString(place.string());
    }
    setup.startPort = options.port;
    setup.startBaud = options.baud;
    setup.startAddress = options.address;
    // The worker starts when the window is first shown, before the language and settings
    // are loaded, and stops before the window's controls go away.
    setup.startWorker = [this] {
        worker_ = std::make_unique<CommandWorker>(link_, params_, *view_, texts_, *hub_, timing_);
        worker_->SetSnapshotStore(&snapshots_);
        // The writes' ends reach the window for their word of success; the polling codes,
        // which end many times a second, are not marshalled.
        worker_->SetJobObserver([w = window_.get()](int32_t code) {
            if (code == job::SetFrequency ||
                (code >= job::SetFilter && code <= job::SetAttenuator) ||
                code == job::SetPulseWidth || code == job::SetIntegrator ||
                code == job::WriteParameters || code == job::WriteHubData ||
                code == job::SearchDevice || code == job::SweepFrequencyResponse ||
                code == job::RestoreSnapshot)
                QMetaObject::invokeMethod(
                    w, [w, code] { w->JobFinished(code); }, Qt::QueuedConnection);
        });
        worker_->Start();
        return std::function<void(int)>([this](int code) { worker_->PostCommand(code); });
    };
    setup.stopWorker = [this] { Stop(); };
    setup.writeInProgress = [this] { return worker_ && worker_->Writing(); };
    setup.stopWrite = [this] {
        if (worker_)
            worker_->RequestWriteStop();
    };
    setup.snapshotFolder = snapshots_.folder();
    setup.requestSnapshot = [this](const std::filesystem::path& file, bool settings, int follow) {
        if (worker_)
            worker_->RequestSnapshot(file, settings, follow);
    };
    setup.requestReconnect = [this](int follow) {
        if (worker_)
            worker_->RequestReconnect(follow);
    };
    setup.requestCensus = [this](const CensusOptions& options) {
        if (worker_)
            worker_->RequestCensus(options);
    };
    setup.requestReaddress = [this](uint8_t from, uint8_t to, uint32_t speed) {
        if (worker_)
            worker_->RequestReaddress(from, to, speed);
    };
    window_ = std::make_unique<MainWindow>(params_, texts_, *hub_, std::move(setup));
    view_ = std::make_unique<QtWorkerView>(*window_);
    // The trace ring is always kept (fixed memory), so the traffic window shows the frames
    // that came before it was opened.
    auto monitor = std::make_shared<LinkMonitor>();
    link_.SetMonitor(monitor);
    window_->SetTrafficMonitor(std::move(monitor));
}

Program::~Program() {
    if (window_)
        window_->StopWorker();
    Stop();
}

void Program::Stop() {
    // The stop request first, so that a job waiting on the window sees it when the view hands
    // back its fallback answer (empty parameters, no hub choice) and writes nothing; then the
    // view, so that wait returns at once; then the worker (joined); then the link.
    if (worker_)
        worker_->RequestStop();
    if (view_)
        view_->Shutdown();
    if (worker_)
        worker_->Stop();
    link_.UartClose();
    // A write that the stop cut short was finished or put back while the worker stopped (the
    // window waits for a write before it closes, so this is the path of a forced end): say
    // which, once.
    if (worker_ && !stopReported_) {
        const std::string text = worker_->StopOutcomeText();
        stopReported_ = true;
        if (!text.empty())
            std::fprintf(stderr, "%s\n", text.c_str());
    }
}

} // namespace vq31::app
