// Puts the language file's captions onto a window's widgets. Every widget and action is found
// by its objectName, which is the component name used as the language key. Only captioned
// kinds are touched: labels, push buttons, check boxes, radio buttons, group boxes (title),
// tool buttons, tab pages (the owning tab widget's tab text) and actions; edit boxes, lists,
// sliders and spin boxes keep their contents. An empty or missing key keeps the built-in text.
#pragma once

#include <string_view>

class QWidget;

namespace vq31 {

class LanguageFile;

// The kinds of control that take captions. The main window captions all of them; the tare
// table window and the add-row dialog leave radio buttons and tool buttons alone.
enum class CaptionSet {
    MainWindow,
    SubWindow,
};

// Applies the captions to root's descendants (root itself excluded); returns how many
// captions were replaced.
int ApplyCaptions(QWidget* root, const LanguageFile& language, CaptionSet set);

// Sets the window's title from the key named after the window ("Form_Tare1", "Form_Add") when
// that key holds a text; true when it did.
bool ApplyWindowCaption(QWidget* window, const LanguageFile& language, std::string_view formKey);

} // namespace vq31
