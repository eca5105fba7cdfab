// Tooltips and remembered fields of the tare window, set from the tare page.
#include "tare_window_extras.h"

#include "profile_file.h"
#include "window_words.h"

#include <QLineEdit>
#include <QToolButton>
#include <QWidget>

namespace vq31::app {

namespace {
constexpr std::string_view TareSection = "TARE";

struct Tip {
    const char* button;
    KeyText text;
};
constexpr Tip Tips[] = {
    {"spd_imp", word::TipImport}, {"spd_exp", word::TipExport}, {"spd_add", word::TipAdd},
    {"spd_del", word::TipDelete}, {"spd_csv", word::TipCsv},
};

struct Field {
    const char* edit;
    const char* key;
};
constexpr Field Fields[] = {{"edit_portion", "PORTION"}, {"edit_settle", "SETTLE"}};
} // namespace

void SetTareButtonTips(QWidget& editor, const WordLookup& word) {
    for (const Tip& tip : Tips)
        if (auto* button = editor.findChild<QToolButton*>(QString::fromLatin1(tip.button)))
            button->setToolTip(word(tip.text.key, tip.text.text));
}

void RestoreTareFields(QWidget& editor, const QString& settingsPath) {
    const ProfileFile file = ProfileFile::Load(settingsPath.toStdString());
    for (const Field& field : Fields) {
        const std::string value = file.ReadString(TareSection, field.key, "");
        auto* edit = editor.findChild<QLineEdit*>(QString::fromLatin1(field.edit));
        if (edit && !value.empty())
            edit->setText(QString::fromStdString(value));
    }
}

void KeepTareFields(const QWidget& editor, const QString& settingsPath) {
    ProfileFile file = ProfileFile::Load(settingsPath.toStdString());
    for (const Field& field : Fields)
        if (auto* edit = editor.findChild<QLineEdit*>(QString::fromLatin1(field.edit)))
            file.SetString(TareSection, field.key, edit->text().trimmed().toStdString());
    file.Save();
}

} // namespace vq31::app
