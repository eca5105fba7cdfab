// The whole program in one object: the records shared by the window and the worker, the
// device link, the main window, its worker view and the command worker. main() makes one;
// the whole-program tests make one per test against the simulated sensor.
#pragma once

#include "command_parameters.h"
#include "command_worker.h"
#include "hub_image.h"
#include "language_texts.h"
#include "link.h"
#include "snapshot.h"

#include <QString>

#include <memory>
#include <optional>

namespace vq31::app {

class MainWindow;
class QtWorkerView;

// Qt's application object takes the C library's locale from the environment on Unix, number
// format included. The worker's texts and the workbook writers format numbers with printf and
// must keep the point, so the number format goes back to "C" right after the application
// object is made; the window shows numbers in the user's format through QLocale::system().
void KeepCNumberFormat();

struct ProgramOptions {
    QString settingsPath; // empty: beside the executable (or the user's config folder)
    QString languagePath; // empty: beside the executable (or the installed data folder)
    std::optional<QString> port;
    std::optional<int> baud;
    std::optional<int> address;
    WorkerTiming timing;
    // Where the worker saves the snapshot taken before every write; empty: the user's data
    // folder (vq31-install-service/snapshots).
    std::filesystem::path snapshotFolder;
};

class Program {
public:
    explicit Program(ProgramOptions options);
    ~Program(); // stops the worker and closes the link before the window goes
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    MainWindow& Window() { return *window_; }
    QtWorkerView& View() { return *view_; }
    // Null until the window was first shown.
    CommandWorker* Worker() { return worker_.get(); }
    DeviceLink& Link() { return link_; }
    CommandParameters& Params() { return params_; }
    HubRecords& Hub() { return *hub_; }
    const SnapshotStore& Snapshots() const { return snapshots_; }

    // Stops the worker first (view, worker, link in that order). Safe to repeat.
    void Stop();

private:
    CommandParameters params_;
    LanguageTexts texts_;
    std::unique_ptr<HubRecords> hub_;
    DeviceLink link_;
    WorkerTiming timing_;
    SnapshotStore snapshots_;
    std::unique_ptr<MainWindow> window_;
    std::unique_ptr<QtWorkerView> view_;
    std::unique_ptr<CommandWorker> worker_;
    bool stopReported_ = false;
};

} // namespace vq31::app
