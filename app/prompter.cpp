// The real modal boxes and workbook file dialogs of the main window.
#include "prompter.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

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

bool QtPrompter::AskQuestion(const QString& text) {
    return QMessageBox::question(parent_, Caption, text, QMessageBox::Yes | QMessageBox::No,
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
    return ChooseSaveFileNamed(filter, QString());
}

QString QtPrompter::ChooseSaveFileNamed(const QString& filter, const QString& name) {
    QFileDialog dialog(parent_, QString(), name, filter);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setSizeGripEnabled(true);
    // A name typed without an extension gets the one of the format chosen in the filter list,
    // the format it is saved in.
    dialog.setDefaultSuffix(DefaultSuffixOf(dialog.selectedNameFilter()));
    QObject::connect(
        &dialog, &QFileDialog::filterSelected, &dialog,
        [&dialog](const QString& chosen) { dialog.setDefaultSuffix(DefaultSuffixOf(chosen)); });
    // Overwrite confirmation is the dialog's default behaviour.
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().first();
}

Prompter::CloseChoice QtPrompter::AskWriteDiscardStay(const QString& text, const QString& write,
                                                      const QString& discard, const QString& stay) {
    QMessageBox box(QMessageBox::Question, Caption, text, QMessageBox::NoButton, parent_);
    QPushButton* writeButton = box.addButton(write, QMessageBox::AcceptRole);
    QPushButton* discardButton = box.addButton(discard, QMessageBox::DestructiveRole);
    QPushButton* stayButton = box.addButton(stay, QMessageBox::RejectRole);
    box.setDefaultButton(stayButton);
    box.setEscapeButton(stayButton);
    box.exec();
    if (box.clickedButton() == writeButton)
        return CloseChoice::Write;
    if (box.clickedButton() == discardButton)
        return CloseChoice::Discard;
    return CloseChoice::Stay;
}

QString SuggestedFileName(std::optional<uint32_t> serialNumber, int tankId, const QDate& date,
                          const QString& suffix) {
    QStringList parts;
    if (serialNumber)
        parts << QStringLiteral("sn%1").arg(*serialNumber, 6, 10, QLatin1Char('0'));
    parts << QStringLiteral("tank%1").arg(tankId) << date.toString(Qt::ISODate);
    return parts.join(QLatin1Char('_')) +
           (suffix.isEmpty() ? QString() : QLatin1Char('.') + suffix);
}

QString DefaultSuffixOf(const QString& filter) {
    // "Excel Files (*.xlsx *.xls)" gives "xlsx": the first pattern with a plain extension.
    const qsizetype open = filter.indexOf(QLatin1Char('('));
    const qsizetype close = filter.indexOf(QLatin1Char(')'), open);
    if (open < 0 || close < 0)
        return {};
    for (const QString& pattern : filter.mid(open + 1, close - open - 1).split(QLatin1Char(' '))) {
        if (pattern.startsWith(QLatin1String("*.")) && pattern.indexOf(QLatin1Char('*'), 1) < 0)
            return pattern.mid(2);
    }
    return {};
}

} // namespace vq31::app
