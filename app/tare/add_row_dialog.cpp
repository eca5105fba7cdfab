// The add-row dialog: two fields, the add and exit buttons, and the field checks.
#include "add_row_dialog.h"

#include "apply_captions.h"
#include "language_keys.h"
#include "tare_editor.h"

#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>

namespace vq31 {

namespace {

constexpr int ClientWidth = 181;
constexpr int ClientHeight = 111;

template <typename W> W* Named(W* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

} // namespace

AddRowDialog::AddRowDialog(TareEditor& editor) : QDialog(&editor), editor_(editor) {
    setObjectName(QString::fromLatin1(AddRowWindowKey));
    setWindowTitle(QStringLiteral("Добавить"));
    setWindowFlags(windowFlags() | Qt::MSWindowsFixedSizeDialogHint);

    auto* lblLitr = Named(new QLabel(QStringLiteral("Литры:"), this), "lbl_litr");
    editLitr_ = Named(new QLineEdit(QStringLiteral("0"), this), "edit_litr");
    auto* lblCode = Named(new QLabel(QStringLiteral("Код:"), this), "lbl_code");
    editCode_ = Named(new QLineEdit(QStringLiteral("0"), this), "edit_code");
    btnAdd_ = Named(new QPushButton(QStringLiteral("Добавить"), this), "btn_add");
    btnExit_ = Named(new QPushButton(QStringLiteral("Выход"), this), "btn_exit");
    // Enter in either field adds the pair; only "Выход" closes.
    btnAdd_->setDefault(true);
    btnExit_->setAutoDefault(false);
    connect(btnAdd_, &QPushButton::clicked, this, [this] { AddPair(); });
    connect(btnExit_, &QPushButton::clicked, this, &QDialog::reject);

    auto* layout = new QGridLayout(this);
    layout->addWidget(lblLitr, 0, 0);
    layout->addWidget(editLitr_, 0, 1);
    layout->addWidget(lblCode, 1, 0);
    layout->addWidget(editCode_, 1, 1);
    layout->addWidget(btnAdd_, 2, 0);
    layout->addWidget(btnExit_, 2, 1);
    setTabOrder(editLitr_, editCode_);
    setTabOrder(editCode_, btnAdd_);
    setTabOrder(btnAdd_, btnExit_);
    setFixedSize(ClientWidth, ClientHeight);
}

void AddRowDialog::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        if (const LanguageFile* language = editor_.LanguageSource()) {
            ApplyCaptions(this, *language, CaptionSet::SubWindow);
            ApplyWindowCaption(this, *language, AddRowWindowKey);
        }
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            move(screen->availableGeometry().center() - rect().center());
        }
        editLitr_->setFocus();
    }
    QDialog::showEvent(event);
}

bool AddRowDialog::AddPair() {
    const auto level = ParseTareWhole(editCode_->text().toStdString());
    if (!level) {
        editor_.ShowError(
            editor_.Text(tare_msg::WrongCode, TareMessageDefault(TareMessage::WrongCodeValue)));
        return false;
    }
    const auto litres = ParseTareNumber(editLitr_->text().toStdString(), editor_.DecimalPoint());
    if (!litres) {
        editor_.ShowError(
            editor_.Text(tare_msg::LitresNotNumber, TareMessageDefault(TareMessage::WrongLitres)));
        return false;
    }
    const bool taken = editor_.InsertTareRow(*litres, *level);
    editLitr_->setFocus();
    return taken;
}

} // namespace vq31
