// Modal boxes and file choices of the main window, behind one small interface so that the
// window tests can answer them from a script instead of blocking on a real dialog.
#pragma once

#include <QDate>
#include <QString>

#include <cstdint>
#include <optional>

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
    // A Yes/No question of the user's own action (a restore), shown with the question icon;
    // true only for Yes.
    virtual bool AskQuestion(const QString& text) { return Question(text); }
    // A save choice that starts with a suggested file name (no folder: the last one).
    virtual QString ChooseSaveFileNamed(const QString& filter, const QString& name) {
        (void)name;
        return ChooseSaveFile(filter);
    }
    // Unwritten work when the window closes: write it, discard it, or stay. Without its own
    // box a Yes writes and a No stays, so nothing is ever dropped without the user's word.
    enum class CloseChoice { Write, Discard, Stay };
    virtual CloseChoice AskWriteDiscardStay(const QString& text, const QString& write,
                                            const QString& discard, const QString& stay) {
        (void)write, (void)discard, (void)stay;
        return Question(text) ? CloseChoice::Write : CloseChoice::Stay;
    }
};

// The extension a file dialog's filter stands for: the first "*.ext" of the filter chosen
// ("Excel Files (*.xlsx *.xls)" gives "xlsx"); empty when it has none.
QString DefaultSuffixOf(const QString& filter);

// A file name to start a save dialog with: the sensor's serial number (when read), the tank
// and the date, with the extension: "sn004711_tank1_2026-12-09.xlsx".
QString SuggestedFileName(std::optional<uint32_t> serialNumber, int tankId, const QDate& date,
                          const QString& suffix);

// The real boxes and file dialogs, parented to the given window.
class QtPrompter : public Prompter {
public:
    explicit QtPrompter(QWidget* parent) : parent_(parent) {}
    void Error(const QString& text) override;
    void Information(const QString& text) override;
    bool Question(const QString& text) override;
    QString ChooseOpenFile(const QString& filter) override;
    QString ChooseSaveFile(const QString& filter) override;
    QString ChooseSaveFileNamed(const QString& filter, const QString& name) override;
    bool AskQuestion(const QString& text) override;
    CloseChoice AskWriteDiscardStay(const QString& text, const QString& write,
                                    const QString& discard, const QString& stay) override;

private:
    QWidget* parent_;
};

} // namespace vq31::app
