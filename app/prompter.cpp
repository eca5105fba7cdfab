// The real modal boxes and workbook file dialogs of the main window.
#include "prompter.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

namespace vq31::app {

namespace {
const QString Caption = QStringLiteral("vQ31 Install Service");
}

void QtPrompter::Error(const QString& text) {
    QMessageBox::critical(parent_, Caption, text, QMessageBox::Ok);
}

void QtPrompter::Information(const QString& text) {
    QMessageBox::information(parent_, Caption, text, QMessageBox::Ok);
}

bool QtPrompter::Question(const QString& text) {
    // Questions are error-kind boxes with Yes and No, No being the safe default.
    return QMessageBox::critical(parent_, Caption, text, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

QString QtPrompter::ChooseOpenFile(const QString& filter) {
    QFileDialog dialog(parent_, QString(), QString(), filter);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setOption(QFileDialog::ReadOnly, false);
    dialog.setSizeGripEnabled(true);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().first();
}

QString QtPrompter::ChooseSaveFile(const QString& filter) {
    QFileDialog dialog(parent_, QString(), QString(), filter);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setSizeGripEnabled(true);
    // A name typed without an extension gets the Open XML one, the format it is saved in.
    dialog.setDefaultSuffix(QStringLiteral("xlsx"));
    // Overwrite confirmation is the dialog's default behaviour.
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().first();
}

} // namespace vq31::app
