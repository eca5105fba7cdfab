// What the tare page adds to the tare window it opens: tooltips on its picture buttons, and
// the portion and settle time kept from one opening to the next (in the settings file).
#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace vq31::app {

using WordLookup = std::function<QString(const char* key, const char* builtIn)>;

// Tooltips of the tare window's picture buttons, in the window's language.
void SetTareButtonTips(QWidget& editor, const WordLookup& word);
// Puts the remembered portion and settle time into the tare window's fields.
void RestoreTareFields(QWidget& editor, const QString& settingsPath);
// Remembers the portion and settle time the tare window was closed with.
void KeepTareFields(const QWidget& editor, const QString& settingsPath);

} // namespace vq31::app
