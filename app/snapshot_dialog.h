// The snapshot window: the snapshots saved before writes, the selected one's contents, a
// comparison with the device and a restore. The comparison and the restore run as worker
// jobs; the window only chooses the file and posts the code.
#pragma once

#include "language_texts.h"
#include "snapshot.h"

#include <QDialog>

#include <functional>

class QCheckBox;
class QListWidget;
class QPlainTextEdit;
class QPushButton;

namespace vq31::app {

class Prompter;

class SnapshotDialog : public QDialog {
    Q_OBJECT
public:
    // request hands the chosen file and the settings choice to the worker, post posts a code.
    SnapshotDialog(SnapshotStore store, Prompter& boxes, const LanguageTexts& texts,
                   std::function<void(const std::filesystem::path&, bool)> request,
                   std::function<void(int)> post, QWidget* parent = nullptr);

    // Reads the folder again; the newest snapshot is selected.
    void Refresh();
    // The selected file, empty when none.
    std::filesystem::path Selected() const;
    void CompareClick();
    void RestoreClick();

    QListWidget* LstSnapshots = nullptr;
    QPlainTextEdit* MemoSnapshot = nullptr;
    QCheckBox* ChkSnapshotParams = nullptr;
    QPushButton* BtnSnapshotDiff = nullptr;
    QPushButton* BtnSnapshotRestore = nullptr;
    QPushButton* BtnSnapshotRefresh = nullptr;

private:
    void ShowSelected();

    SnapshotStore store_;
    Prompter& boxes_;
    const LanguageTexts& texts_;
    std::function<void(const std::filesystem::path&, bool)> request_;
    std::function<void(int)> post_;
    std::vector<std::filesystem::path> files_;
    // The files as loaded (reason filled in), and whether each loaded; same order as files_.
    std::vector<Snapshot> loaded_;
    std::vector<std::string> errors_;
};

// The text the window shows for one snapshot, in the language of texts.
QString SnapshotSummary(const Snapshot& snapshot, const LanguageTexts& texts);
// The list's line for one snapshot: sensor, local time and why it was taken.
QString SnapshotListLine(const Snapshot& snapshot, const LanguageTexts& texts);
// A snapshot's time stamp (UTC) in the local time zone, as the window shows it.
QString SnapshotTimeText(const std::string& stamp);
// Files that hold no reason (saved before the reason was recorded) get the change between
// them and the next snapshot of the same sensor, which holds what that write left behind;
// the newest of a sensor keeps an unknown reason. snapshots are oldest first.
void FillMissingReasons(std::vector<Snapshot>& snapshots, const std::vector<bool>& loaded);

} // namespace vq31::app
