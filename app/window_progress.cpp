// The long jobs in the main window: the frequency-response sweep can be stopped and shows the
// device's present frequency; the search says which speed it tries, can be cancelled, and
// when nothing answers names the likely causes.
#include "main_window.h"
#include "page_parts.h"

#include "command_parameters.h"
#include "window_words.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>

namespace vq31::app {

namespace {
constexpr int SearchCode = 3;
constexpr int PollEchoCode = 5;
constexpr int SweepCode = 17;
constexpr int NoneCode = 0;
} // namespace

void MainWindow::BuildProgress() {
    BtnAfcStop =
        Named(new QPushButton(Word(word::AfcStop.key, word::AfcStop.text), GbAfc), "BtnAfcStop");
    BtnAfcStop->setEnabled(false);
    LblAfcWindow =
        Named(new QLabel(Word(word::AfcWindow.key, word::AfcWindow.text), GbAfc), "LblAfcWindow");
    LblAfcWindow->setWordWrap(true);
    LblAfcProgress = Named(new QLabel(GbAfc), "LblAfcProgress");
    if (auto* grid = qobject_cast<QGridLayout*>(GbAfc->layout())) {
        grid->addWidget(BtnAfcStop, 0, 3, 3, 1);
        grid->addWidget(LblAfcWindow, 1, 4, 2, 1);
        grid->addWidget(LblAfcProgress, 0, 4);
        grid->setColumnStretch(4, 1);
    }
    for (QLineEdit* field : {EditAfcDeadZone, EditAfcBandwidth})
        field->setToolTip(Word(word::AfcWindow.key, word::AfcWindow.text));
    connect(BtnAfcStop, &QPushButton::clicked, this, [this] { StopSweep(); });

    LblTuneHint = Named(new QLabel(GbAutomat), "LblTuneHint");
    LblTuneHint->setWordWrap(true);
    if (auto* grid = qobject_cast<QGridLayout*>(GbAutomat->layout()))
        grid->addWidget(LblTuneHint, 3, 0, 1, 3);

    // In the status bar: the search locks the pages, and its cancel must stay within reach.
    BtnSearchCancel =
        Named(new QPushButton(Word(word::SearchCancel.key, word::SearchCancel.text), statusBar()),
              "BtnSearchCancel");
    BtnSearchCancel->hide();
    statusBar()->addPermanentWidget(BtnSearchCancel);
    connect(BtnSearchCancel, &QPushButton::clicked, this, [this] { CancelSearch(); });
}

void MainWindow::ShowTuneHint(int step) {
    if (!LblTuneHint)
        return;
    if (step == 1)
        LblTuneHint->setText(Word(word::TuneHint1.key, word::TuneHint1.text));
    else if (step == 2)
        LblTuneHint->setText(Word(word::TuneHint2.key, word::TuneHint2.text));
    else
        LblTuneHint->clear();
}

void MainWindow::LongJobPosted(int code) {
    if (code == SweepCode) {
        sweeping_ = true;
        BtnAfcStop->setEnabled(true);
        LblAfcProgress->setText(Word(word::AfcRunning.key, word::AfcRunning.text));
    } else if (code == SearchCode) {
        searching_ = true;
        BtnSearchCancel->show();
    }
}

void MainWindow::LongJobFinished(int code) {
    if (code == SweepCode && sweeping_) {
        sweeping_ = false;
        BtnAfcStop->setEnabled(false);
        LblAfcProgress->setText(
            Word(word::AfcEnded.key, word::AfcEnded.text).arg(EditFreq->text()));
    } else if (code == SearchCode && searching_) {
        searching_ = false;
        BtnSearchCancel->hide();
    }
}

void MainWindow::ShowSweepPoint(uint32_t frequency) {
    LblAfcProgress->setText(Word(word::AfcProgress.key, word::AfcProgress.text).arg(frequency));
}

bool MainWindow::ShowSearchStatus() {
    if (!searching_)
        return false;
    StatusPanel1->setText(
        Word(word::SearchTrying.key, word::SearchTrying.text).arg(Get(params_.BaudRate)));
    return true;
}

QString MainWindow::ExplainError(const QString& text) const {
    if (!searching_)
        return text;
    return text + QStringLiteral("\n\n") + Word(word::SearchCauses.key, word::SearchCauses.text);
}

void MainWindow::StopSweep() {
    // Any code ends the sweep: the device gets the user's frequency back and its sweep off,
    // and the echo polling resumes.
    if (sweeping_)
        PostCommand(PollEchoCode);
}

void MainWindow::CancelSearch() {
    if (searching_)
        PostCommand(NoneCode);
}

} // namespace vq31::app
