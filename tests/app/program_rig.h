// The whole program (window, worker view, worker, link) on temporary files against the
// simulated sensor over a real pseudo-terminal, with its boxes answered from a script.
#pragma once

#include "echo_chart.h"
#include "main_window.h"
#include "program.h"
#include "sim_server.h"
#include "window_rig.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

#include <functional>
#include <memory>
#include <string>

#include <gtest/gtest.h>

namespace vq31::app::test {

inline constexpr int WaitMs = 15000;
inline constexpr int SettleMs = 300;

struct ProgramRig {
    explicit ProgramRig(sim::SimOptions simOptions = {}, const std::string& settings = "")
        : server(simOptions) {
        // A link to the pseudo-terminal stands for a stable (by-id) name and is opened.
        const std::string port = simOptions.linkPath;
        std::string error;
        EXPECT_TRUE(server.Start(&error)) << error;
        if (!settings.empty())
            WriteText(dir.filePath("settings.ini"), settings);
        ProgramOptions options;
        options.settingsPath = dir.filePath("settings.ini");
        options.languagePath = dir.filePath("none.lng");
        options.port = QString::fromStdString(port.empty() ? server.path() : port);
        options.snapshotFolder = dir.filePath("snapshots").toStdString();
        program = std::make_unique<Program>(options);
        w().SetPrompter(&boxes);
        w().show();
    }
    MainWindow& w() { return program->Window(); }
    bool WaitFor(const std::function<bool()>& ready) { return QTest::qWaitFor(ready, WaitMs); }
    // Opens the port and waits until echo records arrive on the oscilloscope page.
    bool Connect() {
        w().BtnPortOpen->click();
        return WaitFor([&] {
                   return w().PcMain->currentIndex() == PageOscill &&
                          w().Chart().PointCount(EchoChart::Oscill) == 1472 &&
                          w().EditAuth->text() == "OK" && w().CmbKu->currentIndex() >= 0;
               }) &&
               WaitPolling();
    }
    // A job ends with a post of its follow-up code right after its last window step; a
    // click made before that post would be replaced by it (the last post wins), as it
    // would for a user clicking within that instant. Give the job time to end.
    void Settle() { QTest::qWait(SettleMs); }
    // Polling has resumed: a poll ended and armed its repeat.
    bool WaitPolling() {
        return WaitFor([&] { return program->Worker() && program->Worker()->RepeatArmed(); });
    }
    void ClickTab(int index) {
        QTabBar* bar = w().PcMain->tabBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index).center());
    }
    std::string Settings() const { return ReadText(dir.filePath("settings.ini")); }

    QTemporaryDir dir;
    sim::SimServer server;
    ScriptedPrompter boxes;
    std::unique_ptr<Program> program;
};

} // namespace vq31::app::test
