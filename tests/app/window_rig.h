// A main window on temporary settings and language files, with no worker: every posted code
// is recorded, and every message box is recorded and answered from a script.
#pragma once

#include "command_parameters.h"
#include "hub_image.h"
#include "language_texts.h"
#include "main_window.h"
#include "prompter.h"

#include <QFile>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace vq31::app::test {

struct Box {
    std::string kind; // "error", "information", "question"
    QString text;
};

class ScriptedPrompter : public Prompter {
public:
    std::vector<Box> shown;
    bool answerYes = false;
    QString openFile; // empty: the user cancels
    QString saveFile;
    int fileDialogs = 0;
    std::function<void()> onBox; // runs while a box is "shown"

    void Error(const QString& text) override { Show("error", text); }
    void Information(const QString& text) override { Show("information", text); }
    bool Question(const QString& text) override {
        Show("question", text);
        return answerYes;
    }
    bool AskQuestion(const QString& text) override {
        Show("ask", text);
        return answerYes;
    }
    void Show(const char* kind, const QString& text) {
        shown.push_back({kind, text});
        if (onBox)
            onBox();
    }
    // The answer to the close question about unwritten work.
    CloseChoice closeChoice = CloseChoice::Stay;
    CloseChoice AskWriteDiscardStay(const QString& text, const QString&, const QString&,
                                    const QString&) override {
        Show("close", text);
        return closeChoice;
    }
    QString openFilter; // the filter the last open dialog was given
    QString ChooseOpenFile(const QString& filter) override {
        ++fileDialogs;
        openFilter = filter;
        return openFile;
    }
    QString ChooseSaveFile(const QString&) override {
        ++fileDialogs;
        return saveFile;
    }
    QString suggestedName; // the name the last save dialog started with
    QString ChooseSaveFileNamed(const QString& filter, const QString& name) override {
        suggestedName = name;
        return ChooseSaveFile(filter);
    }
};

inline void WriteText(const QString& path, const std::string& text) {
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(text.data(), qint64(text.size()));
}

inline std::string ReadText(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll().toStdString();
}

struct WindowRig {
    QTemporaryDir dir;
    CommandParameters params;
    LanguageTexts texts;
    std::unique_ptr<HubRecords> hub = std::make_unique<HubRecords>();
    std::vector<int> posts;
    std::vector<CensusOptions> censusRequests;
    std::vector<std::tuple<int, int, uint32_t>> readdressRequests; // from, to, speed
    ScriptedPrompter boxes;
    std::unique_ptr<MainWindow> window;

    // Writes the files given (empty: no file) and runs the window's start-up steps.
    explicit WindowRig(const std::string& settings = "", const std::string& language = "") {
        if (!settings.empty())
            WriteText(SettingsPath(), settings);
        if (!language.empty())
            WriteText(LanguagePath(), language);
        WindowSetup setup;
        setup.settingsPath = SettingsPath();
        setup.languagePath = LanguagePath();
        setup.postObserver = [this](int code) { posts.push_back(code); };
        setup.requestCensus = [this](const CensusOptions& o) { censusRequests.push_back(o); };
        setup.requestReaddress = [this](uint8_t from, uint8_t to, uint32_t speed) {
            readdressRequests.emplace_back(from, to, speed);
        };
        window = std::make_unique<MainWindow>(params, texts, *hub, std::move(setup));
        window->SetPrompter(&boxes);
        window->FormShow();
        posts.clear();
    }
    QString SettingsPath() const { return dir.filePath("vQ31_Install_Service.ini"); }
    QString LanguagePath() const { return dir.filePath("vQ31_Install_Service.lng"); }
    std::string Settings() const { return ReadText(SettingsPath()); }
    MainWindow& w() { return *window; }
};

} // namespace vq31::app::test
