// Puts the language file's captions onto a window's widgets, found by objectName.
#include "apply_captions.h"

#include "language_file.h"

#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QToolButton>
#include <QWidget>

namespace vq31 {
namespace {

QString CaptionOf(const LanguageFile& language, const QObject* object) {
    const QString name = object->objectName();
    if (name.isEmpty()) {
        return {};
    }
    return QString::fromStdString(language.Caption(name.toStdString()));
}

// Sets the caption of one captioned kind; false for every other kind.
bool SetCaption(QObject* object, const QString& text, CaptionSet set) {
    if (auto* label = qobject_cast<QLabel*>(object)) {
        label->setText(text);
    } else if (auto* check = qobject_cast<QCheckBox*>(object)) {
        check->setText(text);
    } else if (auto* push = qobject_cast<QPushButton*>(object)) {
        push->setText(text);
    } else if (auto* group = qobject_cast<QGroupBox*>(object)) {
        group->setTitle(text);
    } else if (auto* action = qobject_cast<QAction*>(object)) {
        action->setText(text);
    } else if (set == CaptionSet::MainWindow && qobject_cast<QRadioButton*>(object)) {
        static_cast<QRadioButton*>(object)->setText(text);
    } else if (set == CaptionSet::MainWindow && qobject_cast<QToolButton*>(object)) {
        static_cast<QToolButton*>(object)->setText(text);
    } else {
        return false;
    }
    return true;
}

} // namespace

int ApplyCaptions(QWidget* root, const LanguageFile& language, CaptionSet set) {
    if (!root) {
        return 0;
    }
    int replaced = 0;
    const auto objects = root->findChildren<QObject*>();
    for (QObject* object : objects) {
        const QString text = CaptionOf(language, object);
        if (!text.isEmpty() && SetCaption(object, text, set)) {
            ++replaced;
        }
    }
    // A page's caption is its tab's text, held by the tab widget that owns the page.
    const auto tabWidgets = root->findChildren<QTabWidget*>();
    for (QTabWidget* tabs : tabWidgets) {
        for (int i = 0; i < tabs->count(); ++i) {
            const QString text = CaptionOf(language, tabs->widget(i));
            if (!text.isEmpty()) {
                tabs->setTabText(i, text);
                ++replaced;
            }
        }
    }
    return replaced;
}

bool ApplyWindowCaption(QWidget* window, const LanguageFile& language, std::string_view formKey) {
    if (!window) {
        return false;
    }
    const std::string text = language.Caption(formKey);
    if (text.empty()) {
        return false;
    }
    window->setWindowTitle(QString::fromStdString(text));
    return true;
}

} // namespace vq31
