// Modal boxes and file choices of the main window, behind one small interface so that the
// window tests can answer them from a script instead of blocking on a real dialog.
#pragma once

#include <QString>

class QWidget;

namespace vq31::app {

class Prompter {
public:
    virtual ~Prompter() = default;
    // Error box with one OK button.
    virtual void Error(const QString& text) = 0;
    // Information box with one OK button.
    virtual void Information(const QString& text) = 0;
    // Error-kind box with Yes and No; true only for Yes.
    virtual bool Question(const QString& text) = 0;
    // Workbook file choices; an empty result means the user cancelled.
    virtual QString ChooseOpenFile(const QString& filter) = 0;
    virtual QString ChooseSaveFile(const QString& filter) = 0;
};

// The real boxes and file dialogs, parented to the given window.
class QtPrompter : public Prompter {
public:
    explicit QtPrompter(QWidget* parent) : parent_(parent) {}
    void Error(const QString& text) override;
    void Information(const QString& text) override;
    bool Question(const QString& text) override;
    QString ChooseOpenFile(const QString& filter) override;
    QString ChooseSaveFile(const QString& filter) override;

private:
    QWidget* parent_;
};

} // namespace vq31::app
