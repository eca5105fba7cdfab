// The report dialog: one line per particular, several lines for the notes.
#include "report_dialog.h"

#include "tare_report.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace vq31 {

namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

std::string ValueOf(const ReportDialog::Fields& values, const std::string& name) {
    const auto it = values.find(name);
    return it == values.end() ? std::string() : it->second;
}

} // namespace

ReportDialog::ReportDialog(const Fields& values, const TextOf& text, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("Form_Report"));
    setWindowTitle(text("Form_Report", "Протокол тарировки"));
    auto* form = new QFormLayout;
    for (const char* name : report::FieldNames) {
        const std::string key = std::string("rep_") + name;
        auto* label = new QLabel(text(key, report::ReportBuiltIn(key)) + QLatin1Char(':'), this);
        label->setObjectName(QString::fromStdString("lbl_" + key));
        if (std::string_view(name) == "notes") {
            notes_ = new QPlainTextEdit(Q(ValueOf(values, name)), this);
            notes_->setObjectName(QString::fromStdString("edit_" + key));
            notes_->setTabChangesFocus(true);
            notes_->setFixedHeight(80);
            form->addRow(label, notes_);
            continue;
        }
        auto* edit = new QLineEdit(Q(ValueOf(values, name)), this);
        edit->setObjectName(QString::fromStdString("edit_" + key));
        edit->setMinimumWidth(280);
        edits_[name] = edit;
        form->addRow(label, edit);
    }
    auto* buttons = new QDialogButtonBox(this);
    auto* write =
        buttons->addButton(text("btn_rep_write", "Сохранить PDF…"), QDialogButtonBox::AcceptRole);
    write->setObjectName(QStringLiteral("btn_rep_write"));
    write->setDefault(true);
    auto* cancel =
        buttons->addButton(text("btn_rep_cancel", "Отмена"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("btn_rep_cancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

ReportDialog::Fields ReportDialog::Values() const {
    Fields values;
    for (const auto& [name, edit] : edits_) {
        values[name] = edit->text().trimmed().toStdString();
    }
    values["notes"] = notes_->toPlainText().trimmed().toStdString();
    return values;
}

} // namespace vq31
